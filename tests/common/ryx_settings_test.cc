// SPDX-License-Identifier: MIT
// The ryx-settings program, run as a person would run it.  (The registered
// root on Windows: InstallRoot; the rules behind each value: SettingsTest.)
#include <gtest/gtest.h>

#include "installation.h"

namespace ryx {
namespace {

class RyxSettingsTool : public ::testing::Test, public test::Installation {
 protected:
  test::RunResult run(const std::vector<std::string> &args) {
    return test::runProgram(test::concat({RYX_SETTINGS_EXE}, args));
  }
};

TEST_F(RyxSettingsTool, GetPrintsTheEffectiveValueAndMisuseIsStatusTwo) {
  test::writeFile(systemFile(), "[Console]\nconsole_port = 2100\n[Logging]\nverbose = 1\n");
  const struct {
    std::vector<std::string> args;
    int status;
    const char *out, *err;
  } cases[] = {
      {{"get", "console", "CONSOLE_PORT"}, 0, "2100\n", ""},
      {{"get", "Logging", "verbose"}, 0, "true\n", ""},
      {{"get", "Logging", "log_file"}, 1, "", ""},
      {{"get", "Console", "no_such_key"}, 2, "", "ryx-settings: unknown setting Console.no_such_key\n"},
  };
  for (const auto &c : cases) {
    test::RunResult r = run(c.args);
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out + "|" + r.err, std::string(c.out) + "|" + c.err);
  }
  EXPECT_NE(run({"--help"}).out.find("Usage: ryx-settings"), std::string::npos);
  EXPECT_EQ(run({"--version"}).out.rfind("ryx-settings ", 0), 0u);
}

TEST_F(RyxSettingsTool, ListNamesEachOriginAndCheckNamesBrokenFiles) {
  test::writeFile(systemFile(), "[Logging]\nlog_level = info\n");
  writeUser("[Logging]\nlog_file = /tmp/x\n");
  test::writeFile(adminFile(), "[Console]\nconsole_port = 2300\n");
  set("RYX_VERBOSE", "true");
  test::RunResult list = run({"list"});
  EXPECT_EQ(list.status, 0);
  const std::vector<std::string> lines = test::splitLines(list.out);
  ASSERT_EQ(lines.size(), 161u) << list.out;  // every row, in table order
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
            (std::vector<std::string>{"Logging.verbose = true  (environment RYX_VERBOSE)",
                                      "Logging.log_level = info  (system file " + systemFile() + ")",
                                      "Logging.log_file = /tmp/x  (user file " + userFile() + ")",
                                      "Logging.log_dir = (unset)  (default)"}));
  EXPECT_NE(list.out.find("\nConsole.console_port = 2300  (admin file " + adminFile() + ")\n"), std::string::npos);

  writeUser("[Logging\n");
  test::RunResult check = run({"check"});
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.out, "admin file " + adminFile() + ": ok\nuser file " + userFile() + ": broken\nsystem file " +
                           systemFile() + ": ok\n");
}

}  // namespace
}  // namespace ryx
