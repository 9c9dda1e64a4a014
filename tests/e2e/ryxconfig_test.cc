// SPDX-License-Identifier: MIT
// The real ryxconfig with the real stand-ins: the instance, second starts,
// the console port, start-ups among odd peers, and the icon between a
// watcher, an XEmbed tray and a real desktop panel.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <thread>

#include "session.h"

namespace ryx::test {
namespace {

using namespace std::chrono_literals;

// The console port's own lines that the instance may log for a connection.
bool loggedForConnection(const std::string &log) {
  for (const char *line : {"WRONG HANDSHAKE", "Wrong read on listen socket", "Failed to read config manager command",
                           "Command not supported", "Show GUI", "Quit application", "A new connected application"})
    if (log.find(line) != std::string::npos) return true;
  return false;
}

// One instance without a notification area.  Under -nowin the standalone
// window is made, not shown, until a second start shows it; the daemon's
// data reached the driver once.  The console port listens on 127.0.0.1
// alone; floods leave one status window and no descriptor behind.  Without
// an X11 display -quit is still handed over; only becoming the instance
// needs the display.
TEST(Ryxconfig, TheInstanceServesSecondStartsAndItsConsolePort) {
  SessionOptions options;
  options.dockTime = 1;
  Session session(options);
  Child &instance = session.startInstance({"-nowin"});
  ASSERT_TRUE(waitForErr(instance, "Creating standalone dialog", 6000)) << instance.err();
  waitUntil([&] { return !session.wrapperRecord().empty(); }, 5000);
  std::this_thread::sleep_for(2500ms);  // later periodic checks hand nothing more over
  EXPECT_TRUE(session.findWindows(kStatusWindowTitle).empty());
  // Port, conference id and key, key bytes, key length, back-end ids.
  EXPECT_EQ(session.wrapperRecord(), "7300\tconf-id\tconf-key\t000102030405060708090a0b0c0d0e0f\t16\tb1\n");
  EXPECT_LT(connectLoopback(session.consolePort(), 0, INADDR_LOOPBACK + 1), 0);

  // Second starts (with a client log) and raw connections.
  const struct {
    std::vector<std::string> args;
    const char *clientLog;  // null: the bytes are sent instead
    std::string bytes;
    int holdMs;
    const char *instanceLog;  // null: the instance logs nothing for it
  } sent[] = {
      {{}, "Client: show gui", "", 0, "Show GUI"},
      {{"-QUIT"}, "Client: show gui", "", 0, "Show GUI"},
      {{"-quit2"}, "Client: show gui", "", 0, "Show GUI"},
      {{"-nowin"}, "Client: unknown command", "", 0, nullptr},
      {{}, nullptr, handshake("RYX Command UI") + "\x01", 0, "WRONG HANDSHAKE"},  // no line feed
      {{}, nullptr, handshake(std::string(40, 'x')), 0, "WRONG HANDSHAKE"},       // too long
      {{}, nullptr, handshake("RYX Command UI\n"), 0, "Failed to read config manager command"},
      {{}, nullptr, "", 3000, "Wrong read on listen socket"},  // a silent peer
      {{}, nullptr, "", 0, nullptr},                           // closed at once
  };
  for (const auto &c : sent) {
    SCOPED_TRACE(&c - sent);
    size_t before = instance.err().size();
    if (c.clientLog != nullptr) {
      RunResult client = session.runClient(c.args);
      EXPECT_EQ(client.status, 0);
      EXPECT_NE(client.err.find(c.clientLog), std::string::npos) << client.err;
      EXPECT_EQ(client.err.find("Started server"), std::string::npos);
    } else {
      ASSERT_TRUE(sendRaw(session.consolePort(), c.bytes, c.holdMs));
    }
    if (c.instanceLog != nullptr) {
      EXPECT_TRUE(waitForErr(instance, c.instanceLog, 4000, before)) << instance.err().substr(before);
    } else {
      std::this_thread::sleep_for(300ms);
      EXPECT_FALSE(loggedForConnection(instance.err().substr(before))) << instance.err().substr(before);
    }
  }
  EXPECT_TRUE(session.waitForWindows(1));
  auto openDescriptors = [&] { return listFolder("/proc/" + std::to_string(instance.pid()) + "/fd").size(); };
  const size_t shown = occurrences(instance.err(), "Show GUI"), open = openDescriptors();
  for (int i = 0; i < 100; ++i) ASSERT_EQ(session.runClient({}).status, 0) << "start " << i;
  // Every command byte but "quit" and "show": each is read and refused.
  for (int byte = 0; byte < 256; ++byte) {
    if (byte == 1 || byte == 2) continue;
    ASSERT_TRUE(sendRaw(session.consolePort(), handshake("RYX Command UI\n") + char(byte))) << byte;
  }
  // Names that would do harm if anything formatted or marked them up.
  std::vector<int> held;
  for (const std::string &h : {std::string("%s%s%n%n<b>bold</b><a href=\"file:///etc/passwd\">x</a>"),
                               std::string("\\\\server\\share\\evil.exe"), std::string(8000, 'A')}) {
    held.push_back(announceApp(session.consolePort(), h, h));  // listed in the window while connected
    ASSERT_GE(held.back(), 0);
  }
  waitUntil([&] { return occurrences(instance.err(), "Command not supported") >= 254; }, 10000);
  EXPECT_EQ(occurrences(instance.err(), "Command not supported"), 254u);
  EXPECT_TRUE(waitForErr(instance, "A new connected application: evil.exe", 5000));
  std::this_thread::sleep_for(2500ms);  // a periodic check with all of it listed
  EXPECT_EQ(occurrences(instance.err(), "Show GUI"), shown + 100);
  EXPECT_EQ(session.findWindows(kStatusWindowTitle).size(), 1u);
  for (int fd : held) close(fd);
  EXPECT_TRUE(waitUntil([&] { return openDescriptors() <= open + 1; }, 5000)) << openDescriptors();

  session.setEnv("DISPLAY", "");
  session.setEnv("WAYLAND_DISPLAY", "wayland-0");
  RunResult quit = session.runClient({"-q"});
  EXPECT_NE(quit.err.find("Client: quit"), std::string::npos) << quit.err;
  EXPECT_EQ(instance.wait(scaledMs(5000)), 0) << instance.err();
  EXPECT_NE(instance.err().find("Quit application"), std::string::npos);
  RunResult alone = session.runClient({});
  EXPECT_EQ(alone.status, 0);
  EXPECT_NE(alone.err.find("ryxconfig: the utility needs an X11 display and DISPLAY is not set; on a Wayland desktop, "
                           "Xwayland gives one through DISPLAY"),
            std::string::npos)
      << alone.err;
}

// Start-ups among missing or odd peers: instance or not, the log, docked or standalone.
TEST(Ryxconfig, StartUpFollowsThePeersItMeets) {
  // clang-format off
  const struct {
    const char *name;
    std::function<void(SessionOptions &)> options;
    std::map<std::string, std::string> env;
    int windows;  // -1: the start ends by itself, exit 0
    std::vector<std::string> logged;
    std::vector<const char *> notLogged;
    int settleMs;    // the instance runs this long before it is looked at
    int minStartMs;  // "Started server" takes at least this long
    const char *record = nullptr;  // what the wrapper was handed, when checked
  } cases[] = {
      {"no daemon", [](SessionOptions &o) { o.ryxd = false; }, {}, -1, {"Closing..."}, {"Started server"}, 0, 0},
      {"console port 0", nullptr, {{"RYX_CONSOLE_PORT", "0"}}, -1, {}, {"Started server", "Client:"}, 0, 0},
      // The extension is probed five times, a second apart.
      {"no extension", [](SessionOptions &o) { o.vncExt = false; }, {}, 1, {"No RVN extension"}, {}, 0, 4500},
      {"old extension", [](SessionOptions &o) { o.vncExtArgs = {"--old"}; }, {}, 1,
       {"RVN extension is old, disabling viewers list"}, {}, 0, 0},
      // Under desktop capture no trigger is made.
      {"desktop capture", [](SessionOptions &o) { o.ryxdArgs = {"--desktop-capture"}; }, {}, 1, {}, {}, 5000, 0, ""},
      // The icon docks in the tray beside a watcher, which never sees it.
      {"xembed forced beside a watcher", [](SessionOptions &o) { o.trayHost = true, o.sniWatcher = true; },
       {{"RYX_TRAY", "xembed"}}, 0, {"Status icon shown through XEmbed"},
       {"Creating standalone dialog", "Status icon shown through StatusNotifierItem"}, 4000, 0},
  };
  // clang-format on
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    SessionOptions options;
    if (c.options) c.options(options);
    Session session(options);
    for (const auto &[name, value] : c.env) session.setEnv(name, value);
    auto start = std::chrono::steady_clock::now();
    Child &instance = session.startInstance({}, c.windows >= 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.minStartMs));
    if (c.windows < 0) {
      EXPECT_EQ(instance.wait(scaledMs(15000)), 0);
    } else {
      ASSERT_TRUE(instance.running()) << instance.err();
      std::this_thread::sleep_for(std::chrono::milliseconds(c.settleMs));
      EXPECT_TRUE(session.waitForWindows(c.windows)) << instance.err();
      if (c.record != nullptr) {
        EXPECT_EQ(session.wrapperRecord(), c.record);
      }
      EXPECT_EQ(session.quit(), 0);
    }
    for (const std::string &line : c.logged) EXPECT_NE(instance.err().find(line), std::string::npos) << line;
    for (const char *line : c.notLogged) EXPECT_EQ(instance.err().find(line), std::string::npos) << line;
    if (session.sniWatcher() != nullptr) {
      EXPECT_EQ(session.sniWatcher()->out().find("registered "), std::string::npos) << session.sniWatcher()->out();
    }
  }
}

