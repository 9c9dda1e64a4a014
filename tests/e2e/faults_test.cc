// SPDX-License-Identifier: MIT
// Faults of every peer, met by the real ryxconfig: each case ends with the
// instance still ending on -quit within 5 s and the user's registry hive
// holding what it held before.  How each unit answers a fault is tested
// in-process; here are the faults that need the whole program (a stall
// bound, a peer gone and back, the files of a running instance).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "peer_process.h"
#include "session.h"

namespace ryx::test {
namespace {

using namespace std::chrono_literals;

// The user switched RYX off: the instance has no reason to write the hive.
const char kHive[] =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Vezo Software\\Vezo Lumora]\n"
    "\"status\"=dword:00000000\n"
    "\"directXStatus\"=dword:00000001\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Other]\n"
    "\"keep\"=\"me\"\n";

const char kRenderingError[] = "Error code: 100, error message: Cannot communicate with the Rendering Server";

// A stand-in extension of the session, recording its requests in a file.
Process &startExtension(Session &session, std::vector<std::string> args, const std::string &record) {
  args.insert(args.begin(), {RYX_VNC_EXT_EXE, "--console", "--viewer", "5:1:alpha", "--viewer", "7:0:beta",
                             "--record", session.folder() + "/" + record});
  Process &ext = session.startPeer(args, record);
  EXPECT_TRUE(ext.waitForOut("ryx-vnc-ext serving", 5000));
  return ext;
}

bool recorded(const Session &session, const std::string &record, const std::string &what, int timeoutMs) {
  return waitUntil([&] { return readFile(session.folder() + "/" + record).find(what) != std::string::npos; },
                   timeoutMs);
}

struct Fault {
  const char *name;
  int dockTime;                        // 0: the standalone window, whose refresh logs the published state
  std::vector<std::string> extension;  // the extension's faults; empty: a well-behaved one
  // Before the instance starts (peers, configuration).
  std::function<void(Session &, std::vector<std::unique_ptr<PeerProcess>> &)> prepare;
  // The fault itself, while the instance runs; checks what the instance did.
  std::function<void(Session &, Process &instance, Process &extension)> act;
  bool hiveKept = true;  // false where the hive itself is the fault
};

// A rendering server that misbehaves as told, configured as the external one.
auto renderingServer(std::vector<std::string> mode) {
  return [mode](Session &session, std::vector<std::unique_ptr<PeerProcess>> &peers) {
    peers.push_back(std::make_unique<PeerProcess>());
    std::vector<std::string> argv = {RYX_RENDER_SERVER_EXE};
    argv.insert(argv.end(), mode.begin(), mode.end());
    ASSERT_TRUE(peers.back()->start(argv));
    std::string port;
    ASSERT_TRUE(peers.back()->readLine(&port, 5000));
    session.writeSystemConfig("[Application]\nexternal_rendering_server = 127.0.0.1:" + port + "\n");
  };
}

// The extension was asked for the viewer list while it misbehaved, and the
// instance goes on through two more periodic checks.
void extensionAsked(Session &session, Process &instance, Process &) {
  EXPECT_TRUE(recorded(session, "ext-record", "GetViewerList", 8000));
  std::this_thread::sleep_for(4s);
  EXPECT_TRUE(instance.running());
}

// An application that sends what args say; the instance logs `log` within timeoutMs.
auto application(std::vector<std::string> args, const char *log, int timeoutMs = 8000) {
  return [args, log, timeoutMs](Session &session, Process &instance, Process &) {
    size_t before = instance.err().size();
    session.startApp(args);
    EXPECT_TRUE(instance.waitForErr(log, timeoutMs, before)) << instance.err().substr(before);
  };
}

// An application that uses the rendering server: its arrival runs the
// check, which shows the error within timeoutMs.
auto appOnTheRenderingServer(int timeoutMs) {
  return application({"--name", "viewer", "--rendering-server", "127.0.0.1"}, kRenderingError, timeoutMs);
}

const Fault kFaults[] = {
    {"ExtensionShortReply", 2, {"--fault", "short-reply"}, nullptr, extensionAsked},
    {"ExtensionSilent", 2, {"--fault", "silent"}, nullptr, extensionAsked},
    {"ExtensionKilledAndRestarted", 2, {}, nullptr,
     [](Session &session, Process &instance, Process &extension) {
       ASSERT_TRUE(recorded(session, "ext-record", "GetViewerInfo id=7", 8000));
       extension.signal(SIGKILL);  // its sockets stay behind, as after a crash
       EXPECT_EQ(extension.wait(3000), 128 + SIGKILL);
       std::this_thread::sleep_for(3s);  // periodic checks meet the dead pipe
       EXPECT_TRUE(instance.running());
       // A new extension: the viewers are listed again, ids and info.
       startExtension(session, {}, "ext-record2");
       EXPECT_TRUE(recorded(session, "ext-record2", "GetViewerInfo id=5", 8000));
       EXPECT_TRUE(recorded(session, "ext-record2", "GetViewerInfo id=7", 1000));
     }},
    {"ApplicationSendsAnEndlessUpdate", 2, {}, nullptr,
     application({"--name", "endless", "--update", "endless"}, "Stopped reading the update at 65536 bytes")},
    {"ApplicationTricklesAnUpdateWithoutEnd", 2, {}, nullptr,
     application({"--name", "trickle", "--update", "trickle"}, "Stopped reading the update after 5 seconds")},
    // One request deadline (10 s) stalls the instance, not more.
    {"RenderingServerSilent", 0, {}, renderingServer({"--mode", "silent"}), appOnTheRenderingServer(15000)},
    {"DaemonEndsWhileTheInstanceRuns", 2, {}, nullptr,
     [](Session &session, Process &instance, Process &) {
       session.ryxd()->signal(SIGKILL);
       std::this_thread::sleep_for(4s);
       EXPECT_TRUE(instance.running());
     }},
    {"UserHiveCorrupted", 2, {}, nullptr,
     [](Session &session, Process &instance, Process &) {
       const std::string garbage = "REGEDIT9\n[HKEY_CURRENT_USER\\unterminated\n\"status\"=dword:zz\n";
       size_t before = instance.err().size();
       writeFile(session.userHive() + ".new", garbage);  // replaced in one step, as an editor would
       ASSERT_EQ(rename((session.userHive() + ".new").c_str(), session.userHive().c_str()), 0);
       ASSERT_TRUE(instance.waitForErr("cannot be read", 5000, before)) << instance.err().substr(before);
       // Moved aside whole, never overwritten.
       std::string aside;
       for (const std::string &name : listFolder(session.folder() + "/registry"))
         if (name.rfind("user.reg.corrupt-", 0) == 0) aside = name;
       ASSERT_FALSE(aside.empty());
       EXPECT_EQ(readFile(session.folder() + "/registry/" + aside), garbage);
     },
     false},
    {"UserHiveUnreadable", 2, {}, nullptr,
     [](Session &session, Process &instance, Process &) {
       ASSERT_EQ(chmod(session.userHive().c_str(), 0), 0);
       std::this_thread::sleep_for(5s);  // two periodic checks read the hive
       EXPECT_TRUE(instance.running());
       chmod(session.userHive().c_str(), 0600);
     }},
};

class Faults : public ::testing::TestWithParam<Fault> {};

TEST_P(Faults, AreSurvived) {
  const Fault &fault = GetParam();
  SessionOptions options;
  options.vncExt = false;  // started below, so that it can record and be replaced
  options.dockTime = fault.dockTime;
  // As root the hive's mode would not keep the instance out: drop the
  // capabilities that let root read any file.
  if (std::string(fault.name) == "UserHiveUnreadable" && geteuid() == 0)
    options.instancePrefix = {"/usr/bin/setpriv", "--bounding-set", "-dac_override,-dac_read_search", "--"};
  Session session(options);
  writeFile(session.userHive(), kHive);
  chmod(session.userHive().c_str(), 0600);
  Process &extension = startExtension(session, fault.extension, "ext-record");
  std::vector<std::unique_ptr<PeerProcess>> peers;
  if (fault.prepare) fault.prepare(session, peers);
  Process &instance = session.startInstance();
  ASSERT_TRUE(instance.running()) << instance.err();

  fault.act(session, instance, extension);

  EXPECT_EQ(session.quit(5000), 0) << instance.err();
  if (fault.hiveKept) {
    EXPECT_EQ(readFile(session.userHive()), kHive);
  }
}

INSTANTIATE_TEST_SUITE_P(Ryxconfig, Faults, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault> &info) { return std::string(info.param.name); });

