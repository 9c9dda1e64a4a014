// SPDX-License-Identifier: MIT
#include "platform/shell_folders.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>

namespace ryx::platform {

const char kPathSeparator = '\\';

namespace {

bool csidlOf(ShellFolder folder, int *csidl) {
  switch (folder) {
    case ShellFolder::ProgramFiles: *csidl = CSIDL_PROGRAM_FILES; return true;
    case ShellFolder::ProgramFilesX86: *csidl = CSIDL_PROGRAM_FILESX86; return true;
    case ShellFolder::System: *csidl = CSIDL_SYSTEM; return true;
  }
  return false;
}

}  // namespace

bool getShellFolder(ShellFolder folder, std::string *path) {
  int csidl = 0;
  if (!csidlOf(folder, &csidl)) return false;
  char buffer[MAX_PATH + 1] = {};
  if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return false;
  std::string found(buffer);
  while (found.size() > 3 && found.back() == '\\') found.pop_back();  // "C:\" keeps its own
  *path = found;
  return true;
}

// The folders are the system's own and real: callers use them as they are,
// never a stand-in of their own for them.
bool isDefaultShellFolder(ShellFolder) { return false; }

std::string defaultHomeFolder() {
  char buffer[MAX_PATH + 1] = {};
  if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, buffer))) return buffer;
  const char *profile = getenv("USERPROFILE");
  return profile != nullptr && *profile != '\0' ? profile : "C:\\";
}

}  // namespace ryx::platform
