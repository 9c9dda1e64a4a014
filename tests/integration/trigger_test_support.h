// SPDX-License-Identifier: MIT
// The settings environment the trigger and rendering server tests run in:
// every setting at its default unless set with set(), and an empty pipe
// folder of their own (no extension), as the common library reads them.
#pragma once

#include <string>

#include "common/ryx_gcommon.h"
#include "installation.h"

namespace ryx::test {

class IsolatedSettings : public Installation {
 public:
  IsolatedSettings() { reload(); }
  // For the common library's getters to see what set() changed.
  static void reload() { ryx_conf_settings_reload(); }
};

}  // namespace ryx::test
