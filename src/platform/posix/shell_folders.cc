// SPDX-License-Identifier: MIT
// The well-known folders come from environment variables so that a test or
// a staged installation can move them; the defaults are the usual places.
#include "platform/shell_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#ifndef RYX_DEFAULT_PROGRAM_FILES
#define RYX_DEFAULT_PROGRAM_FILES "/opt"
#endif
#ifndef RYX_DEFAULT_SYSTEM_DIR
#define RYX_DEFAULT_SYSTEM_DIR "/usr/lib/ryx/system"
#endif

namespace ryx::platform {

const char kPathSeparator = '/';

namespace {

std::string withoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The environment variable that moves a folder and the folder's default.
bool describe(ShellFolder folder, const char **variable, const char **fallback) {
  switch (folder) {
    case ShellFolder::ProgramFiles:
      *variable = "RYX_PROGRAM_FILES";
      *fallback = RYX_DEFAULT_PROGRAM_FILES;
      return true;
    case ShellFolder::ProgramFilesX86:
      *variable = "RYX_PROGRAM_FILES_X86";
      *fallback = RYX_DEFAULT_PROGRAM_FILES;
      return true;
    case ShellFolder::System:
      *variable = "RYX_SYSTEM_DIR";
      *fallback = RYX_DEFAULT_SYSTEM_DIR;
      return true;
  }
  return false;
}

const char *movedTo(const char *variable) {
  const char *value = getenv(variable);
  return (value != nullptr && *value != '\0') ? value : nullptr;
}

}  // namespace

bool getShellFolder(ShellFolder folder, std::string *path) {
  const char *variable = nullptr;
  const char *fallback = nullptr;
  if (!describe(folder, &variable, &fallback)) return false;
  const char *moved = movedTo(variable);
  *path = withoutTrailingSeparator(moved != nullptr ? moved : fallback);
  return true;
}

bool isDefaultShellFolder(ShellFolder folder) {
  const char *variable = nullptr;
  const char *fallback = nullptr;
  return describe(folder, &variable, &fallback) && movedTo(variable) == nullptr;
}

std::string defaultHomeFolder() {
  const char *home = getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd entry;
  struct passwd *result = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr)
    return result->pw_dir;
  return "/";
}

}  // namespace ryx::platform
