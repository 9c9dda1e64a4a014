// SPDX-License-Identifier: MIT
// The settings store and the settings table on real files and environment.
#include "common/settings.h"

#include <gtest/gtest.h>

#include "common/conf_settings.h"
#include "config_fixture.h"

namespace ryx {
namespace {

class SettingsTest : public test::ConfigFixture {
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

TEST_F(SettingsTest, ValuesOfTheWrongTypeFallThrough) {
  test::writeFile(systemFile(), "[Console]\nconsole_port = 2004\n[A]\nflag = yes\nnum = 0x10\n");
  writeUser("[A]\nflag = FALSE\nnum = 1.5\n");
  const struct {
    const char *env;
    int expected;
  } ports[] = {
      {" 2001 ", 2001}, {"\t-7\n", -7}, {"2001x", 2004}, {"0x10", 2004}, {"", 2004}, {"99999999999", INT32_MAX},
      {"-99999999999", INT32_MIN},
  };
  for (const auto &c : ports) {
    set("RYX_CONSOLE_PORT", c.env);
    EXPECT_EQ(port(*make()), c.expected) << "'" << c.env << "'";
  }
  auto s = make();
  EXPECT_FALSE(s->getBool("NO_SUCH_VAR", "A", "flag", true));  // "yes" skipped, user's FALSE read
  EXPECT_EQ(s->getInt("NO_SUCH_VAR", "A", "num", 5), 5);
}

TEST_F(SettingsTest, BooleansAndTheirEnvironmentBuffer) {
  // The user's file says false: a skipped environment value shows as false.
  const struct {
    const char *env;
    bool expected;
  } cases[] = {
      {"TRUE", true},  {"False", false}, {"1", true},  {"0", false},
      {" true ", true}, {"yes", false},   {"on", false}, {"2", false},
      {"00000001", false},  // 8 characters do not fit the buffer: ignored
      {"0000001", true},    // 7 characters do
  };
  writeUser("[A]\nflag = false\n");
  for (const auto &c : cases) {
    set("RYX_TEST_FLAG", c.env);
    EXPECT_EQ(make()->getBool("RYX_TEST_FLAG", "A", "flag", true), c.expected) << c.env;
  }
}

TEST_F(SettingsTest, StringsAndTheirEnvironmentBuffer) {
  set("RYX_TEST_TEXT", std::string(1023, 'a').c_str());
  EXPECT_EQ(std::string(make()->getString("RYX_TEST_TEXT", "A", "t", nullptr).get()), std::string(1023, 'a'));
  set("RYX_TEST_TEXT", std::string(1024, 'a').c_str());
  EXPECT_EQ(make()->getString("RYX_TEST_TEXT", "A", "t", nullptr), nullptr);
  EXPECT_STREQ(make()->getString("RYX_TEST_TEXT", "A", "t", "dflt").get(), "dflt");
}

TEST_F(SettingsTest, UserFileLocation) {
  writeUser("[A]\nt = home\n");
  EXPECT_STREQ(make()->getString(nullptr, "A", "t", nullptr).get(), "home");

  // HOMEDRIVE and HOMEPATH together name the home folder.
  set("HOMEDRIVE", (dir.path() + "/drive").c_str());
  set("HOMEPATH", "/path");
  EXPECT_EQ(make()->getString(nullptr, "A", "t", nullptr), nullptr);
  EXPECT_EQ(make()->userPath(), dir.path() + "/drive/path/ryx/conf/ryx.conf");

  // RYX_USER_CONFIG_DIR wins over the home folder.
  std::string own = dir / "own";
  mkdir(own.c_str(), 0700);
  test::writeFile(own + "/ryx.conf", "[A]\nt = own\n");
  set("RYX_USER_CONFIG_DIR", own.c_str());
  EXPECT_STREQ(make()->getString(nullptr, "A", "t", nullptr).get(), "own");
}

TEST_F(SettingsTest, BrokenFileIsReportedAndDroppedOthersStillApply) {
  test::writeFile(systemFile(), "[A]\nsys = 1\nbroken line\n");
  writeUser("[A]\nuser = 2\n");
  test::writeFile(adminFile(), "[A]\nadmin = 3\n");
  std::string messages;
  auto s = make(&messages);
  EXPECT_EQ(messages, "Cannot parse .ini file \"" + systemFile() + "\": Parser error. (line 3)\n" +
                          "Cannot parse .ini file \"" + systemFile() +
                          "\":<errnum 1> <linenum 3> <errstr Parser error.>\n");
  EXPECT_EQ(s->getInt(nullptr, "A", "sys", 0), 0);
  EXPECT_EQ(s->getInt(nullptr, "A", "user", 0), 2);
  EXPECT_EQ(s->getInt(nullptr, "A", "admin", 0), 3);
  // Dropped for good: a fixed file is not read again by this store.
  test::writeFile(systemFile(), "[A]\nsys = 1\n");
  s->reload();
  EXPECT_EQ(s->getInt(nullptr, "A", "sys", 0), 0);
}

TEST_F(SettingsTest, FolderInPlaceOfAFileIsDropped) {
  mkdir(systemFile().c_str(), 0700);
  std::string messages;
  auto s = make(&messages);
  EXPECT_NE(messages.find("Cannot open .ini file \"" + systemFile() + "\": No such file or directory.\n"),
            std::string::npos);
  EXPECT_NE(messages.find("<errnum 6> <linenum 0>"), std::string::npos);
  EXPECT_EQ(port(*s), 2000);
}

TEST_F(SettingsTest, TableIrregularRows) {
  set("RVN_IMAGE_QUALITY", "50");
  set("RVN_LOCAL_DISPLAY", ":7");
  {
    conf::Settings table;
    EXPECT_EQ(table.remotization_image_quality, 50);
    EXPECT_EQ(table.kestrane_image_quality, 50);
    EXPECT_STREQ(table.local_display.get(), ":7");
    EXPECT_STREQ(table.application_local_display_list.get(), ":7");
    EXPECT_STREQ(table.rendering_server_local_display_list.get(), ":0.0");
  }
  test::writeFile(systemFile(), "[Application]\nryx_config_dock_time = 3\n");
  EXPECT_EQ(conf::Settings().ryx_config_dock_timeout, 3);
  set("RYX_CONFIG_DOCK_TIMEOUT", "4");
  EXPECT_EQ(conf::Settings().ryx_config_dock_timeout, 4);
  test::writeFile(adminFile(), "[application]\nRYX_CONFIG_DOCK_TIME = 5\n");
  EXPECT_EQ(conf::Settings().ryx_config_dock_timeout, 5);
}

TEST_F(SettingsTest, TableRowsDescribeEveryField) {
  size_t count = 0;
  const conf::SettingInfo *rows = conf::Settings::rows(&count);
  EXPECT_EQ(count, 161u);
  conf::Settings table;
  size_t unsetStrings = 0;
  for (size_t i = 0; i < count; ++i) {
    std::string text;
    bool set = table.valueText(rows[i], &text);
    if (rows[i].defaultText == nullptr) {
      EXPECT_FALSE(set) << rows[i].key;
      ++unsetStrings;
    } else {
      EXPECT_TRUE(set) << rows[i].key;
      EXPECT_EQ(text, rows[i].defaultText) << rows[i].section << "." << rows[i].key;
    }
  }
  EXPECT_GT(unsetStrings, 0u);
  EXPECT_EQ(conf::Settings::findRow("kestrane", "ENCRYPTION")->envName, std::string("RYX_KESTRANE_ENCRYPTION"));
  EXPECT_EQ(conf::Settings::findRow("Application", "print_nvidia_grid")->envName,
            std::string("RYX_PRINT_NVDIA_GRID"));
  EXPECT_EQ(conf::Settings::findRow("Application", "nope"), nullptr);
}

}  // namespace
}  // namespace ryx
