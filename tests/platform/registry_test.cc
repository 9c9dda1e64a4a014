// SPDX-License-Identifier: MIT
// The POSIX registry back-end on real hive files in a temporary folder, and
// the hive file format itself.  (A value larger than the buffer reads as
// missing: commands_test.)
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/posix/registry_file.h"
#include "platform/system.h"
#include "test_support.h"

namespace ryx::platform {
namespace {

using namespace regfile;
using namespace std::string_literals;

constexpr const char *kRoot = "HKEY_CURRENT_USER";
const std::string kHeader = "Windows Registry Editor Version 5.00\n";

// A key's values as "name:type:hex bytes" lines.
std::string describe(const Key &key) {
  std::string text;
  for (const Value &value : key.values) {
    text += value.name + ":" + std::to_string(value.type) + ":";
    for (uint8_t byte : value.data) text += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
    text += "\n";
  }
  return text;
}

// The hive read from `text`, written back and read again, must be the same.
HiveData roundTrip(const std::string &text) {
  HiveData hive, again;
  std::string error;
  EXPECT_TRUE(parseHive(text, kRoot, &hive, &error)) << error << "\n" << text;
  const std::string written = formatHive(hive, kRoot);
  EXPECT_TRUE(parseHive(written, kRoot, &again, &error)) << error << "\n" << written;
  EXPECT_EQ(formatHive(again, kRoot), written);
  return again;
}

TEST(RegistryFile, ReadsEveryValueKindAndWritesItBack) {
  HiveData hive = roundTrip(kHeader +
                            "\n; a comment\n"
                            "[HKEY_CURRENT_USER\\Software\\Vezo Software\\Vezo Lumora]\n"
                            "\"status\"=dword:0000002a\n"
                            "\"InstallPath\"=\"C:\\\\P\\\\\\\"q\\\"\"\n"
                            "\"blob\"=hex:01,02,\\\n"
                            "  ff\n"
                            "@=hex(7):61,00,00\n");
  ASSERT_EQ(hive.keys.size(), 1u);
  EXPECT_EQ(hive.keys[0].path, "Software\\Vezo Software\\Vezo Lumora");
  EXPECT_EQ(describe(hive.keys[0]), "status:4:2a000000\nInstallPath:1:433a5c505c22712200\nblob:3:0102ff\n:7:610000\n");
  EXPECT_EQ(findValue(hive.keys[0], "STATUS"), &hive.keys[0].values[0]);  // names match without regard to case
}

TEST(RegistryFile, ParentsOfListedKeysExist) {
  HiveData hive;
  bool created = false;
  hive.ensureKey("Software\\Vezo Software\\Vezo Lumora", &created);
  EXPECT_TRUE(hive.keyExists("software\\vezo software"));
  EXPECT_FALSE(hive.keyExists("Software\\Vezo"));  // a prefix of a name is no parent
  hive.ensureKey("SOFTWARE\\VEZO SOFTWARE\\VEZO LUMORA", &created);
  EXPECT_EQ(std::make_pair(created, hive.keys.size()), std::make_pair(false, size_t{1}));
}

TEST(RegistryFile, RejectsWhatItCannotReadButTakesNoTextAsEmpty) {
  const std::string key = kHeader + "[HKEY_CURRENT_USER\\A]\n";
  const std::pair<const char *, std::string> cases[] = {
      {"no header", "[HKEY_CURRENT_USER\\A]\n"},
      {"other hive", kHeader + "[HKEY_LOCAL_MACHINE\\A]\n"},
      {"unclosed key", kHeader + "[HKEY_CURRENT_USER\\A\n"},
      {"value before key", kHeader + "\"a\"=dword:00000001\n"},
      {"short dword", key + "\"a\"=dword:1\n"},
      {"bad hex", key + "\"a\"=hex:1g\n"},
      {"unterminated string", key + "\"a\"=\"x\n"},
      {"NUL byte", key + "\"a\"=\"x\0\"\n"s},
  };
  for (const auto &[what, text] : cases) {
    HiveData hive;
    std::string error;
    EXPECT_FALSE(parseHive(text, kRoot, &hive, &error)) << what;
    EXPECT_FALSE(error.empty()) << what;
  }
  HiveData hive;  // no text at all is an empty hive
  std::string error;
  EXPECT_TRUE(parseHive("\n\n", kRoot, &hive, &error) && hive.keys.empty());
}

class Registry : public ::testing::Test {
 protected:
  test::TempDir base;
  const std::string folder = base / "private";  // made by the first write
  test::ScopedEnv env{"RYX_REGISTRY_DIR", folder.c_str()};
  std::string userHive() const { return folder + "/user.reg"; }
  const std::string key = "Software\\RyxTest-" + std::to_string(processId());

  void setDword(const std::string &path, const char *name, uint32_t value) {
    RegKeyPtr handle;
    ASSERT_EQ(regCreateKey(Hive::CurrentUser, path.c_str(), kKeyWrite, &handle), kRegOk);
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

  setDword(key, "v", 5);
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
  mkdir(folder.c_str(), 0700);  // a hive a person wrote first
  test::writeFile(userHive(), kHeader + "\n[HKEY_CURRENT_USER\\Software\\Other]\n\"note\"=\"kept\"\n");
  setDword("Software\\Vezo Software\\Vezo Lumora", "status", 1);
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

// Two processes adding values to one hive at once lose none: the lock on the
// hive's companion file keeps each read, change and write whole.
TEST_F(Registry, TwoWritersLoseNoValue) {
  constexpr uint32_t kRounds = 150;  // every write syncs the hive to disk
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] != 0) continue;
    RegKeyPtr handle;
    for (uint32_t i = 0; i < kRounds; ++i) {
      const std::string name = std::to_string(c) + "-" + std::to_string(i);
      if (regCreateKey(Hive::CurrentUser, key.c_str(), kKeyWrite, &handle) != kRegOk ||
          regSetValue(handle.get(), name.c_str(), kRegDword, &i, 4) != kRegOk)
        _exit(1);
    }
    _exit(0);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  HiveData hive;
  std::string error;
  ASSERT_TRUE(parseHive(test::readFile(userHive()), kRoot, &hive, &error)) << error;
  ASSERT_EQ(hive.keys.size(), 1u);
  EXPECT_EQ(hive.keys[0].values.size(), 2 * kRounds);
  std::vector<std::string> files = test::listFolder(folder);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"user.reg", "user.reg.lock"}));  // no temporary file left
}

}  // namespace
}  // namespace ryx::platform
