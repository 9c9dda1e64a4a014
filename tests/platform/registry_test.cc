// SPDX-License-Identifier: MIT
// The POSIX registry back-end on real hive files in a temporary folder.
// (A value larger than the buffer reads as missing: commands_test.)
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/system.h"
#include "test_support.h"

namespace ryx::platform {
namespace {

class Registry : public ::testing::Test {
 protected:
  test::TempDir base;
  const std::string folder = base / "private";  // made by the first write
  test::ScopedEnv env{"RYX_REGISTRY_DIR", folder.c_str()};
  std::string userHive() const { return folder + "/user.reg"; }
  // A hive a person or another program wrote first.
  void writeHive(const std::string &text) {
    mkdir(folder.c_str(), 0700);
    test::writeFile(userHive(), text);
  }
  const std::string key = "Software\\RyxTest-" + std::to_string(processId());

  void setDword(Hive hive, const std::string &path, const char *name, uint32_t value, uint32_t view = 0) {
    RegKeyPtr handle;
    ASSERT_EQ(regCreateKey(hive, path.c_str(), kKeyWrite | view, &handle), kRegOk);
    ASSERT_EQ(regSetValue(handle.get(), name, kRegDword, &value, sizeof value), kRegOk);
  }
};

// Missing keys are not found and create nothing; access flags limit what
// a handle may do; a folder that cannot be made fails without being
// "not found".
TEST_F(Registry, OpenAndAccessFailures) {
  RegKeyPtr handle;
  EXPECT_EQ(regOpenKey(Hive::CurrentUser, key.c_str(), kKeyRead, &handle), kRegFileNotFound);
  EXPECT_EQ(handle, nullptr);

  setDword(Hive::CurrentUser, key, "v", 5);
  RegKeyPtr writeOnly, readOnly;
  ASSERT_EQ(regOpenKey(Hive::CurrentUser, key.c_str(), kKeySetValue, &writeOnly), kRegOk);
  ASSERT_EQ(regOpenKey(Hive::CurrentUser, key.c_str(), kKeyRead, &readOnly), kRegOk);
  uint32_t value = 0, size = sizeof value;
  EXPECT_EQ(regQueryValue(writeOnly.get(), "v", nullptr, &value, &size), kRegAccessDenied);
  EXPECT_EQ(regSetValue(readOnly.get(), "v", kRegDword, &value, sizeof value), kRegAccessDenied);
  EXPECT_EQ(regQueryValue(readOnly.get(), "missing", nullptr, &value, &size), kRegFileNotFound);

  test::ScopedEnv blocked("RYX_REGISTRY_DIR", (userHive() + "/registry").c_str());  // below a file
  EXPECT_EQ(regOpenKey(Hive::CurrentUser, key.c_str(), kKeyRead, &handle), kRegFileNotFound);
  EXPECT_EQ(regCreateKey(Hive::CurrentUser, key.c_str(), kKeyWrite, &handle), kRegFailed);
}

// Key paths and value names match in any case; a write keeps what a person
// added by hand, and the user's hive is private.
TEST_F(Registry, WritesKeepWhatAPersonAddedAndTheUserHiveIsPrivate) {
  writeHive("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Other]\n\"note\"=\"kept\"\n");
  setDword(Hive::CurrentUser, "Software\\Vezo Software\\Vezo Lumora", "status", 1);
  RegKeyPtr handle;
  ASSERT_EQ(regOpenKey(Hive::CurrentUser, "software\\vezo software\\vezo lumora", kKeyRead, &handle), kRegOk);
  uint32_t value = 0, size = sizeof value, type = 0;
  ASSERT_EQ(regQueryValue(handle.get(), "Status", &type, &value, &size), kRegOk);
  EXPECT_EQ(std::vector<uint32_t>({value, size, type}), std::vector<uint32_t>({1, 4, kRegDword}));
  const std::string text = test::readFile(userHive());
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Other]\n\"note\"=\"kept\"\n"), std::string::npos) << text;
  struct stat hive, folder;
  ASSERT_EQ(stat(userHive().c_str(), &hive) | stat(this->folder.c_str(), &folder), 0);
  EXPECT_EQ(std::vector<unsigned>({hive.st_mode & 0777u, folder.st_mode & 0777u}), std::vector<unsigned>({0600, 0700}));
}

}  // namespace
}  // namespace ryx::platform
