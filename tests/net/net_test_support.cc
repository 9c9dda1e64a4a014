// SPDX-License-Identifier: MIT
#include "net_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

namespace ryx::test {

namespace {

class LoggerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { routeLogger("info"); }
};

const ::testing::Environment *const loggerEnvironment =
    ::testing::AddGlobalTestEnvironment(new LoggerEnvironment);

}  // namespace

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

uint16_t unusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace ryx::test
