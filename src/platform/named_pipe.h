// SPDX-License-Identifier: MIT
// The client end of named pipes served by other programs of this machine,
// and the login session the process belongs to.
//
// A pipe is named "\\.\pipe\NAME".  Opening only reaches a pipe that a
// server already offers.  Writes move the whole byte count; reads either
// wait for the whole count (readPipe) or take what the next arrival brings
// (readPipeSome).  Every call ends at the caller's deadline, so a peer that
// stops answering never holds the caller for good.
#pragma once

#include <chrono>
#include <cstdint>

namespace ryx::platform {

struct Pipe;  // an open client end

enum class PipeAccess {
  kRead,  // reading only; writes fail
  kReadWrite,
};

using PipeDeadline = std::chrono::steady_clock::time_point;

enum class PipeIo {
  kOk,        // done; a read may have stopped short where the server closed
  kFailed,    // the pipe is broken or the handle cannot do this
  kTimedOut,  // the deadline passed first; part of the bytes may have moved
};

// Opens the existing pipe `name` ("\\.\pipe\NAME").  Null when no server
// offers it, when the name is not a pipe name, or when the server does not
// take the connection before the deadline.
Pipe *openPipe(const char *name, PipeAccess access, PipeDeadline deadline);

// Closes the client end; null is allowed.
void closePipe(Pipe *pipe);

// Writes all `size` bytes; *written says how many went.
PipeIo writePipe(Pipe *pipe, const void *data, uint32_t size, uint32_t *written, PipeDeadline deadline);

// Reads until `size` bytes came, the server closed (kOk, *read < size) or
// the deadline passed.
PipeIo readPipe(Pipe *pipe, void *buffer, uint32_t size, uint32_t *read, PipeDeadline deadline);

// Waits for the next bytes and returns those that are there, at most
// `size`; *read is 0 when the server closed.
PipeIo readPipeSome(Pipe *pipe, void *buffer, uint32_t size, uint32_t *read, PipeDeadline deadline);

// The login session of a process.  Leaves *session untouched and returns
// false when the process has none that the platform can tell.
bool processSessionId(uint32_t processId, uint32_t *session);

// Resets the calling thread's last system error to "none".
void clearLastError();

}  // namespace ryx::platform
