// SPDX-License-Identifier: MIT
// The real ryxconfig with the real stand-ins: a session's instance, second
// starts, the console port's handshakes, applications, docking.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "peer_process.h"
#include "session.h"

namespace ryx::test {
namespace {

using namespace std::chrono_literals;

std::string handshake(const std::string &text) { return text + std::string(1, '\0'); }

// The console port's own lines that the instance may log for a connection
// (other lines, such as the status window's refresh, come and go by time).
bool loggedForConnection(const std::string &log) {
  for (const char *line : {"WRONG HANDSHAKE", "Wrong read on listen socket", "Failed to read config manager command",
                           "Command not supported", "Show GUI", "Quit application", "A new connected application"})
    if (log.find(line) != std::string::npos) return true;
  return false;
}

// Whether a window of this session's X server has the given title.
bool windowShown(const Session &session, const std::string &title) {
  std::vector<std::string> env = session.env();
  RunResult r = runProgram({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", title}, env);
  return r.status == 0 && !r.out.empty();
}

TEST(Ryxconfig, SecondStartsHandTheirCommandToTheInstance) {
  Session session;
  Process &instance = session.startInstance();
  ASSERT_TRUE(instance.running()) << instance.err();
  EXPECT_NE(instance.err().find("Starting config manager"), std::string::npos);

  const struct {
    std::vector<std::string> args;
    const char *clientLog;
    const char *instanceLog;  // null: the instance logs nothing for it
  } cases[] = {
      {{}, "Client: show gui", "Show GUI"},
      {{"-QUIT"}, "Client: show gui", "Show GUI"},
      {{"--quit"}, "Client: show gui", "Show GUI"},
      {{"-quit2"}, "Client: show gui", "Show GUI"},
      {{"-nowindow"}, "Client: show gui", "Show GUI"},
      {{"-nowin"}, "Client: unknown command", nullptr},
      {{"-nowin", "-quit"}, "Client: unknown command", nullptr},
  };
  for (const auto &c : cases) {
    size_t before = instance.err().size();
    RunResult client = session.runClient(c.args);
    std::string what = c.args.empty() ? "(no argument)" : c.args[0];
    EXPECT_EQ(client.status, 0) << what;
    EXPECT_NE(client.err.find(c.clientLog), std::string::npos) << what << "\n" << client.err;
    EXPECT_NE(client.err.find("Closing..."), std::string::npos) << what;
    EXPECT_EQ(client.err.find("Started server"), std::string::npos) << what;
    if (c.instanceLog != nullptr) {
      EXPECT_TRUE(instance.waitForErr(c.instanceLog, 3000, before)) << what;
    } else {
      std::this_thread::sleep_for(300ms);
      EXPECT_FALSE(loggedForConnection(instance.err().substr(before))) << what << ": " << instance.err().substr(before);
    }
  }
  EXPECT_TRUE(instance.running());

  RunResult quit = session.runClient({"-q"});
  EXPECT_EQ(quit.status, 0);
  EXPECT_NE(quit.err.find("Client: quit"), std::string::npos);
  EXPECT_EQ(instance.wait(5000), 0);
  EXPECT_NE(instance.err().find("Quit application"), std::string::npos);
  EXPECT_NE(instance.err().find("Closing..."), std::string::npos);
}

TEST(Ryxconfig, QuitWithoutAnInstanceBecomesTheInstance) {
  Session session;
  Process &instance = session.startInstance({"-quit"});
  EXPECT_TRUE(instance.running());
  EXPECT_NE(instance.err().find("Started server"), std::string::npos) << instance.err();
  EXPECT_EQ(session.runClient({"-quit"}).status, 0);
  EXPECT_EQ(instance.wait(5000), 0);
}

TEST(Ryxconfig, WrongHandshakesAreLoggedAndTheInstanceCarriesOn) {
  Session session;
  Process &instance = session.startInstance();
  ASSERT_TRUE(instance.running());
  const struct {
    const char *what;
    std::string bytes;
    int holdMs;
    const char *log;  // null: nothing is logged
  } cases[] = {
      {"no line feed", handshake("RYX Command UI") + "\x01", 0, "WRONG HANDSHAKE"},
      {"other case", handshake("ryx command ui\n") + "\x01", 0, "WRONG HANDSHAKE"},
      {"too long", handshake(std::string(40, 'x')), 0, "WRONG HANDSHAKE"},
      {"unknown command", handshake("RYX Command UI\n") + "\x03", 0, "Command not supported"},
      {"closed before the command", handshake("RYX Command UI\n"), 0, "Failed to read config manager command"},
      {"silent peer", "", 3000, "Wrong read on listen socket"},
      {"silent after the handshake", handshake("RYX Command UI\n"), 3000, "Wrong read on listen socket"},
      {"closed at once", "", 0, nullptr},
  };
  for (const auto &c : cases) {
    size_t before = instance.err().size();
    ASSERT_TRUE(sendRaw(session.consolePort(), c.bytes, c.holdMs)) << c.what;
    if (c.log != nullptr) {
      EXPECT_TRUE(instance.waitForErr(c.log, 4000, before)) << c.what << ": " << instance.err().substr(before);
    } else {
      std::this_thread::sleep_for(300ms);
      EXPECT_FALSE(loggedForConnection(instance.err().substr(before))) << c.what;
    }
  }
  // A handshake that arrives a byte at a time within the deadline counts.
  {
    size_t before = instance.err().size();
    int fd = connectLoopback(session.consolePort());
    ASSERT_GE(fd, 0);
    for (char c : handshake("RYX Command UI\n") + "\x01") {
      send(fd, &c, 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(20ms);
    }
    close(fd);
    EXPECT_TRUE(instance.waitForErr("Show GUI", 3000, before)) << instance.err().substr(before);
  }
  // Still answering.
  EXPECT_EQ(session.runClient({"-quit"}).status, 0);
  EXPECT_EQ(instance.wait(5000), 0);
}

TEST(Ryxconfig, ApplicationsAreNamedFilteredAndDropped) {
  Session session;
  Process &instance = session.startInstance();
  ASSERT_TRUE(instance.running());

  session.startApp({"--name", "C:\\Program Files\\Viewer\\viewer.exe", "--rendering-server", "rs1"});
  EXPECT_TRUE(instance.waitForErr("A new connected application: viewer.exe", 3000));
  EXPECT_NE(instance.err().find("App is using Rendering Server: rs1"), std::string::npos);

  for (const char *name : {"ryxconfig.exe", "Unknown thing", "/usr/bin/ryxconfig"}) {
    size_t before = instance.err().size();
    session.startApp({"--name", name});
    EXPECT_TRUE(instance.waitForErr("Blacklisted: ", 3000, before)) << name;
    EXPECT_EQ(instance.err().find("A new connected application", before), std::string::npos) << name;
  }
  size_t before = instance.err().size();
  session.startApp({"--name", "unknown-lower"});
  EXPECT_TRUE(instance.waitForErr("A new connected application: unknown-lower", 3000, before));

  before = instance.err().size();
  session.startApp({"--update", "nothing", "--leave-after", "0"});
  EXPECT_TRUE(instance.waitForErr("Blacklisted: Unknown application", 3000, before));

  // "</Update>\r" does not end the update: it is read on to the close, then
  // the application is listed and at once dropped.
  before = instance.err().size();
  session.startApp({"--name", "late", "--update", "cr-closing", "--leave-after", "1"});
  EXPECT_TRUE(instance.waitForErr("A new connected application: late", 4000, before));

  before = instance.err().size();
  session.startApp({"--name", "C:\\dir\\"});
  EXPECT_TRUE(instance.waitForErr("A new connected application", 3000, before));
  EXPECT_EQ(instance.err().find("App name:", before), std::string::npos);

  EXPECT_EQ(session.runClient({"-quit"}).status, 0);
  EXPECT_EQ(instance.wait(5000), 0);
}

TEST(Ryxconfig, WithoutTheDaemonTheProcessEndsWithoutAWindow) {
  SessionOptions options;
  options.ryxd = false;
  Session session(options);
  Process &instance = session.startInstance({}, false);
  EXPECT_EQ(instance.wait(15000), 0);
  EXPECT_EQ(instance.err().find("Started server"), std::string::npos);
  EXPECT_NE(instance.err().find("Closing..."), std::string::npos);
}

TEST(Ryxconfig, ConsolePortZeroOrTakenEndsTheProcess) {
  Session session;
  session.setEnv("RYX_CONSOLE_PORT", "0");
  Process &off = session.startInstance({}, false);
  EXPECT_EQ(off.wait(15000), 0);
  EXPECT_EQ(off.err().find("Started server"), std::string::npos);
  EXPECT_EQ(off.err().find("Client:"), std::string::npos);  // no client attempt either

  // Another program on the port: a start hands it the command and ends.
  Session taken;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(taken.consolePort()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  RunResult client = taken.runClient({});
  close(fd);
  EXPECT_EQ(client.status, 0);
  EXPECT_NE(client.err.find("Client: show gui"), std::string::npos);
  EXPECT_EQ(client.err.find("Started server"), std::string::npos);
}

TEST(Ryxconfig, WithoutAnExtensionConstructionWaitsFiveSeconds) {
  SessionOptions options;
  options.vncExt = false;
  Session session(options);
  auto start = std::chrono::steady_clock::now();
  Process &instance = session.startInstance();
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 4500ms);
  EXPECT_NE(instance.err().find("No RVN extension"), std::string::npos);
  EXPECT_EQ(session.runClient({"-quit"}).status, 0);
  EXPECT_EQ(instance.wait(5000), 0);
}

TEST(Ryxconfig, OldExtensionDisablesTheViewerList) {
  SessionOptions options;
  options.vncExtArgs = {"--old"};
  Session session(options);
  Process &instance = session.startInstance();
  EXPECT_NE(instance.err().find("RVN extension is old, disabling viewers list"), std::string::npos);
  EXPECT_EQ(instance.err().find("Force use of VNC RVN extension 1"), std::string::npos);
  EXPECT_EQ(session.runClient({"-quit"}).status, 0);
  EXPECT_EQ(instance.wait(5000), 0);

  Session forced;
  forced.setEnv("RVN_VNC_EXT_VERSION", "1");
  Process &second = forced.startInstance();
  EXPECT_NE(second.err().find("Force use of VNC RVN extension 1"), std::string::npos);
  EXPECT_NE(second.err().find("RVN extension is old, disabling viewers list"), std::string::npos);
}

TEST(Ryxconfig, WithATrayTheIconDocks) {
  SessionOptions options;
  options.trayHost = true;
  options.dockTime = 2;
  Session session(options);
  Process &instance = session.startInstance();
  std::this_thread::sleep_for(4000ms);
  EXPECT_EQ(instance.err().find("Creating standalone dialog"), std::string::npos) << instance.err();
  EXPECT_EQ(session.runClient({"-quit"}).status, 0);
  EXPECT_EQ(instance.wait(5000), 0);
}

TEST(Ryxconfig, WithoutATrayTheStandaloneDialogReplacesTheIcon) {
  SessionOptions options;
  options.dockTime = 1;
  Session session(options);
  Process &instance = session.startInstance({"-nowin"});
  EXPECT_TRUE(instance.waitForErr("Creating standalone dialog", 6000));
  std::this_thread::sleep_for(500ms);
  EXPECT_FALSE(windowShown(session, "^Vezo RYX Server Status$"));  // -nowin: created, not shown
  RunResult show = session.runClient({});
  EXPECT_EQ(show.status, 0);
  EXPECT_TRUE(instance.waitForErr("Show GUI", 3000));
  bool shown = false;
  for (int i = 0; i < 50 && !shown; ++i) {
    shown = windowShown(session, "^Vezo RYX Server Status$");
    if (!shown) std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(shown);
  EXPECT_EQ(session.runClient({"-quit"}).status, 0);
  EXPECT_EQ(instance.wait(5000), 0);
}

}  // namespace
}  // namespace ryx::test

namespace ryx::test {
namespace {

// Opens a connection that announces an application; -1 on failure.
int connectApp(int port, const std::string &name) {
  int fd = connectLoopback(port);
  if (fd < 0) return -1;
  std::string message = handshake("RVN Dashboard Thread\n") + "<Update>\n<AppName>" + name +
                        "</AppName>\n<RenderingServer>rs</RenderingServer>\n</Update>\n";
  if (send(fd, message.data(), message.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(message.size())) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST(RyxconfigLoad, AThousandApplicationsAreHeldAndLeaveCleanly) {
  struct rlimit limit;
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
  setrlimit(RLIMIT_NOFILE, &limit);
  ASSERT_GE(limit.rlim_cur, 1100u) << "this test needs 1100 descriptors";

  // The icon docks, as it does for most users: no window lists the applications.
  SessionOptions options;
  options.trayHost = true;
  Session session(options);
  Process &instance = session.startInstance();
  ASSERT_TRUE(instance.running());
  std::vector<int> apps;
  for (int i = 0; i < 1000; ++i) {
    int fd = connectApp(session.consolePort(), "app" + std::to_string(i));
    ASSERT_GE(fd, 0) << "connection " << i;
    apps.push_back(fd);
  }
  ASSERT_TRUE(instance.waitForErr("A new connected application: app999", 30000));
  std::string log = instance.err();
  int listed = 0;
  for (size_t at = log.find("A new connected application: app"); at != std::string::npos;
       at = log.find("A new connected application: app", at + 1))
    ++listed;
  EXPECT_EQ(listed, 1000);

  for (int fd : apps) close(fd);
  // The instance drops them all and still answers.
  RunResult quit = session.runClient({"-quit"}, 30000);
  EXPECT_EQ(quit.status, 0);
  EXPECT_EQ(instance.wait(30000), 0);
}

}  // namespace
}  // namespace ryx::test

namespace ryx::test {
namespace {

TEST(RyxconfigIntegration, DaemonInformationReachesTheDriverThroughTheTrigger) {
  Session session;  // ryxd with its working values, the wrapper stand-in on the library path
  Process &instance = session.startInstance();
  ASSERT_TRUE(instance.running());
  std::string record = session.folder() + "/wrapper-record.txt";
  for (int i = 0; i < 100 && readFile(record).empty(); ++i) std::this_thread::sleep_for(100ms);
  // port, conference id, conference key, key bytes, key length, back-end ids
  EXPECT_EQ(readFile(record), "7300\tconf-id\tconf-key\t000102030405060708090a0b0c0d0e0f\t16\tb1\n");
  // Made once: later periodic checks hand nothing more over.
  std::this_thread::sleep_for(2500ms);
  std::string later = readFile(record);
  EXPECT_EQ(std::count(later.begin(), later.end(), '\n'), 1);
  EXPECT_EQ(session.runClient({"-quit"}).status, 0);
  EXPECT_EQ(instance.wait(5000), 0);
}

TEST(RyxconfigIntegration, DesktopCaptureNeverMakesATrigger) {
  SessionOptions options;
  options.ryxdArgs = {"--desktop-capture"};
  Session session(options);
  Process &instance = session.startInstance();
  std::this_thread::sleep_for(3000ms);
  EXPECT_TRUE(readFile(session.folder() + "/wrapper-record.txt").empty());
  EXPECT_EQ(session.runClient({"-quit"}).status, 0);
  EXPECT_EQ(instance.wait(5000), 0);
}

TEST(RyxconfigIntegration, AnUnreachableRenderingServerIsShown) {
  SessionOptions options;
  options.dockTime = 0;  // the standalone window, whose refresh logs the published code
  Session session(options);
  session.writeSystemConfig("[Application]\nexternal_rendering_server = 127.0.0.1:" + std::to_string(freePort()) +
                            "\n");
  Process &instance = session.startInstance();
  ASSERT_TRUE(instance.running());
  size_t before = instance.err().size();
  session.startApp({"--name", "viewer", "--rendering-server", "127.0.0.1"});
  EXPECT_TRUE(instance.waitForErr("Error code: 100, error message: Cannot communicate with the Rendering Server",
                                  6000, before))
      << instance.err().substr(before);
  EXPECT_EQ(session.runClient({"-quit"}).status, 0);
  EXPECT_EQ(instance.wait(5000), 0);
}

TEST(RyxconfigIntegration, ASilentRenderingServerCostsOneDeadlineAndQuitStillWorks) {
  Session session;
  PeerProcess server;
  ASSERT_TRUE(server.start({RYX_RENDER_SERVER_EXE, "--mode", "silent"}));
  std::string port;
  ASSERT_TRUE(server.readLine(&port, 5000));
  session.writeSystemConfig("[Application]\nexternal_rendering_server = 127.0.0.1:" + port + "\n");
  Process &instance = session.startInstance();
  ASSERT_TRUE(instance.running());
  auto start = std::chrono::steady_clock::now();
  session.startApp({"--name", "viewer"});  // its arrival runs the check, which waits on the silent server
  RunResult quit = session.runClient({"-quit"}, 30000);
  EXPECT_EQ(quit.status, 0);
  EXPECT_EQ(instance.wait(20000), 0);
  // One request deadline (10 s), not more (longer under a sanitizer build).
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(scaledMs(15000)));
  EXPECT_NE(instance.err().find("Quit application"), std::string::npos);
}

}  // namespace
}  // namespace ryx::test
