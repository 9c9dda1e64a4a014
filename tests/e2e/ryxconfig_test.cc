// SPDX-License-Identifier: MIT
// The real ryxconfig with the real stand-ins: a session's instance and its
// windows, second starts, the console port's handshakes, applications,
// start-ups that meet missing peers, docking, and the daemon's data.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "session.h"

namespace ryx::test {
namespace {

using namespace std::chrono_literals;

// The console port's own lines that the instance may log for a connection
// (other lines, such as the status window's refresh, come and go by time).
bool loggedForConnection(const std::string &log) {
  for (const char *line : {"WRONG HANDSHAKE", "Wrong read on listen socket", "Failed to read config manager command",
                           "Command not supported", "Show GUI", "Quit application", "A new connected application"})
    if (log.find(line) != std::string::npos) return true;
  return false;
}

// A first start with -quit finds no instance and becomes it.  Second starts
// hand their command over, and however many come, the instance keeps its
// one status window and makes no other.
TEST(Ryxconfig, SecondStartsHandTheirCommandToTheInstance) {
  SessionOptions options;
  options.dockTime = 0;  // no tray: the standalone status window, which each start presents
  Session session(options);
  Process &instance = session.startInstance({"-quit"});
  ASSERT_TRUE(instance.running()) << instance.err();
  EXPECT_NE(instance.err().find("Starting config manager"), std::string::npos);
  ASSERT_TRUE(session.waitForWindows(1));
  waitUntil([&] { return !session.wrapperRecord().empty(); }, 5000);  // the trigger's window

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
    SCOPED_TRACE(c.args.empty() ? "(no argument)" : c.args[0]);
    size_t before = instance.err().size();
    RunResult client = session.runClient(c.args);
    EXPECT_EQ(client.status, 0);
    EXPECT_NE(client.err.find(c.clientLog), std::string::npos) << client.err;
    EXPECT_NE(client.err.find("Closing..."), std::string::npos);
    EXPECT_EQ(client.err.find("Started server"), std::string::npos);
    if (c.instanceLog != nullptr) {
      EXPECT_TRUE(instance.waitForErr(c.instanceLog, 3000, before));
    } else {
      std::this_thread::sleep_for(300ms);
      EXPECT_FALSE(loggedForConnection(instance.err().substr(before))) << instance.err().substr(before);
    }
  }

  std::this_thread::sleep_for(500ms);  // the first "Show GUI"s settled what GTK makes for them
  const std::vector<std::string> windows = session.topLevelWindows();
  ASSERT_FALSE(windows.empty());
  for (int i = 0; i < 100; ++i) {
    RunResult start = session.runClient({});
    ASSERT_EQ(start.status, 0) << "start " << i << "\n" << start.err;
    ASSERT_NE(start.err.find("Client: show gui"), std::string::npos) << "start " << i;
  }
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(occurrences(instance.err(), "Show GUI"), 105u);
  EXPECT_EQ(session.findWindows(kStatusWindowTitle).size(), 1u);
  EXPECT_EQ(session.topLevelWindows(), windows)
      << runProgram({"/usr/bin/xwininfo", "-root", "-children"}, session.env()).out;

  RunResult quit = session.runClient({"-q"});
  EXPECT_EQ(quit.status, 0);
  EXPECT_NE(quit.err.find("Client: quit"), std::string::npos);
  EXPECT_EQ(instance.wait(5000), 0);
  EXPECT_NE(instance.err().find("Quit application"), std::string::npos);
  EXPECT_NE(instance.err().find("Closing..."), std::string::npos);
}

// From a shell without an X11 display (ssh, a Wayland-only terminal) a
// start still reaches the running instance; only becoming one needs the
// display, and that start says what is missing.
TEST(Ryxconfig, WithoutADisplayAStartStillHandsOverItsCommand) {
  Session session;
  Process &instance = session.startInstance({"-nowin"});
  ASSERT_TRUE(instance.running()) << instance.err();
  session.setEnv("DISPLAY", "");
  session.setEnv("WAYLAND_DISPLAY", "wayland-0");
  RunResult quit = session.runClient({"-quit"});
  EXPECT_EQ(quit.status, 0) << quit.err;
  EXPECT_EQ(instance.wait(5000), 0) << instance.err();

  RunResult alone = session.runClient({});
  EXPECT_EQ(alone.status, 0);
  EXPECT_NE(alone.err.find("ryxconfig: the utility needs an X11 display and DISPLAY is not set; on a Wayland desktop, "
                           "Xwayland gives one through DISPLAY"),
            std::string::npos)
      << alone.err;
  EXPECT_EQ(alone.err.find("Started server"), std::string::npos);
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
    SCOPED_TRACE(c.what);
    size_t before = instance.err().size();
    ASSERT_TRUE(sendRaw(session.consolePort(), c.bytes, c.holdMs));
    if (c.log != nullptr) {
      EXPECT_TRUE(instance.waitForErr(c.log, 4000, before)) << instance.err().substr(before);
    } else {
      std::this_thread::sleep_for(300ms);
      EXPECT_FALSE(loggedForConnection(instance.err().substr(before)));
    }
  }
  // A handshake that arrives a byte at a time within the deadline counts.
  size_t before = instance.err().size();
  int fd = connectLoopback(session.consolePort());
  ASSERT_GE(fd, 0);
  for (char c : handshake("RYX Command UI\n") + "\x01") {
    send(fd, &c, 1, MSG_NOSIGNAL);
    std::this_thread::sleep_for(20ms);
  }
  closeAfterTheInstance(fd);
  EXPECT_TRUE(instance.waitForErr("Show GUI", 3000, before)) << instance.err().substr(before);
  EXPECT_EQ(session.quit(), 0);  // still answering
}

