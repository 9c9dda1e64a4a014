// SPDX-License-Identifier: MIT
#include "platform/system.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace ryx::platform {

uint64_t performanceCounter() {
  // CLOCK_BOOTTIME counts from machine start like the Windows counter.
  struct timespec ts;
  if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0 && clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

bool performanceFrequency(uint64_t *frequency) {
  *frequency = 1000000000ull;  // the counter is in nanoseconds
  return true;
}

uint32_t processId() { return static_cast<uint32_t>(getpid()); }

uint32_t threadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

void sleepMilliseconds(unsigned milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

struct OnceFlag {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  std::atomic<bool> done{false};
};

OnceFlag *newOnceFlag() { return new OnceFlag(); }

int initOnce(OnceFlag *flag, void (*fn)(void *), void *arg) {
  if (flag == nullptr) return EINVAL;
  if (flag->done.load(std::memory_order_acquire)) return 0;
  int rc = pthread_mutex_lock(&flag->mutex);
  if (rc != 0) return rc;
  if (!flag->done.load(std::memory_order_relaxed)) {
    fn(arg);
    flag->done.store(true, std::memory_order_release);
  }
  pthread_mutex_unlock(&flag->mutex);
  return 0;
}

bool raiseOpenFileLimit(unsigned wanted, unsigned *before, unsigned *after) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  *before = *after = static_cast<unsigned>(limit.rlim_cur);
  if (limit.rlim_cur >= wanted) return false;
  rlim_t target = wanted;
  if (limit.rlim_max != RLIM_INFINITY && target > limit.rlim_max) target = limit.rlim_max;
  if (target <= limit.rlim_cur) return false;
  limit.rlim_cur = target;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  *after = static_cast<unsigned>(target);
  return true;
}

bool stderrIsConsole() { return isatty(STDERR_FILENO) == 1; }

FILE *reopenStderrOnConsole() { return freopen("/dev/tty", "wb", stderr); }

}  // namespace ryx::platform
