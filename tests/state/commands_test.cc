// SPDX-License-Identifier: MIT
// The server-state checks in this process, with real registry files and
// real libraries.  Nothing here reaches the GRID check (its outcome lasts
// for the process): every case that could, the switching among them, is in
// commands_process_test.cc.
#include "state/commands.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/conf_settings.h"
#include "platform/registry.h"
#include "installation.h"
#include "test_support.h"

namespace ryx {
namespace {

using test::CaptureFd;
using test::dword;
using test::Installation;
using test::ScopedEnvironment;
using test::StoredValue;
using test::Wrapper;

constexpr const char *kNotEnabled = "RYX is NOT enabled on this system. Please contact your system administrator.";

StoredValue stringValue(const std::string &text) {
  StoredValue value;
  value.present = true;
  value.type = platform::kRegSz;
  value.data.assign(text.begin(), text.end());
  value.data.push_back(0);
  return value;
}

StoredValue missing() { return StoredValue{}; }

class CommandsTest : public ::testing::Test {
 protected:
  Installation install;
  ScopedEnvironment environment{install.environment()};
  Commands commands;
};

struct IsRyxOnCase {
  const char *name;
  bool hiveExists;
  std::vector<std::string> values;  // under the product key
  bool directX;
  bool expected;
  StoredValue statusAfter;
  StoredValue directXAfter;
};

TEST_F(CommandsTest, IsRyxOnReadsTheValueOrStartsANewUserSwitchedOn) {
  const IsRyxOnCase cases[] = {
      {"new user without a product key", false, {}, false, true, dword(1), dword(1)},
      {"product key without values", true, {}, false, true, dword(1), dword(1)},
      {"status 0 reads as off and changes nothing", true,
       {"\"status\"=dword:00000000", "\"directXStatus\"=dword:00000001"}, false, false, dword(0), dword(1)},
      {"status 0 with directXStatus missing: both rewritten as on", true, {"\"status\"=dword:00000000"}, true,
       true, dword(1), dword(1)},
      {"directXStatus 0 reads as off", true, {"\"status\"=dword:00000001", "\"directXStatus\"=dword:00000000"},
       true, false, dword(1), dword(0)},
      {"a string longer than 4 bytes counts as missing", true,
       {"\"status\"=\"switched off\"", "\"directXStatus\"=dword:00000000"}, false, true, dword(1), dword(1)},
      {"the one-character string 0 reads as on and stays", true,
       {"\"status\"=\"0\"", "\"directXStatus\"=dword:00000000"}, false, true, stringValue("0"), dword(0)},
      {"four zero bytes of another type read as off", true,
       {"\"status\"=hex:00,00,00,00", "\"directXStatus\"=dword:00000001"}, false, false,
       StoredValue{true, platform::kRegBinary, {0, 0, 0, 0}}, dword(1)},
      {"a single zero byte reads as off (the rest of the 4 bytes is 0)", true, {"\"status\"=hex:00"}, false,
       false, StoredValue{true, platform::kRegBinary, {0}}, missing()},
      {"a large value reads as on", true, {"\"status\"=dword:80000000"}, false, true, dword(0x80000000u),
       missing()},
  };
  for (const IsRyxOnCase &c : cases) {
    SCOPED_TRACE(c.name);
    Installation fresh;
    ScopedEnvironment scoped(fresh.environment());
    if (c.hiveExists) fresh.writeProductValues(c.values);
    EXPECT_EQ(commands.isRyxOn(c.directX), c.expected);
    EXPECT_EQ(fresh.read("status"), c.statusAfter);
    EXPECT_EQ(fresh.read("directXStatus"), c.directXAfter);
  }
}

// The wrapper is the OpenGL library that exports ryxEnabled.
TEST_F(CommandsTest, UpdateStatusWithDirectXOffChecksOnlyTheWrapper) {
  struct Case {
    const char *name;
    Wrapper wrapper;
    bool expected;
    int32_t code;
    const char *message;
  } cases[] = {
      {"wrapper installed", Wrapper::Full, true, STATUS_OK, nullptr},
      {"wrapper without the connection entry point", Wrapper::NoConnectionInfo, true, STATUS_OK, nullptr},
      {"plain GL library", Wrapper::Plain, false, STATUS_NOT_ENABLED, kNotEnabled},
      {"wrapper installed again after a failure", Wrapper::Full, true, STATUS_OK, nullptr},
      {"nothing installed", Wrapper::None, false, STATUS_NOT_ENABLED, kNotEnabled},
  };
  // One object through all cases: each run replaces the previous result.
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Installation fresh;
    ScopedEnvironment scoped(fresh.environment());
    fresh.writeProductValues({"\"status\"=dword:00000001", "\"directXStatus\"=dword:00000000"});
    fresh.installWrapper(c.wrapper);
    CaptureFd out(1);
    EXPECT_EQ(commands.updateStatus(), c.expected);
    EXPECT_EQ(out.finish(), "");  // a GL library was found in every case
    EXPECT_EQ(commands.code(), c.code);
    if (c.message == nullptr)
      EXPECT_EQ(commands.message(), nullptr);
    else
      EXPECT_STREQ(commands.message(), c.message);
    EXPECT_EQ(fresh.read("directXStatus"), dword(0));
  }
}

TEST_F(CommandsTest, ExternalRenderingServerNeedsAServerAndNoForcedLocalRendering) {
  struct Case {
    const char *server;  // null: unset
    const char *forceLocal;
    bool expected;
  } cases[] = {
      {nullptr, nullptr, false},        {"render-1:8080", nullptr, true}, {"render-1:8080", "false", true},
      {"render-1:8080", "true", false}, {"", nullptr, false},            {"<null>", nullptr, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("server ") + (c.server != nullptr ? c.server : "(unset)") + ", force_local_rendering " +
                 (c.forceLocal != nullptr ? c.forceLocal : "(unset)"));
    test::ScopedEnv server("RYX_RENDERING_SERVER", c.server);
    test::ScopedEnv forceLocal("RYX_FORCE_LOCAL_RENDERING", c.forceLocal);
    conf::Settings::instance().reload();
    EXPECT_EQ(commands.usesExternalRenderingServer(), c.expected);
  }
  conf::Settings::instance().reload();
}

}  // namespace
}  // namespace ryx
