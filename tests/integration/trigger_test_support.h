// SPDX-License-Identifier: MIT
// The settings environment the trigger and rendering server tests run in:
// every setting at its default unless set with set(), and an empty pipe
// folder of their own (no extension).
#pragma once

#include <string>

#include "common/ryx_gcommon.h"
#include "settings_sandbox.h"

namespace ryx::test {

class IsolatedSettings : public SettingsSandbox {
 public:
  IsolatedSettings() {
    mkdir(pipeDir().c_str(), 0700);
    set("RYX_PIPE_DIR", pipeDir().c_str());
    reload();
  }
  // For the common library's getters to see what set() changed.
  static void reload() { ryx_conf_settings_reload(); }
  std::string pipeDir() const { return dir / "pipes"; }
};

}  // namespace ryx::test
