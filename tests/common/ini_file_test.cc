// SPDX-License-Identifier: MIT
#include "common/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

  std::string value(const IniFile &file, const char *section, const char *name) {
    test::CaptureFd err(2);
    const char *v = file.getValue(section, name);
    return v != nullptr ? v : "<absent>";
  }
};

TEST_F(IniFileTest, SectionsAndNamesMatchWithoutRegardToCase) {
  IniFile file(path.c_str());
  load(file,
       "[Logging]\nlog_level = debug\n"
       "[logging]\nLOG_FILE = a\n"
       "[LOGGING]\nverbose=1\n"
       "[ Logging ]\nlog_level = other\n");
  EXPECT_EQ(value(file, "LOGGING", "LOG_LEVEL"), "debug");
  EXPECT_EQ(value(file, "logging", "log_file"), "a");
  EXPECT_EQ(value(file, "Logging", "Verbose"), "1");
  EXPECT_EQ(value(file, " LOGGING ", "log_level"), "other");  // blanks inside the brackets count
}

TEST_F(IniFileTest, ValueRules) {
  IniFile file(path.c_str());
  load(file,
       "[S]\n"
       "semi = a;b\n"
       "comment = a ;b\n"
       "leading = ;b\n"
       "path: C:\\data\n"
       "both = a:b\n"
       "empty =\n"
       "  spaced   =   x y   \n"
       "repeat = 1\nrepeat = 2\n"
       "tab\t=\tv\t;\tgone\n"
       "# hash comment\n"
       "; semicolon comment\n"
       "[T]\nk = first\n[S]\nlater = yes\n[T]\nk = second\n");
  const struct {
    const char *section, *name, *expected;
  } cases[] = {
      {"S", "semi", "a;b"},   {"S", "comment", "a"}, {"S", "leading", ";b"}, {"S", "path", "C:\\data"},
      {"S", "both", "a:b"},   {"S", "empty", ""},    {"S", "spaced", "x y"}, {"S", "repeat", "2"},
      {"S", "tab", "v"},      {"S", "later", "yes"}, {"T", "k", "second"},   {"S", "# hash comment", "<absent>"},
  };
  for (const auto &c : cases) EXPECT_EQ(value(file, c.section, c.name), c.expected) << c.section << "." << c.name;
}

TEST_F(IniFileTest, ValueBeforeAnySectionCannotBeReadBack) {
  IniFile file(path.c_str());
  load(file, "orphan = 1\n[S]\nk = v\n");
  test::CaptureFd err(2);
  EXPECT_EQ(file.getValue("", "orphan"), nullptr);
  EXPECT_EQ(file.getValue(nullptr, "orphan"), nullptr);
  EXPECT_EQ(file.getValue("S", ""), nullptr);
  EXPECT_EQ(err.finish(),
            "Cannot get value: Section is empty\n"
            "Cannot get value: Section is empty\n"
            "Cannot get value: Name is empty\n");
}

TEST_F(IniFileTest, SyntaxErrorsFailTheWholeFileWithTheirLine) {
  const struct {
    const char *content;
    int line;
  } cases[] = {
      {"[S]\nkey\n", 2},
      {"[S\nk = v\n", 1},
      {"[S]\n[A ;]\n", 2},
      {"[S]\nk = v\n\n; c\nname ;= v\n", 5},  // "=" after an inline comment does not count
  };
  for (const auto &c : cases) {
    IniFile file(path.c_str());
    std::string err = load(file, c.content, false);
    ASSERT_NE(file.getError(), nullptr) << c.content;
    EXPECT_EQ(file.getError()->code, IniFile::kParserError);
    EXPECT_EQ(file.getError()->line, c.line) << c.content;
    EXPECT_STREQ(file.getError()->text, "Parser error.");
    EXPECT_EQ(err, "Cannot parse .ini file \"" + path + "\": Parser error. (line " + std::to_string(c.line) + ")\n");
    // Entries stored before the failing line are refused too.
    test::CaptureFd refused(2);
    EXPECT_EQ(file.getValue("S", "k"), nullptr);
    EXPECT_EQ(refused.finish(), "Cannot get value: Parser is in error state\n");
  }
}

