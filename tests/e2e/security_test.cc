// SPDX-License-Identifier: MIT
// What a local peer can and cannot do to the real instance through the
// console port.  (The hive and pipe folder's modes are the platform tests'.)
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

#include "session.h"

namespace ryx::test {
namespace {

using namespace std::chrono_literals;

// Every file below `folder` (but logs/) with its size and change time.
void listFiles(const std::string &folder, const std::string &relative, std::map<std::string, std::string> *files) {
  for (const std::string &name : listFolder(folder + relative)) {
    std::string path = relative + "/" + name;
    if (path == "/logs") continue;
    struct stat st;
    if (lstat((folder + path).c_str(), &st) != 0) continue;
    (*files)[path] = std::to_string(st.st_size) + "@" + std::to_string(st.st_mtim.tv_sec) + "." +
                     std::to_string(st.st_mtim.tv_nsec);
    if (S_ISDIR(st.st_mode)) listFiles(folder, path, files);
  }
}

// A first start with -quit finds no instance and becomes it.  The console
// port listens on 127.0.0.1 alone (not on another loopback address, nor on
// a wildcard one); nothing sent to it makes the instance write a file or
// open a window.
TEST(RyxconfigSecurity, AConsolePortPeerCannotMakeTheInstanceActBeyondItsOwnWindow) {
  SessionOptions options;
  options.dockTime = 0;  // the standalone window lists the applications
  Session session(options);
  Child &instance = session.startInstance({"-quit"});
  ASSERT_TRUE(instance.running()) << instance.err();
  EXPECT_LT(connectLoopback(session.consolePort(), 0, INADDR_LOOPBACK + 1), 0);
  // Settled: the window is up, the trigger handed its data over, the
  // switch is in the hive.
  ASSERT_TRUE(waitForErr(instance, "Creating standalone dialog", 5000));
  waitUntil([&] { return !session.wrapperRecord().empty(); }, 5000);
  std::this_thread::sleep_for(2500ms);
  std::map<std::string, std::string> filesBefore;
  listFiles(session.folder(), "", &filesBefore);
  ASSERT_TRUE(filesBefore.count("/registry/user.reg"));
  const std::vector<std::string> windowsBefore = session.topLevelWindows();
  ASSERT_FALSE(windowsBefore.empty());

  // Every command byte but "quit".
  for (int byte = 0; byte < 256; ++byte) {
    if (byte == 2) continue;
    ASSERT_TRUE(sendRaw(session.consolePort(), handshake("RYX Command UI\n") + char(byte))) << byte;
  }
  // Updates that would do harm if anything ran, opened or formatted them.
  const std::string folder = session.folder();
  const std::vector<std::string> hostile = {
      "$(touch " + folder + "/pwned)", "`touch " + folder + "/pwned`", "; touch " + folder + "/pwned",
      "|touch " + folder + "/pwned", "../../../../../../" + folder + "/pwned", "file://" + folder + "/pwned",
      "%s%s%s%s%n%n%n", "<b>bold</b><span foreground='red'>", "<a href=\"file:///etc/passwd\">x</a>",
      "\\\\server\\share\\evil.exe", std::string(8000, 'A'), "\x1b]0;title\x07\x1b[2J"};
  std::vector<int> held;
  for (const std::string &h : hostile) {
    held.push_back(announceApp(session.consolePort(), h, h));  // listed in the window while connected
    ASSERT_GE(held.back(), 0);
  }
  // Each command byte was read and acted on: 0 and 3 to 255 are refused.
  waitUntil([&] { return occurrences(instance.err(), "Command not supported") >= 254; }, 10000);
  EXPECT_EQ(occurrences(instance.err(), "Command not supported"), 254u);
  EXPECT_TRUE(waitForErr(instance, "A new connected application: evil.exe", 5000));
  std::this_thread::sleep_for(2500ms);  // a periodic check with all of it listed

  std::map<std::string, std::string> filesAfter;
  listFiles(session.folder(), "", &filesAfter);
  EXPECT_EQ(filesAfter, filesBefore);
  EXPECT_EQ(session.topLevelWindows(), windowsBefore);
  EXPECT_TRUE(instance.running());
  for (int fd : held) close(fd);
  EXPECT_EQ(session.quit(5000), 0);
}

}  // namespace
// Loopback is shared by every user: another uid (numeric, no account
// needed) reaches nothing through the console port.  Its command bytes and
// its application's announcement are closed unread, one warning each; its
// own start finds the port held by another user's program, says what to
// do and ends with status 0, sending nothing.
TEST(RyxconfigSecurity, AnotherUserReachesNothingThroughTheConsolePort) {
  if (!canChangeUid()) GTEST_SKIP() << "needs root and setpriv for a second uid";
  const uid_t other = 54321;
  SessionOptions options;
  options.dockTime = 0;  // the standalone window lists the applications
  Session session(options);
  Child &instance = session.startInstance({"-nowin"});
  ASSERT_TRUE(instance.running());
  const std::string port = std::to_string(session.consolePort());
  const std::string refused = "Console connection from uid 54321 (port ";

  // Held open until the instance closes it, so the instance sees its owner.
  RunResult bytes = runProgram(asUid(other, {"/bin/bash", "-c",
                                                "exec 3<>/dev/tcp/127.0.0.1/" + port +
                                                    "; printf 'RYX Command UI\\n\\0\\2' >&3; timeout 60 cat <&3"}),
                               session.env());
  // The instance may close before the bytes are written (bash then dies of
  // SIGPIPE): refused before anything is read either way.
  (void)bytes;
  EXPECT_TRUE(waitForErr(instance, refused, 3000)) << instance.err();
  session.startPeer(asUid(other, {RYX_3DAPP_EXE, "--port", port, "--name", "theirs.exe"}), "app");
  EXPECT_TRUE(waitUntil([&] { return occurrences(instance.err(), refused) == 2; }, 5000)) << instance.err();

  RunResult start = runProgram(asUid(other, {RYXCONFIG_EXE, "-quit"}), session.env());
  EXPECT_EQ(start.status, 0);
  EXPECT_NE(start.err.find("ryxconfig: the console port " + port +
                           " is held by another user's program (uid 0); give each session its own console_port"),
            std::string::npos)
      << start.err;
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(occurrences(instance.err(), refused), 2u) << instance.err();
  EXPECT_EQ(instance.err().find("A new connected application"), std::string::npos);
  EXPECT_EQ(instance.err().find("Quit application"), std::string::npos);
  EXPECT_TRUE(instance.running());
  EXPECT_TRUE(session.findWindows(kStatusWindowTitle).empty());
  EXPECT_EQ(session.quit(), 0);
}

}  // namespace ryx::test
