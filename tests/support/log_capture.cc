// SPDX-License-Identifier: MIT
#include "log_capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "test_support.h"

namespace ryx::test {

namespace {

std::string &logPath() {
  static std::string path;
  return path;
}

long fileSize(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fclose(f);
  return size;
}

// Reads a run of decimal digits at `pos`; false when there is none.
bool digits(const std::string &text, size_t *pos, long *value) {
  size_t start = *pos;
  while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9') ++*pos;
  if (*pos == start || *pos - start > 18) return false;
  *value = std::stol(text.substr(start, *pos - start));
  return true;
}

bool literal(const std::string &text, size_t *pos, char c) {
  if (*pos >= text.size() || text[*pos] != c) return false;
  ++*pos;
  return true;
}

// "%c %s %d:%d " with the time stamp as seconds "." three digits; the rest
// of the line after the letter and the ids.
bool reduceLine(const std::string &line, std::string *reduced) {
  if (line.size() < 2 || line[0] < 'A' || line[0] > 'Z') return false;
  size_t pos = 1;
  long seconds = 0, millis = 0, pid = 0, tid = 0;
  if (!literal(line, &pos, ' ') || !digits(line, &pos, &seconds) || !literal(line, &pos, '.')) return false;
  size_t millisStart = pos;
  if (!digits(line, &pos, &millis) || pos - millisStart != 3 || !literal(line, &pos, ' ')) return false;
  if (!digits(line, &pos, &pid) || !literal(line, &pos, ':') || !digits(line, &pos, &tid) ||
      !literal(line, &pos, ' '))
    return false;
  if (pid != getpid() || tid <= 0) return false;
  *reduced = line.substr(0, 1) + " " + line.substr(pos);
  return true;
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

LogCapture::LogCapture() : start_(fileSize(logPath())) {}

std::vector<std::string> LogCapture::lines() const {
  std::vector<std::string> result;
  std::string text = readFile(logPath());
  if (start_ > static_cast<long>(text.size())) return result;
  text.erase(0, static_cast<size_t>(start_));
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    std::string reduced;
    result.push_back(reduceLine(line, &reduced) ? reduced : "MALFORMED: " + line);
  }
  return result;
}

}  // namespace ryx::test
