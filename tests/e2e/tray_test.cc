// SPDX-License-Identifier: MIT
// The real ryxconfig and the stand-in StatusNotifierWatcher on a session
// bus of the test's own, and on a real desktop panel's notification area
// with each back-end.  The exact images, tooltips and signals of the
// item are the in-process item's tests; start-ups without a notification
// area, or with RYX_TRAY forcing one, are rows of the start-up table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "session.h"

namespace ryx::test {
namespace {

using namespace std::chrono_literals;

// The two icon images in the session's installation.
void installImages(const Session &session) {
  std::string folder = session.folder() + "/root/share/ryx/images";
  ASSERT_EQ(system(("mkdir -p '" + folder + "'").c_str()), 0);
  for (const char *image : {"ryx_status_icon.png", "ryx_status_icon_error.png"})
    ASSERT_EQ(symlink((std::string(RYX_IMAGES_DIR) + "/" + image).c_str(), (folder + "/" + image).c_str()), 0);
}

// The periodic check reaches the watcher: the wrapper taken away publishes
// "not enabled" (one NewIcon, the OFF tooltip in the watcher's re-read) and
// opens the window; brought back, ON, the window staying open.  Registered
// counts as docked: no standalone window past the dock time.
TEST(Tray, WithAWatcherTheIconFollowsThePeriodicCheck) {
  SessionOptions options;
  options.sniWatcher = true;
  options.dockTime = 2 * RYX_E2E_TIME_SCALE;
  Session session(options);
  installImages(session);
  auto started = std::chrono::steady_clock::now();
  Process &instance = session.startInstance();
  Process &watcher = *session.sniWatcher();
  ASSERT_TRUE(watcher.waitForOut("registered org.kde.StatusNotifierItem-", 5000)) << watcher.out();
  ASSERT_TRUE(watcher.waitForOut("item ", 5000)) << watcher.out();
  EXPECT_TRUE(session.waitForWindows(0));
  const std::string wrapper = session.folder() + "/lib/opengl32.so";
  for (bool on : {false, true}) {
    SCOPED_TRACE(on ? "wrapper back" : "wrapper gone");
    ASSERT_EQ(on ? symlink(RYX_WRAPPER_LIBRARY, wrapper.c_str()) : unlink(wrapper.c_str()), 0);
    std::string tooltip = on ? "ToolTip=\"Vezo RYX Server Switched ON\"" : "ToolTip=\"Vezo RYX Server Switched OFF\"";
    EXPECT_TRUE(waitUntil(
        [&] {
          std::string out = watcher.out();
          size_t item = out.rfind("\nitem ");
          return occurrences(out, " NewIcon from ") == (on ? 2u : 1u) && item != std::string::npos &&
                 out.find(tooltip, item) < out.find('\n', item + 1);
        },
        10000))
        << watcher.out();
    EXPECT_TRUE(session.waitForWindows(1));
  }
  std::this_thread::sleep_until(started + std::chrono::seconds(options.dockTime + 1));
  EXPECT_EQ(instance.err().find("Creating standalone dialog"), std::string::npos) << instance.err();
  EXPECT_NE(instance.err().find("Status icon shown through StatusNotifierItem"), std::string::npos);
  EXPECT_EQ(session.quit(), 0);
  EXPECT_TRUE(watcher.waitForOut("unregistered ", 3000)) << watcher.out();
}

// A host that sends ContextMenu for a click (the watcher's command line)
// opens the window and runs the rendering server check, which this early
// only an activation does: against a port where nothing listens it
// publishes code 100.  A click in the watcher's panel (Activate, as the demo
// runs it) then presents the same window.
TEST(Tray, ActivationsOpenOneWindowAndRunTheRenderingServerCheck) {
  SessionOptions options;
  options.sniWatcher = true;
  options.sniWatcherArgs = {"--show"};
  Session session(options);
  installImages(session);
  session.writeSystemConfig("[Application]\nexternal_rendering_server = 127.0.0.1:" + std::to_string(unusedPort()) +
                            "\n");
  Process &instance = session.startInstance();
  Process &watcher = *session.sniWatcher();
  ASSERT_TRUE(watcher.waitForOut("registered ", 5000)) << watcher.out();
  std::vector<std::string> panel = session.findWindows("^StatusNotifier host$");
  ASSERT_EQ(panel.size(), 1u);
  // Docked (the dock timer, every second, sees the registration and only
  // then adds the rendering server check to activations), and the icon drawn.
  std::this_thread::sleep_for(std::chrono::milliseconds(scaledMs(1500)));
  EXPECT_TRUE(session.findWindows(kStatusWindowTitle).empty());
  size_t before = instance.err().size();

  RunResult contextMenu = runProgram({RYX_SNI_WATCHER_EXE, "--activate", "--call", "ContextMenu"}, session.env());
  EXPECT_EQ(contextMenu.status, 0) << contextMenu.out << contextMenu.err;
  EXPECT_EQ(contextMenu.out.rfind("activated org.kde.StatusNotifierItem-", 0), 0u) << contextMenu.out;
  EXPECT_TRUE(session.waitForLinesAndWindows(
      {"Error code: 100, error message: Cannot communicate with the Rendering Server"}, 1, before))
      << instance.err().substr(before);
  RunResult click =
      runProgram({"/usr/bin/xdotool", "mousemove", "--window", panel[0], "20", "20", "click", "1"}, session.env());
  EXPECT_EQ(click.status, 0) << click.err;
  EXPECT_TRUE(watcher.waitForOut(" with Activate", 3000)) << watcher.out();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(session.findWindows(kStatusWindowTitle).size(), 1u);
  EXPECT_EQ(session.quit(), 0);
}

// A watcher that comes after the start takes the icon from the XEmbed tray
// (docked: no standalone window); when it goes the icon goes back, and a
// new watcher gets it again.
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
  EXPECT_TRUE(session.findWindows(kStatusWindowTitle).empty());

