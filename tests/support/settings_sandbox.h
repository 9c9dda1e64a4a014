// SPDX-License-Identifier: MIT
// An installation in a temporary folder for code that reads the settings:
// install root, home folder and registry, with the environment variables
// that would move a setting cleared.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace ryx::test {

class SettingsSandbox {
 public:
  SettingsSandbox() {
    std::filesystem::create_directories(root() + "conf");
    std::filesystem::create_directories(home());
    set("RYX_ROOT", root().c_str());
    set("HOME", home().c_str());
    set("RYX_REGISTRY_DIR", (dir / "registry").c_str());
    for (const char *name : {"HOMEDRIVE", "HOMEPATH", "RYX_USER_CONFIG_DIR", "RYX_CONSOLE_PORT", "RYX_LOG_LEVEL",
                             "RYX_VERBOSE", "RVN_IMAGE_QUALITY", "RYX_CONFIG_DOCK_TIMEOUT", "RYX_RENDERING_SERVER",
                             "RYX_LOG_FILE", "RYX_USE_NVIDIA_GRID", "RYX_CONFIG_TRIGGER_POSITION", "RYX_VVN_ENABLED",
                             "RYX_WRAPPER_RECORD"})
      set(name, nullptr);
  }

  // Sets (null: unsets) an environment variable until the sandbox goes.
  void set(const char *name, const char *value) { env_.push_back(std::make_unique<ScopedEnv>(name, value)); }

  std::string root() const { return dir / "root/"; }
  std::string home() const { return dir / "home"; }
  std::string systemFile() const { return root() + "conf/ryx.conf"; }
  std::string adminFile() const { return systemFile() + ".admin"; }
  std::string userFile() const { return home() + "/ryx/conf/ryx.conf"; }

  void writeUser(const std::string &content) {
    std::filesystem::create_directories(home() + "/ryx/conf");
    writeFile(userFile(), content);
  }

  TempDir dir;

 private:
  std::vector<std::unique_ptr<ScopedEnv>> env_;
};

}  // namespace ryx::test
