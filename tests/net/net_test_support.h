// SPDX-License-Identifier: MIT
// What the network tests share: the logger routed to a file before the
// first test (linking this file registers that), and the stand-in
// rendering server run per test on a system-chosen loopback port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log_capture.h"
#include "peer_process.h"
#include "test_support.h"

namespace ryx::test {

class RenderServer {
 public:
  // Starts ryx-render-server on 127.0.0.1 with `args` (e.g. {"--mode",
  // "silent"}); port() is 0 when it did not start.
  explicit RenderServer(const std::vector<std::string> &args = {}, const char *address = "127.0.0.1");
  uint16_t port() const { return port_; }

 private:
  PeerProcess process_;
  uint16_t port_ = 0;
};

// The bytes ryx-render-server sends for --body-size N.
std::string bodyPattern(size_t size);

// Lines as LogCapture gives them, for readable failure messages.
using Lines = std::vector<std::string>;

}  // namespace ryx::test
