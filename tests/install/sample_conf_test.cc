// SPDX-License-Identifier: MIT
// The sample system configuration file generated from the settings table:
// it parses, it sets nothing as installed, and each setting's entry names
// the setting's environment variable and default, so that uncommenting
// every entry gives exactly the built-in defaults.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/conf_settings.h"
#include "common/ini_file.h"
#include "test_support.h"

namespace ryx {
namespace {

using conf::SettingInfo;

std::string lower(std::string text) {
  for (char &c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// A key line of the sample: "#key = value".
bool isKeyLine(const std::string &line) {
  return line.size() > 1 && line[0] == '#' && line[1] != ' ' && line.find(" =") != std::string::npos;
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
    rows = conf::Settings::rows(&count);
    for (size_t i = 0; i < count; ++i) set(rows[i].envName, nullptr);
    const char *path = getenv("RYX_TEST_SAMPLE_CONF");
    sample = test::readFile(path != nullptr ? path : "");
  }
  void set(const char *name, const char *value) { env_.push_back(std::make_unique<test::ScopedEnv>(name, value)); }

  test::TempDir dir;
  std::string sample;
  const SettingInfo *rows = nullptr;
  size_t count = 0;

 private:
  std::vector<std::unique_ptr<test::ScopedEnv>> env_;
};

TEST_F(SampleConf, SetsNothingAsInstalledAndTheDefaultsUncommented) {
  ASSERT_FALSE(sample.empty()) << "RYX_TEST_SAMPLE_CONF";
  test::writeFile(dir / "conf/ryx.conf", sample);
  IniFile installed((dir / "conf/ryx.conf").c_str());
  ASSERT_TRUE(installed.load());
  for (size_t i = 0; i < count; ++i)
    EXPECT_EQ(installed.getValue(rows[i].section, rows[i].key), nullptr) << rows[i].section << "." << rows[i].key;

  std::string uncommented;
  for (const std::string &line : test::splitLines(sample))
    uncommented += (isKeyLine(line) ? line.substr(1) : line) + "\n";
  test::writeFile(dir / "conf/ryx.conf", uncommented);
  IniFile file((dir / "conf/ryx.conf").c_str());
  ASSERT_TRUE(file.load());
  conf::Settings settings;
  for (size_t i = 0; i < count; ++i) {
    const SettingInfo &row = rows[i];
    SCOPED_TRACE(std::string(row.section) + "." + row.key);
    // The entry is there, in its own section, and read through the store
    // it is the default, of the right type.
    const char *value = file.getValue(row.section, row.key);
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, row.defaultText != nullptr ? row.defaultText : "");
    std::string text;
    EXPECT_EQ(settings.valueText(row, &text), row.defaultText != nullptr);
    if (row.defaultText != nullptr) {
      EXPECT_EQ(text, row.defaultText);
    }
  }
}

// Above each key line: "# key (...), environment VAR, default VALUE", then,
// for the settings that drive this program, a "#   ryxconfig: " line.
TEST_F(SampleConf, EachEntryNamesItsVariableAndDefaultUnderItsSection) {
  ASSERT_FALSE(sample.empty()) << "RYX_TEST_SAMPLE_CONF";
  std::map<std::string, std::pair<std::string, bool>> described;  // "section.key" -> description, marked
  std::string section, description;
  bool marked = false;
  for (const std::string &line : test::splitLines(sample)) {
    ASSERT_LT(line.size(), 200u) << line;  // the parser reads lines of up to 199 characters
    if (!line.empty() && line[0] == '[') {
      section = lower(line.substr(1, line.find(']') - 1));
    } else if (line.rfind("# ", 0) == 0 && line.find(", environment ") != std::string::npos) {
      description = line;
      marked = false;
    } else if (line.rfind("#   ryxconfig: ", 0) == 0) {
      marked = true;
    } else if (isKeyLine(line)) {
      std::string key = lower(line.substr(1, line.find(" =") - 1));
      EXPECT_TRUE(described.emplace(section + "." + key, std::make_pair(description, marked)).second) << line;
    }
  }
  EXPECT_EQ(described.size(), count);
  for (size_t i = 0; i < count; ++i) {
    const SettingInfo &row = rows[i];
    auto entry = described.find(lower(row.section) + "." + lower(row.key));
    ASSERT_NE(entry, described.end()) << row.section << "." << row.key;
    const std::string &text = entry->second.first;
    std::string end = std::string(", environment ") + row.envName + ", default " +
                      (row.defaultText != nullptr ? row.defaultText : "none");
    EXPECT_EQ(text.rfind(std::string("# ") + row.key + " (", 0), 0u) << text;
    EXPECT_TRUE(text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0) << text;
  }
  // The settings this program acts on carry the mark; the other components' do not.
  const std::map<std::string, bool> marks = {{"console.console_port", true},
                                             {"logging.log_level", true},
                                             {"application.ryx_config_dock_time", true},
                                             {"application.external_rendering_server", true},
                                             {"remotization.codec_tcp", false},
                                             {"logging.print_stats", false}};
  for (const auto &[key, mark] : marks) {
    ASSERT_EQ(described.count(key), 1u) << key;
    EXPECT_EQ(described[key].second, mark) << key;
  }
}

}  // namespace
}  // namespace ryx