  size_t before = instance.err().size();
  session.stopSniWatcher();
  EXPECT_TRUE(instance.waitForErr("Status icon shown through XEmbed", 3000, before));
  Process &again = session.startSniWatcher();
  EXPECT_TRUE(again.waitForOut("registered ", 5000)) << again.out();
  EXPECT_EQ(session.quit(), 0);
}

// Where an X window lies on the screen.
struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};
Geometry geometryOf(const Session &session, const std::string &window) {
  Geometry g;
  RunResult r = runProgram({"/usr/bin/xdotool", "getwindowgeometry", "--shell", window}, session.env());
  for (const std::string &line : splitLines(r.out)) {
    int value = atoi(line.c_str() + line.find('=') + 1);
    if (line.rfind("X=", 0) == 0) g.x = value;
    if (line.rfind("Y=", 0) == 0) g.y = value;
    if (line.rfind("WIDTH=", 0) == 0) g.width = value;
    if (line.rfind("HEIGHT=", 0) == 0) g.height = value;
  }
  return g;
}

// The windows of a process, as xwininfo names them (0x...).
std::vector<std::string> windowsOf(const Session &session, pid_t pid) {
  std::vector<std::string> ids;
  for (const std::string &line :
       splitLines(runProgram({"/usr/bin/xdotool", "search", "--pid", std::to_string(pid)}, session.env()).out))
    if (!line.empty()) {
      char id[32];
      snprintf(id, sizeof id, "0x%lx", std::stoul(line));
      ids.push_back(id);
    }
  return ids;
}

// On a real desktop panel, once with each back-end: the icon is shown in the
// panel's notification area (its window embedded there, or the item held by
// the panel's watcher), its tooltip reads as the state says where the host
// takes it from (the XEmbed icon shows its own on hover; the panel reads the
// item's property), and a click on it in the panel opens the status window.
class TrayOnAPanel : public ::testing::TestWithParam<const char *> {};

