// SPDX-License-Identifier: MIT
// The server-state checks in this process, with real registry files and
// real libraries.  Nothing here reaches the GRID check (its outcome lasts
// for the process): every case that could, the switching among them, is in
// commands_process_test.cc.
#include "state/commands.h"

#include <gtest/gtest.h>

#include "common/conf_settings.h"
#include "installation.h"
#include "test_support.h"

namespace ryx {
namespace {

using test::CaptureFd;
using test::dword;
using test::Installation;
using test::ScopedEnvironment;
using test::Wrapper;

constexpr const char *kNotEnabled = "RYX is NOT enabled on this system. Please contact your system administrator.";

class CommandsTest : public ::testing::Test {
 protected:
  Installation install;
  ScopedEnvironment environment{install.environment()};
  Commands commands;
};

TEST_F(CommandsTest, IsRyxOnReadsTheValueOrStartsANewUserSwitchedOn) {
  const struct {
    const char *name;
    bool hiveExists;
    std::vector<std::string> values;  // under the product key
    bool directX;
    bool expected;
    std::string statusAfter, directXAfter;
  } cases[] = {
      {"new user without a product key", false, {}, false, true, dword(1), dword(1)},
      {"status 0 reads as off and changes nothing", true,
       {"\"status\"=dword:00000000", "\"directXStatus\"=dword:00000001"}, false, false, dword(0), dword(1)},
      {"status 0 with directXStatus missing: both rewritten as on", true, {"\"status\"=dword:00000000"}, true,
       true, dword(1), dword(1)},
      {"directXStatus 0 reads as off", true, {"\"status\"=dword:00000001", "\"directXStatus\"=dword:00000000"},
       true, false, dword(1), dword(0)},
      {"a string longer than 4 bytes counts as missing", true,
       {"\"status\"=\"switched off\"", "\"directXStatus\"=dword:00000000"}, false, true, dword(1), dword(1)},
      {"the one-character string 0 reads as on and stays", true,
       {"\"status\"=\"0\"", "\"directXStatus\"=dword:00000000"}, false, true, "1:3000", dword(0)},
      {"four zero bytes of another type read as off", true,
       {"\"status\"=hex:00,00,00,00", "\"directXStatus\"=dword:00000001"}, false, false, "3:00000000", dword(1)},
      {"a single zero byte reads as off (the rest of the 4 bytes is 0)", true, {"\"status\"=hex:00"}, false,
       false, "3:00", "missing"},
      {"a large value reads as on", true, {"\"status\"=dword:80000000"}, false, true, dword(0x80000000u), "missing"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Installation fresh;
    ScopedEnvironment scoped(fresh.environment());
    if (c.hiveExists) fresh.writeProductValues(c.values);
    EXPECT_EQ(commands.isRyxOn(c.directX), c.expected);
    EXPECT_EQ(fresh.read("status"), c.statusAfter);
    EXPECT_EQ(fresh.read("directXStatus"), c.directXAfter);
  }
}

// The wrapper is the OpenGL library that exports ryxEnabled.  One object
// through all cases: each run replaces the previous result.
TEST_F(CommandsTest, UpdateStatusWithDirectXOffChecksOnlyTheWrapper) {
  const struct {
    Wrapper wrapper;
    bool expected;
  } cases[] = {{Wrapper::Full, true}, {Wrapper::NoConnectionInfo, true}, {Wrapper::Plain, false},
               {Wrapper::Full, true}, {Wrapper::None, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.wrapper));
    Installation fresh;
    ScopedEnvironment scoped(fresh.environment());
    fresh.writeProductValues({"\"status\"=dword:00000001", "\"directXStatus\"=dword:00000000"});
    fresh.installWrapper(c.wrapper);
    CaptureFd out(1);
    EXPECT_EQ(commands.updateStatus(), c.expected);
    EXPECT_EQ(out.finish(), "");  // a GL library was found in every case
    EXPECT_EQ(commands.code(), c.expected ? STATUS_OK : STATUS_NOT_ENABLED);
    EXPECT_STREQ(commands.message(), c.expected ? nullptr : kNotEnabled);
    EXPECT_EQ(fresh.read("directXStatus"), dword(0));
  }
}

TEST_F(CommandsTest, ExternalRenderingServerNeedsAServerAndNoForcedLocalRendering) {
  const struct {
    const char *server, *forceLocal;  // null: unset
    bool expected;
  } cases[] = {
      {nullptr, nullptr, false}, {"render-1:8080", "false", true}, {"render-1:8080", "true", false},
      {"", nullptr, false},      {"<null>", nullptr, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.server != nullptr ? c.server : "(unset)") + " " + (c.forceLocal ? c.forceLocal : ""));
    test::ScopedEnv server("RYX_RENDERING_SERVER", c.server);
    test::ScopedEnv forceLocal("RYX_FORCE_LOCAL_RENDERING", c.forceLocal);
    conf::Settings::instance().reload();
    EXPECT_EQ(commands.usesExternalRenderingServer(), c.expected);
  }
  conf::Settings::instance().reload();
}

}  // namespace
}  // namespace ryx
