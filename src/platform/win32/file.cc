// SPDX-License-Identifier: MIT
#include "platform/file.h"

#include <windows.h>
#include <sys/stat.h>

namespace ryx::platform {

bool pathExists(const char *path) {
  return path != nullptr && *path != '\0' && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool streamFacts(FILE *stream, FileFacts *facts) {
  struct _stat64 st;
  int fd = stream != nullptr ? _fileno(stream) : -1;
  if (fd < 0 || _fstat64(fd, &st) != 0) return false;
  facts->isFolder = (st.st_mode & _S_IFMT) == _S_IFDIR;
  facts->isRegular = (st.st_mode & _S_IFMT) == _S_IFREG;
  facts->size = facts->isRegular && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  return true;
}

// The C runtime locks the stream per call; it has no unlocked line read.
char *readLine(char *buffer, int size, FILE *stream) { return fgets(buffer, size, stream); }

}  // namespace ryx::platform
