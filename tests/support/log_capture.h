// SPDX-License-Identifier: MIT
// Reads back what the in-program logger wrote.  The logger takes its file
// and level from the settings once, on its first message; routeLogger
// points them (through the environment) at a file of this process, so it
// must run before anything logs: call it from a global test environment.
#pragma once

#include <string>
#include <vector>

namespace ryx::test {

// Makes the logger write every line up to `level` ("info", "debug"...) to
// a file in a private folder, with no configuration files in the way.
void routeLogger(const char *level);

// The lines written since the capture was made, each reduced to
// "W RYX (function): message": the level letter, the domain, the function
// and the message.  A line whose time stamp, process id or thread id is
// not in the logger's format is kept whole, with "MALFORMED: " before it.
class LogCapture {
 public:
  LogCapture();
  std::vector<std::string> lines() const;

 private:
  long start_;
};

}  // namespace ryx::test
