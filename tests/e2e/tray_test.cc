// SPDX-License-Identifier: MIT
// The real ryxconfig and the notification areas: the stand-in
// StatusNotifierWatcher on a session bus of the test's own, trayer as the
// XEmbed tray, or neither.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>

#include "session.h"

namespace ryx::test {
namespace {

using namespace std::chrono_literals;

// The watcher's output lines that start with prefix, in order.
std::vector<std::string> linesOf(Process &watcher, const std::string &prefix) {
  std::vector<std::string> found;
  std::istringstream lines(watcher.out());
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  return found;
}

// The value the watcher printed for NAME in an "item" line.
std::string field(const std::string &line, const std::string &name) {
  size_t at = line.find(" " + name + "=");
  if (at == std::string::npos) return "";
  at += name.size() + 2;
  size_t end = line[at] == '"' ? line.find('"', at + 1) + 1 : line.find(' ', at);
  return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The two icon images in the session's installation.
void installImages(const Session &session) {
  std::string folder = session.folder() + "/root/share/ryx/images";
  ASSERT_EQ(system(("mkdir -p '" + folder + "'").c_str()), 0);
  for (const char *image : {"ryx_status_icon.png", "ryx_status_icon_error.png"})
    ASSERT_EQ(symlink((std::string(RYX_IMAGES_DIR) + "/" + image).c_str(), (folder + "/" + image).c_str()), 0);
}

// The wrapper on the session's library path or not: the next periodic
// check publishes RYX on, or "not enabled" with the error image.
void setWrapper(const Session &session, bool present) {
  std::string link = session.folder() + "/lib/opengl32.so";
  if (present)
    ASSERT_EQ(symlink(RYX_WRAPPER_LIBRARY, link.c_str()), 0);
  else
    ASSERT_EQ(unlink(link.c_str()), 0);
}


// The watcher reads the item when it registers it and again at each
// NewIcon; the status changes (the wrapper taken away or brought back) come
// after that first read, so each must be announced.  An error published
// before any watcher knew the item is in what the watcher reads.  Both cases
// show the same two images, one per state.
TEST(Tray, WithAWatcherTheIconsImageAndTooltipFollowTheStatus) {
  struct Case {
    const char *name;
    bool watcherFirst;  // otherwise the watcher comes once the error window is open
    int dockTime;
    std::vector<bool> wrapper;  // at the start, then after each change
  } cases[] = {
      {"watcher from the start", true, 2 * RYX_E2E_TIME_SCALE, {true, false, true}},
      {"watcher after the error", false, 30, {false, true}},
  };
  std::map<bool, std::string> image;  // IconPixmap by wrapper presence, as first seen
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    SessionOptions options;
    options.sessionBus = true;
    options.sniWatcher = c.watcherFirst;
    options.wrapper = c.wrapper[0];
    options.dockTime = c.dockTime;
    Session session(options);
    installImages(session);
    auto started = std::chrono::steady_clock::now();
    Process &instance = session.startInstance();
    if (!c.watcherFirst) {
      ASSERT_TRUE(session.waitForWindows(1));
      session.startSniWatcher();
    }
    Process &watcher = *session.sniWatcher();
    ASSERT_TRUE(watcher.waitForOut("registered org.kde.StatusNotifierItem-", 5000)) << watcher.out();
    ASSERT_TRUE(watcher.waitForOut("item ", 5000)) << watcher.out();

    for (size_t step = 0; step < c.wrapper.size(); ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      const bool on = c.wrapper[step];
      if (step > 0) setWrapper(session, on);
      std::string tooltip = on ? "\"Vezo RYX Server Switched ON\"" : "\"Vezo RYX Server Switched OFF\"";
      std::string last;
      bool followed = waitUntil([&] {
        // One NewIcon per change, none for what the first read showed.
        std::vector<std::string> signals = linesOf(watcher, "signal ");
        size_t news = std::count_if(signals.begin(), signals.end(),
                                    [](const std::string &line) { return line.find(" NewIcon from ") != line.npos; });
        if (news != step) return false;
        last = linesOf(watcher, "item ").back();
        std::string pixmap = field(last, "IconPixmap");
        if (pixmap.rfind("16x16,22x22,24x24,32x32,48x48:", 0) != 0) return false;
        if (image.count(on) == 0 && image.count(!on) != 0 && image[!on] == pixmap) return false;
        if (image.count(on) != 0 && image[on] != pixmap) return false;
        // Before the first check the tooltip may still say OFF.
        return (step == 0 && on) || field(last, "ToolTip") == tooltip;
      }, 10000);
      ASSERT_TRUE(followed) << watcher.out();
      image.emplace(on, field(last, "IconPixmap"));
      // The error opens the window; it stays open when RYX comes back.
      EXPECT_TRUE(session.waitForWindows(step == 0 && on ? 0 : 1));
    }

    // Registered counts as docked: no standalone window past the dock time
    // (a watcher that comes late has a test of its own).
    if (c.watcherFirst) std::this_thread::sleep_until(started + std::chrono::seconds(c.dockTime + 1));
    EXPECT_EQ(instance.err().find("Creating standalone dialog"), std::string::npos) << instance.err();
    EXPECT_NE(instance.err().find("Status icon shown through StatusNotifierItem"), std::string::npos);
    EXPECT_EQ(session.quit(), 0);
    EXPECT_TRUE(watcher.waitForOut("unregistered ", 3000)) << watcher.out();
  }
  EXPECT_NE(image[true], image[false]);
}

TEST(Tray, ActivateOpensOneWindowAndRunsTheRenderingServerCheck) {
  SessionOptions options;
  options.sniWatcher = true;
  Session session(options);
  // Only an activation of the docked icon runs the check this early, and
  // against a port where nothing listens it publishes code 100.
  session.writeSystemConfig("[Application]\nexternal_rendering_server = 127.0.0.1:" + std::to_string(freePort()) +
                            "\n");
  Process &instance = session.startInstance();
  ASSERT_TRUE(session.sniWatcher()->waitForOut("registered ", 5000)) << session.sniWatcher()->out();
  std::this_thread::sleep_for(1500ms);  // the manager's dock timer sees the registration
  EXPECT_EQ(static_cast<int>(session.findWindows(kStatusWindowTitle).size()), 0);
  size_t before = instance.err().size();

  for (int i = 0; i < 2; ++i) {
    RunResult activate = runProgram({RYX_SNI_WATCHER_EXE, "--activate"}, session.env());
    EXPECT_EQ(activate.status, 0) << activate.out << activate.err;
    EXPECT_EQ(activate.out.rfind("activated org.kde.StatusNotifierItem-", 0), 0u) << activate.out;
  }
  EXPECT_TRUE(session.waitForWindows(1));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(static_cast<int>(session.findWindows(kStatusWindowTitle).size()), 1);
  EXPECT_TRUE(instance.waitForErr("Error code: 100, error message: Cannot communicate with the Rendering Server", 6000,
                                  before))
      << instance.err().substr(before);
  EXPECT_EQ(session.quit(), 0);
}

// The watcher as a panel (as the demo runs it): a click on the drawn icon
// is an activation.
TEST(Tray, AClickOnTheIconInTheWatchersPanelOpensTheWindow) {
  SessionOptions options;
  options.sniWatcher = true;
  options.sniWatcherArgs = {"--show"};
  Session session(options);
  installImages(session);
  session.startInstance();
  Process &watcher = *session.sniWatcher();
  ASSERT_TRUE(watcher.waitForOut("registered ", 5000)) << watcher.out();
  RunResult panel = runProgram({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^StatusNotifier host$"},
                               session.env());
  ASSERT_EQ(panel.status, 0) << panel.err;
  std::string id = panel.out.substr(0, panel.out.find('\n'));
  std::this_thread::sleep_for(1500ms);  // docked, and the icon drawn
  RunResult click = runProgram({"/usr/bin/xdotool", "mousemove", "--window", id, "20", "20", "click", "1"},
                               session.env());
  EXPECT_EQ(click.status, 0) << click.err;
  EXPECT_TRUE(watcher.waitForOut("activated ", 3000)) << watcher.out();
  EXPECT_TRUE(session.waitForWindows(1));
  EXPECT_EQ(session.quit(), 0);
}

TEST(Tray, AWatcherThatComesAfterTheStartTakesTheIcon) {
  SessionOptions options;
  options.sessionBus = true;
  options.dockTime = 4;
  Session session(options);
  Process &instance = session.startInstance();
  EXPECT_TRUE(instance.waitForErr("Status icon shown through XEmbed", 5000)) << instance.err();
  Process &watcher = session.startSniWatcher();
  EXPECT_TRUE(watcher.waitForOut("registered ", 5000)) << watcher.out();
  EXPECT_TRUE(instance.waitForErr("Status icon shown through StatusNotifierItem", 3000));
  std::this_thread::sleep_for(5000ms);  // past the dock time
  EXPECT_EQ(instance.err().find("Creating standalone dialog"), std::string::npos);
  EXPECT_EQ(static_cast<int>(session.findWindows(kStatusWindowTitle).size()), 0);

  // The watcher goes: the icon goes back to the XEmbed tray, and a new
  // watcher gets it again.
  size_t before = instance.err().size();
  session.stopSniWatcher();
  EXPECT_TRUE(instance.waitForErr("Status icon shown through XEmbed", 3000, before));
  Process &again = session.startSniWatcher();
  EXPECT_TRUE(again.waitForOut("registered ", 5000)) << again.out();
  EXPECT_EQ(session.quit(), 0);
}

// Neither a watcher nor an XEmbed tray: the standalone window replaces the
// icon after the dock time, whatever the choice.
TEST(Tray, WithoutANotificationAreaTheStandaloneWindowReplacesTheIcon) {
  struct Case {
    const char *name;
    bool bus;
    const char *tray;  // RYX_TRAY, or null
  } cases[] = {
      {"bus without watcher", true, nullptr},
      {"watcher forced, none there", true, "sni"},
      {"watcher forced, no bus", false, "sni"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    SessionOptions options;
    options.sessionBus = c.bus;
    options.dockTime = 1;
    Session session(options);
    if (c.tray != nullptr) session.setEnv("RYX_TRAY", c.tray);
    Process &instance = session.startInstance();
    EXPECT_TRUE(instance.waitForErr("Creating standalone dialog", 6000)) << instance.err();
    EXPECT_TRUE(session.waitForWindows(1));
    EXPECT_EQ(session.quit(), 0);
  }
}

TEST(Tray, RyxTrayXembedKeepsTheIconInTheTrayBesideAWatcher) {
  SessionOptions options;
  options.trayHost = true;
  options.sniWatcher = true;
  options.dockTime = 2;
  Session session(options);
  session.setEnv("RYX_TRAY", "xembed");
  Process &instance = session.startInstance();
  std::this_thread::sleep_for(4000ms);
  EXPECT_EQ(instance.err().find("Creating standalone dialog"), std::string::npos) << instance.err();
  EXPECT_TRUE(linesOf(*session.sniWatcher(), "registered ").empty()) << session.sniWatcher()->out();
  EXPECT_EQ(session.quit(), 0);
}

}  // namespace
}  // namespace ryx::test
