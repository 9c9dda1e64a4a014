// SPDX-License-Identifier: MIT
// The registry back-end against the system's own registry: each case works
// below a key of its own and deletes it afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/registry.h"

namespace ryx::platform {
namespace {

class RegistryWin32Test : public ::testing::Test {
 protected:
  void TearDown() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      HKEY software = nullptr;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | view, &software) == ERROR_SUCCESS) {
        RegDeleteTreeA(software, key_.c_str() + strlen("Software\\"));
        RegCloseKey(software);
      }
    }
  }

  const std::string key_ = "Software\\RyxTest-" + std::to_string(GetCurrentProcessId());
};

TEST_F(RegistryWin32Test, StoresTypedValuesAndReportsMoreDataForASmallBuffer) {
  RegKeyPtr key;
  ASSERT_EQ(regCreateKey(Hive::CurrentUser, (key_ + "\\Deeper").c_str(), kKeyRead | kKeyWrite, &key), kRegOk);
  const char text[] = "C:\\Program Files\\RYX\\";
  const uint32_t number = 0x12345678;
  ASSERT_EQ(regSetValue(key.get(), "InstallPath", kRegSz, text, sizeof text), kRegOk);
  ASSERT_EQ(regSetValue(key.get(), "Enabled", kRegDword, &number, sizeof number), kRegOk);
  key.reset();

  ASSERT_EQ(regOpenKey(Hive::CurrentUser, (key_ + "\\Deeper").c_str(), kKeyRead, &key), kRegOk);
  char buffer[64] = {};
  uint32_t type = 0, size = sizeof buffer;
  ASSERT_EQ(regQueryValue(key.get(), "InstallPath", &type, buffer, &size), kRegOk);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, sizeof text);
  EXPECT_STREQ(buffer, text);

  uint32_t stored = 0;
  size = sizeof stored;
  ASSERT_EQ(regQueryValue(key.get(), "Enabled", &type, &stored, &size), kRegOk);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(stored, number);

  // One byte short of the value: "more data", and the size it needs.
  char small[sizeof text - 1];
  size = sizeof small;
  EXPECT_EQ(regQueryValue(key.get(), "InstallPath", &type, small, &size), kRegMoreData);
  EXPECT_EQ(size, sizeof text);

  size = sizeof buffer;
  EXPECT_EQ(regQueryValue(key.get(), "Missing", &type, buffer, &size), kRegFileNotFound);
  EXPECT_EQ(regOpenKey(Hive::CurrentUser, (key_ + "\\Missing").c_str(), kKeyRead, &key), kRegFileNotFound);
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryWin32Test, SeparatesThe64And32BitViewsOfTheMachineHive) {
  RegKeyPtr wide, narrow;
  ASSERT_EQ(regCreateKey(Hive::LocalMachine, key_.c_str(), kKeyWrite | kKeyWow64_64Key, &wide), kRegOk);
  ASSERT_EQ(regCreateKey(Hive::LocalMachine, key_.c_str(), kKeyWrite | kKeyWow64_32Key, &narrow), kRegOk);
  ASSERT_EQ(regSetValue(wide.get(), "View", kRegSz, "64", 3), kRegOk);
  ASSERT_EQ(regSetValue(narrow.get(), "View", kRegSz, "32", 3), kRegOk);

  for (auto [view, expected] : {std::pair{kKeyWow64_64Key, "64"}, std::pair{kKeyWow64_32Key, "32"}}) {
    RegKeyPtr key;
    ASSERT_EQ(regOpenKey(Hive::LocalMachine, key_.c_str(), kKeyRead | view, &key), kRegOk);
    char buffer[8] = {};
    uint32_t type = 0, size = sizeof buffer;
    ASSERT_EQ(regQueryValue(key.get(), "View", &type, buffer, &size), kRegOk);
    EXPECT_STREQ(buffer, expected);
  }
  // The 32-bit view lives below WOW6432Node of the 64-bit one.
  RegKeyPtr redirected;
  EXPECT_EQ(regOpenKey(Hive::LocalMachine, ("Software\\WOW6432Node\\RyxTest-" + std::to_string(GetCurrentProcessId())).c_str(),
                       kKeyRead | kKeyWow64_64Key, &redirected),
            kRegOk);
}

}  // namespace
}  // namespace ryx::platform