// Start-ups that meet a missing, odd or present peer or notification area:
// whether the process becomes the instance, what it logs, and whether the
// icon docked (no window) or the standalone window replaced it.
TEST(Ryxconfig, StartUpFollowsThePeersItMeets) {
  const struct {
    const char *name;
    std::function<void(SessionOptions &)> options;
    std::map<std::string, std::string> env;
    int windows;  // -1: the start ends by itself, exit 0
    std::vector<std::string> logged;
    std::vector<const char *> notLogged;
    int settleMs;    // the instance runs this long before it is looked at
    int minStartMs;  // "Started server" takes at least this long
  } cases[] = {
      {"no daemon", [](SessionOptions &o) { o.ryxd = false; }, {}, -1, {"Closing..."}, {"Started server"}, 0, 0},
      {"console port 0", nullptr, {{"RYX_CONSOLE_PORT", "0"}}, -1, {}, {"Started server", "Client:"}, 0, 0},
      // The extension is probed five times, a second apart.
      {"no extension", [](SessionOptions &o) { o.vncExt = false; }, {}, 1, {"No RVN extension"}, {}, 0, 4500},
      {"old extension", [](SessionOptions &o) { o.vncExtArgs = {"--old"}; }, {}, 1,
       {"RVN extension is old, disabling viewers list"}, {"Force use of VNC RVN extension 1"}, 0, 0},
      {"old extension forced", nullptr, {{"RVN_VNC_EXT_VERSION", "1"}}, 1,
       {"Force use of VNC RVN extension 1", "RVN extension is old, disabling viewers list"}, {}, 0, 0},
      {"tray", [](SessionOptions &o) { o.trayHost = true; }, {}, 0, {}, {"Creating standalone dialog"}, 4000, 0},
      // Without a notification area the standalone window replaces the icon
      // after the dock time, whatever RYX_TRAY says.
      {"bus without watcher", [](SessionOptions &o) { o.sessionBus = true, o.dockTime = 1; }, {}, 1,
       {"Creating standalone dialog"}, {}, 0, 0},
      {"watcher forced, none there", [](SessionOptions &o) { o.sessionBus = true, o.dockTime = 1; },
       {{"RYX_TRAY", "sni"}}, 1, {"Creating standalone dialog"}, {}, 0, 0},
      {"watcher forced, no bus", [](SessionOptions &o) { o.dockTime = 1; }, {{"RYX_TRAY", "sni"}}, 1,
       {"Creating standalone dialog"}, {}, 0, 0},
      // The icon stays in the tray beside a watcher, which never sees it.
      {"xembed forced beside a watcher", [](SessionOptions &o) { o.trayHost = true, o.sniWatcher = true; },
       {{"RYX_TRAY", "xembed"}}, 0, {"Status icon shown through XEmbed"},
       {"Creating standalone dialog", "Status icon shown through StatusNotifierItem"}, 4000, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    SessionOptions options;
    if (c.options) c.options(options);
    Session session(options);
    for (const auto &[name, value] : c.env) session.setEnv(name, value);
    auto start = std::chrono::steady_clock::now();
    Process &instance = session.startInstance({}, c.windows >= 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.minStartMs));
    if (c.windows < 0) {
      EXPECT_EQ(instance.wait(15000), 0);
      for (const std::string &line : c.logged) EXPECT_NE(instance.err().find(line), std::string::npos) << line;
    } else {
      ASSERT_TRUE(instance.running()) << instance.err();
      std::this_thread::sleep_for(std::chrono::milliseconds(c.settleMs));
      EXPECT_TRUE(session.waitForLinesAndWindows(c.logged, c.windows)) << instance.err();
    }
    for (const char *line : c.notLogged) EXPECT_EQ(instance.err().find(line), std::string::npos) << line;
    if (c.windows >= 0) {
      EXPECT_EQ(session.quit(), 0);
    }
    if (session.sniWatcher() != nullptr) {
      EXPECT_EQ(session.sniWatcher()->out().find("registered "), std::string::npos) << session.sniWatcher()->out();
    }
  }
}

