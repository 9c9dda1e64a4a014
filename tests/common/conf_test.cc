// SPDX-License-Identifier: MIT
// The configuration library: the .ini parser, the settings store and the
// settings table on real files and environment, the logger, and the install
// root with its registry keys.
#include <gtest/gtest.h>
#include <unistd.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "common/conf_settings.h"
#include "common/ini_file.h"
#include "common/install_root.h"
#include "common/logger.h"
#include "common/settings.h"
#include "platform/registry.h"
#include "installation.h"

namespace ryx {
namespace {

using namespace ryx::platform;

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

__attribute__((format(printf, 6, 7))) void write(const LoggerState &state, int level, const char *name,
                                                 const char *function, bool echo, const char *format, ...) {
  va_list args;
  va_start(args, format);
  writeLogLine(state, "RYX", level, name, function, echo, format, args);
  va_end(args);
}

// The stamp stays exact after the 213 days at which counter x 1000 passes
// 2^64 at 1 GHz.
TEST(Logger, TimestampHoldsForAnyUptime) {
  char stamp[48];
  formatLogTimestamp((1ull << 63) + 999999999ull, 1000000000ull, stamp, sizeof stamp);
  EXPECT_STREQ(stamp, "9223372037.854");
}

TEST(Logger, LevelFromSettings) {
  const struct {
    bool verbose;
    const char *level;
    int expected;
  } cases[] = {{false, nullptr, 2}, {false, "ERROR", 1},   {false, "warning", 2}, {false, "Info", 3},
               {false, "DEBUG", 4}, {false, "verbose", 2}, {true, "error", 4},    {false, "", 2}};
  for (const auto &c : cases)
    EXPECT_EQ(logLevelFrom(c.verbose, c.level), c.expected) << (c.level ? c.level : "(null)") << c.verbose;
}

// Lines up to the threshold reach the file at once (it is unbuffered); a
// later state of the same process appends.  (The line format: every test
// that reads the log through LogCapture.)
TEST(Logger, ThresholdAndAppending) {
  test::TempDir dir;
  const std::string base = dir / "ryxconfig", file = base + "." + std::to_string(getpid()) + ".txt";
  auto lines = [&file] {
    std::vector<std::string> reduced;
    for (const std::string &line : test::splitLines(test::readTextFile(file))) {
      reduced.emplace_back();
      EXPECT_TRUE(test::reduceLogLine(line, getpid(), &reduced.back())) << line;
    }
    return reduced;
  };
  LoggerState state = makeLoggerState(false, nullptr, base.c_str());
  ASSERT_EQ(state.path, file);
  ASSERT_NE(state.output, nullptr);
  write(state, kLogError, "ERROR", "ryx::Commands::isRyxOn", false, "%s.", "Error creating registry key");
  write(state, kLogWarning, "WARNING", "f", false, "at the threshold");
  write(state, kLogInfo, "INFO", "f", false, "not written");
  EXPECT_EQ(lines(), (std::vector<std::string>{"E RYX (ryx::Commands::isRyxOn): Error creating registry key.",
                                               "W RYX (f): at the threshold"}));
  fclose(state.output);
  LoggerState again = makeLoggerState(true, nullptr, base.c_str());
  write(again, kLogInfo, "INFO", "f", false, "verbose shows info");
  EXPECT_EQ(lines().size(), 3u);
  EXPECT_EQ(test::readTextFile(file).back(), '\n');
  fclose(again.output);
}

// Standard error of a test under Meson is a pipe or file, not a console:
// without a log file nothing is written anywhere, but an echo always is.
TEST(Logger, WithoutAFileOnlyEchoesReachStandardError) {
  test::CaptureFd err(2);
  LoggerState state = makeLoggerState(false, "error", nullptr);
  EXPECT_EQ(state.output, nullptr);
  write(state, kLogError, "ERROR", "f", false, "dropped");
  write(state, kLogInfo, "INFO", "f", true, "value %d", 7);  // above the threshold, echoed all the same
  EXPECT_EQ(err.finish(), "INFO: value 7\n");
}

TEST(Logger, PrintErrorPrefixesFormatsAndDropsAFormatThatDoesNotFit) {
  test::CaptureFd out(1);
  printError("No OpenGL library could be found on this system.\n");
  printError("code %d", 3);
  printError("%s", std::string(300, 'x').c_str());  // the argument may be long...
  printError(std::string(250, 'z').c_str(), 0);     // ...the format with "ERROR: " and "\n" may not pass 255
  EXPECT_EQ(out.finish(), "ERROR: No OpenGL library could be found on this system.\n\nERROR: code 3\nERROR: " +
                              std::string(300, 'x') + "\n");
}

#ifdef _WIN32
// The product's keys live in the system's own registry: each case starts
// and ends without them, and meson runs these cases alone.
void deleteProductKeys() {
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Vezo Software");
  HKEY software = nullptr;
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | view, &software) != ERROR_SUCCESS) continue;
    RegDeleteTreeA(software, "Vezo Software");
    RegCloseKey(software);
  }
}
#else
void deleteProductKeys() {}  // the registry lives in the sandbox's own folder
#endif

