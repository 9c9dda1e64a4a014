// SPDX-License-Identifier: MIT
// Faults that need the whole program (a stall bound, the files of a
// running instance); after each, -quit ends the instance
// within 5 s and the user's hive is as it was.  A silent extension is
// vnc_ext_pipe_test's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "session.h"

namespace ryx::test {
namespace {

// The user switched RYX off: the instance has no reason to write the hive.
const char kHive[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Vezo Software\\Vezo Lumora]\n"
    "\"status\"=dword:00000000\n\"directXStatus\"=dword:00000001\n\n"
    "[HKEY_CURRENT_USER\\Software\\Other]\n\"keep\"=\"me\"\n";

struct Fault {
  const char *name;
  // The fault itself, while the instance runs; checks what the instance did.
  std::function<void(Session &, Child &instance)> act;
  bool hiveKept = true;                              // false where the hive itself is the fault
  std::function<void(Session &)> prepare = nullptr;  // before the instance starts
};

// An application that sends what args say; the instance logs `log` within timeoutMs.
auto application(std::vector<std::string> args, const char *log, int timeoutMs = 8000) {
  return [args, log, timeoutMs](Session &session, Child &instance) {
    size_t before = instance.err().size();
    session.startApp(args);
    EXPECT_TRUE(waitForErr(instance, log, timeoutMs, before)) << instance.err().substr(before);
  };
}

// clang-format off
const Fault kFaults[] = {
    {"ApplicationSendsAnEndlessUpdate",
     application({"--name", "endless", "--update", "endless"}, "Stopped reading the update at 65536 bytes")},
    {"ApplicationTricklesAnUpdateWithoutEnd",
     application({"--name", "trickle", "--update", "trickle"}, "Stopped reading the update after 5 seconds")},
    // A silent rendering server, configured as the external one, met by the
    // check an application's arrival runs: one request deadline (10 s)
    // stalls the instance, not more.  The standalone window (dock time 0)
    // logs the published state.
    {"RenderingServerSilent",
     application({"--name", "viewer", "--rendering-server", "127.0.0.1"},
                 "Error code: 100, error message: Cannot communicate with the Rendering Server", 15000), true,
     [](Session &session) {
       Child &server = session.startPeer({RYX_RENDER_SERVER_EXE, "--mode", "silent"}, "render-server");
       ASSERT_TRUE(waitForOut(server, "\n", 5000));
       std::string port = server.out().substr(0, server.out().find('\n'));
       session.writeSystemConfig("[Application]\nexternal_rendering_server = 127.0.0.1:" + port + "\n");
     }},
    {"UserHiveCorrupted",
     [](Session &session, Child &instance) {
       const std::string garbage = "REGEDIT9\n[HKEY_CURRENT_USER\\unterminated\n\"status\"=dword:zz\n";
       size_t before = instance.err().size();
       writeFile(session.userHive() + ".new", garbage);  // replaced in one step, as an editor would
       ASSERT_EQ(rename((session.userHive() + ".new").c_str(), session.userHive().c_str()), 0);
       ASSERT_TRUE(waitForErr(instance, "cannot be read", 5000, before)) << instance.err().substr(before);
       // Moved aside whole, never overwritten.
       std::string aside;
       for (const std::string &name : listFolder(session.folder() + "/registry"))
         if (name.rfind("user.reg.corrupt-", 0) == 0) aside = name;
       ASSERT_FALSE(aside.empty());
       EXPECT_EQ(readFile(session.folder() + "/registry/" + aside), garbage);
     },
     false},
};
// clang-format on

class Faults : public ::testing::TestWithParam<Fault> {};

TEST_P(Faults, AreSurvived) {
  const Fault &fault = GetParam();
  SessionOptions options;
  options.dockTime = fault.prepare ? 0 : 2;
  Session session(options);
  writeFile(session.userHive(), kHive);
  chmod(session.userHive().c_str(), 0600);
  if (fault.prepare) fault.prepare(session);
  Child &instance = session.startInstance();
  ASSERT_TRUE(instance.running()) << instance.err();
  fault.act(session, instance);
  EXPECT_EQ(session.quit(5000), 0) << instance.err();
  if (fault.hiveKept) {
    EXPECT_EQ(readFile(session.userHive()), kHive);
  }
}

INSTANTIATE_TEST_SUITE_P(Ryxconfig, Faults, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ryx::test
