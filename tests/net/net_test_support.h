// SPDX-License-Identifier: MIT
// What the network tests share: the logger routed to a file before the
// first test (linking net_test_support.cc registers that), and the stand-in
// rendering server.
#pragma once

#include <string>
#include <vector>

#include "log_capture.h"
#include "render_server.h"

namespace ryx::test {

// The bytes ryx-render-server sends for --body-size N.
std::string bodyPattern(size_t size);

// Lines as LogCapture gives them, for readable failure messages.
using Lines = std::vector<std::string>;

}  // namespace ryx::test
