// SPDX-License-Identifier: MIT
#include "state/error_reporter.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ryx {
namespace {

TEST(ErrorReporterTest, OneInstanceStartingOffWithoutAnErrorThatKeepsCopies) {
  std::vector<ErrorReporter *> seen(4, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = &ErrorReporter::instance(); });
  for (std::thread &thread : threads) thread.join();
  for (ErrorReporter *reporter : seen) EXPECT_EQ(reporter, &ErrorReporter::instance());
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
