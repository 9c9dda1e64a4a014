// SPDX-License-Identifier: MIT
#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/shell_folders.h"

namespace ryx::platform {

struct Library {
  void *handle;
};

namespace {

// The program's own folder does not change while it runs: looked up once.
std::string programFolder() {
  static const std::string folder = [] {
    std::vector<char> path(4096);
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) return std::string();
    std::string exe(path.data(), static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
  }();
  return folder;
}

std::vector<std::string> searchFolders() {
  std::vector<std::string> folders;
  if (const char *list = getenv("RYX_LIBRARY_PATH")) {
    std::string all(list);
    size_t start = 0;
    while (start <= all.size()) {
      size_t colon = all.find(':', start);
      if (colon == std::string::npos) colon = all.size();
      if (colon > start) folders.push_back(all.substr(start, colon - start));
      start = colon + 1;
    }
  }
  std::string own = programFolder();
  if (!own.empty()) folders.push_back(own);
  std::string system;
  if (getShellFolder(ShellFolder::System, &system)) folders.push_back(system);
  return folders;
}

// Libraries the system always carries under a name of its own.
const char *systemCounterpart(const char *bareName) {
  if (strcasecmp(bareName, "opengl32") == 0 || strcasecmp(bareName, "opengl32.so") == 0) return "libGL.so.1";
  return nullptr;
}

Library *wrap(void *handle) { return handle != nullptr ? new Library{handle} : nullptr; }

}  // namespace

Library *loadLibrary(const char *name) {
  if (name == nullptr || *name == '\0') return nullptr;
  if (std::string(name).find('/') != std::string::npos) return wrap(dlopen(name, RTLD_NOW | RTLD_LOCAL));

  // A name without an extension gets the platform's library suffix.
  std::string file(name);
  if (file.find('.') == std::string::npos) file += ".so";

  for (const std::string &folder : searchFolders()) {
    std::string path = folder + '/' + file;
    if (access(path.c_str(), F_OK) != 0) continue;
    if (void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return new Library{handle};
  }
  if (const char *counterpart = systemCounterpart(name)) return wrap(dlopen(counterpart, RTLD_NOW | RTLD_LOCAL));
  return nullptr;
}

void *findSymbol(Library *library, const char *symbol) {
  if (library == nullptr || symbol == nullptr) return nullptr;
  return dlsym(library->handle, symbol);
}

void freeLibrary(Library *library) {
  if (library == nullptr) return;
  dlclose(library->handle);
  delete library;
}

namespace {
uint32_t currentErrorMode = 0;
}

uint32_t setErrorMode(uint32_t mode) {
  uint32_t previous = currentErrorMode;
  currentErrorMode = mode;
  return previous;
}

}  // namespace ryx::platform
