// SPDX-License-Identifier: MIT
#include "installation.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "common/install_root.h"
#include "platform/registry.h"

namespace ryx::test {

std::string builtLibrary(const char *envName) {
  const char *path = getenv(envName);
  if (path == nullptr || !fileExists(path)) {
    ADD_FAILURE() << envName << " does not name a built library; run the test through meson";
    return {};
  }
  return path;
}

Installation::Installation() {
  mkdir(libraryDir().c_str(), 0700);
  mkdir(systemDir().c_str(), 0700);
}

void Installation::writeProductValues(const std::vector<std::string> &values) {
  mkdir(registryDir().c_str(), 0700);
  std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\";
  text += kProductKey;
  text += "]\n";
  for (const std::string &line : values) text += line + "\n";
  writeFile(hivePath(), text);
}

void Installation::installWrapper(Wrapper wrapper) {
  const char *envName = nullptr;
  switch (wrapper) {
    case Wrapper::None: return;
    case Wrapper::Full: envName = "RYX_TEST_WRAPPER"; break;
    case Wrapper::NoConnectionInfo: envName = "RYX_TEST_WRAPPER_NO_CONNECTION_INFO"; break;
    case Wrapper::Plain: envName = "RYX_TEST_WRAPPER_PLAIN"; break;
  }
  writeFile(libraryDir() + "/opengl32.so", readFile(builtLibrary(envName)));
}

void Installation::installGrid() { writeFile(gridPath(), readFile(builtLibrary("RYX_TEST_GRID"))); }

std::string Installation::read(const char *name) const {
  ScopedEnv registry("RYX_REGISTRY_DIR", registryDir().c_str());
  platform::RegKeyPtr key;
  uint32_t type = 0, size = 0;
  if (platform::regOpenKey(platform::Hive::CurrentUser, kProductKey, platform::kKeyRead, &key) != platform::kRegOk ||
      platform::regQueryValue(key.get(), name, &type, nullptr, &size) != platform::kRegOk)
    return "missing";
  std::vector<uint8_t> data(size);
  if (platform::regQueryValue(key.get(), name, &type, data.data(), &size) != platform::kRegOk) return "missing";
  std::string text = std::to_string(type) + ":";
  char hex[3];
  for (uint8_t byte : data) {
    snprintf(hex, sizeof hex, "%02x", byte);
    text += hex;
  }
  return text;
}

std::vector<std::string> Installation::environment() const {
  return {
      "RYX_REGISTRY_DIR=" + registryDir(),
      "RYX_LIBRARY_PATH=" + libraryDir(),
      "RYX_SYSTEM_DIR=" + systemDir(),
      "RYX_GRID_RECORD=" + gridRecord(),
      // No configuration of the machine or the user leaks in.
      "RYX_ROOT=" + path("root"),
      "RYX_USER_CONFIG_DIR=" + path("user-config"),
      "RYX_RENDERING_SERVER",
      "RYX_FORCE_LOCAL_RENDERING",
      "RYX_LOG_FILE",
  };
}

std::string dword(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "4:%02x%02x%02x%02x", value & 0xff, (value >> 8) & 0xff, (value >> 16) & 0xff, value >> 24);
  return text;
}

ScopedEnvironment::ScopedEnvironment(const std::vector<std::string> &entries) {
  for (const std::string &entry : entries) {
    size_t equals = entry.find('=');
    if (equals == std::string::npos)
      entries_.push_back(std::make_unique<ScopedEnv>(entry.c_str(), nullptr));
    else
      entries_.push_back(std::make_unique<ScopedEnv>(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1));
  }
}

}  // namespace ryx::test
