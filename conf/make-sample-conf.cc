// SPDX-License-Identifier: MIT
// make-sample-conf OUTPUT: writes the commented sample of the system
// configuration file from the settings table itself, so the sample lists
// every setting the program reads, with its environment variable and
// default, and cannot drift from the table.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Row {
  const char *type;
  const char *section;
  const char *key;
  const char *envName;
  std::string defaultText;  // empty for "none"
};

std::string textOf(bool value) { return value ? "true" : "false"; }
std::string textOf(int value) { return std::to_string(value); }
std::string textOf(const char *value) { return value != nullptr ? value : ""; }
std::string textOf(std::nullptr_t) { return ""; }

const std::vector<Row> &table() {
  static const std::vector<Row> rows = {
#define RYX_SETTING(type, field, section, key, env, dflt) {#type, section, key, env, textOf(dflt)},
#include "common/settings_table.inc"
#undef RYX_SETTING
  };
  return rows;
}

// The settings this utility itself acts on; the rest of the table belongs to
// the other components of the product that share the file.
const char *const kUsedHere[][3] = {
    {"Logging", "verbose", "the in-program log: every level when true"},
    {"Logging", "log_level", "the in-program log's threshold: error, warning, info or debug"},
    {"Logging", "log_file", "the in-program log goes to LOG_FILE.PID.txt"},
    {"Console", "console_port", "TCP port on 127.0.0.1 of the session's instance; 0: none"},
    {"Application", "ryx_config_dock_time", "seconds to wait for the notification area"},
    {"Application", "ryx_config_check_enabled", "run the server-state checks"},
    {"Application", "ryx_config_warn_missing_32bit", "report a missing 32-bit wrapper"},
    {"Application", "ryx_config_trigger_position", "X,Y of the trigger window"},
    {"Application", "external_rendering_server", "HOST[:PORT] of an external rendering server"},
    {"Application", "force_local_rendering", "when true, no external rendering server counts as used"},
    {"Application", "use_nvidia_grid", "when false, a missing GRID library is no error"},
    {"Application", "vnc_ext_version", "1 forces version 1 of the VNC extension"},
};

const char *noteFor(const Row &row) {
  for (const auto &used : kUsedHere)
    if (strcmp(used[0], row.section) == 0 && strcmp(used[1], row.key) == 0) return used[2];
  return nullptr;
}

const char *typeName(const char *type) {
  if (strcmp(type, "BOOL") == 0) return "boolean";
  if (strcmp(type, "INT") == 0) return "integer";
  return "text";
}

const char kHeader[] =
    "# ryx.conf: the system configuration of the RYX Configuration Utility and of\n"
    "# the other RYX components of this machine, in ROOT/conf/ryx.conf.\n"
    "#\n"
    "# Each setting is looked up, first match wins, in:\n"
    "#   ROOT/conf/ryx.conf.admin  the administrator's file, which overrides all\n"
    "#   the environment           the variable named with the setting\n"
    "#   the user's file           $RYX_USER_CONFIG_DIR/ryx.conf, else\n"
    "#                             $HOMEDRIVE$HOMEPATH/ryx/conf/ryx.conf, else\n"
    "#                             ~/ryx/conf/ryx.conf\n"
    "#   this file\n"
    "#   the default               shown with the setting\n"
    "# An empty value and the text <null> count as not set, and so does a value\n"
    "# of the wrong type.  A boolean is true, false, 1 or 0 (any case); an\n"
    "# integer is a whole decimal number.  Sections and keys ignore case.\n"
    "#\n"
    "# Every setting is listed below in its section, commented out, with its\n"
    "# default; remove the \"#\" in front of a key to set it.  Settings marked\n"
    "# \"ryxconfig:\" are the ones this utility acts on; the others are read by\n"
    "# the other RYX components.  \"ryx-settings list\" shows the value each\n"
    "# setting takes and where it comes from.\n";

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "Usage: make-sample-conf OUTPUT\n");
    return 2;
  }
  for (const auto &used : kUsedHere) {
    bool found = false;
    for (const Row &row : table())
      found = found || (strcmp(used[0], row.section) == 0 && strcmp(used[1], row.key) == 0);
    if (!found) {
      fprintf(stderr, "make-sample-conf: %s.%s is not in the settings table\n", used[0], used[1]);
      return 1;
    }
  }

  // Sections in the order they first appear; rows in table order within.
  std::vector<std::string> sections;
  std::map<std::string, std::vector<const Row *>> bySection;
  std::map<std::string, std::vector<const Row *>> byEnv;
  for (const Row &row : table()) {
    if (bySection.find(row.section) == bySection.end()) sections.push_back(row.section);
    bySection[row.section].push_back(&row);
    byEnv[row.envName].push_back(&row);
  }

  std::string text = kHeader;
  for (const std::string &section : sections) {
    text += "\n[" + section + "]\n";
    for (const Row *row : bySection[section]) {
      text += "\n# ";
      text += row->key;
      text += " (";
      text += typeName(row->type);
      text += "), environment ";
      text += row->envName;
      text += ", default ";
      text += row->defaultText.empty() ? "none" : row->defaultText;
      text += "\n";
      if (const char *note = noteFor(*row)) {
        text += "#   ryxconfig: ";
        text += note;
        text += "\n";
      }
      for (const Row *other : byEnv[row->envName]) {
        if (other == row) continue;
        text += "#   ";
        text += row->envName;
        text += " also sets ";
        text += other->section;
        text += ".";
        text += other->key;
        text += "\n";
      }
      text += "#";
      text += row->key;
      text += " =";
      if (!row->defaultText.empty()) text += " " + row->defaultText;
      text += "\n";
    }
  }

  FILE *out = fopen(argv[1], "w");
  if (out == nullptr) {
    perror(argv[1]);
    return 1;
  }
  bool written = fwrite(text.data(), 1, text.size(), out) == text.size();
  if (fclose(out) != 0 || !written) {
    perror(argv[1]);
    return 1;
  }
  return 0;
}
