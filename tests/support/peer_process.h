// SPDX-License-Identifier: MIT
// A stand-in program from peers/ run for the length of a test: started with
// its standard output on a pipe (to read the port it prints), stopped at
// scope end, and killed by the system if the test process dies first.  A
// start-later face of Child.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace ryx::test {

class PeerProcess {
 public:
  // Starts argv[0] (a path) with the arguments; false when it cannot start.
  bool start(const std::vector<std::string> &argv);
  // The next line of the peer's standard output, waiting up to timeoutMs;
  // false when none comes in time or the output ends.
  bool readLine(std::string *line, int timeoutMs) { return child_ != nullptr && child_->readLine(line, timeoutMs); }
  // Ends the peer (SIGTERM, then SIGKILL after 5 s) and reaps it.
  void stop() { child_.reset(); }
  pid_t pid() const { return child_ != nullptr ? child_->pid() : -1; }

 private:
  std::unique_ptr<Child> child_;
};

}  // namespace ryx::test
