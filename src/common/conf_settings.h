// SPDX-License-Identifier: MIT
// The process-wide table of every setting of the product: one typed field
// per setting, filled from the settings store by its environment variable,
// section and key, with its default.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/cstring.h"
#include "common/settings.h"
#include "common/singleton.h"

namespace ryx::conf {

enum class SettingType { Bool, Int, String };

// One row of the table, for tools that list the settings.
struct SettingInfo {
  SettingType type;
  const char *field;
  const char *section;
  const char *key;
  const char *envName;
  const char *defaultText;  // the default as text; null for "none"
};

class Settings : public Singleton<Settings>, public ryx::Settings {
 public:
  // The singleton is filled once; a separate table (for tests and tools)
  // can be made directly and is filled at construction too.
  Settings();
  ~Settings() override;

  void reload() override;

#define RYX_SETTING_FIELD_BOOL(field) bool field = false;
#define RYX_SETTING_FIELD_INT(field) int32_t field = 0;
#define RYX_SETTING_FIELD_STRING(field) CString field;
#define RYX_SETTING(type, field, section, key, env, dflt) RYX_SETTING_FIELD_##type(field)
#include "common/settings_table.inc"
#undef RYX_SETTING
#undef RYX_SETTING_FIELD_BOOL
#undef RYX_SETTING_FIELD_INT
#undef RYX_SETTING_FIELD_STRING

  // The table's rows in order.
  static const SettingInfo *rows(size_t *count);
  // The row for section and key (without regard to case), or null.
  static const SettingInfo *findRow(const char *section, const char *key);
  // The current value of a row as text ("true"/"false", decimal, the string);
  // false when a string setting is unset.
  bool valueText(const SettingInfo &row, std::string *text) const;
};

}  // namespace ryx::conf