// The icon images in the session's installation.
void installImages(const Session &session) {
  ASSERT_EQ(system(("mkdir -p '" + session.folder() + "/root/share/ryx'").c_str()), 0);
  ASSERT_EQ(symlink(RYX_IMAGES_DIR, (session.folder() + "/root/share/ryx/images").c_str()), 0);
}

// A late watcher takes the icon from the XEmbed tray and counts as docked;
// a click opens the window and runs the rendering server check (only an
// activation does, this early: code 100 here).  The icon goes back to the
// tray with the watcher.  -quit without an instance becomes it.
TEST(Tray, AWatcherThatComesAfterTheStartTakesTheIconAndItsClicks) {
  SessionOptions options;
  options.sessionBus = true;
  options.dockTime = 4;
  Session session(options);
  installImages(session);
  session.writeSystemConfig("[Application]\nexternal_rendering_server = 127.0.0.1:" + std::to_string(unusedPort()) +
                            "\n");
  Child &instance = session.startInstance({"-quit"});
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
  EXPECT_TRUE(waitForErr(instance, "Error code: 100, error message: Cannot communicate with the Rendering Server", 6000,
                         before))
      << instance.err().substr(before);
  EXPECT_TRUE(session.waitForWindows(1));

  before = instance.err().size();
  session.stopSniWatcher();
  EXPECT_TRUE(waitForErr(instance, "Status icon shown through XEmbed", 3000, before));
  EXPECT_EQ(session.quit(), 0);
}

