// SPDX-License-Identifier: MIT
#include "platform/session.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using ryx::platform::isRemoteSession;
using ryx::test::ScopedEnv;

// "1" and "0" decide; any other value leaves the answer to the login session.
TEST(Session, EnvironmentDecidesWhenItSaysOneOrZero) {
  bool fromLogin;
  {
    ScopedEnv unset("RYX_REMOTE_SESSION", nullptr);
    fromLogin = isRemoteSession();
  }
  const struct {
    const char *value;
    bool remote;
  } cases[] = {{"1", true}, {"0", false}, {"", fromLogin}, {"true", fromLogin}, {"10", fromLogin}};
  for (const auto &c : cases) {
    ScopedEnv env("RYX_REMOTE_SESSION", c.value);
    EXPECT_EQ(isRemoteSession(), c.remote) << '"' << c.value << '"';
  }
}

}  // namespace
