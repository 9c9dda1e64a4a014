// SPDX-License-Identifier: MIT
#include "test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <map>

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

// The process's environment with extraEnv's entries set or ("NAME") unset,
// a later entry replacing an earlier one of the same name.
std::vector<std::string> mergedEnvironment(const std::vector<std::string> &extraEnv) {
  std::map<std::string, std::string> entries;
  auto nameOf = [](const std::string &entry) { return entry.substr(0, entry.find('=')); };
  for (char **e = environ; *e != nullptr; ++e) entries[nameOf(*e)] = *e;
  for (const std::string &extra : extraEnv) {
    if (extra.find('=') == std::string::npos)
      entries.erase(extra);
    else
      entries[nameOf(extra)] = extra;
  }
  std::vector<std::string> env;
  for (const auto &entry : entries) env.push_back(entry.second);
  return env;
}

// Pointers into `strings`, null-terminated, for exec.
std::vector<char *> cStrings(const std::vector<std::string> &strings) {
  std::vector<char *> pointers;
  for (const std::string &s : strings) pointers.push_back(const_cast<char *>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
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

void setEnvironment(const char *name, const char *value) {
  if (value != nullptr)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

uint16_t unusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  if (fd >= 0) close(fd);
  return port;
}

RunResult runProgram(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv) {
  TempDir dir;
  Child child(argv, extraEnv, dir / "log");
  RunResult result;
  result.status = child.wait(std::numeric_limits<int>::max());
  result.out = child.out();
  result.err = child.err();
  return result;
}

Child::Child(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv, const std::string &logBase)
    : logBase_(logBase) {
  if (argv.empty()) return;
  // The child's standard output and error, and the end of the pipe read here.
  int output = -1, error = -1, pipeEnd = -1;
  if (logBase.empty()) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pipeEnd = fds[0];
    output = fds[1];
  } else {
    output = open((logBase + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    error = open((logBase + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  }
  std::vector<std::string> env = mergedEnvironment(extraEnv);
  std::vector<char *> args = cStrings(argv), envp = cStrings(env);
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    // The child must not outlive a test that crashes or is killed.  Only
    // async-signal-safe calls from here on.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(output, STDOUT_FILENO);
    if (error >= 0) dup2(error, STDERR_FILENO);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, STDIN_FILENO);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(output);
  if (error >= 0) close(error);
  if (pid < 0) {
    if (pipeEnd >= 0) close(pipeEnd);
    return;
  }
  pid_ = pid;
  out_ = pipeEnd;
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
    int rc = poll(&p, 1, static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return false;
    char chunk[512];
    ssize_t n = read(out_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffered_.append(chunk, static_cast<size_t>(n));
  }
}

int Child::wait(int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (pid_ > 0) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      pid_ = -1;
    } else if (std::chrono::steady_clock::now() >= end) {
      return -1;
    } else {
      usleep(10000);
    }
  }
  return status_;
}

int Child::stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  if (wait(5000) < 0) {
    kill(pid_, SIGKILL);
    wait(5000);
  }
  return status_;
}

PrivateBus::PrivateBus()
    : daemon_({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}) {
  std::string line;
  if (daemon_.readLine(&line, 10000)) address_ = line;
}

}  // namespace ryx::test
