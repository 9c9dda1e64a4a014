// SPDX-License-Identifier: MIT
#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char **environ;

namespace ryx::test {

namespace {

void removeTree(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);
    for (const std::string &name : listFolder(path)) removeTree(path + "/" + name);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

// The process's environment with extraEnv's entries set or ("NAME") unset.
std::vector<std::string> mergedEnvironment(const std::vector<std::string> &extraEnv) {
  std::vector<std::string> env;
  for (char **e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    std::string name = entry.substr(0, entry.find('='));
    bool overridden = false;
    for (const std::string &extra : extraEnv)
      if (extra.substr(0, extra.find('=')) == name) overridden = true;
    if (!overridden) env.push_back(entry);
  }
  for (const std::string &extra : extraEnv)
    if (extra.find('=') != std::string::npos) env.push_back(extra);  // "NAME" alone unsets
  return env;
}

}  // namespace

TempDir::TempDir() {
  const char *base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/ryx-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) abort();
  path_ = buffer.data();
}

TempDir::~TempDir() {
  if (getenv("RYX_TEST_KEEP") == nullptr) removeTree(path_);  // kept for a look after a failure
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
  const char *old = getenv(name);
  hadValue_ = old != nullptr;
  if (hadValue_) oldValue_ = old;
  if (value != nullptr)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (hadValue_)
    setenv(name_.c_str(), oldValue_.c_str(), 1);
  else
    unsetenv(name_.c_str());
}

CaptureFd::CaptureFd(int fd) : fd_(fd) {
  char pattern[] = "/tmp/ryx-capture-XXXXXX";
  int file = mkstemp(pattern);
  if (file < 0) abort();
  file_ = pattern;
  fflush(fd == 1 ? stdout : stderr);
  saved_ = dup(fd);
  dup2(file, fd);
  close(file);
}

std::string CaptureFd::finish() {
  if (saved_ < 0) return readFile(file_);
  fflush(fd_ == 1 ? stdout : stderr);
  dup2(saved_, fd_);
  close(saved_);
  saved_ = -1;
  return readFile(file_);
}

CaptureFd::~CaptureFd() {
  finish();
  unlink(file_.c_str());
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

bool fileExists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> listFolder(const std::string &path) {
  std::vector<std::string> names;
  DIR *dir = opendir(path.c_str());
  if (dir == nullptr) return names;
  while (struct dirent *entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

RunResult runProgram(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv) {
  RunResult result;
  TempDir dir;
  std::string outFile = dir / "out", errFile = dir / "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::vector<std::string> env = mergedEnvironment(extraEnv);
  std::vector<char *> args, envp;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  result.out = readFile(outFile);
  result.err = readFile(errFile);
  return result;
}

Child::Child(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  std::vector<std::string> env = mergedEnvironment(extraEnv);
  std::vector<char *> args, envp;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  out_ = fds[0];
}

Child::~Child() {
  stop();
  if (out_ >= 0) close(out_);
}

bool Child::readLine(std::string *line, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t newline = buffered_.find('\n');
    if (newline != std::string::npos) {
      *line = buffered_.substr(0, newline);
      buffered_.erase(0, newline + 1);
      return true;
    }
    if (out_ < 0) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left < 0) return false;  // a time-out of 0 still looks once
    struct pollfd p = {out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[512];
    ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffered_.append(chunk, static_cast<size_t>(n));
  }
}

int Child::stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  pid_t done = 0;
  while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end) usleep(10000);
  if (done == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

PrivateBus::PrivateBus()
    : daemon_({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}) {
  std::string line;
  if (daemon_.readLine(&line, 10000)) address_ = line;
}

}  // namespace ryx::test
