// SPDX-License-Identifier: MIT
// Plain files as the configuration code reads them: whether a path exists,
// what an open stream reads from, and line reads.
#pragma once

#include <cstdint>
#include <cstdio>

namespace ryx::platform {

// Whether a file or folder exists at `path`.
bool pathExists(const char *path);

struct FileFacts {
  bool isFolder = false;
  bool isRegular = false;
  uint64_t size = 0;  // of a regular file
};

// What `stream` was opened on; false when the system cannot tell.
bool streamFacts(FILE *stream, FileFacts *facts);

// fgets for a stream only the calling thread reads: where the C runtime
// can, it skips the per-call stream lock.
char *readLine(char *buffer, int size, FILE *stream);

}  // namespace ryx::platform
