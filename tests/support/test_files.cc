// SPDX-License-Identifier: MIT
// The helpers of test_support.h that need only standard C++ and the C
// runtime's descriptors, shared by every platform's build of the test support.
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
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

void ScopedEnv::set(const std::vector<std::string> &entries) {
  for (const std::string &entry : entries) {
    size_t equals = entry.find('=');
    set(entry.substr(0, equals).c_str(), equals == std::string::npos ? nullptr : entry.c_str() + equals + 1);
  }
}

void ScopedEnv::set(const char *name, const char *value) {
  const char *old = getenv(name);
  saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
  setEnvironment(name, value);
}

ScopedEnv::~ScopedEnv() {
  for (auto entry = saved_.rbegin(); entry != saved_.rend(); ++entry)
    setEnvironment(entry->first.c_str(), entry->second ? entry->second->c_str() : nullptr);
}

CaptureFd::CaptureFd(int fd) : fd_(fd) {
  static TempDir folder;
  static unsigned counter = 0;
  file_ = folder / ("capture-" + std::to_string(++counter));
  FILE *file = fopen(file_.c_str(), "wb");
  if (file == nullptr) abort();
  fflush(fd == 1 ? stdout : stderr);
  saved_ = dup(fd);
  dup2(fileno(file), fd);
  fclose(file);
}

std::string CaptureFd::finish() {
  if (saved_ >= 0) {
    fflush(fd_ == 1 ? stdout : stderr);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
  }
  return readFile(file_);
}

CaptureFd::~CaptureFd() {
  finish();
  std::error_code error;
  std::filesystem::remove(file_, error);
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
