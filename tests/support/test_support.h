// SPDX-License-Identifier: MIT
// Helpers shared by the test suites: temporary folders, environment
// variables restored at scope end, captured standard streams, files.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ryx::test {

// A fresh folder under $TMPDIR, removed with its contents at scope end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (or with a null value, unsets) an environment variable.
void setEnvironment(const char *name, const char *value);

// Sets (null value: unsets) environment variables for the scope, undone
// newest first at scope end, so a name set twice ends as it began.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const char *name, const char *value) { set(name, value); }
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;
  void set(const char *name, const char *value);
  // Each "NAME=VALUE" entry sets NAME, a bare "NAME" unsets it.
  void set(const std::vector<std::string> &entries);

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;  // each name and its value before
};

// Redirects a standard stream (1 or 2) into a file until finish().
class CaptureFd {
 public:
  explicit CaptureFd(int fd);
  ~CaptureFd();
  CaptureFd(const CaptureFd &) = delete;
  CaptureFd &operator=(const CaptureFd &) = delete;
  std::string finish();

 private:
  int fd_;
  int saved_ = -1;
  std::string file_;
};

void writeFile(const std::string &path, const std::string &content);
std::string readFile(const std::string &path);
// A file written in text mode, with the platform's line ends read back as '\n'.
std::string readTextFile(const std::string &path);
bool fileExists(const std::string &path);
std::vector<std::string> listFolder(const std::string &path);

// The lines of `text` without their line feeds (a last unterminated one too).
std::vector<std::string> splitLines(const std::string &text);

// Reduces one line of the in-program logger ("L SECONDS.MMM PID:TID rest",
// three digits of milliseconds) to "L rest"; false when the line does not
// have that shape or names another process than `pid`.
bool reduceLogLine(const std::string &line, pid_t pid, std::string *reduced);

// A loopback port with nothing listening on it (bound, then released).
uint16_t unusedPort();

// Runs a program, waits for it; returns its exit status (or 128+signal)
// with standard output and error captured.  extraEnv entries are
// "NAME=VALUE" (or "NAME" to unset), a later one replacing an earlier.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};
RunResult runProgram(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv = {});
// The two argument lists one after the other.
std::vector<std::string> concat(std::vector<std::string> head, const std::vector<std::string> &tail);

// A program running in the background, such as a stand-in peer, with its
// standard output on a pipe the test reads (standard error stays the
// test's), killed by the system if the test process dies first, stopped
// by the destructor.  extraEnv as for runProgram.  With a logBase, standard
// output and error go to the files logBase.out and logBase.err instead,
// which out() and err() read (readLine then reads nothing).
class Child {
 public:
  Child(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv = {},
        const std::string &logBase = "");
  ~Child();
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;
  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Reads one line of standard output (without its newline); false when
  // the output ends or timeoutMs passes first (0: only what is there now).
  bool readLine(std::string *line, int timeoutMs);
  // Waits up to timeoutMs for the exit; the exit status (or 128 + the
  // signal), again on later calls, or -1 while it runs or if it never ran.
  int wait(int timeoutMs);
  bool running() { return wait(0) < 0 && pid_ > 0; }
  // Sends SIGTERM, waits (SIGKILL after 5 s) and returns the exit status,
  // or 128 + the signal; -1 when it was not running.
  int stop();
  std::string out() const { return logBase_.empty() ? std::string() : readFile(logBase_ + ".out"); }
  std::string err() const { return logBase_.empty() ? std::string() : readFile(logBase_ + ".err"); }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  int out_ = -1;  // Windows: how much of outFile_ has been read
  std::string buffered_;
  std::string outFile_;     // Windows: the file the peer's output goes to
  std::string statusFile_;  // Windows: the file sh writes the exit status to
  std::string logBase_;
};

// A D-Bus session bus of the test's own, so tests that own names on it run
// in parallel; address() is empty when the daemon did not start.
class PrivateBus {
 public:
  PrivateBus();
  const std::string &address() const { return address_; }

 private:
  Child daemon_;
  std::string address_;
};

}  // namespace ryx::test
