// SPDX-License-Identifier: MIT
// Clocks, ids, sleeping, one-time initialisation and the console device.
#pragma once

#include <cstdint>
#include <cstdio>

namespace ryx::platform {

// High-resolution counter since an unspecified start (machine start here)
// and its ticks per second; false when the frequency cannot be read.
uint64_t performanceCounter();
bool performanceFrequency(uint64_t *frequency);

uint32_t processId();
uint32_t threadId();

void sleepMilliseconds(unsigned milliseconds);

// One-time initialisation.  `initOnce` runs `fn(arg)` once per flag for the
// process, also when several threads ask at once; it returns 0 on success,
// else the system's error code.  Flags are created once and never freed.
struct OnceFlag;
OnceFlag *newOnceFlag();
int initOnce(OnceFlag *flag, void (*fn)(void *), void *arg);

// Raises the soft limit of open files towards `wanted` (never above the
// hard limit).  True when it was raised; before/after tell the values.
bool raiseOpenFileLimit(unsigned wanted, unsigned *before, unsigned *after);

// Whether standard error is a console (a terminal device).
bool stderrIsConsole();

// Reopens standard error onto the console device; null on failure.
FILE *reopenStderrOnConsole();

}  // namespace ryx::platform
