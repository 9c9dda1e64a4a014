// SPDX-License-Identifier: MIT
#include "common/conf_settings.h"

#include <cstring>

#include "common/cstring.h"

namespace ryx::conf {

namespace {

constexpr SettingType kType_BOOL = SettingType::Bool;
constexpr SettingType kType_INT = SettingType::Int;
constexpr SettingType kType_STRING = SettingType::String;

#define RYX_DEFAULT_TEXT_BOOL(d) ((d) ? "true" : "false")
#define RYX_DEFAULT_TEXT_INT(d) #d
#define RYX_DEFAULT_TEXT_STRING(d) (d)

const SettingInfo kRows[] = {
#define RYX_SETTING(type, field, section, key, env, dflt) \
  {kType_##type, #field, section, key, env, RYX_DEFAULT_TEXT_##type(dflt)},
#include "common/settings_table.inc"
#undef RYX_SETTING
};

bool textOf(bool value, std::string *text) {
  *text = value ? "true" : "false";
  return true;
}

bool textOf(int32_t value, std::string *text) {
  *text = std::to_string(value);
  return true;
}

bool textOf(const CString &value, std::string *text) {
  if (!value || *value == '\0') return false;
  *text = value.get();
  return true;
}

}  // namespace

Settings::Settings() { reload(); }

Settings::~Settings() = default;

void Settings::reload() {
  ryx::Settings::reload();
  // Strings are replaced row by row below; each assignment frees the old text.
#define RYX_READ_BOOL(field, section, key, env, dflt) field = getBool(env, section, key, dflt);
#define RYX_READ_INT(field, section, key, env, dflt) field = getInt(env, section, key, dflt);
#define RYX_READ_STRING(field, section, key, env, dflt) field = getString(env, section, key, dflt);
#define RYX_SETTING(type, field, section, key, env, dflt) RYX_READ_##type(field, section, key, env, dflt)
#include "common/settings_table.inc"
#undef RYX_SETTING
#undef RYX_READ_BOOL
#undef RYX_READ_INT
#undef RYX_READ_STRING
}

const SettingInfo *Settings::rows(size_t *count) {
  *count = sizeof kRows / sizeof kRows[0];
  return kRows;
}

const SettingInfo *Settings::findRow(const char *section, const char *key) {
  if (section == nullptr || key == nullptr) return nullptr;
  for (const SettingInfo &row : kRows)
    if (equalsIgnoringCase(row.section, section) && equalsIgnoringCase(row.key, key)) return &row;
  return nullptr;
}

bool Settings::valueText(const SettingInfo &row, std::string *text) const {
#define RYX_SETTING(t, f, s, k, e, d) \
  if (strcmp(row.field, #f) == 0) return textOf(f, text);
#include "common/settings_table.inc"
#undef RYX_SETTING
  return false;
}

}  // namespace ryx::conf