// Another program on the console port: a start hands it the command and ends.
TEST(Ryxconfig, AStartThatFindsThePortTakenEnds) {
  Session session;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(session.consolePort()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  RunResult client = session.runClient({});
  close(fd);
  EXPECT_EQ(client.status, 0);
  EXPECT_NE(client.err.find("Client: show gui"), std::string::npos);
  EXPECT_EQ(client.err.find("Started server"), std::string::npos);
}

// Without a tray the standalone window replaces the icon.  Under -nowin it
// is made, not shown, until a second start shows it.  Closed by the user it
// is destroyed; a later "Show GUI" makes a new icon, which, still not
// docked at its first tick, is given up at once for a new standalone window.
TEST(Ryxconfig, WithoutATrayTheStandaloneWindowReplacesTheIcon) {
  for (bool nowin : {true, false}) {
    SCOPED_TRACE(nowin ? "-nowin" : "no argument");
    SessionOptions options;
    options.dockTime = 1;
    Session session(options);
    Process &instance = session.startInstance(nowin ? std::vector<std::string>{"-nowin"} : std::vector<std::string>{});
    ASSERT_TRUE(instance.waitForErr("Creating standalone dialog", 6000)) << instance.err();
    size_t before = instance.err().size();
    if (nowin) {
      std::this_thread::sleep_for(500ms);
      EXPECT_TRUE(session.findWindows(kStatusWindowTitle).empty());
      EXPECT_EQ(session.runClient({}).status, 0);
      EXPECT_TRUE(session.waitForLinesAndWindows({"Show GUI"}, 1, before)) << instance.err().substr(before);
    } else {
      std::vector<std::string> ids;
      ASSERT_TRUE(waitUntil([&] { return (ids = session.findWindows(kStatusWindowTitle)).size() == 1; }, 6000));
      RunResult close =
          runProgram({"/usr/bin/xdotool", "windowfocus", "--sync", ids[0], "key", "Escape"}, session.env());
      ASSERT_EQ(close.status, 0) << close.err;
      ASSERT_TRUE(session.waitForWindows(0)) << "the window is still there";
      EXPECT_TRUE(instance.running());
      before = instance.err().size();
      EXPECT_EQ(session.runClient({}).status, 0);
      EXPECT_TRUE(session.waitForLinesAndWindows({"Show GUI", "Creating standalone dialog"}, 1, before))
          << instance.err().substr(before);
    }
    EXPECT_EQ(session.quit(), 0);
  }
}

TEST(Ryxconfig, AThousandApplicationsAreHeldAndLeaveCleanly) {
  rlimit limit;
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
    apps.push_back(announceApp(session.consolePort(), "app" + std::to_string(i), "rs"));
    ASSERT_GE(apps.back(), 0) << "connection " << i;
  }
  ASSERT_TRUE(instance.waitForErr("A new connected application: app999", 30000));
  EXPECT_EQ(occurrences(instance.err(), "A new connected application: app"), 1000u);
  for (int fd : apps) close(fd);
  // The instance drops them all and still answers.
  EXPECT_EQ(session.runClient({"-quit"}, 30000).status, 0);
  EXPECT_EQ(instance.wait(30000), 0);
}

// The daemon's connection information reaches the driver through the
// trigger, once; under desktop capture no trigger is made.
TEST(Ryxconfig, DaemonInformationReachesTheDriverOnceThroughTheTrigger) {
  const struct {
    std::vector<std::string> ryxdArgs;
    const char *record;  // port, conference id and key, key bytes, key length, back-end ids
  } cases[] = {
      {{}, "7300\tconf-id\tconf-key\t000102030405060708090a0b0c0d0e0f\t16\tb1\n"},
      {{"--desktop-capture"}, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.record);
    SessionOptions options;
    options.ryxdArgs = c.ryxdArgs;
    Session session(options);
    ASSERT_TRUE(session.startInstance().running());
    waitUntil([&] { return !session.wrapperRecord().empty(); }, *c.record != '\0' ? 10000 : 3000);
    std::this_thread::sleep_for(2500ms);  // later periodic checks hand nothing more over
    EXPECT_EQ(session.wrapperRecord(), c.record);
    EXPECT_EQ(session.quit(), 0);
  }
}

}  // namespace
}  // namespace ryx::test
