// SPDX-License-Identifier: MIT
#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace ryx::platform {
namespace {

void count(void *arg) { ++*static_cast<std::atomic<int> *>(arg); }

TEST(System, InitOnceRunsOnceAcrossThreads) {
  static OnceFlag *flag = newOnceFlag();  // flags live for the process
  std::atomic<int> runs{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { EXPECT_EQ(initOnce(flag, count, &runs), 0); });
  for (auto &t : threads) t.join();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_NE(initOnce(nullptr, count, &runs), 0);
}

TEST(System, CounterAdvancesAtItsFrequency) {
  uint64_t frequency = 0;
  ASSERT_TRUE(performanceFrequency(&frequency) && frequency > 0);
  const uint64_t before = performanceCounter();
  sleepMilliseconds(20);
  EXPECT_GE((performanceCounter() - before) * 1000 / frequency, 20u);
}

}  // namespace
}  // namespace ryx::platform