// The daemon is asked once, at start: a start that meets a misbehaving
// daemon ends by itself, exit 0, with the step's message and no window;
// once a working daemon runs, the next start becomes the instance.
TEST(RyxconfigFaults, DaemonFaultsEndTheStartCleanly) {
  const struct {
    const char *fault;
    std::vector<const char *> messages;  // one of them is printed
  } cases[] = {
      {"drop-before-backend-ids", {"There was an error reading the backend ids"}},
      {"drop-before-desktop-capture", {"There was an error reading whether desktop capture is enabled"}},
      {"drop-before-connection-info",
       {"There was a problem writing the connection information", "There was an error reading ryxd information"}},
      {"wrong-type", {"There was an error reading ryxd information"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.fault);
    SessionOptions options;
    options.ryxdArgs = {"--fault", c.fault};
    Session session(options);
    writeFile(session.userHive(), kHive);
    Process &failed = session.startInstance({}, false);
    EXPECT_EQ(failed.wait(20000), 0);
    std::string log = failed.err();
    EXPECT_EQ(log.find("Started server"), std::string::npos);
    EXPECT_TRUE(std::any_of(c.messages.begin(), c.messages.end(),
                            [&](const char *m) { return log.find(m) != std::string::npos; }))
        << log;
    // A working daemon replaces the port file of the broken one.
    Process &daemon = session.startPeer({RYXD_EXE}, "ryxd-good");
    ASSERT_TRUE(daemon.waitForOut("ryxd listening on", 5000));
    Process &instance = session.startInstance();
    ASSERT_TRUE(instance.running()) << instance.err();
    EXPECT_EQ(session.quit(5000), 0);
    EXPECT_EQ(readFile(session.userHive()), kHive);
  }
}

}  // namespace
}  // namespace ryx::test
