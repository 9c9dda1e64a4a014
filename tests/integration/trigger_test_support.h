// SPDX-License-Identifier: MIT
// What the trigger and rendering server tests share: a settings
// environment of their own (install root, home and pipe folder in a
// temporary folder, the variables that would move a setting cleared).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace ryx::test {

// The environment a test of settings-driven code runs in: every setting at
// its default unless set with set(), the pipe folder empty (no extension).
class IsolatedSettings {
 public:
  IsolatedSettings();
  // Sets (null: unsets) a variable until the scope ends; call reload()
  // afterwards for the common library's getters to see it.
  void set(const char *name, const char *value);
  static void reload();

  std::string pipeDir() const { return dir_ / "pipes"; }

 private:
  TempDir dir_;
  std::vector<std::unique_ptr<ScopedEnv>> env_;
};

}  // namespace ryx::test
