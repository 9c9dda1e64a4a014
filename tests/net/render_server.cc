// SPDX-License-Identifier: MIT
// The stand-in rendering server, apart from the rest of the net tests'
// support since only the builds with peers/ have it.
#include <cstdlib>

#include <gtest/gtest.h>

#include "net_test_support.h"

namespace ryx::test {

RenderServer::RenderServer(const std::vector<std::string> &args, const char *address) {
  const char *program = getenv("RYX_RENDER_SERVER");
  if (program == nullptr) {
    ADD_FAILURE() << "RYX_RENDER_SERVER is not set";
    return;
  }
  std::vector<std::string> argv = {program, "--address", address, "--port", "0"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string line;
  if (!process_.start(argv) || !process_.readLine(&line, 5000)) {
    ADD_FAILURE() << "ryx-render-server did not start";
    return;
  }
  port_ = static_cast<uint16_t>(atoi(line.c_str()));
}

}  // namespace ryx::test
