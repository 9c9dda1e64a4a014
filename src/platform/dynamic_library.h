// SPDX-License-Identifier: MIT
// Loading shared libraries by the rules the program was written for: a bare
// name gets the platform's library suffix and is looked for in the library
// path, then the program's own folder, then the system folder.
#pragma once

#include <cstdint>

namespace ryx::platform {

struct Library;  // opaque handle

// Loads a library by bare name ("opengl32") or by path.  Null when not found.
Library *loadLibrary(const char *name);

// Looks up an exported symbol; null when the library does not export it.
void *findSymbol(Library *library, const char *symbol);

// Releases one reference taken by loadLibrary.
void freeLibrary(Library *library);

// The error mode that suppresses the system's error dialogs; returns the
// previous mode.  The platform has no such dialogs, so this only records.
constexpr uint32_t kFailCriticalErrors = 1;
uint32_t setErrorMode(uint32_t mode);

}  // namespace ryx::platform
