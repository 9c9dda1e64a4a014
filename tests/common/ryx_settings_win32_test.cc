// SPDX-License-Identifier: MIT
// ryx-settings on Windows: the install root comes from the product key's
// InstallPath in the machine hive, the user file from HOMEDRIVE/HOMEPATH.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "common/install_root.h"
#include "test_support.h"

namespace ryx {
namespace {

class RyxSettingsWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root() + "conf");
    std::filesystem::create_directories(dir.path() + "\\home\\ryx\\conf");
    // The product key is the machine's: the case owns it while it runs.
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key_, "InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE *>(root().c_str()),
                             static_cast<DWORD>(root().size() + 1)),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegDeleteValueA(key_, "InstallPath");
    RegCloseKey(key_);
  }

  test::RunResult run(std::vector<std::string> args) {
    args.insert(args.begin(), RYX_SETTINGS_EXE);
    return test::runProgram(args, {"RYX_ROOT", "RYX_CONSOLE_PORT", "HOMEDRIVE=" + dir.path().substr(0, 2),
                                   "HOMEPATH=" + dir.path().substr(2) + "\\home"});
  }

  std::string root() const { return dir.path() + "\\root\\"; }
  std::string systemFile() const { return root() + "conf\\ryx.conf"; }
  std::string userFile() const { return dir.path() + "\\home\\ryx\\conf\\ryx.conf"; }

  test::TempDir dir;
  HKEY key_ = nullptr;
};

TEST_F(RyxSettingsWin32, ReadsTheConfigurationBelowTheRegisteredRoot) {
  test::writeFile(systemFile(), "[Console]\nconsole_port = 2100\n");
  test::RunResult get = run({"get", "Console", "console_port"});
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.out, "2100\n");

  test::RunResult list = run({"list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("Console.console_port = 2100  (system file " + systemFile() + ")\n"), std::string::npos)
      << list.out;

  test::writeFile(userFile(), "[Logging\n");
  test::RunResult check = run({"check"});
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.out.find("system file " + systemFile() + ": ok"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("user file " + userFile() + ": broken"), std::string::npos) << check.out;
}

// Without InstallPath the product's folder in the programs folder is the root.
TEST_F(RyxSettingsWin32, FallsBackToTheProgramsFolder) {
  RegDeleteValueA(key_, "InstallPath");
  char programs[MAX_PATH] = {};
  ASSERT_TRUE(ExpandEnvironmentStringsA("%ProgramFiles%", programs, sizeof programs));
  test::RunResult check = run({"check"});
  EXPECT_NE(check.out.find("system file " + std::string(programs) + "\\Vezo\\ryx\\conf\\ryx.conf: not present"),
            std::string::npos)
      << check.out;
}

}  // namespace
}  // namespace ryx
