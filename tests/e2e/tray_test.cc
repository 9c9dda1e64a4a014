// SPDX-License-Identifier: MIT
// The real ryxconfig between its two notification-area back-ends: the
// stand-in StatusNotifierWatcher on a session bus of the test's own, and
// an XEmbed tray.  The item's images, tooltips and signals are the
// in-process item's tests; start-ups beside one host or none are rows of
// the start-up table.
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

// A watcher that comes after the start takes the icon from the XEmbed tray;
// registered counts as docked (no standalone window past the dock time).
// A host that sends ContextMenu for a click opens the window and runs the
// rendering server check, which this early only an activation does:
// against a port where nothing listens it publishes code 100.  When the
// watcher goes the icon goes back to the tray, and a new watcher gets it.
TEST(Tray, AWatcherThatComesAfterTheStartTakesTheIconAndItsClicks) {
  SessionOptions options;
  options.sessionBus = true;
  options.dockTime = 4;
  Session session(options);
  installImages(session);
  session.writeSystemConfig("[Application]\nexternal_rendering_server = 127.0.0.1:" + std::to_string(unusedPort()) +
                            "\n");
  Child &instance = session.startInstance();
  EXPECT_TRUE(waitForErr(instance, "Status icon shown through XEmbed", 5000)) << instance.err();
  Child &watcher = session.startSniWatcher();
  EXPECT_TRUE(waitForOut(watcher, "registered ", 5000)) << watcher.out();
  EXPECT_TRUE(waitForErr(instance, "Status icon shown through StatusNotifierItem", 3000));
  std::this_thread::sleep_for(5000ms);  // past the dock time
  EXPECT_EQ(instance.err().find("Creating standalone dialog"), std::string::npos);
  EXPECT_TRUE(session.findWindows(kStatusWindowTitle).empty());

  size_t before = instance.err().size();
  RunResult contextMenu = runProgram({RYX_SNI_WATCHER_EXE, "--activate", "--call", "ContextMenu"}, session.env());
  EXPECT_EQ(contextMenu.status, 0) << contextMenu.out << contextMenu.err;
  EXPECT_TRUE(waitForErr(instance, "Error code: 100, error message: Cannot communicate with the Rendering Server",
                         6000, before))
      << instance.err().substr(before);
  EXPECT_TRUE(session.waitForWindows(1));

  before = instance.err().size();
  session.stopSniWatcher();
  EXPECT_TRUE(waitForErr(instance, "Status icon shown through XEmbed", 3000, before));
  Child &again = session.startSniWatcher();
  EXPECT_TRUE(waitForOut(again, "registered ", 5000)) << again.out();
  EXPECT_EQ(session.quit(), 0);
}

// A host that starts after the dock time (desktops often start theirs
// late) still gets the icon, and the standalone window becomes the icon's:
// one status window throughout.  Without the wrapper the first check
// publishes an error, which opens the icon's window before the dock time;
// at the dock time that window is the standalone one.
TEST(Tray, AHostAfterTheDockTimeTakesTheIconAndItsWindow) {
  for (bool sni : {true, false}) {
    SCOPED_TRACE(sni ? "watcher" : "tray");
    SessionOptions options;
    options.sessionBus = sni;
    options.wrapper = false;
    options.dockTime = 1;
    Session session(options);
    installImages(session);
    Child &instance = session.startInstance();
    ASSERT_TRUE(waitForErr(instance, "Creating standalone dialog", 6000)) << instance.err();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(session.findWindows(kStatusWindowTitle).size(), 1u);

    if (sni)
      session.startSniWatcher();
    else
      session.startTray();
    EXPECT_TRUE(waitForErr(instance, "A notification area came after the dock time and took the icon", 5000))
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

}  // namespace
}  // namespace ryx::test
