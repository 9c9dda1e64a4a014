// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the INI parser and reads back what it stored.
// The parser reports on standard error; scripts/fuzz closes it for the
// target (libFuzzer keeps its own output).
#include <cstdint>
#include <cstdio>

#include "common/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *stream = fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (stream == nullptr) return 0;
  ryx::IniFile file(nullptr);
  file.parse(stream);
  fclose(stream);
  file.getValue("Logging", "log_level");
  file.getValue("", "x");
  return 0;
}
