// SPDX-License-Identifier: MIT
// The network tests route the logger to a file before their first test.
#include <gtest/gtest.h>

#include "log_capture.h"

namespace {

class LoggerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ryx::test::routeLogger("info"); }
};

const ::testing::Environment *const loggerEnvironment = ::testing::AddGlobalTestEnvironment(new LoggerEnvironment);

}  // namespace
