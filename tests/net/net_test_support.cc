// SPDX-License-Identifier: MIT
#include "net_test_support.h"

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

std::string bodyPattern(size_t size) {
  static const char kPattern[] = "0123456789abcdefghijklmnopqrstuvwxyz\n";
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = kPattern[i % (sizeof kPattern - 1)];
  return text;
}

}  // namespace ryx::test
