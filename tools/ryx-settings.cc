// SPDX-License-Identifier: MIT
// ryx-settings: shows which value of each setting wins and why, resolving
// exactly as the program does (same library, files and environment).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/conf_settings.h"
#include "common/ini_file.h"
#include "platform/file.h"

namespace {

using ryx::conf::SettingInfo;
using ryx::conf::SettingType;

constexpr const char *kVersion = RYX_VERSION;

void usage(FILE *out) {
  fputs(
      "Usage: ryx-settings COMMAND\n"
      "Shows the settings of the RYX Configuration Utility as the program sees them.\n"
      "\n"
      "Commands:\n"
      "  get SECTION KEY  print the effective value (exit 1 when unset, 2 when unknown)\n"
      "  list             every setting in table order with its value and origin\n"
      "  check            parse the configuration files and report broken ones\n"
      "  --help           this text\n"
      "  --version        the program's version\n"
      "\n"
      "Sources, first match wins: the administrator's file (ROOT/conf/ryx.conf.admin),\n"
      "the environment, the user's file, the system file (ROOT/conf/ryx.conf), the default.\n",
      out);
}

// The origin of the value a row resolves to.
std::string originOf(const ryx::conf::Settings &settings, const SettingInfo &row) {
  ryx::Settings::Found found;
  switch (row.type) {
    case SettingType::Bool: {
      bool value = false;
      found = settings.findBool(row.envName, row.section, row.key, &value);
      break;
    }
    case SettingType::Int: {
      int32_t value = 0;
      found = settings.findInt(row.envName, row.section, row.key, &value);
      break;
    }
    case SettingType::String: found = settings.findString(row.envName, row.section, row.key); break;
  }
  return ryx::describeOrigin(settings, found.origin, row.envName);
}

int get(const char *section, const char *key) {
  const SettingInfo *row = ryx::conf::Settings::findRow(section, key);
  if (row == nullptr) {
    fprintf(stderr, "ryx-settings: unknown setting %s.%s\n", section, key);
    return 2;
  }
  ryx::conf::Settings settings;
  std::string text;
  if (!settings.valueText(*row, &text)) return 1;
  printf("%s\n", text.c_str());
  return 0;
}

int list() {
  ryx::conf::Settings settings;
  size_t count = 0;
  const SettingInfo *rows = ryx::conf::Settings::rows(&count);
  for (size_t i = 0; i < count; ++i) {
    std::string text;
    if (!settings.valueText(rows[i], &text)) text = "(unset)";
    printf("%s.%s = %s  (%s)\n", rows[i].section, rows[i].key, text.c_str(), originOf(settings, rows[i]).c_str());
  }
  return 0;
}

int check() {
  // Paths as the program finds them; the store prints nothing for files
  // that are absent, so neither does this.
  ryx::Settings paths;
  int broken = 0;
  const std::pair<const char *, const std::string *> files[] = {
      {"admin file", &paths.adminPath()},
      {"user file", &paths.userPath()},
      {"system file", &paths.systemPath()},
  };
  for (const auto &[label, path] : files) {
    if (!ryx::platform::pathExists(path->c_str())) {
      printf("%s %s: not present\n", label, path->c_str());
      continue;
    }
    ryx::IniFile file(path->c_str());
    if (file.load()) {
      printf("%s %s: ok\n", label, path->c_str());
    } else {
      printf("%s %s: broken\n", label, path->c_str());
      ++broken;
    }
  }
  return broken > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    usage(stderr);
    return 2;
  }
  const char *command = argv[1];
  if (strcmp(command, "--help") == 0 || strcmp(command, "-h") == 0) {
    usage(stdout);
    return 0;
  }
  if (strcmp(command, "--version") == 0) {
    printf("ryx-settings %s\n", kVersion);
    return 0;
  }
  if (strcmp(command, "get") == 0 && argc == 4) return get(argv[2], argv[3]);
  if (strcmp(command, "list") == 0 && argc == 2) return list();
  if (strcmp(command, "check") == 0 && argc == 2) return check();
  fprintf(stderr, "ryx-settings: unknown command or wrong arguments: %s\n", command);
  usage(stderr);
  return 2;
}
