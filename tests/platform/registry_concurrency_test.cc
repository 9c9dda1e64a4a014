// SPDX-License-Identifier: MIT
// Two processes adding values to one hive at once lose none: the lock on the
// hive's companion file keeps each read, change and write whole.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "platform/posix/registry_file.h"
#include "platform/registry.h"
#include "test_support.h"

namespace ryx::platform {
namespace {

TEST(RegistryConcurrency, TwoWritersLoseNoValue) {
  test::TempDir dir;
  test::ScopedEnv env("RYX_REGISTRY_DIR", dir.path().c_str());
  constexpr uint32_t kRounds = 150;  // every write syncs the hive to disk
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] != 0) continue;
    RegKeyPtr key;
    for (uint32_t i = 0; i < kRounds; ++i) {
      const std::string name = std::to_string(c) + "-" + std::to_string(i);
      if (regCreateKey(Hive::CurrentUser, "Software\\A", kKeyWrite, &key) != kRegOk ||
          regSetValue(key.get(), name.c_str(), kRegDword, &i, 4) != kRegOk)
        _exit(1);
    }
    _exit(0);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  regfile::HiveData hive;
  std::string error;
  ASSERT_TRUE(regfile::parseHive(test::readFile(dir / "user.reg"), "HKEY_CURRENT_USER", &hive, &error)) << error;
  ASSERT_EQ(hive.keys.size(), 1u);
  EXPECT_EQ(hive.keys[0].values.size(), 2 * kRounds);
  std::vector<std::string> files = test::listFolder(dir.path());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"user.reg", "user.reg.lock"}));  // no temporary file left
}

}  // namespace
}  // namespace ryx::platform
