// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

#include "settings_sandbox.h"

namespace ryx::test {

class ConfigFixture : public ::testing::Test, public SettingsSandbox {};

}  // namespace ryx::test
