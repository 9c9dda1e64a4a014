// SPDX-License-Identifier: MIT
#include "state/error_reporter.h"

#include <gtest/gtest.h>

namespace ryx {
namespace {

TEST(ErrorReporterTest, StartsOffWithoutAnErrorAndKeepsCopies) {
  ErrorReporter &reporter = ErrorReporter::instance();
  EXPECT_FALSE(reporter.ryxOn);
  EXPECT_EQ(reporter.code, STATUS_OK);
  EXPECT_EQ(reporter.message, nullptr);

  char text[] = "Cannot reach the rendering server";
  reporter.setMessage(text);
  text[0] = 'X';
  EXPECT_STREQ(reporter.message, "Cannot reach the rendering server");
  reporter.setMessage(reporter.message);  // replacing with itself must not read freed memory
  EXPECT_STREQ(reporter.message, "Cannot reach the rendering server");
  reporter.setMessage(nullptr);
  EXPECT_EQ(reporter.message, nullptr);
}

}  // namespace
}  // namespace ryx
