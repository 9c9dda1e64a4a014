// SPDX-License-Identifier: MIT
// Well-known folders of the machine and the path separator of the platform.
#pragma once

#include <string>

namespace ryx::platform {

enum class ShellFolder {
  ProgramFiles,     // where 64-bit programs are installed
  ProgramFilesX86,  // where 32-bit programs are installed
  System,           // the system's own library folder
};

// Separator between path components ('\\' on Windows, '/' here).
extern const char kPathSeparator;

// The default location of a well-known folder, without a trailing separator.
// Returns false when the folder cannot be determined.
bool getShellFolder(ShellFolder folder, std::string *path);

// Whether getShellFolder gives only a stand-in default for the folder (a
// platform with no such folder of its own, and no location moved through
// the environment, as staged trees and tests do); callers then use a
// location of their own build.  False on Windows, whose folders are real.
bool isDefaultShellFolder(ShellFolder folder);

// The user's home folder, used where the platform has no drive/path pair.
std::string defaultHomeFolder();

}  // namespace ryx::platform
