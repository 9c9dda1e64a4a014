// SPDX-License-Identifier: MIT
#include "render_server.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace ryx::test {

RenderServer::RenderServer(const std::vector<std::string> &args, const std::string &address, int port) {
  const char *program = getenv("RYX_RENDER_SERVER");
  if (program == nullptr) {
    ADD_FAILURE() << "RYX_RENDER_SERVER is not set";
    return;
  }
  child_ = std::make_unique<Child>(concat({program, "--address", address, "--port", std::to_string(port)}, args));
  std::string line;
  if (!child_->started()) ADD_FAILURE() << program << " did not start";
  if (child_->readLine(&line, 5000)) port_ = static_cast<uint16_t>(atoi(line.c_str()));
}

}  // namespace ryx::test
