// SPDX-License-Identifier: MIT
#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace ryx::platform {
namespace {

std::atomic<int> calls{0};
void countCall(void *arg) {
  ++calls;
  ++*static_cast<int *>(arg);
}

TEST(System, InitOnceRunsOnceAcrossThreads) {
  static OnceFlag *flag = newOnceFlag();  // flags live for the process
  int runs = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { EXPECT_EQ(initOnce(flag, countCall, &runs), 0); });
  for (auto &t : threads) t.join();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(calls.load(), 1);
  EXPECT_NE(initOnce(nullptr, countCall, &runs), 0);
}

TEST(System, CounterAdvancesAtItsFrequency) {
  uint64_t frequency = 0;
  ASSERT_TRUE(performanceFrequency(&frequency));
  ASSERT_GT(frequency, 0u);
  uint64_t before = performanceCounter();
  sleepMilliseconds(20);
  uint64_t elapsedMs = (performanceCounter() - before) * 1000 / frequency;
  EXPECT_GE(elapsedMs, 20u);
}

}  // namespace
}  // namespace ryx::platform
