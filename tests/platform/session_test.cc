// SPDX-License-Identifier: MIT
#include "platform/session.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using ryx::platform::isRemoteSession;
using ryx::test::ScopedEnv;

TEST(Session, EnvironmentDecidesWhenItSaysOneOrZero) {
  {
    ScopedEnv remote("RYX_REMOTE_SESSION", "1");
    EXPECT_TRUE(isRemoteSession());
  }
  {
    ScopedEnv local("RYX_REMOTE_SESSION", "0");
    EXPECT_FALSE(isRemoteSession());
  }
}

TEST(Session, OtherValuesLeaveTheAnswerToTheLoginSession) {
  bool fromLogin;
  {
    ScopedEnv unset("RYX_REMOTE_SESSION", nullptr);
    fromLogin = isRemoteSession();
  }
  for (const char *value : {"", "yes", "true", "10", " 1"}) {
    ScopedEnv other("RYX_REMOTE_SESSION", value);
    EXPECT_EQ(isRemoteSession(), fromLogin) << '"' << value << '"';
  }
}

}  // namespace
