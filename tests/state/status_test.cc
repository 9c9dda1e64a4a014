// SPDX-License-Identifier: MIT
// Which codes are published, and the record; what each shows: tests/ui.
#include "state/status.h"

#include <gtest/gtest.h>

#include "state/error_reporter.h"

namespace ryx {
namespace {

TEST(Status, PublishingLeavesOutWhatTheSessionMakesMoot) {
  EXPECT_TRUE(isStatusPublished(STATUS_NOT_ENABLED, STATUS_OK, false, false));
  EXPECT_FALSE(isStatusPublished(STATUS_NOT_ENABLED, STATUS_OK, true, true));  // desktop capture
  EXPECT_TRUE(isStatusPublished(STATUS_GRID_LIBRARY_MISSING, STATUS_OK, true, false));
  EXPECT_FALSE(isStatusPublished(STATUS_NOT_FUNCTIONING, STATUS_OK, false, false));  // no 32-bit warning
  EXPECT_TRUE(isStatusPublished(STATUS_NOT_FUNCTIONING, STATUS_OK, false, true));
  EXPECT_FALSE(isStatusPublished(STATUS_OK, STATUS_RENDERING_SERVER_ERROR, false, true));  // waits for its check
}

TEST(ErrorReporter, KeepsCopiesOfTheMessage) {
  ErrorReporter &reporter = ErrorReporter::instance();
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
