// SPDX-License-Identifier: MIT
// A throw-away installation in one temporary folder: install root, home
// folder, registry, pipe folder, a library folder searched first and the
// system folder, with the stand-in libraries that the build made copied in
// on demand.  While it lives, this process's environment points at it and
// every variable that would move a setting is cleared; environment() gives
// the same for a child process.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "test_support.h"

namespace ryx::test {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

enum class Wrapper { Missing, Full, NoConnectionInfo, Plain };

class Installation {
 public:
  Installation();
  Installation(const Installation &) = delete;
  Installation &operator=(const Installation &) = delete;

  // Sets (null: unsets) a variable of this process until the installation goes.
  void set(const char *name, const char *value) { env_.set(name, value); }
  // "NAME=VALUE" and "NAME" (unset) entries that point a child process here.
  std::vector<std::string> environment() const;

  // Paths as the settings code writes them, with the platform's separator.
  static std::string path(std::initializer_list<std::string> parts);
  std::string path(const std::string &name) const { return path({dir.path(), name}); }
  std::string root() const { return path({dir.path(), "root", ""}); }
  std::string home() const { return path("home"); }
  std::string systemFile() const { return root() + path({"conf", "ryx.conf"}); }
  std::string adminFile() const { return systemFile() + ".admin"; }
  std::string userFile() const { return path({home(), "ryx", "conf", "ryx.conf"}); }
  std::string gridRecord() const { return path("grid-record"); }

  void writeUser(const std::string &content);
  // Writes the user's hive with the product key holding `values`, lines in
  // the export format ("\"status\"=dword:00000000").
  void writeProductValues(const std::vector<std::string> &values);
  void installWrapper(Wrapper wrapper);
  void installGrid();
  // The value as stored now, read through the registry layer: "TYPE:HEX"
  // ("4:01000000" for dword 1), or "missing".
  std::string read(const char *name) const;

  TempDir dir;

 private:
  ScopedEnv env_;
};

// A dword as Installation::read() gives it.
std::string dword(uint32_t value);

}  // namespace ryx::test
