// SPDX-License-Identifier: MIT
// An installation in a temporary folder for code that reads the settings:
// install root, home folder and registry, with the environment variables
// that would move a setting cleared.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace ryx::test {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

class SettingsSandbox {
 public:
  SettingsSandbox() {
    std::filesystem::create_directories(root() + "conf");
    std::filesystem::create_directories(home());
    set("RYX_ROOT", root().c_str());
#ifdef _WIN32
    // The home folder is HOMEDRIVE + HOMEPATH; without them it is the
    // profile folder, which a test cannot move.
    set("HOMEDRIVE", home().substr(0, 2).c_str());
    set("HOMEPATH", home().substr(2).c_str());
#else
    set("HOME", home().c_str());
    set("HOMEDRIVE", nullptr);
    set("HOMEPATH", nullptr);
#endif
    set("RYX_REGISTRY_DIR", (dir / "registry").c_str());
    for (const char *name : {"RYX_USER_CONFIG_DIR", "RYX_CONSOLE_PORT", "RYX_LOG_LEVEL", "RYX_VERBOSE",
                             "RVN_IMAGE_QUALITY", "RYX_CONFIG_DOCK_TIMEOUT", "RYX_RENDERING_SERVER", "RYX_LOG_FILE",
                             "RYX_USE_NVIDIA_GRID", "RYX_CONFIG_TRIGGER_POSITION", "RYX_VVN_ENABLED",
                             "RYX_WRAPPER_RECORD"})
      set(name, nullptr);
  }

  // Sets (null: unsets) an environment variable until the sandbox goes.
  void set(const char *name, const char *value) { env_.push_back(std::make_unique<ScopedEnv>(name, value)); }

  // Paths as the settings code writes them, with the platform's separator.
  static std::string path(std::initializer_list<std::string> parts) {
    std::string joined;
    bool first = true;
    for (const std::string &part : parts) {
      joined += (first ? "" : std::string(1, kSeparator)) + part;
      first = false;
    }
    return joined;
  }
  std::string root() const { return path({dir.path(), "root", ""}); }
  std::string home() const { return path({dir.path(), "home"}); }
  std::string systemFile() const { return root() + path({"conf", "ryx.conf"}); }
  std::string adminFile() const { return systemFile() + ".admin"; }
  std::string userFile() const { return path({home(), "ryx", "conf", "ryx.conf"}); }

  void writeUser(const std::string &content) {
    std::filesystem::create_directories(path({home(), "ryx", "conf"}));
    writeFile(userFile(), content);
  }

  TempDir dir;

 private:
  std::vector<std::unique_ptr<ScopedEnv>> env_;
};

}  // namespace ryx::test
