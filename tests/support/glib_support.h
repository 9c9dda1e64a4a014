// SPDX-License-Identifier: MIT
// Helpers for tests of GLib-based code: captured log records, running the
// main loop until something happens, and connected loopback TCP pairs.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ryx::test {

struct LogRecord {
  std::string domain;    // "" for the default domain
  GLogLevelFlags level;  // the level GLib was handed
  std::string message;
  std::string function;                       // the CODE_FUNC field, when there is one
  std::map<std::string, std::string> fields;  // every field of a structured record, by key
};

// Collects every GLib log record (g_log, g_warning, g_return_if_fail and
// structured records such as ryx_log's) written while it lives, instead of
// printing them.  GLib takes one writer per process: the first capture
// installs it, and outside a capture it hands records to GLib's default
// writer.  One capture at a time, on the main thread.
class GLogCapture {
 public:
  GLogCapture();
  ~GLogCapture();
  GLogCapture(const GLogCapture &) = delete;
  GLogCapture &operator=(const GLogCapture &) = delete;

  const std::vector<LogRecord> &records() const { return records_; }
  // Records whose message equals `message` (any level when level is 0).
  int count(const std::string &message, GLogLevelFlags level = (GLogLevelFlags)0) const;
  // Every message, one per line, for failure output.
  std::string dump() const;
  void clear() { records_.clear(); }

 private:
  friend GLogWriterOutput captureWriter(GLogLevelFlags, const GLogField *, gsize, gpointer);
  std::vector<LogRecord> records_;
};

// Iterates the default main context until done() is true or timeoutMs
// passes; returns done().
bool spinUntil(const std::function<bool()> &done, int timeoutMs = 5000);
// Iterates the default main context for about `ms` milliseconds.
void spinFor(int ms);

// Two ends of one TCP connection over 127.0.0.1 on a port the system
// chose: `client` connected, `server` accepted.
struct LoopbackPair {
  LoopbackPair();
  ~LoopbackPair();
  LoopbackPair(const LoopbackPair &) = delete;
  LoopbackPair &operator=(const LoopbackPair &) = delete;

  bool send(const std::string &bytes);
  void closeClient();

  GSocketConnection *client = nullptr;
  GSocketConnection *server = nullptr;
};

}  // namespace ryx::test