// A watcher after the dock time still gets the icon, and the standalone
// window (here the error's, without the wrapper) becomes the icon's: one
// window throughout.
TEST(Tray, AHostAfterTheDockTimeTakesTheIconAndItsWindow) {
  SessionOptions options;
  options.sessionBus = true;
  options.wrapper = false;
  options.dockTime = 1;
  Session session(options);
  installImages(session);
  Child &instance = session.startInstance();
  ASSERT_TRUE(waitForErr(instance, "Creating standalone dialog", 6000)) << instance.err();
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(session.findWindows(kStatusWindowTitle).size(), 1u);
  session.startSniWatcher();
  EXPECT_TRUE(waitForErr(instance, "A notification area came after the dock time and took the icon", 5000))
      << instance.err();
  EXPECT_EQ(runProgram({RYX_SNI_WATCHER_EXE, "--activate"}, session.env()).status, 0);
  std::this_thread::sleep_for(1000ms);
  EXPECT_EQ(session.findWindows(kStatusWindowTitle).size(), 1u);
  EXPECT_EQ(session.quit(), 0);
}

// One panel along the top edge holding one plugin, the notification area,
// read by the panel through its settings daemon from the session's folder.
constexpr const char kPanelConfig[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0"><property name="configver" type="int" value="2"/>
  <property name="panels" type="array"><value type="int" value="1"/><property name="panel-1" type="empty">
    <property name="position" type="string" value="p=6;x=0;y=0"/><property name="length" type="uint" value="100"/>
    <property name="size" type="uint" value="32"/>
    <property name="plugin-ids" type="array"><value type="int" value="1"/></property></property></property>
  <property name="plugins" type="empty"><property name="plugin-1" type="string" value="systray"/></property>
</channel>)";

