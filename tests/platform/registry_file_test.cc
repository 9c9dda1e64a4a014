// SPDX-License-Identifier: MIT
#include "platform/posix/registry_file.h"

#include <gtest/gtest.h>

namespace ryx::platform::regfile {
namespace {

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

}  // namespace
}  // namespace ryx::platform::regfile