class InstallRoot : public ::testing::Test, public test::Installation {
 protected:
  InstallRoot() {
    deleteProductKeys();
    set("RYX_ROOT", nullptr);
    set("RYX_PROGRAM_FILES", (dir / "pf").c_str());
    set("RYX_PROGRAM_FILES_X86", (dir / "pf86").c_str());
  }
  ~InstallRoot() override { deleteProductKeys(); }

  // The programs folders: the system's own on Windows (its environment
  // names them too), the sandbox's stand-ins here.
  std::string programs(bool x86) const {
#ifdef _WIN32
    const char *folder = getenv(x86 ? "ProgramFiles(x86)" : "ProgramW6432");
    return folder != nullptr ? folder : "(unset)";
#else
    return dir / (x86 ? "pf86" : "pf");
#endif
  }
  std::string product(bool x86) const { return programs(x86) + path({"", "Vezo", "ryx", ""}); }
  std::string root() {
    char buffer[kInstallRootSize];
    getInstallRoot(buffer);
    return buffer;
  }
  void setInstallPath(const char *key, uint32_t view, const char *path) {
    RegKeyPtr handle;
    ASSERT_EQ(regCreateKey(Hive::LocalMachine, key, kKeyWrite | view, &handle), kRegOk);
    if (path == nullptr) return;
    ASSERT_EQ(regSetValue(handle.get(), "InstallPath", kRegSz, path, static_cast<uint32_t>(strlen(path) + 1)), kRegOk);
  }
};

TEST_F(InstallRoot, EnvironmentThenRegistryThenProgramsFolder) {
  EXPECT_EQ(root(), product(true));  // nothing: the 32-bit programs folder
  const std::string kestrane = path({"", "opt", "kestrane", ""}), local = path({"", "usr", "local", "ryx"});
  setInstallPath(kKestraneKey, kKeyWow64_32Key, kestrane.c_str());
  EXPECT_EQ(root(), kestrane);
  setInstallPath(kProductKey, kKeyWow64_64Key, nullptr);  // the product key wins, even without InstallPath
  EXPECT_EQ(root(), product(false));
  setInstallPath(kProductKey, kKeyWow64_64Key, local.c_str());
  EXPECT_EQ(root(), local + test::kSeparator);
  const std::string srv = path({"", "srv", "ryx"});
  for (const std::string &env : {srv, srv + test::kSeparator}) {
    set("RYX_ROOT", env.c_str());
    EXPECT_EQ(root(), srv + test::kSeparator) << env;
  }
  set("RYX_ROOT", "");
  EXPECT_EQ(root(), local + test::kSeparator);
}

TEST_F(InstallRoot, JoinPathSkipsEmptyPartsStopsAtNullAndBoundsTheLength) {
  const std::string part(128, 'p'), longer(129, 'p'), sep(1, test::kSeparator);
  const struct {
    std::initializer_list<const char *> parts;  // an aggregate: the lists live as long as the table
    std::string expected;
  } cases[] = {
      {{"/a", "", "b/", nullptr, "c"}, "/a" + sep + "b"}, {{"C:\\a\\", "b"}, "C:\\a\\b"}, {{"", ""}, ""},
      {{part.c_str(), part.c_str()}, part + sep + part},  // 257 characters with the separators
      {{longer.c_str(), part.c_str()}, "(null)"},
  };
  for (const auto &c : cases) {
    CString joined = joinPath(c.parts);
    EXPECT_EQ(joined != nullptr ? std::string(joined.get()) : "(null)", c.expected);
  }
}

}  // namespace
}  // namespace ryx