TEST_P(TrayOnAPanel, ShowsTheIconWithItsTooltipAndAClickOpensTheWindow) {
  if (!panelInstalled()) GTEST_SKIP() << "xfce4-panel is not installed (scripts/setup installs it)";
  const bool sni = std::string(GetParam()) == "sni";
  SessionOptions options;
  options.sessionBus = true;
  Session session(options);
  installImages(session);
  std::string panel = session.startPanel();
  ASSERT_FALSE(panel.empty()) << readFile(session.folder() + "/logs/panel.err");
  session.setEnv("RYX_TRAY", GetParam());
  Process &instance = session.startInstance();
  EXPECT_TRUE(instance.waitForErr(sni ? "shown through StatusNotifierItem" : "shown through XEmbed", 5000));

  if (sni) {
    // What the panel's watcher holds, read as a host reads it.
    std::string items;
    EXPECT_TRUE(waitUntil(
        [&] {
          items = runProgram({RYX_SNI_WATCHER_EXE, "--dump"}, session.env()).out;
          return items.find(" ToolTip=\"Vezo RYX Server Switched ON\"") != std::string::npos;
        },
        5000))
        << items;
  } else {
    EXPECT_TRUE(waitUntil(
        [&] {
          std::vector<std::string> ours = windowsOf(session, instance.pid()), inPanel = session.windowsBelow(panel);
          return std::find_first_of(ours.begin(), ours.end(), inPanel.begin(), inPanel.end()) != ours.end();
        },
        5000))
        << "no window of ryxconfig in the panel";
  }
  // The notification area is the panel's first child and holds only our
  // icon: its middle is the icon.
  Geometry area;
  EXPECT_TRUE(waitUntil(
      [&] {
        area = geometryOf(session, session.windowsBelow(panel).at(0));
        return area.width >= 16;
      },
      3000))
      << "the notification area stays empty";
  std::string x = std::to_string(area.x + area.width / 2), y = std::to_string(area.y + area.height / 2);
  if (!sni) {
    std::vector<std::string> before = windowsOf(session, instance.pid());
    int moves = 0;
    EXPECT_TRUE(waitUntil(
        [&] {
          // A pointer that rests gives GTK no more motion: it moves by a
          // pixel now and then, so a slow start still sees one over the icon.
          if (moves++ % 10 == 0)
            runProgram({"/usr/bin/xdotool", "mousemove", moves % 20 == 1 ? x : std::to_string(std::stoi(x) + 1), y},
                       session.env());
          for (const std::string &w : windowsOf(session, instance.pid()))
            if (std::find(before.begin(), before.end(), w) == before.end() &&
                runProgram({"/usr/bin/xprop", "-id", w, "_NET_WM_WINDOW_TYPE"}, session.env())
                        .out.find("_NET_WM_WINDOW_TYPE_TOOLTIP") != std::string::npos)
              return true;
          return false;
        },
        3000))
        << "no tooltip over the icon";
  }
  EXPECT_TRUE(session.findWindows(kStatusWindowTitle).empty());
  RunResult click = runProgram({"/usr/bin/xdotool", "mousemove", x, y, "click", "1"}, session.env());
  EXPECT_EQ(click.status, 0) << click.err;
  EXPECT_TRUE(session.waitForWindows(1)) << instance.err();
  EXPECT_EQ(session.quit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, TrayOnAPanel, ::testing::Values("sni", "xembed"),
                         [](const ::testing::TestParamInfo<const char *> &info) { return std::string(info.param); });

}  // namespace
// A panel that starts after the dock time (desktops often start theirs
// late) still gets the icon, and the standalone window becomes the icon's:
// one status window throughout.  Without the wrapper the first check
// publishes an error, which opens the icon's window before the dock time;
// at the dock time that window is the standalone one.
// The real panel comes last, where it is installed.
TEST(Tray, APanelAfterTheDockTimeTakesTheIconAndItsWindow) {
  for (const char *host : {"watcher", "tray", "panel"}) {
    SCOPED_TRACE(host);
    const std::string which = host;
    if (which == "panel" && !panelInstalled()) continue;
    const bool sni = which == "watcher";
    SessionOptions options;
    options.sessionBus = which != "tray";
    options.wrapper = false;
    options.dockTime = 1;
    Session session(options);
    installImages(session);
    Process &instance = session.startInstance();
    ASSERT_TRUE(instance.waitForErr("Creating standalone dialog", 6000)) << instance.err();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(session.findWindows(kStatusWindowTitle).size(), 1u);

    if (sni)
      session.startSniWatcher();
    else if (which == "tray")
      session.startTray();
    else
      ASSERT_FALSE(session.startPanel().empty());
    EXPECT_TRUE(instance.waitForErr("A notification area came after the dock time and took the icon", 5000))
        << instance.err();
    if (sni) {
      RunResult activate = runProgram({RYX_SNI_WATCHER_EXE, "--activate"}, session.env());
      EXPECT_EQ(activate.status, 0) << activate.out << activate.err;
    }
    std::this_thread::sleep_for(1000ms);
    EXPECT_EQ(session.findWindows(kStatusWindowTitle).size(), 1u);
    EXPECT_EQ(session.quit(), 0);
  }
}

}  // namespace ryx::test

