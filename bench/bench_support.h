// SPDX-License-Identifier: MIT
// Small helpers the whole-program benchmarks share.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace ryx::bench {

inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// A process's CPU time so far in nanoseconds (all its threads), from the
// scheduler's account: finer than the tick-based times of /proc/PID/stat.
// -1 when the process is gone.
inline int64_t cpuNanoseconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  long long ns = -1;
  in >> ns;
  return in ? ns : -1;
}

}  // namespace ryx::bench
