// SPDX-License-Identifier: MIT
// A stand-in program from peers/ run for the length of a test: started with
// its standard output on a pipe (to read the port it prints), stopped at
// scope end, and killed by the system if the test process dies first.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ryx::test {

class PeerProcess {
 public:
  PeerProcess() = default;
  ~PeerProcess();
  PeerProcess(const PeerProcess &) = delete;
  PeerProcess &operator=(const PeerProcess &) = delete;

  // Starts argv[0] (a path) with the arguments; false when it cannot start.
  bool start(const std::vector<std::string> &argv);
  // The next line of the peer's standard output, waiting up to timeoutMs;
  // false when none comes in time or the output ends.
  bool readLine(std::string *line, int timeoutMs);
  // Ends the peer (SIGTERM, then SIGKILL after a second) and reaps it.
  void stop();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

}  // namespace ryx::test
