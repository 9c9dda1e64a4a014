// SPDX-License-Identifier: MIT
#include "common/install_root.h"

#include <cstdlib>
#include <cstring>

#include "common/install_config.h"
#include "platform/registry.h"
#include "platform/shell_folders.h"

namespace ryx {

namespace {

using namespace ryx::platform;

// An environment variable read into a buffer of `size` bytes: a value that
// does not fit counts as unset.
bool readEnvironment(const char *name, char *buffer, size_t size) {
  const char *value = getenv(name);
  if (value == nullptr || strlen(value) >= size) return false;
  memcpy(buffer, value, strlen(value) + 1);
  return true;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

void getInstallRoot(char *buffer) {
  buffer[0] = '\0';
  bool found = readEnvironment("RYX_ROOT", buffer, kInstallRootSize) && buffer[0] != '\0';
  bool productKeyOpened = false;
  if (!found) {
    RegKeyPtr key;
    productKeyOpened = regOpenKey(Hive::LocalMachine, kProductKey, kKeyRead | kKeyWow64_64Key, &key) == kRegOk;
    if (!productKeyOpened) regOpenKey(Hive::LocalMachine, kKestraneKey, kKeyRead | kKeyWow64_32Key, &key);
    if (key) {
      uint32_t size = kInstallRootSize;
      uint32_t type = 0;
      if (regQueryValue(key.get(), "InstallPath", &type, buffer, &size) == kRegOk) {
        // Registry text need not carry its NUL; end it within the buffer.
        buffer[size < kInstallRootSize ? size : kInstallRootSize - 1] = '\0';
        found = buffer[0] != '\0';
      } else {
        buffer[0] = '\0';
      }
    }
  }
  if (!found) {
    // The product's folder in the programs folder.  The Windows installer
    // puts it at PROGRAMS\Vezo\ryx; `meson install` puts it at the
    // configured prefix, and that is what a programs folder left at the
    // platform's default stands for here.  A programs folder moved through
    // the environment (staged trees, tests) keeps the PROGRAMS/Vezo/ryx
    // layout below it.
    ShellFolder programs = productKeyOpened ? ShellFolder::ProgramFiles : ShellFolder::ProgramFilesX86;
    std::string root;
    if (isDefaultShellFolder(programs)) {
      root = kInstallPrefix;
    } else {
      getShellFolder(programs, &root);
      root = root + kPathSeparator + "Vezo" + kPathSeparator + "ryx" + kPathSeparator;
    }
    snprintf(buffer, kInstallRootSize, "%s", root.c_str());
  }
  size_t length = strlen(buffer);
  if ((length == 0 || buffer[length - 1] != kPathSeparator) && length + 1 < kInstallRootSize) {
    buffer[length] = kPathSeparator;
    buffer[length + 1] = '\0';
  }
}

CString joinPath(std::initializer_list<const char *> components) {
  constexpr size_t kSize = 259;  // 258 characters and the NUL
  char buffer[kSize];
  size_t used = 0;
  buffer[0] = '\0';
  for (const char *component : components) {
    if (component == nullptr) break;
    size_t length = strlen(component);
    if (length == 0) continue;
    if (length + 1 > kSize - used) return nullptr;
    memcpy(buffer + used, component, length + 1);
    used += length;
    if (!isSeparator(component[length - 1])) {
      if (2 > kSize - used) return nullptr;
      buffer[used++] = kPathSeparator;
      buffer[used] = '\0';
    }
  }
  if (used > 0) buffer[--used] = '\0';
  return copyCString(buffer);
}

std::string getHomeFolder() {
  const char *drive = getenv("HOMEDRIVE");
  const char *path = getenv("HOMEPATH");
  if (drive != nullptr && path != nullptr) {
    char buffer[kInstallRootSize];
    snprintf(buffer, sizeof buffer, "%s%s", drive, path);
    return buffer;
  }
  return defaultHomeFolder();
}

bool createProductKey() {
  RegKeyPtr key;
  long rc = regOpenKey(Hive::CurrentUser, kProductKey, kKeyRead, &key);
  if (rc != kRegFileNotFound) return true;  // anything else: the key counts as present
  return regCreateKey(Hive::CurrentUser, kProductKey, kKeyWrite, &key) == kRegOk;
}

bool readProductDword(const char *name, uint32_t *value) {
  RegKeyPtr key;
  if (regOpenKey(Hive::CurrentUser, kProductKey, kKeyRead, &key) != kRegOk) return false;
  uint32_t size = sizeof *value;
  return regQueryValue(key.get(), name, nullptr, value, &size) == kRegOk;
}

bool writeProductDword(const char *name, uint32_t value) {
  RegKeyPtr key;
  if (regOpenKey(Hive::CurrentUser, kProductKey, kKeySetValue, &key) != kRegOk) return false;
  uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                      static_cast<uint8_t>(value >> 24)};
  return regSetValue(key.get(), name, kRegDword, bytes, sizeof bytes) == kRegOk;
}

}  // namespace ryx
