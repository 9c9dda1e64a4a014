// SPDX-License-Identifier: MIT
// The sample system configuration file generated from the settings table:
// it parses, it sets nothing as installed, and each setting's entry names
// the setting's environment variable and default, so that uncommenting
// every entry gives exactly the built-in defaults.
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/conf_settings.h"
#include "common/ini_file.h"
#include "test_support.h"

namespace ryx {
namespace {

using conf::SettingInfo;

std::string samplePath() {
  const char *path = getenv("RYX_TEST_SAMPLE_CONF");
  return path != nullptr ? path : "";
}

std::string lower(std::string text) {
  for (char &c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> linesOf(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The sample installed as the system file of a temporary root, with every
// table variable and the other sources out of the way.
class SampleConf : public ::testing::Test {
 protected:
  SampleConf() {
    mkdir((dir / "conf").c_str(), 0700);
    set("RYX_ROOT", dir.path().c_str());
    set("RYX_USER_CONFIG_DIR", (dir / "user").c_str());
    set("RYX_REGISTRY_DIR", (dir / "registry").c_str());
    size_t count = 0;
    const SettingInfo *rows = conf::Settings::rows(&count);
    for (size_t i = 0; i < count; ++i) set(rows[i].envName, nullptr);
    sample = test::readFile(samplePath());
  }
  void set(const char *name, const char *value) { env_.push_back(std::make_unique<test::ScopedEnv>(name, value)); }
  void install(const std::string &text) { test::writeFile(dir / "conf/ryx.conf", text); }

  // Every key line of the sample ("#key = value") made active.
  std::string uncommented() const {
    std::string text;
    for (const std::string &line : linesOf(sample)) {
      bool keyLine = line.size() > 1 && line[0] == '#' && line[1] != ' ' && line.find(" =") != std::string::npos;
      text += (keyLine ? line.substr(1) : line) + "\n";
    }
    return text;
  }

  test::TempDir dir;
  std::string sample;

 private:
  std::vector<std::unique_ptr<test::ScopedEnv>> env_;
};

TEST_F(SampleConf, ParsesAndSetsNothingAsInstalled) {
  ASSERT_FALSE(sample.empty()) << samplePath();
  install(sample);
  IniFile file((dir / "conf/ryx.conf").c_str());
  ASSERT_TRUE(file.load());
  size_t count = 0;
  const SettingInfo *rows = conf::Settings::rows(&count);
  for (size_t i = 0; i < count; ++i)
    EXPECT_EQ(file.getValue(rows[i].section, rows[i].key), nullptr) << rows[i].section << "." << rows[i].key;
}

TEST_F(SampleConf, UncommentedEveryEntryGivesTheBuiltInDefaults) {
  ASSERT_FALSE(sample.empty()) << samplePath();
  install(uncommented());
  IniFile file((dir / "conf/ryx.conf").c_str());
  ASSERT_TRUE(file.load());
  conf::Settings settings;
  size_t count = 0;
  const SettingInfo *rows = conf::Settings::rows(&count);
  for (size_t i = 0; i < count; ++i) {
    const SettingInfo &row = rows[i];
    // The entry is there, in its own section...
    const char *value = file.getValue(row.section, row.key);
    ASSERT_NE(value, nullptr) << row.section << "." << row.key << " has no entry";
    EXPECT_STREQ(value, row.defaultText != nullptr ? row.defaultText : "") << row.section << "." << row.key;
    // ...and read through the store it is the default, of the right type.
    std::string text;
    bool isSet = settings.valueText(row, &text);
    EXPECT_EQ(isSet, row.defaultText != nullptr) << row.section << "." << row.key;
    if (isSet && row.defaultText != nullptr) {
      EXPECT_EQ(text, row.defaultText) << row.section << "." << row.key;
    }
  }
}

TEST_F(SampleConf, EachEntryNamesItsVariableAndDefaultUnderItsSection) {
  ASSERT_FALSE(sample.empty()) << samplePath();
  // "section.key" (lower case) -> the description line above the key line.
  std::map<std::string, std::string> described;
  std::string section;
  std::string lastDescription;
  for (const std::string &line : linesOf(sample)) {
    ASSERT_LT(line.size(), 200u) << line;  // the parser reads lines of up to 199 characters
    if (!line.empty() && line[0] == '[') {
      section = lower(line.substr(1, line.find(']') - 1));
    } else if (line.rfind("# ", 0) == 0 && line.find(", environment ") != std::string::npos) {
      lastDescription = line;
    } else if (line.size() > 1 && line[0] == '#' && line[1] != ' ' && line.find(" =") != std::string::npos) {
      std::string key = lower(line.substr(1, line.find(" =") - 1));
      EXPECT_TRUE(described.emplace(section + "." + key, lastDescription).second) << "twice: " << line;
    }
  }
  size_t count = 0;
  const SettingInfo *rows = conf::Settings::rows(&count);
  EXPECT_EQ(described.size(), count);
  for (size_t i = 0; i < count; ++i) {
    const SettingInfo &row = rows[i];
    auto entry = described.find(lower(row.section) + "." + lower(row.key));
    ASSERT_NE(entry, described.end()) << row.section << "." << row.key;
    std::string expectedEnd = std::string(", environment ") + row.envName + ", default " +
                              (row.defaultText != nullptr ? row.defaultText : "none");
    const std::string &description = entry->second;
    EXPECT_EQ(description.rfind(std::string("# ") + row.key + " (", 0), 0u) << description;
    ASSERT_GE(description.size(), expectedEnd.size()) << description;
    EXPECT_EQ(description.substr(description.size() - expectedEnd.size()), expectedEnd) << description;
  }
}

TEST_F(SampleConf, SettingsTheUtilityActsOnAreMarked) {
  // Console.console_port and the log settings drive this program; a setting
  // of the other components does not carry the mark.
  const struct {
    const char *key;
    bool marked;
  } cases[] = {{"console_port", true}, {"log_level", true}, {"ryx_config_dock_time", true},
               {"external_rendering_server", true}, {"codec_tcp", false}, {"print_stats", false}};
  std::vector<std::string> lines = linesOf(sample);
  for (const auto &c : cases) {
    std::string head = std::string("# ") + c.key + " (";
    bool found = false;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
      if (lines[i].rfind(head, 0) != 0) continue;
      found = true;
      EXPECT_EQ(lines[i + 1].rfind("#   ryxconfig: ", 0) == 0, c.marked) << c.key;
    }
    EXPECT_TRUE(found) << c.key;
  }
}

}  // namespace
}  // namespace ryx
