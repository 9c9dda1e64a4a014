// SPDX-License-Identifier: MIT
// Small helpers the whole-program benchmarks share.
#pragma once

#include <sys/types.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
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

// A process's user and system time so far in milliseconds (utime + stime
// of /proc/PID/stat, all its threads, in clock ticks); -1 when it is gone.
inline double statCpuMs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The name in parentheses may hold spaces; the fields after it are plain.
  size_t at = text.rfind(')');
  if (at == std::string::npos) return -1;
  std::vector<std::string> fields;
  std::string field;
  for (size_t i = at + 2; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ' ') {
      fields.push_back(field);
      field.clear();
    } else {
      field.push_back(text[i]);
    }
  }
  // Fields 14 and 15 of the file; the list starts at field 3 (state).
  if (fields.size() < 13) return -1;
  const double ticks = std::atof(fields[11].c_str()) + std::atof(fields[12].c_str());
  return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Memory of a process in KiB: resident, proportional (each shared page
// divided among the processes that map it) and unique (its private pages:
// what the system gets back when it ends).  -1 each when it is gone.
struct Memory {
  long rss = -1, pss = -1, uss = -1;
};

namespace detail {
// Adds a "Name:   N kB" line of smaps to the memory figures.
inline void addSmapsLine(const std::string &line, Memory *memory) {
  auto value = [&](const char *name) {
    size_t length = std::char_traits<char>::length(name);
    return line.compare(0, length, name) == 0 ? std::atol(line.c_str() + length) : -1L;
  };
  long v;
  if ((v = value("Rss:")) >= 0) memory->rss += v;
  if ((v = value("Pss:")) >= 0) memory->pss += v;
  if ((v = value("Private_Clean:")) >= 0) memory->uss += v;
  if ((v = value("Private_Dirty:")) >= 0) memory->uss += v;
}
}  // namespace detail

// The whole process, from /proc/PID/smaps_rollup.
inline Memory memoryOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  if (!in) return {};
  Memory memory{0, 0, 0};
  std::string line;
  bool any = false;
  while (std::getline(in, line)) {
    detail::addSmapsLine(line, &memory);
    any = any || line.rfind("Rss:", 0) == 0;
  }
  return any ? memory : Memory{};
}

// Only the mappings of the OpenGL driver's files, from /proc/PID/smaps (the
// trigger window keeps a GL context; without a GPU that is Mesa's software
// rasteriser with LLVM).  The driver's own heap allocations are not in it.
inline Memory glDriverMemory(pid_t pid) {
  static const char *const kDriverFiles[] = {"/dri/", "libLLVM", "libgallium", "libglapi", "libGLX_mesa",
                                             "libz3", "libdrm",  "libsensors", "libelf",   "libxcb-glx"};
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps");
  if (!in) return {};
  Memory memory{0, 0, 0};
  std::string line;
  bool driver = false;
  while (std::getline(in, line)) {
    if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') < 17) {
      driver = false;
      for (const char *file : kDriverFiles) driver = driver || line.find(file) != std::string::npos;
    } else if (driver) {
      detail::addSmapsLine(line, &memory);
    }
  }
  return memory;
}

}  // namespace ryx::bench
