// SPDX-License-Identifier: MIT
// The real ryxconfig and the stand-in StatusNotifierWatcher on a session
// bus of the test's own.  The exact images, tooltips and signals of the
// item are the in-process item's tests; start-ups without a notification
// area, or with RYX_TRAY forcing one, are rows of the start-up table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
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
  std::this_thread::sleep_for(1500ms);  // docked, and the icon drawn
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

}  // namespace
}  // namespace ryx::test
