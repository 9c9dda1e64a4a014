// SPDX-License-Identifier: MIT
#include "platform/file.h"

#include <sys/stat.h>

namespace ryx::platform {

bool pathExists(const char *path) {
  struct stat st;
  return path != nullptr && *path != '\0' && stat(path, &st) == 0;
}

bool streamFacts(FILE *stream, FileFacts *facts) {
  struct stat st;
  int fd = stream != nullptr ? fileno(stream) : -1;
  if (fd < 0 || fstat(fd, &st) != 0) return false;
  facts->isFolder = S_ISDIR(st.st_mode);
  facts->isRegular = S_ISREG(st.st_mode);
  facts->size = facts->isRegular && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  return true;
}

char *readLine(char *buffer, int size, FILE *stream) { return fgets_unlocked(buffer, size, stream); }

}  // namespace ryx::platform