TEST_F(IniFileTest, LongLinesAreReadInPiecesThatCountAsLines) {
  // 199 bytes fill one piece; the rest of the physical line is a line of its own.
  std::string longComment = "#" + std::string(198, 'c') + "# tail\n";
  std::string longValue = "k = " + std::string(195, 'v') + "k2 = tail\n";
  IniFile file(path.c_str());
  load(file, "[S]\n" + longComment + longValue + "broken\n", false);
  ASSERT_NE(file.getError(), nullptr);
  EXPECT_EQ(file.getError()->line, 6);

  IniFile pieces(path.c_str());
  load(pieces, "[S]\n" + longComment + longValue);
  EXPECT_EQ(value(pieces, "S", "k"), std::string(195, 'v'));
  EXPECT_EQ(value(pieces, "S", "k2"), "tail");
}

TEST_F(IniFileTest, EmptyValueAtTheEndOfAFullPiece) {
  // 199 bytes ending in the separator: the value is empty and the piece's
  // buffer ends right after it.
  std::string line = std::string(198, 'n') + "=";
  IniFile file(path.c_str());
  load(file, "[S]\n" + line);
  EXPECT_EQ(value(file, "S", std::string(198, 'n').c_str()), "");
}

TEST_F(IniFileTest, SectionNamesAreCutTo49Characters) {
  std::string section(60, 'x');
  IniFile file(path.c_str());
  load(file, "[" + section + "]\nk = v\n");
  EXPECT_EQ(value(file, std::string(49, 'x').c_str(), "k"), "v");
  EXPECT_EQ(value(file, section.c_str(), "k"), "<absent>");
}

TEST_F(IniFileTest, ReloadStartsFromScratch) {
  IniFile file(path.c_str());
  load(file, "[S]\nold = 1\n");
  load(file, "[S]\nnew = 2\n");
  EXPECT_EQ(value(file, "S", "old"), "<absent>");
  EXPECT_EQ(value(file, "S", "new"), "2");
  load(file, "[S]\nbroken\n", false);
  load(file, "[S]\nfixed = 3\n");
  EXPECT_EQ(file.getError(), nullptr);
  EXPECT_EQ(value(file, "S", "fixed"), "3");
}

TEST_F(IniFileTest, FilesThatCannotBeReadFailWithCodeSix) {
  const std::string folder = dir / "folder";
  mkdir(folder.c_str(), 0700);
  for (const std::string &name : {dir / "missing.conf", folder}) {
    IniFile file(name.c_str());
    test::CaptureFd err(2);
    EXPECT_FALSE(file.load());
    EXPECT_EQ(err.finish(), "Cannot open .ini file \"" + name + "\": No such file or directory.\n");
    ASSERT_NE(file.getError(), nullptr);
    EXPECT_EQ(file.getError()->code, IniFile::kNoSuchFile);
    EXPECT_EQ(file.getError()->line, 0);
  }
  IniFile unnamed("");
  test::CaptureFd err(2);
  EXPECT_FALSE(unnamed.load());
  EXPECT_EQ(err.finish().rfind("Cannot parse file: Filename is empty\n", 0), 0u);
  EXPECT_EQ(unnamed.getError()->code, IniFile::kNoSuchFile);
}

TEST_F(IniFileTest, BinaryInputNeverCrashes) {
  std::string content = "[S]\nk = a\0b\n";
  content += std::string("\xff\xfe[\x01]\n", 6);
  content += "k2 = \x80\x81\n[S]\nlast = no final line feed";
  IniFile file(path.c_str());
  load(file, std::string(content.data(), content.size()));
  EXPECT_EQ(value(file, "S", "last"), "no final line feed");
}

}  // namespace
}  // namespace ryx
