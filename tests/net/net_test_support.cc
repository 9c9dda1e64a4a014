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

const ::testing::Environment *const loggerEnvironment = ::testing::AddGlobalTestEnvironment(new LoggerEnvironment);

}  // namespace

std::string bodyPattern(size_t size) {
  static const char kPattern[] = "0123456789abcdefghijklmnopqrstuvwxyz\n";
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = kPattern[i % (sizeof kPattern - 1)];
  return text;
}

}  // namespace ryx::test
