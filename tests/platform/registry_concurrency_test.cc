// SPDX-License-Identifier: MIT
// Two processes switching a value on and off many times over leave a hive
// that reads back, holding one of the values written.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/registry_file.h"
#include "platform/registry.h"
#include "test_support.h"

namespace ryx::platform {
namespace {

TEST(RegistryConcurrency, TwoWritersLeaveAWellFormedHive) {
  test::TempDir dir;
  test::ScopedEnv env("RYX_REGISTRY_DIR", dir.path().c_str());
  // Every write syncs the hive to disk, so a round costs a few
  // milliseconds on a busy disk: 200 rounds keep the two writers
  // overlapping without running into the test time-out.
  constexpr int kRounds = 200;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      for (int i = 0; i < kRounds; ++i) {
        RegKeyPtr key;
        if (regCreateKey(Hive::CurrentUser, "Software\\Vezo Software\\Vezo Lumora", kKeyWrite, &key) != kRegOk)
          _exit(2);
        uint32_t value = static_cast<uint32_t>(i & 1);
        const char *name = c == 0 ? "status" : "directXStatus";
        if (regSetValue(key.get(), name, kRegDword, &value, 4) != kRegOk) _exit(3);
        if (regSetValue(key.get(), "shared", kRegDword, &value, 4) != kRegOk) _exit(4);
      }
      _exit(0);
    }
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
  // Each writer's last round stored 1 ((kRounds - 1) & 1), in both of its values.
  for (const char *name : {"status", "directXStatus", "shared"}) {
    regfile::Value *value = regfile::findValue(hive.keys[0], name);
    ASSERT_NE(value, nullptr) << name;
    EXPECT_EQ(value->data, (std::vector<uint8_t>{1, 0, 0, 0})) << name;
  }
  for (const std::string &name : test::listFolder(dir.path()))
    EXPECT_EQ(name.find(".tmp-"), std::string::npos) << "leftover " << name;
}

}  // namespace
}  // namespace ryx::platform
