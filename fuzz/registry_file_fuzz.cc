// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the registry hive reader; whatever it accepts
// must write back to text that reads to the same hive.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/posix/registry_file.h"

using namespace ryx::platform::regfile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  HiveData hive;
  std::string error;
  if (!parseHive(text, "HKEY_CURRENT_USER", &hive, &error)) return 0;
  std::string written = formatHive(hive, "HKEY_CURRENT_USER");
  HiveData again;
  if (!parseHive(written, "HKEY_CURRENT_USER", &again, &error)) abort();
  if (formatHive(again, "HKEY_CURRENT_USER") != written) abort();
  return 0;
}
