// SPDX-License-Identifier: MIT
// Typed lookup of one setting across its four sources, first match wins:
// the administrator's file, the environment, the user's file, the system
// file; else the default.  A value that is empty, "<null>" or not of the
// wanted type falls through to the next source.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/cstring.h"
#include "common/ini_file.h"

namespace ryx {

class Settings {
 public:
  enum class Origin { Admin, Environment, User, System, Default };

  // Where a value was found and its text (null for the default).
  struct Found {
    Origin origin = Origin::Default;
    const char *text = nullptr;
    std::string environmentText;  // holds the text when it came from the environment
  };

  Settings();
  virtual ~Settings();
  Settings(const Settings &) = delete;
  Settings &operator=(const Settings &) = delete;

  // Re-reads the three files, taking in those created since; a file that
  // fails to parse is dropped for good.
  virtual void reload();

  CString getString(const char *envName, const char *section, const char *key, const char *defaultValue) const;
  int32_t getInt(const char *envName, const char *section, const char *key, int32_t defaultValue) const;
  bool getBool(const char *envName, const char *section, const char *key, bool defaultValue) const;

  // The source each getter would take its value from, for tools that explain it.
  Found findString(const char *envName, const char *section, const char *key) const;
  Found findInt(const char *envName, const char *section, const char *key, int32_t *value) const;
  Found findBool(const char *envName, const char *section, const char *key, bool *value) const;

  const std::string &userPath() const { return userPath_; }
  const std::string &systemPath() const { return systemPath_; }
  const std::string &adminPath() const { return adminPath_; }

  // Conversions with the store's rules, shared with the other readers of settings.
  static bool parseInt(const char *text, int32_t *value);
  static bool parseBool(const char *text, bool *value);

 private:
  template <typename Accept>
  Found find(const char *envName, const char *section, const char *key, size_t envBuffer, Accept accept) const;

  std::unique_ptr<IniFile> userFile_;
  std::unique_ptr<IniFile> systemFile_;
  std::unique_ptr<IniFile> adminFile_;
  std::string userPath_;
  std::string systemPath_;
  std::string adminPath_;
  bool userDropped_ = false;
  bool systemDropped_ = false;
  bool adminDropped_ = false;
};

// The origin as a person reads it: "admin file PATH", "environment NAME"...
std::string describeOrigin(const Settings &settings, Settings::Origin origin, const char *envName);

}  // namespace ryx
