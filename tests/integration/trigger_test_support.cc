// SPDX-License-Identifier: MIT
#include "trigger_test_support.h"

#include <sys/stat.h>

#include "common/ryx_gcommon.h"

namespace ryx::test {

IsolatedSettings::IsolatedSettings() {
  for (const char *folder : {"root", "root/conf", "home", "pipes"}) mkdir((dir_ / folder).c_str(), 0700);
  set("RYX_ROOT", (dir_ / "root").c_str());
  set("HOME", (dir_ / "home").c_str());
  set("RYX_REGISTRY_DIR", (dir_ / "registry").c_str());
  set("RYX_PIPE_DIR", pipeDir().c_str());
  for (const char *name : {"HOMEDRIVE", "HOMEPATH", "RYX_USER_CONFIG_DIR", "RYX_RENDERING_SERVER",
                           "RYX_CONFIG_TRIGGER_POSITION", "RYX_VVN_ENABLED", "RYX_WRAPPER_RECORD"})
    set(name, nullptr);
  reload();
}

void IsolatedSettings::set(const char *name, const char *value) {
  env_.push_back(std::make_unique<ScopedEnv>(name, value));
}

void IsolatedSettings::reload() { ryx_conf_settings_reload(); }

}  // namespace ryx::test
