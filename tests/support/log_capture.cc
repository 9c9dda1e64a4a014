// SPDX-License-Identifier: MIT
// The log is appended in text mode, so it is read back in text mode.
#include "log_capture.h"

#include <unistd.h>

#include <cstdlib>

#include "test_support.h"

namespace ryx::test {

namespace {

std::string &logPath() {
  static std::string path;
  return path;
}

}  // namespace

void routeLogger(const char *level) {
  // Removed when the process ends; on Windows the open log keeps it, and
  // scripts/test clears it before the next run.
  static TempDir folder;
  setEnvironment("RYX_ROOT", folder.path().c_str());
  setEnvironment("RYX_USER_CONFIG_DIR", folder.path().c_str());
  setEnvironment("RYX_LOG_FILE", (folder / "log").c_str());
  setEnvironment("RYX_LOG_LEVEL", level);
  setEnvironment("RYX_VERBOSE", nullptr);
  logPath() = folder / ("log." + std::to_string(getpid()) + ".txt");
}

LogCapture::LogCapture() : start_(static_cast<long>(readTextFile(logPath()).size())) {}

std::vector<std::string> LogCapture::lines() const {
  std::vector<std::string> result;
  std::string text = readTextFile(logPath());
  if (start_ > static_cast<long>(text.size())) return result;
  text.erase(0, static_cast<size_t>(start_));
  for (const std::string &line : splitLines(text)) {
    std::string reduced;
    result.push_back(reduceLogLine(line, getpid(), &reduced) ? reduced : "MALFORMED: " + line);
  }
  return result;
}

}  // namespace ryx::test