// A real panel's notification area takes the item and its tooltip; a click opens the window.
TEST(Tray, ARealPanelShowsTheItemAndAClickOnItOpensTheWindow) {
  const char *panelExe = "/usr/bin/xfce4-panel", *settingsExe = "/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd";
  if (access(panelExe, X_OK) != 0 || access(settingsExe, X_OK) != 0)
    GTEST_SKIP() << "xfce4-panel is not installed (scripts/setup installs it)";
  SessionOptions options;
  options.sessionBus = true;
  Session session(options);
  installImages(session);
  const std::string config = session.folder() + "/config/xfce4/xfconf/xfce-perchannel-xml";
  ASSERT_EQ(system(("mkdir -p '" + config + "'").c_str()), 0);
  writeFile(config + "/xfce4-panel.xml", kPanelConfig);
  // The settings daemon owns its name before the panel asks for it, or the
  // bus starts one of its own, without the test's configuration.
  session.startPeer({settingsExe}, "panel-settings");
  ASSERT_TRUE(waitUntil(
      [&] {
        return runProgram({"/usr/bin/dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                           "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:org.xfce.Xfconf"},
                          session.env())
                   .out.find("boolean true") != std::string::npos;
      },
      5000));
  session.startPeer({panelExe, "--disable-wm-check"}, "panel");  // else it waits 5 s for a window manager
  // A window id: the first word of the first output line that starts with `prefix`.
  auto firstWindow = [&](const std::vector<std::string> &argv, const std::string &prefix) -> std::string {
    for (const std::string &line : splitLines(runProgram(argv, session.env()).out)) {
      size_t start = line.find_first_not_of(' ');
      if (start != std::string::npos && line.rfind(prefix, 0) == 0)
        return line.substr(start, line.find(' ', start) - start);
    }
    return {};
  };
  std::string panel;
  ASSERT_TRUE(waitUntil(
      [&] {
        panel = firstWindow({"/usr/bin/xdotool", "search", "--onlyvisible", "--classname", "^xfce4-panel$"}, "");
        return !panel.empty();
      },
      10000))
      << readFile(session.folder() + "/logs/panel.err");

  Child &instance = session.startInstance();
  EXPECT_TRUE(waitForErr(instance, "shown through StatusNotifierItem", 5000)) << instance.err();
  std::string items;
  EXPECT_TRUE(waitUntil(
      [&] {
        items = runProgram({RYX_SNI_WATCHER_EXE, "--dump"}, session.env()).out;
        return items.find(" ToolTip=\"Vezo RYX Server Switched ON\"") != std::string::npos;
      },
      5000))
      << items;
  // The notification area is the panel's first child and holds only our
  // icon: its middle is the icon.
  std::map<std::string, int> area;  // "Absolute upper-left X", "Width"... as xwininfo names them
  EXPECT_TRUE(waitUntil(
      [&] {
        std::string id = firstWindow({"/usr/bin/xwininfo", "-id", panel, "-children"}, "     0x");
        for (const std::string &line : splitLines(runProgram({"/usr/bin/xwininfo", "-id", id}, session.env()).out))
          if (line.find(": ") != std::string::npos)
            area[line.substr(line.find_first_not_of(' '), line.find(':') - line.find_first_not_of(' '))] =
                atoi(line.c_str() + line.find(':') + 1);
        return area["Width"] >= 16;
      },
      3000))
      << "the notification area stays empty";
  EXPECT_TRUE(session.findWindows(kStatusWindowTitle).empty());
  RunResult click =
      runProgram({"/usr/bin/xdotool", "mousemove", std::to_string(area["Absolute upper-left X"] + area["Width"] / 2),
                  std::to_string(area["Absolute upper-left Y"] + area["Height"] / 2), "click", "1"},
                 session.env());
  EXPECT_EQ(click.status, 0) << click.err;
  EXPECT_TRUE(session.waitForWindows(1)) << instance.err();
  EXPECT_EQ(session.quit(), 0);
}

}  // namespace

// Another uid reaches nothing through the console port: its command and
// its application are closed unread, one warning each; its own start says
// the port is another user's and ends with status 0.
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
  // Held open until the instance closes it, so the instance sees its owner
  // (bash may die of SIGPIPE: refused before anything is read either way).
  runProgram(asUid(other, {"/bin/bash", "-c",
                           "exec 3<>/dev/tcp/127.0.0.1/" + port +
                               "; printf 'RYX Command UI\\n\\0\\2' >&3; timeout 60 cat <&3"}),
             session.env());
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
