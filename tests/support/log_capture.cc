// SPDX-License-Identifier: MIT
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
  static TempDir folder;  // removed when the process ends
  setenv("RYX_ROOT", folder.path().c_str(), 1);
  setenv("RYX_USER_CONFIG_DIR", folder.path().c_str(), 1);
  setenv("RYX_LOG_FILE", (folder / "log").c_str(), 1);
  setenv("RYX_LOG_LEVEL", level, 1);
  unsetenv("RYX_VERBOSE");
  logPath() = folder / ("log." + std::to_string(getpid()) + ".txt");
}

LogCapture::LogCapture() : start_(static_cast<long>(readFile(logPath()).size())) {}

std::vector<std::string> LogCapture::lines() const {
  std::vector<std::string> result;
  std::string text = readFile(logPath());
  if (start_ > static_cast<long>(text.size())) return result;
  text.erase(0, static_cast<size_t>(start_));
  for (const std::string &line : splitLines(text)) {
    std::string reduced;
    result.push_back(reduceLogLine(line, getpid(), &reduced) ? reduced : "MALFORMED: " + line);
  }
  return result;
}

}  // namespace ryx::test
