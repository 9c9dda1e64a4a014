// SPDX-License-Identifier: MIT
// The .ini parser, the settings store and the settings table on real files
// and environment.
#include "common/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "common/conf_settings.h"
#include "common/ini_file.h"
#include "installation.h"

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

TEST_F(IniFileTest, FilesThatCannotBeReadFailWithCodeSix) {
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

class SettingsTest : public ::testing::Test, public test::Installation {
 protected:
  // A store made after the files are written, reloaded, with its messages.
  std::unique_ptr<Settings> make(std::string *messages = nullptr) {
    test::CaptureFd err(2);
    auto settings = std::make_unique<Settings>();
    settings->reload();
    std::string text = err.finish();
    if (messages != nullptr) *messages = text;
    return settings;
  }
  int port(const Settings &s) { return s.getInt("RYX_CONSOLE_PORT", "Console", "console_port", 2000); }
};

TEST_F(SettingsTest, PrecedenceIsAdminEnvironmentUserSystemDefault) {
  EXPECT_EQ(port(*make()), 2000);
  test::writeFile(systemFile(), "[Console]\nconsole_port = 2004\n");
  EXPECT_EQ(port(*make()), 2004);
  writeUser("[console]\nCONSOLE_PORT = 2003\n");
  EXPECT_EQ(port(*make()), 2003);
  set("RYX_CONSOLE_PORT", "2002");
  EXPECT_EQ(port(*make()), 2002);
  test::writeFile(adminFile(), "[Console]\nconsole_port = 2001\n");
  EXPECT_EQ(port(*make()), 2001);
  // "<null>" in a source hides nothing: the next source decides.
  test::writeFile(adminFile(), "[Console]\nconsole_port = <null>\n");
  EXPECT_EQ(port(*make()), 2002);
  set("RYX_CONSOLE_PORT", "<null>");
  EXPECT_EQ(port(*make()), 2003);
}

// An environment value that is not of the setting's type (only 0 and 1 are
// numbers that are booleans), or does not fit its buffer (1024 bytes with
// the NUL for a string), is skipped: the files decide (the
// system's port 2004, the user's flag "false" and on "true").
TEST_F(SettingsTest, ValuesOfTheWrongTypeFallThrough) {
  test::writeFile(systemFile(), "[Console]\nconsole_port = 2004\n[A]\nflag = yes\nnum = 0x10\n");
  writeUser("[A]\nflag = false\non = true\nnum = 1.5\n");
  const std::string fits(1023, 'a'), tooLong(1024, 'a');
  const struct {
    char type;
    std::string env, expected;
  } cases[] = {{'i', "\t-7\n", "-7"}, {'i', "2001x", "2004"}, {'i', "99999999999", "2147483647"},
               {'b', "TRUE", "1"},    {'b', " False ", "0"},  {'b', "yes", "0"},
               {'B', "2", "1"},       {'s', fits, fits},      {'s', tooLong, "dflt"}};
  for (const auto &c : cases) {
    set("RYX_TEST_VALUE", c.env.c_str());
    auto s = make();
    std::string got = c.type == 'i'   ? std::to_string(s->getInt("RYX_TEST_VALUE", "Console", "console_port", 2000))
                      : c.type == 'b' ? std::to_string(s->getBool("RYX_TEST_VALUE", "A", "flag", true))
                      : c.type == 'B' ? std::to_string(s->getBool("RYX_TEST_VALUE", "A", "on", false))
                                      : std::string(s->getString("RYX_TEST_VALUE", "A", "t", "dflt").get());
    EXPECT_EQ(got, c.expected) << c.type << " '" << c.env.substr(0, 16) << "'";
  }
  EXPECT_EQ(make()->getInt(nullptr, "A", "num", 5), 5);  // "1.5" and "0x10" are no numbers either
}

// RYX_USER_CONFIG_DIR wins over the home folder (HOMEDRIVE and HOMEPATH
// together, which the sandbox sets on Windows; else the platform's).
TEST_F(SettingsTest, UserFileLocation) {
  writeUser("[A]\nt = home\n");
  auto t = [this] {
    CString value = make()->getString(nullptr, "A", "t", "(none)");
    return std::string(value.get());
  };
  EXPECT_EQ(t(), "home");
  const std::string own = dir / "own";
  std::filesystem::create_directories(own);
  test::writeFile(own + "/ryx.conf", "[A]\nt = own\n");
  set("RYX_USER_CONFIG_DIR", own.c_str());
  EXPECT_EQ(t(), "own");
}

// Dropped for good: a fixed file is not read again by this store.  (The
// parser's own message: IniFileTest.)
TEST_F(SettingsTest, BrokenFileIsReportedAndDroppedOthersStillApply) {
  test::writeFile(systemFile(), "[A]\nsys = 1\nbroken line\n");
  writeUser("[A]\nuser = 2\n");
  test::writeFile(adminFile(), "[A]\nadmin = 3\n");
  std::string messages;
  auto s = make(&messages);
  EXPECT_NE(
      messages.find("Cannot parse .ini file \"" + systemFile() + "\":<errnum 1> <linenum 3> <errstr Parser error.>\n"),
      std::string::npos)
      << messages;
  test::writeFile(systemFile(), "[A]\nsys = 1\n");
  s->reload();
  EXPECT_EQ(std::vector<int>({s->getInt(nullptr, "A", "sys", 0), s->getInt(nullptr, "A", "user", 0),
                              s->getInt(nullptr, "A", "admin", 0)}),
            std::vector<int>({0, 2, 3}));
}

// Every row's default text is what the table's own field holds at first.
TEST_F(SettingsTest, TableRowsDescribeTheirFields) {
  size_t count = 0;
  const conf::SettingInfo *rows = conf::Settings::rows(&count);
  conf::Settings table;
  for (size_t i = 0; i < count; ++i) {
    std::string text = "(none)";
    table.valueText(rows[i], &text);
    EXPECT_EQ(text, rows[i].defaultText != nullptr ? rows[i].defaultText : "(none)") << rows[i].key;
  }
}

}  // namespace
}  // namespace ryx
