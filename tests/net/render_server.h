// SPDX-License-Identifier: MIT
// The stand-in rendering server ($RYX_RENDER_SERVER) run for the length of
// a test, on loopback.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace ryx::test {

class RenderServer {
 public:
  // Starts it on `address` at `port` (0: one the system chooses) with
  // `args` (e.g. {"--mode", "silent"}); port() is 0 when it could not listen.
  explicit RenderServer(const std::vector<std::string> &args = {}, const std::string &address = "127.0.0.1",
                        int port = 0);
  uint16_t port() const { return port_; }

 private:
  std::unique_ptr<Child> child_;
  uint16_t port_ = 0;
};

}  // namespace ryx::test
