// SPDX-License-Identifier: MIT
// The helpers of test_support.h that need only standard C++, shared by
// every platform's build of the test support.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_support.h"

namespace ryx::test {

std::vector<std::string> concat(std::vector<std::string> head, const std::vector<std::string> &tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
  const char *old = getenv(name);
  hadValue_ = old != nullptr;
  if (hadValue_) oldValue_ = old;
  setEnvironment(name, value);
}

ScopedEnv::~ScopedEnv() { setEnvironment(name_.c_str(), hadValue_ ? oldValue_.c_str() : nullptr); }

ScopedEnvironment::ScopedEnvironment(const std::vector<std::string> &entries) {
  for (const std::string &entry : entries) {
    size_t equals = entry.find('=');
    set(entry.substr(0, equals).c_str(), equals == std::string::npos ? nullptr : entry.c_str() + equals + 1);
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  while (!env_.empty()) env_.pop_back();
}

void writeFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::string readTextFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

bool fileExists(const std::string &path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

std::vector<std::string> listFolder(const std::string &path) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator(path, error))
    names.push_back(entry.path().filename().string());
  return names;
}

std::vector<std::string> splitLines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0, end = 0;
  while ((end = text.find('\n', start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool reduceLogLine(const std::string &line, pid_t pid, std::string *reduced) {
  // A run of 1 to 18 digits at *pos (its value in *value), then `after`.
  auto number = [&line](size_t *pos, long *value, char after) {
    size_t start = *pos;
    while (*pos < line.size() && line[*pos] >= '0' && line[*pos] <= '9') ++*pos;
    if (*pos == start || *pos - start > 18 || *pos >= line.size() || line[*pos] != after) return false;
    *value = std::stol(line.substr(start, *pos - start));
    ++*pos;
    return true;
  };
  if (line.size() < 2 || line[0] < 'A' || line[0] > 'Z' || line[1] != ' ') return false;
  size_t pos = 2;
  long seconds = 0, millis = 0, linePid = 0, tid = 0;
  if (!number(&pos, &seconds, '.')) return false;
  size_t millisStart = pos;
  if (!number(&pos, &millis, ' ') || pos - millisStart != 4) return false;
  if (!number(&pos, &linePid, ':') || !number(&pos, &tid, ' ')) return false;
  if (linePid != pid || tid <= 0) return false;
  *reduced = line.substr(0, 1) + " " + line.substr(pos);
  return true;
}

}  // namespace ryx::test
