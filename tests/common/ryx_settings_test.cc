// SPDX-License-Identifier: MIT
// The ryx-settings program, run as a person would run it.
#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>

#include "common/install_root.h"
#include "installation.h"

namespace ryx {
namespace {

class RyxSettingsTool : public ::testing::Test, public test::Installation {
 protected:
  test::RunResult run(std::vector<std::string> args) {
    args.insert(args.begin(), RYX_SETTINGS_EXE);
    return test::runProgram(args);
  }
};

TEST_F(RyxSettingsTool, GetPrintsTheEffectiveValueAndMisuseIsStatusTwo) {
  test::writeFile(systemFile(), "[Console]\nconsole_port = 2100\n[Logging]\nverbose = 1\n");
  const struct {
    std::vector<std::string> args;
    int status;
    const char *out;  // null: not checked
    const char *err;
  } cases[] = {
      {{"get", "console", "CONSOLE_PORT"}, 0, "2100\n", ""},
      {{"get", "Logging", "verbose"}, 0, "true\n", ""},
      {{"get", "RenderingServer", "port"}, 0, "2007\n", ""},  // the default
      {{"get", "Logging", "log_file"}, 1, "", ""},
      {{"get", "Console", "no_such_key"}, 2, "", "ryx-settings: unknown setting Console.no_such_key\n"},
      {{}, 2, nullptr, nullptr},
      {{"frobnicate"}, 2, nullptr, nullptr},
  };
  for (const auto &c : cases) {
    std::string what;
    for (const std::string &arg : c.args) what += arg + " ";
    test::RunResult r = run(c.args);
    EXPECT_EQ(r.status, c.status) << what;
    if (c.out != nullptr) {
      EXPECT_EQ(r.out, c.out) << what;
      EXPECT_EQ(r.err, c.err) << what;
    }
  }
  EXPECT_NE(run({"--help"}).out.find("Usage: ryx-settings"), std::string::npos);
  EXPECT_EQ(run({"--version"}).out.rfind("ryx-settings ", 0), 0u);
}

TEST_F(RyxSettingsTool, ListNamesEachOrigin) {
  test::writeFile(systemFile(), "[Logging]\nlog_level = info\n");
  writeUser("[Logging]\nlog_file = /tmp/x\n");
  test::writeFile(adminFile(), "[Console]\nconsole_port = 2300\n");
  set("RYX_VERBOSE", "true");
  test::RunResult r = run({"list"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Logging.verbose = true  (environment RYX_VERBOSE)\n"
                        "Logging.log_level = info  (system file " +
                            systemFile() +
                            ")\n"
                            "Logging.log_file = /tmp/x  (user file " +
                            userFile() +
                            ")\n"
                            "Logging.log_dir = (unset)  (default)\n",
                        0),
            0u)
      << r.out;
  EXPECT_NE(r.out.find("Console.console_port = 2300  (admin file " + adminFile() + ")\n"), std::string::npos);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 161);
}

TEST_F(RyxSettingsTool, CheckReportsBrokenFiles) {
  test::writeFile(systemFile(), "[Logging]\nok = 1\n");
  test::RunResult good = run({"check"});
  EXPECT_EQ(good.status, 0);
  EXPECT_NE(good.out.find("system file " + systemFile() + ": ok"), std::string::npos);
  writeUser("[Logging\n");
  test::RunResult bad = run({"check"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("user file " + userFile() + ": broken"), std::string::npos);
  EXPECT_EQ(bad.err, "Cannot parse .ini file \"" + userFile() + "\": Parser error. (line 1)\n");
}

#ifdef _WIN32
// Without RYX_ROOT the root is the product key's InstallPath in the
// machine hive, which the case owns while it runs (meson runs it alone).
TEST_F(RyxSettingsTool, ReadsTheConfigurationBelowTheRegisteredRoot) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE *>(root().c_str()),
                           static_cast<DWORD>(root().size() + 1)),
            ERROR_SUCCESS);
  set("RYX_ROOT", nullptr);
  test::writeFile(systemFile(), "[Console]\nconsole_port = 2100\n");
  test::RunResult get = run({"get", "Console", "console_port"});
  test::RunResult check = run({"check"});
  RegDeleteValueA(key, "InstallPath");
  RegCloseKey(key);
  EXPECT_EQ(get.out, "2100\n");
  EXPECT_NE(check.out.find("system file " + systemFile() + ": ok"), std::string::npos) << check.out;
}
#endif

}  // namespace
}  // namespace ryx
