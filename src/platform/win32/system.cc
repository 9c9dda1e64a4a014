// SPDX-License-Identifier: MIT
#include "platform/system.h"

#include <windows.h>
#include <io.h>

#include <cstdlib>

namespace ryx::platform {

uint64_t performanceCounter() {
  LARGE_INTEGER count;
  return QueryPerformanceCounter(&count) ? static_cast<uint64_t>(count.QuadPart) : 0;
}

bool performanceFrequency(uint64_t *frequency) {
  LARGE_INTEGER ticks;
  if (!QueryPerformanceFrequency(&ticks) || ticks.QuadPart <= 0) return false;
  *frequency = static_cast<uint64_t>(ticks.QuadPart);
  return true;
}

uint32_t processId() { return GetCurrentProcessId(); }

uint32_t threadId() { return GetCurrentThreadId(); }

void sleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

struct OnceFlag {
  INIT_ONCE once = INIT_ONCE_STATIC_INIT;
};

OnceFlag *newOnceFlag() { return new OnceFlag(); }

namespace {

struct OnceCall {
  void (*fn)(void *);
  void *arg;
};

BOOL CALLBACK runOnce(PINIT_ONCE, PVOID parameter, PVOID *) {
  auto *call = static_cast<OnceCall *>(parameter);
  call->fn(call->arg);
  return TRUE;
}

}  // namespace

int initOnce(OnceFlag *flag, void (*fn)(void *), void *arg) {
  if (flag == nullptr) return ERROR_INVALID_PARAMETER;
  OnceCall call{fn, arg};
  if (InitOnceExecuteOnce(&flag->once, runOnce, &call, nullptr)) return 0;
  DWORD error = GetLastError();
  return error != 0 ? static_cast<int>(error) : ERROR_GEN_FAILURE;
}

bool raiseOpenFileLimit(unsigned wanted, unsigned *before, unsigned *after) {
  // The C runtime's stream limit is the only one that applies.
  int current = _getmaxstdio();
  *before = *after = current > 0 ? static_cast<unsigned>(current) : 0;
  if (current < 0 || static_cast<unsigned>(current) >= wanted) return false;
  constexpr int kRuntimeMost = 8192;
  int target = wanted > static_cast<unsigned>(kRuntimeMost) ? kRuntimeMost : static_cast<int>(wanted);
  if (target <= current || _setmaxstdio(target) != target) return false;
  *after = static_cast<unsigned>(target);
  return true;
}

bool stderrIsConsole() {
  DWORD mode = 0;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr)));
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

FILE *reopenStderrOnConsole() {
  // A GUI program has no console until it takes its parent's.
  if (GetConsoleWindow() == nullptr && !AttachConsole(ATTACH_PARENT_PROCESS)) return nullptr;
  return freopen("CONOUT$", "w", stderr);
}

}  // namespace ryx::platform
