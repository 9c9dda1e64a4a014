// SPDX-License-Identifier: MIT
// Named pipes opened with CreateFileA for overlapped I/O, so that every
// read and write waits at most until the caller's deadline; an exchange
// still running then is cancelled.
#include "platform/named_pipe.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace ryx::platform {

struct Pipe {
  HANDLE handle;
  HANDLE event;  // signalled when the overlapped call in progress ends
  PipeAccess access;
};

namespace {

// Milliseconds left until the deadline, rounded up, never negative.
DWORD remainingMs(PipeDeadline deadline) {
  auto left = deadline - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 1000000 ? 1000000 : static_cast<DWORD>(ms);
}

bool isPipeName(const char *name) {
  static const char kPrefix[] = "\\\\.\\pipe\\";  // \\.\pipe\ .
  const size_t prefixLength = sizeof kPrefix - 1;
  if (name == nullptr || strlen(name) <= prefixLength) return false;
  return _strnicmp(name, kPrefix, prefixLength) == 0 && strpbrk(name + prefixLength, "\\/") == nullptr;
}

enum class Step { kDone, kClosed, kFailed, kTimedOut };

// One overlapped ReadFile or WriteFile, waited for until the deadline.
Step transfer(Pipe *pipe, bool reading, void *bytes, DWORD size, DWORD *moved, PipeDeadline deadline) {
  *moved = 0;
  OVERLAPPED overlapped;
  memset(&overlapped, 0, sizeof overlapped);
  overlapped.hEvent = pipe->event;
  BOOL ok = reading ? ReadFile(pipe->handle, bytes, size, nullptr, &overlapped)
                    : WriteFile(pipe->handle, bytes, size, nullptr, &overlapped);
  DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  if (!ok && error == ERROR_IO_PENDING) {
    if (WaitForSingleObject(pipe->event, remainingMs(deadline)) != WAIT_OBJECT_0) {
      CancelIoEx(pipe->handle, &overlapped);
      // The call may have finished meanwhile; what it moved counts.
      if (GetOverlappedResult(pipe->handle, &overlapped, moved, TRUE)) return Step::kDone;
      *moved = 0;
      return GetLastError() == ERROR_OPERATION_ABORTED ? Step::kTimedOut : Step::kFailed;
    }
    ok = GetOverlappedResult(pipe->handle, &overlapped, moved, FALSE);
    error = ok ? ERROR_SUCCESS : GetLastError();
  } else if (ok) {
    GetOverlappedResult(pipe->handle, &overlapped, moved, FALSE);
  }
  if (ok) return Step::kDone;
  if (error == ERROR_MORE_DATA) {  // a message-mode read took part of a message
    GetOverlappedResult(pipe->handle, &overlapped, moved, FALSE);
    return Step::kDone;
  }
  if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_HANDLE_EOF)
    return Step::kClosed;
  return Step::kFailed;
}

}  // namespace

Pipe *openPipe(const char *name, PipeAccess access, PipeDeadline deadline) {
  if (!isPipeName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  DWORD rights = access == PipeAccess::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  for (;;) {
    HANDLE handle = CreateFileA(name, rights, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      if (event == nullptr) {
        CloseHandle(handle);
        return nullptr;
      }
      return new Pipe{handle, event, access};
    }
    // Every instance is busy: wait for one to come free, within the deadline.
    if (GetLastError() != ERROR_PIPE_BUSY) return nullptr;
    DWORD ms = remainingMs(deadline);
    if (ms == 0 || !WaitNamedPipeA(name, ms)) {
      SetLastError(ERROR_TIMEOUT);
      return nullptr;
    }
  }
}

void closePipe(Pipe *pipe) {
  if (pipe == nullptr) return;
  CloseHandle(pipe->handle);
  CloseHandle(pipe->event);
  delete pipe;
}

PipeIo writePipe(Pipe *pipe, const void *data, uint32_t size, uint32_t *written, PipeDeadline deadline) {
  *written = 0;
  if (pipe == nullptr || pipe->access != PipeAccess::kReadWrite) {
    SetLastError(ERROR_INVALID_HANDLE);
    return PipeIo::kFailed;
  }
  auto *bytes = const_cast<char *>(static_cast<const char *>(data));  // WriteFile only reads them
  while (*written < size) {
    DWORD moved = 0;
    Step step = transfer(pipe, false, bytes + *written, size - *written, &moved, deadline);
    *written += moved;
    if (step == Step::kTimedOut) return PipeIo::kTimedOut;
    if (step != Step::kDone) return PipeIo::kFailed;
  }
  return PipeIo::kOk;
}

PipeIo readPipe(Pipe *pipe, void *buffer, uint32_t size, uint32_t *read, PipeDeadline deadline) {
  *read = 0;
  if (pipe == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return PipeIo::kFailed;
  }
  auto *bytes = static_cast<char *>(buffer);
  while (*read < size) {
    DWORD moved = 0;
    Step step = transfer(pipe, true, bytes + *read, size - *read, &moved, deadline);
    *read += moved;
    if (step == Step::kClosed) return PipeIo::kOk;
    if (step == Step::kTimedOut) return PipeIo::kTimedOut;
    if (step == Step::kFailed) return PipeIo::kFailed;
  }
  return PipeIo::kOk;
}

PipeIo readPipeSome(Pipe *pipe, void *buffer, uint32_t size, uint32_t *read, PipeDeadline deadline) {
  *read = 0;
  if (pipe == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return PipeIo::kFailed;
  }
  if (size == 0) return PipeIo::kOk;
  DWORD moved = 0;
  Step step = transfer(pipe, true, buffer, size, &moved, deadline);
  *read = moved;
  if (step == Step::kDone || step == Step::kClosed) return PipeIo::kOk;
  return step == Step::kTimedOut ? PipeIo::kTimedOut : PipeIo::kFailed;
}

bool processSessionId(uint32_t processId, uint32_t *session) {
  // Looked up at run time: not every system the program starts on has it.
  using SessionOf = BOOL(WINAPI *)(DWORD, DWORD *);
  static const SessionOf sessionOf = [] {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC found = kernel != nullptr ? GetProcAddress(kernel, "ProcessIdToSessionId") : nullptr;
    return reinterpret_cast<SessionOf>(reinterpret_cast<void *>(found));
  }();
  DWORD id = 0;
  if (sessionOf == nullptr || !sessionOf(processId, &id)) return false;
  *session = id;
  return true;
}

void clearLastError() { SetLastError(ERROR_SUCCESS); }

}  // namespace ryx::platform
