// SPDX-License-Identifier: MIT
// LoadLibraryA applies the system's own search order (the program's
// folder, the system folder, ...); RYX_LIBRARY_PATH, when set, is tried
// first so that staged installations and tests find their libraries.
#include "platform/dynamic_library.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace ryx::platform {

struct Library {
  HMODULE module;
};

namespace {

Library *wrap(HMODULE module) { return module != nullptr ? new Library{module} : nullptr; }

HMODULE loadFromPath(const char *list, const std::string &file) {
  std::string all(list);
  size_t start = 0;
  while (start <= all.size()) {
    size_t semicolon = all.find(';', start);
    if (semicolon == std::string::npos) semicolon = all.size();
    if (semicolon > start) {
      std::string path = all.substr(start, semicolon - start) + '\\' + file;
      if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (HMODULE module = LoadLibraryA(path.c_str())) return module;
      }
    }
    start = semicolon + 1;
  }
  return nullptr;
}

}  // namespace

Library *loadLibrary(const char *name) {
  if (name == nullptr || *name == '\0') return nullptr;
  std::string file(name);
  bool bare = file.find_first_of("/\\") == std::string::npos;
  if (bare) {
    if (file.find('.') == std::string::npos) file += ".dll";
    const char *list = getenv("RYX_LIBRARY_PATH");
    if (list != nullptr && *list != '\0') {
      if (HMODULE module = loadFromPath(list, file)) return wrap(module);
    }
  }
  return wrap(LoadLibraryA(file.c_str()));
}

void *findSymbol(Library *library, const char *symbol) {
  if (library == nullptr || symbol == nullptr) return nullptr;
  return reinterpret_cast<void *>(GetProcAddress(library->module, symbol));
}

void freeLibrary(Library *library) {
  if (library == nullptr) return;
  FreeLibrary(library->module);
  delete library;
}

uint32_t setErrorMode(uint32_t mode) {
  static_assert(kFailCriticalErrors == SEM_FAILCRITICALERRORS, "the flag carries the system's value");
  return SetErrorMode(mode);
}

}  // namespace ryx::platform
