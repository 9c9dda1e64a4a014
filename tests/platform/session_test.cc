// SPDX-License-Identifier: MIT
#include "platform/session.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

// "1" and "0" decide; any other value leaves the answer to the login session.
TEST(Session, EnvironmentDecidesWhenItSaysOneOrZero) {
  auto remote = [](const char *value) {
    ryx::test::ScopedEnv env("RYX_REMOTE_SESSION", value);
    return ryx::platform::isRemoteSession();
  };
  const bool fromLogin = remote(nullptr);
  const std::pair<const char *, bool> cases[] = {
      {"1", true}, {"0", false}, {"", fromLogin}, {"true", fromLogin}, {"10", fromLogin}};
  for (const auto &[value, expected] : cases) EXPECT_EQ(remote(value), expected) << '"' << value << '"';
}

}  // namespace
