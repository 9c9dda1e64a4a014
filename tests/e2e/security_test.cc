// SPDX-License-Identifier: MIT
// What a local peer can and cannot do to the real instance: the console port
// is reachable on 127.0.0.1 alone, and nothing sent to it makes the
// instance write a file, start a program or open a window.  (The hive and
// pipe folder's modes are the platform tests'.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "session.h"

namespace ryx::test {
namespace {

using namespace std::chrono_literals;

// Local addresses of the listening sockets on `port`, from /proc/net/tcp
// and tcp6 ("0100007F" is 127.0.0.1).
std::vector<std::string> listeningAddresses(int port) {
  std::vector<std::string> found;
  char wanted[8];
  snprintf(wanted, sizeof wanted, "%04X", port);
  for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::istringstream in(readFile(table));
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      size_t colon = local.rfind(':');
      if (state == "0A" && colon != std::string::npos && local.substr(colon + 1) == wanted)
        found.push_back(local.substr(0, colon));
    }
  }
  return found;
}

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

std::set<std::string> children(pid_t pid) {
  std::set<std::string> found;
  std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const std::string &task : listFolder(tasks)) {
    std::istringstream in(readFile(tasks + "/" + task + "/children"));
    std::string child;
    while (in >> child) found.insert(child);
  }
  return found;
}

TEST(RyxconfigSecurity, AConsolePortPeerCannotMakeTheInstanceActBeyondItsOwnWindow) {
  SessionOptions options;
  options.dockTime = 0;  // the standalone window lists the applications
  Session session(options);
  Process &instance = session.startInstance();
  ASSERT_TRUE(instance.running());
  // The one listening socket on the port is 127.0.0.1's: no other address
  // of this machine (IPv4 or IPv6, 127.0.0.2 included) reaches it.
  EXPECT_EQ(listeningAddresses(session.consolePort()), std::vector<std::string>{"0100007F"});
  // Settled: the window is up, the trigger handed its data over, the
  // switch is in the hive.
  ASSERT_TRUE(instance.waitForErr("Creating standalone dialog", 5000));
  waitUntil([&] { return !session.wrapperRecord().empty(); }, 5000);
  std::this_thread::sleep_for(2500ms);
  std::map<std::string, std::string> filesBefore;
  listFiles(session.folder(), "", &filesBefore);
  ASSERT_TRUE(filesBefore.count("/registry/user.reg"));
  const std::set<std::string> childrenBefore = children(instance.pid());
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
  EXPECT_TRUE(instance.waitForErr("A new connected application: evil.exe", 5000));
  std::this_thread::sleep_for(2500ms);  // a periodic check with all of it listed

  std::map<std::string, std::string> filesAfter;
  listFiles(session.folder(), "", &filesAfter);
  EXPECT_EQ(filesAfter, filesBefore);
  EXPECT_EQ(children(instance.pid()), childrenBefore);
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
  Process &instance = session.startInstance({"-nowin"});
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
  EXPECT_TRUE(instance.waitForErr(refused, 3000)) << instance.err();
  Process &app = session.startPeer(asUid(other, {RYX_3DAPP_EXE, "--port", port, "--name", "theirs.exe"}), "app");
  EXPECT_TRUE(waitUntil([&] { return occurrences(instance.err(), refused) == 2; }, 5000)) << instance.err();
  (void)app;

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

// Two users' sessions side by side, each on the console port that the
// installed per-user script gives its uid (both the instance and the
// applications read it from the environment): each instance lists its own
// applications and none of the other's.
TEST(RyxconfigSecurity, TwoUsersOnTheirOwnPortsEachListOnlyTheirOwnApplications) {
  if (!canChangeUid()) GTEST_SKIP() << "needs root and setpriv for other uids";
  const uid_t uids[] = {54322, 54323};
  std::vector<std::unique_ptr<Session>> sessions;
  for (uid_t uid : uids) {
    RunResult port = runProgram({"/usr/bin/env", "-u", "RYX_CONSOLE_PORT", "/bin/sh", "-c",
                                 ". '" RYX_CONSOLE_PORT_SCRIPT "' && echo \"$RYX_CONSOLE_PORT\""},
                                {"RYX_CONSOLE_PORT_CONF=/nonexistent", "RYX_CONSOLE_PORT_UID=" + std::to_string(uid)});
    ASSERT_EQ(port.status, 0) << port.err;
    SessionOptions options;
    options.uid = uid;
    options.consolePort = atoi(port.out.c_str());
    ASSERT_GT(options.consolePort, 0) << port.out;
    sessions.push_back(std::make_unique<Session>(options));
  }
  ASSERT_NE(sessions[0]->consolePort(), sessions[1]->consolePort());
  auto appName = [&](size_t user, char which) { return std::to_string(uids[user]) + "-" + which + ".exe"; };
  for (size_t i = 0; i < 2; ++i) {
    ASSERT_TRUE(sessions[i]->startInstance({"-nowin"}).running()) << sessions[i]->instance().err();
    for (char which : {'a', 'b'}) sessions[i]->startApp({"--name", appName(i, which)});
  }
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(uids[i]);
    Process &instance = sessions[i]->instance();
    EXPECT_TRUE(waitUntil([&] { return occurrences(instance.err(), "A new connected application: ") == 2; }, 5000))
        << instance.err();
    for (char which : {'a', 'b'}) {
      EXPECT_NE(instance.err().find("A new connected application: " + appName(i, which)), std::string::npos);
      EXPECT_EQ(instance.err().find(appName(1 - i, which)), std::string::npos);
    }
    EXPECT_EQ(instance.err().find("belongs to another user"), std::string::npos);
  }
  for (auto &session : sessions) EXPECT_EQ(session->quit(), 0);
}

}  // namespace ryx::test
