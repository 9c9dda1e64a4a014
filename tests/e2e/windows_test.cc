// SPDX-License-Identifier: MIT
// The instance's windows under many second starts, and after the user
// closed its standalone status window.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "session.h"

namespace ryx::test {
namespace {

using namespace std::chrono_literals;

const char kStatusTitle[] = "^Vezo RYX Server Status$";

// Waits until `count` status windows are visible; false on time-out.
bool statusWindows(const Session &session, size_t count, int timeoutMs = 6000) {
  for (int waited = 0; waited <= scaledMs(timeoutMs); waited += 100) {
    if (session.findWindows(kStatusTitle).size() == count) return true;
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

size_t occurrences(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(RyxconfigWindows, AHundredSecondStartsKeepOneWindow) {
  SessionOptions options;
  options.dockTime = 0;  // no tray: the standalone status window, which each start presents
  Session session(options);
  Process &instance = session.startInstance();
  ASSERT_TRUE(statusWindows(session, 1));
  // The trigger's window comes with the first periodic check.
  for (int i = 0; i < scaledMs(50) && readFile(session.folder() + "/wrapper-record.txt").empty(); ++i)
    std::this_thread::sleep_for(100ms);
  ASSERT_EQ(session.runClient({}).status, 0);  // the first "Show GUI" settles what GTK makes for it
  ASSERT_TRUE(instance.waitForErr("Show GUI", 3000));
  std::this_thread::sleep_for(500ms);
  const std::vector<std::string> windows = session.topLevelWindows();
  ASSERT_FALSE(windows.empty());

  for (int i = 0; i < 100; ++i) {
    RunResult start = session.runClient({});
    ASSERT_EQ(start.status, 0) << "start " << i << "\n" << start.err;
    ASSERT_NE(start.err.find("Client: show gui"), std::string::npos) << "start " << i;
  }
  EXPECT_TRUE(instance.running());
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(occurrences(instance.err(), "Show GUI"), 101u);
  EXPECT_EQ(session.findWindows(kStatusTitle).size(), 1u);
  EXPECT_EQ(session.topLevelWindows(), windows)
      << runProgram({"/usr/bin/xwininfo", "-root", "-children"}, session.env()).out;
  EXPECT_EQ(session.quit(5000), 0);
}

// Closing the standalone window destroys it; a later "Show GUI" makes a new
// status icon, which, still not docked at its first tick, is given up at
// once for a new standalone window.
TEST(RyxconfigWindows, ShowGuiAfterTheUserClosedTheStandaloneWindow) {
  SessionOptions options;
  options.dockTime = 1;
  Session session(options);
  Process &instance = session.startInstance();
  ASSERT_TRUE(statusWindows(session, 1));
  std::vector<std::string> ids = session.findWindows(kStatusTitle);
  ASSERT_EQ(ids.size(), 1u);

  RunResult close = runProgram({"/usr/bin/xdotool", "windowfocus", "--sync", ids[0], "key", "Escape"}, session.env());
  ASSERT_EQ(close.status, 0) << close.err;
  ASSERT_TRUE(statusWindows(session, 0)) << "the window is still there";
  EXPECT_TRUE(instance.running());

  size_t before = instance.err().size();
  EXPECT_EQ(session.runClient({}).status, 0);
  EXPECT_TRUE(instance.waitForErr("Show GUI", 3000, before));
  EXPECT_TRUE(instance.waitForErr("Creating standalone dialog", 4000, before));
  EXPECT_TRUE(statusWindows(session, 1));
  EXPECT_EQ(session.quit(5000), 0);
}

}  // namespace
}  // namespace ryx::test
