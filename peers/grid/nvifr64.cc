// SPDX-License-Identifier: MIT
// Stand-in for NVIDIA's GRID capture library, built under its file name
// NvIFR64.dll.  The program only checks that it loads.  So that a test can
// tell whether it was loaded at all, loading it appends the line
// "loaded <pid>\n" to the file named by the environment variable
// RYX_GRID_RECORD (nothing when it is unset).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

__attribute__((constructor)) void recordLoad() {
  const char *record = getenv("RYX_GRID_RECORD");
  if (record == nullptr || *record == '\0') return;
  char line[64];
  int length = snprintf(line, sizeof line, "loaded %ld\n", static_cast<long>(getpid()));
  int fd = open(record, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (write(fd, line, static_cast<size_t>(length)) != length) {
    // Nothing to do: a test that needs the mark will see it missing.
  }
  close(fd);
}

}  // namespace
