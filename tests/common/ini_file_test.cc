// SPDX-License-Identifier: MIT
#include "common/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "test_support.h"

namespace ryx {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string path = dir / "ryx.conf";

  // Loads `content`; returns what the parser printed on standard error.
  std::string load(IniFile &file, const std::string &content, bool expectOk = true) {
    test::writeFile(path, content);
    test::CaptureFd err(2);
    EXPECT_EQ(file.load(), expectOk);
    return err.finish();
  }
  std::string value(const IniFile &file, const std::string &section, const std::string &name) {
    test::CaptureFd err(2);
    const char *v = file.getValue(section.c_str(), name.c_str());
    return v != nullptr ? v : "<absent>";
  }
};

TEST_F(IniFileTest, ValueRules) {
  IniFile file(path.c_str());
  const std::string binary = "[B]\nk = a\xff\xfe[\x01]\nk2 = \x80\x81\n";  // bytes that are no text
  load(file,
       "[Logging]\nlog_level = debug\n[logging]\nLOG_FILE = a\n[ Logging ]\nlog_level = other\n"
       "[S]\nsemi = a;b\ncomment = a ;b\nleading = ;b\npath: C:\\data\nempty =\n"
       "  spaced   =   x y   \nrepeat = 1\nrepeat = 2\ntab\t=\tv\t;\tgone\n# hash comment\n; semicolon comment\n"
       "[T]\nk = first\n[T]\nk = second\n" +
           binary + "[S]\nlast = no final line feed");
  const struct {
    const char *section, *name, *expected;
  } cases[] = {
      {"LOGGING", "LOG_LEVEL", "debug"},
      {"logging", "log_file", "a"},
      {" LOGGING ", "log_level", "other"},  // blanks inside the brackets count
      {"S", "semi", "a;b"},
      {"S", "comment", "a"},
      {"S", "leading", ";b"},
      {"S", "path", "C:\\data"},
      {"S", "empty", ""},
      {"S", "spaced", "x y"},
      {"S", "repeat", "2"},
      {"S", "tab", "v"},
      {"T", "k", "second"},
      {"S", "# hash comment", "<absent>"},
      {"S", "last", "no final line feed"},
  };
  for (const auto &c : cases) EXPECT_EQ(value(file, c.section, c.name), c.expected) << c.section << "." << c.name;
}

// Entries stored before the failing line are refused too, until a load
// that starts from scratch.
TEST_F(IniFileTest, SyntaxErrorsFailTheWholeFileWithTheirLine) {
  const std::pair<const char *, int> cases[] = {
      {"[S]\nkey\n", 2}, {"[S\nk = v\n", 1}, {"[S]\n[A ;]\n", 2}, {"[S]\nk = v\n\n; c\nname ;= v\n", 5}};
  IniFile file(path.c_str());
  for (const auto &[content, line] : cases) {  // the last: "=" after an inline comment does not count
    SCOPED_TRACE(content);
    std::string err = load(file, content, false);
    ASSERT_NE(file.getError(), nullptr);
    EXPECT_EQ(std::make_tuple(file.getError()->code, file.getError()->line, std::string(file.getError()->text)),
              std::make_tuple(IniFile::kParserError, line, std::string("Parser error.")));
    EXPECT_EQ(err, "Cannot parse .ini file \"" + path + "\": Parser error. (line " + std::to_string(line) + ")\n");
    test::CaptureFd refused(2);
    EXPECT_EQ(file.getValue("S", "k"), nullptr);
    EXPECT_EQ(refused.finish(), "Cannot get value: Parser is in error state\n");
  }
  load(file, "[S]\nnew = 2\n");
  EXPECT_EQ(file.getError(), nullptr);
  EXPECT_EQ(value(file, "S", "k") + " " + value(file, "S", "new"), "<absent> 2");
}

TEST_F(IniFileTest, FilesThatCannotBeReadFailWithCodeSix) {  // a folder in its place: settings_test
  for (const std::string &name : {dir / "missing.conf", std::string()}) {
    IniFile file(name.c_str());
    test::CaptureFd err(2);
    EXPECT_FALSE(file.load());
    EXPECT_EQ(err.finish().rfind(name.empty() ? "Cannot parse file: Filename is empty\n"
                                              : "Cannot open .ini file \"" + name + "\": No such file or directory.\n",
                                 0),
              0u);
    ASSERT_NE(file.getError(), nullptr);
    EXPECT_EQ(file.getError()->code, IniFile::kNoSuchFile);
    EXPECT_EQ(file.getError()->line, 0);
  }
}

}  // namespace
}  // namespace ryx
