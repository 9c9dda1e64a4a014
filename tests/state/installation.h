// SPDX-License-Identifier: MIT
// A throw-away installation for the state tests: the user's registry hive,
// a library folder searched first (RYX_LIBRARY_PATH) and the system folder
// (RYX_SYSTEM_DIR), in one temporary folder, with the stand-in libraries
// that the build made copied in on demand.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace ryx::test {

enum class Wrapper { None, Full, NoConnectionInfo, Plain };

// The path of a stand-in library built by the project (from the test's
// environment); fails the calling test when the variable is missing.
std::string builtLibrary(const char *envName);

class Installation {
 public:
  Installation();

  std::string registryDir() const { return dir_ / "registry"; }
  std::string libraryDir() const { return dir_ / "lib"; }
  std::string systemDir() const { return dir_ / "system"; }
  std::string gridRecord() const { return dir_ / "grid-record"; }
  std::string gridPath() const { return systemDir() + "/NvIFR64.dll"; }
  std::string hivePath() const { return registryDir() + "/user.reg"; }
  std::string path(const std::string &name) const { return dir_ / name; }

  // Writes the user's hive with the product key holding `values`, lines in
  // the export format ("\"status\"=dword:00000000").
  void writeProductValues(const std::vector<std::string> &values);
  void installWrapper(Wrapper wrapper);
  void installGrid();

  // The value as stored now, read through the registry layer: "TYPE:HEX"
  // ("4:01000000" for dword 1), or "missing".
  std::string read(const char *name) const;

  // The variables that point a process at this installation.
  std::vector<std::string> environment() const;

 private:
  TempDir dir_;
};

// Applies "NAME=VALUE" (set) and "NAME" (unset) entries for the scope.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::vector<std::string> &entries);

 private:
  std::vector<std::unique_ptr<ScopedEnv>> entries_;
};

// A dword as read() gives it.
std::string dword(uint32_t value);

}  // namespace ryx::test
