// SPDX-License-Identifier: MIT
// What the trigger and rendering server tests share: GLib log records
// caught through the structured log writer, and a settings environment of
// their own (install root, home and pipe folder in a temporary folder, the
// variables that would move a setting cleared).
#pragma once

#include <glib.h>

#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace ryx::test {

struct GLogRecord {
  std::string domain;
  GLogLevelFlags level;  // as GLib was handed it
  std::string message;
  std::string function;  // CODE_FUNC, when given
  std::string ryxLevel;  // RYX_LEVEL: "error" for ryx_log's error lines
};

// Keeps every GLib log record written while it lives instead of printing
// it.  GLib takes one writer per process: the first recorder installs it,
// and outside a recorder records go to GLib's default writer.  One at a
// time, on the main thread.
class GLogRecorder {
 public:
  GLogRecorder();
  ~GLogRecorder();
  GLogRecorder(const GLogRecorder &) = delete;
  GLogRecorder &operator=(const GLogRecorder &) = delete;

  const std::vector<GLogRecord> &records() const { return records_; }
  // Records of domain "RYX" as "LEVEL function: message", LEVEL being
  // error, warning, info or debug as ryx_log was asked.
  std::vector<std::string> ryxLines() const;
  std::string dump() const;

  void add(GLogRecord record) { records_.push_back(std::move(record)); }

 private:
  std::vector<GLogRecord> records_;
};

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
  std::string path(const std::string &name) const { return dir_ / name; }

 private:
  TempDir dir_;
  std::vector<std::unique_ptr<ScopedEnv>> env_;
};

}  // namespace ryx::test
