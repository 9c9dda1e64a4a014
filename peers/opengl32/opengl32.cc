// SPDX-License-Identifier: MIT
// Stand-in for the RYX OpenGL wrapper, the library the program loads as
// "opengl32".  The program recognises the wrapper by its export
// "ryxEnabled"; the Kestrane trigger hands the session's connection
// information to glRyxSetConnectionInfo.  Every other GL entry point is the
// system's: this library is linked against libGL.so.1 (kept as a needed
// library even though nothing here calls it), so a look-up in this library's
// handle (dlsym) or a program linked to it reaches the system's GL functions
// through its dependency, with no per-function forwarding code to get wrong.
//
// Built three ways (one folder each, every file named opengl32.so):
//   opengl32/                     both exports
//   opengl32/no-connection-info/  without glRyxSetConnectionInfo (the
//                                 driver that lacks the entry point)
//   opengl32/plain/               neither (a plain GL library)
//
// glRyxSetConnectionInfo appends one line per call to the file named by the
// environment variable RYX_WRAPPER_RECORD (nothing when it is unset), six
// fields separated by a tab:
//   port  conference-id  conference-key  key-hex  key-length  backend-ids
// port and key-length in decimal; key-hex is the key's bytes as lowercase
// hex pairs (empty for no bytes or a null pointer); backend-ids is the list
// joined by "," (empty for an empty list).  In the text fields a backslash,
// tab, line feed, carriage return and "," are written \\ \t \n \r \, and
// other control bytes \xHH; a null text or list is written \N.  The line
// goes out in one write on a file opened for appending, so concurrent
// callers do not interleave.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef RYX_WRAPPER_WITHOUT_RYX_ENABLED
// The wrapper's mark; its value is not part of the contract.
extern "C" __attribute__((visibility("default"))) int ryxEnabled(void) { return 1; }
#endif

#ifndef RYX_WRAPPER_WITHOUT_CONNECTION_INFO
namespace {

void appendText(std::string *line, const char *text) {
  if (text == nullptr) {
    *line += "\\N";
    return;
  }
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != '\0'; ++p) {
    switch (*p) {
      case '\\': *line += "\\\\"; break;
      case '\t': *line += "\\t"; break;
      case '\n': *line += "\\n"; break;
      case '\r': *line += "\\r"; break;
      case ',': *line += "\\,"; break;
      default:
        if (*p < 0x20 || *p == 0x7f) {
          char escaped[8];
          snprintf(escaped, sizeof escaped, "\\x%02x", *p);
          *line += escaped;
        } else {
          *line += static_cast<char>(*p);
        }
    }
  }
}

}  // namespace

// The driver's entry point: port (the 16-bit port widened), conference id,
// conference key, the encryption key's bytes and length, the back-end ids
// (a null-terminated list).  Returns 1 when the line was recorded, else 0.
extern "C" __attribute__((visibility("default"))) int glRyxSetConnectionInfo(uint32_t port, const char *conferenceId,
                                                                             const char *conferenceKey, const void *key,
                                                                             uint32_t keyLength,
                                                                             const char *const *backendIds) {
  const char *record = getenv("RYX_WRAPPER_RECORD");
  if (record == nullptr || *record == '\0') return 0;

  char number[16];
  snprintf(number, sizeof number, "%u\t", port);
  std::string line = number;
  appendText(&line, conferenceId);
  line += '\t';
  appendText(&line, conferenceKey);
  line += '\t';
  if (key != nullptr) {
    static const char kHex[] = "0123456789abcdef";
    const auto *bytes = static_cast<const unsigned char *>(key);
    for (uint32_t i = 0; i < keyLength; ++i) {
      line += kHex[bytes[i] >> 4];
      line += kHex[bytes[i] & 0x0f];
    }
  }
  snprintf(number, sizeof number, "\t%u\t", keyLength);
  line += number;
  if (backendIds == nullptr) {
    line += "\\N";
  } else {
    for (const char *const *id = backendIds; *id != nullptr; ++id) {
      if (id != backendIds) line += ',';
      appendText(&line, *id);
    }
  }
  line += '\n';

  int fd = open(record, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  ssize_t written = write(fd, line.data(), line.size());
  close(fd);
  return written == static_cast<ssize_t>(line.size()) ? 1 : 0;
}
#endif
