// SPDX-License-Identifier: MIT
// The sample system configuration file generated from the settings table:
// it parses, it sets nothing as installed, and uncommenting every entry
// gives exactly the built-in defaults.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/conf_settings.h"
#include "common/ini_file.h"
#include "installation.h"

namespace ryx {
namespace {

// A key line of the sample: "#key = value".
bool isKeyLine(const std::string &line) {
  return line.size() > 1 && line[0] == '#' && line[1] != ' ' && line.find(" =") != std::string::npos;
}

TEST(SampleConf, SetsNothingAsInstalledAndTheDefaultsUncommented) {
  const char *samplePath = getenv("RYX_TEST_SAMPLE_CONF");
  const std::string sample = test::readFile(samplePath != nullptr ? samplePath : "");
  ASSERT_FALSE(sample.empty()) << "RYX_TEST_SAMPLE_CONF";
  test::Installation install;
  size_t count = 0;
  const conf::SettingInfo *rows = conf::Settings::rows(&count);
  for (size_t i = 0; i < count; ++i) install.set(rows[i].envName, nullptr);

  test::writeFile(install.systemFile(), sample);
  IniFile installed(install.systemFile().c_str());
  ASSERT_TRUE(installed.load());
  for (size_t i = 0; i < count; ++i)
    EXPECT_EQ(installed.getValue(rows[i].section, rows[i].key), nullptr) << rows[i].section << "." << rows[i].key;

  std::string uncommented;
  for (const std::string &line : test::splitLines(sample)) {
    EXPECT_LT(line.size(), 200u) << line;  // the parser reads lines of up to 199 characters
    uncommented += (isKeyLine(line) ? line.substr(1) : line) + "\n";
  }
  test::writeFile(install.systemFile(), uncommented);
  IniFile file(install.systemFile().c_str());
  ASSERT_TRUE(file.load());
  conf::Settings settings;
  for (size_t i = 0; i < count; ++i) {
    const conf::SettingInfo &row = rows[i];
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

}  // namespace
}  // namespace ryx
