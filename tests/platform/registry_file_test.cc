// SPDX-License-Identifier: MIT
#include "platform/posix/registry_file.h"

#include <gtest/gtest.h>

namespace ryx::platform::regfile {
namespace {

constexpr const char *kRoot = "HKEY_CURRENT_USER";

TEST(RegistryFile, ReadsEveryValueKindAndWritesItBack) {
  const char *text =
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "; a comment\n"
      "[HKEY_CURRENT_USER\\Software\\Vezo Software\\Vezo Lumora]\n"
      "\"status\"=dword:0000002a\n"
      "\"InstallPath\"=\"C:\\\\Program Files\\\\\\\"q\\\"\"\n"
      "\"blob\"=hex:01,02,\\\n"
      "  ff\n"
      "@=hex(7):61,00,00\n";
  HiveData hive;
  std::string error;
  ASSERT_TRUE(parseHive(text, kRoot, &hive, &error)) << error;
  ASSERT_EQ(hive.keys.size(), 1u);
  Key &key = hive.keys[0];
  EXPECT_EQ(key.path, "Software\\Vezo Software\\Vezo Lumora");

  Value *status = findValue(key, "STATUS");  // names match without regard to case
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->type, 4u);
  EXPECT_EQ(status->data, (std::vector<uint8_t>{0x2a, 0, 0, 0}));

  Value *path = findValue(key, "InstallPath");
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(path->type, 1u);
  std::string expected = "C:\\Program Files\\\"q\"";
  EXPECT_EQ(std::string(path->data.begin(), path->data.end() - 1), expected);
  EXPECT_EQ(path->data.back(), 0);

  EXPECT_EQ(findValue(key, "blob")->data, (std::vector<uint8_t>{1, 2, 0xff}));
  EXPECT_EQ(findValue(key, "")->type, 7u);

  std::string written = formatHive(hive, kRoot);
  HiveData again;
  ASSERT_TRUE(parseHive(written, kRoot, &again, &error)) << error;
  EXPECT_EQ(formatHive(again, kRoot), written);
}

TEST(RegistryFile, StringsThatAreNotPlainTextKeepTheirBytes) {
  HiveData hive;
  bool created = false;
  Key &key = hive.ensureKey("Software\\A", &created);
  EXPECT_TRUE(created);
  key.values.push_back(Value{"embedded", 1, {'a', 0, 'b', 0}});
  key.values.push_back(Value{"unterminated", 1, {'x'}});
  key.values.push_back(Value{"short dword", 4, {1, 2}});
  key.values.push_back(Value{"long", 3, std::vector<uint8_t>(100, 0xab)});
  std::string text = formatHive(hive, kRoot);
  HiveData again;
  std::string error;
  ASSERT_TRUE(parseHive(text, kRoot, &again, &error)) << error << "\n" << text;
  ASSERT_EQ(again.keys.size(), 1u);
  for (const Value &value : key.values) {
    Value *read = findValue(again.keys[0], value.name);
    ASSERT_NE(read, nullptr) << value.name;
    EXPECT_EQ(read->type, value.type) << value.name;
    EXPECT_EQ(read->data, value.data) << value.name;
  }
}

TEST(RegistryFile, ParentsOfListedKeysExist) {
  HiveData hive;
  bool created = false;
  hive.ensureKey("Software\\Vezo Software\\Vezo Lumora", &created);
  EXPECT_TRUE(hive.keyExists("software\\vezo software"));
  EXPECT_TRUE(hive.keyExists(""));
  EXPECT_FALSE(hive.keyExists("Software\\Vezo"));  // a prefix of a name is no parent
  EXPECT_FALSE(hive.keyExists("Software\\Vezo Software\\Vezo Lumora\\Deeper"));
  hive.ensureKey("SOFTWARE\\VEZO SOFTWARE\\VEZO LUMORA", &created);
  EXPECT_FALSE(created);
  EXPECT_EQ(hive.keys.size(), 1u);
}

TEST(RegistryFile, RejectsWhatItCannotReadButTakesNoTextAsEmpty) {
  struct Case {
    const char *what;
    std::string text;
  };
#define CASE(what, literal) \
  Case { what, std::string(literal, sizeof(literal) - 1) }
  const Case cases[] = {
      CASE("no header", "[HKEY_CURRENT_USER\\A]\n"),
      CASE("other hive", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n"),
      CASE("unclosed key", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A\n"),
      CASE("value before key", "Windows Registry Editor Version 5.00\n\"a\"=dword:00000001\n"),
      CASE("short dword", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"a\"=dword:1\n"),
      CASE("bad hex", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"a\"=hex:1g\n"),
      CASE("unterminated string", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"a\"=\"x\n"),
      CASE("no equals", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"a\" dword:00000001\n"),
      CASE("torn continuation", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"a\"=hex:01,\\\n"),
      CASE("NUL byte", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"a\"=\"x\0\"\n"),
      CASE("empty key component", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A\\\\B]\n"),
  };
#undef CASE
  for (const auto &c : cases) {
    HiveData hive;
    std::string error;
    EXPECT_FALSE(parseHive(c.text, kRoot, &hive, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
  for (const char *empty : {"", "\n\n"}) {  // no text at all is an empty hive
    HiveData hive;
    std::string error;
    EXPECT_TRUE(parseHive(empty, kRoot, &hive, &error));
    EXPECT_TRUE(hive.keys.empty());
  }
}

}  // namespace
}  // namespace ryx::platform::regfile
