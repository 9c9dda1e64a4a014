// SPDX-License-Identifier: MIT
#include "installation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "common/install_root.h"
#include "platform/registry.h"

namespace ryx::test {

namespace {

// What a machine's or a user's configuration could set for the program.
// clang-format off
const char *const kClearedVariables[] = {
    "RYX_USER_CONFIG_DIR", "RYX_CONSOLE_PORT", "RYX_LOG_LEVEL", "RYX_VERBOSE", "RVN_IMAGE_QUALITY",
    "RYX_CONFIG_DOCK_TIMEOUT", "RYX_RENDERING_SERVER", "RYX_FORCE_LOCAL_RENDERING", "RYX_LOG_FILE",
    "RYX_USE_NVIDIA_GRID", "RYX_CONFIG_TRIGGER_POSITION", "RYX_VVN_ENABLED", "RYX_WRAPPER_RECORD",
    "RYX_CONFIG_CHECK_ENABLED", "RYX_CONFIG_WARN_MISSING_32BIT"};
// clang-format on

// The path of a stand-in library built by the project (from the test's
// environment); fails the calling test when the variable is missing.
std::string builtLibrary(const char *envName) {
  const char *path = getenv(envName);
  if (path == nullptr || !fileExists(path)) {
    ADD_FAILURE() << envName << " does not name a built library; run the test through meson";
    return {};
  }
  return path;
}

}  // namespace

Installation::Installation() {
  env_.set(environment());
  for (const std::string &folder :
       {root() + "conf", home(), path("registry"), path("pipes"), path("lib"), path("system")})
    std::filesystem::create_directories(folder);
}

std::vector<std::string> Installation::environment() const {
  std::vector<std::string> entries = {
      "RYX_ROOT=" + root(),
#ifdef _WIN32
      // The home folder is HOMEDRIVE + HOMEPATH; without them it is the
      // profile folder, which a test cannot move.
      "HOMEDRIVE=" + home().substr(0, 2),
      "HOMEPATH=" + home().substr(2),
#else
      "HOME=" + home(),
      "HOMEDRIVE",
      "HOMEPATH",
#endif
      "RYX_REGISTRY_DIR=" + path("registry"),
      "RYX_PIPE_DIR=" + path("pipes"),
      "RYX_LIBRARY_PATH=" + path("lib"),
      "RYX_SYSTEM_DIR=" + path("system"),
      "RYX_GRID_RECORD=" + gridRecord(),
  };
  entries.insert(entries.end(), std::begin(kClearedVariables), std::end(kClearedVariables));
  return entries;
}

std::string Installation::path(std::initializer_list<std::string> parts) {
  std::string joined;
  bool first = true;
  for (const std::string &part : parts) {
    joined += (first ? "" : std::string(1, kSeparator)) + part;
    first = false;
  }
  return joined;
}

void Installation::writeUser(const std::string &content) {
  std::filesystem::create_directories(path({home(), "ryx", "conf"}));
  writeFile(userFile(), content);
}

void Installation::writeProductValues(const std::vector<std::string> &values) {
  std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\";
  text += kProductKey;
  text += "]\n";
  for (const std::string &line : values) text += line + "\n";
  writeFile(path({path("registry"), "user.reg"}), text);
}

void Installation::installWrapper(Wrapper wrapper) {
  const char *envName = nullptr;
  switch (wrapper) {
    case Wrapper::Missing: return;
    case Wrapper::Full: envName = "RYX_TEST_WRAPPER"; break;
    case Wrapper::NoConnectionInfo: envName = "RYX_TEST_WRAPPER_NO_CONNECTION_INFO"; break;
    case Wrapper::Plain: envName = "RYX_TEST_WRAPPER_PLAIN"; break;
  }
  writeFile(path({path("lib"), "opengl32.so"}), readFile(builtLibrary(envName)));
}

void Installation::installGrid() {
  writeFile(path({path("system"), "NvIFR64.dll"}), readFile(builtLibrary("RYX_TEST_GRID")));
}

std::string Installation::read(const char *name) const {
  ScopedEnv registry("RYX_REGISTRY_DIR", path("registry").c_str());
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

std::string dword(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "4:%02x%02x%02x%02x", value & 0xff, (value >> 8) & 0xff, (value >> 16) & 0xff,
           value >> 24);
  return text;
}

}  // namespace ryx::test
