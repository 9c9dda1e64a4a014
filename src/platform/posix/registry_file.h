// SPDX-License-Identifier: MIT
// A registry hive held as text in the registry export format, so a person
// can read and edit it:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Vezo Software\Vezo Lumora]
//   "status"=dword:00000001
//   "InstallPath"="/opt/Vezo/ryx"
//   "blob"=hex:01,02,03
//
// Key and value names compare without regard to ASCII case, as the
// registry does; the case of the first writer is kept.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ryx::platform::regfile {

struct Value {
  std::string name;  // empty for the key's default value ("@")
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

struct Key {
  std::string path;  // below the hive root, components joined by '\'
  std::vector<Value> values;
};

struct HiveData {
  std::vector<Key> keys;

  // The key with exactly this path, or null.
  Key *findKey(std::string_view path);
  // Whether the key exists, listed itself or as the parent of a listed key.
  bool keyExists(std::string_view path) const;
  // Finds or appends the key; *created tells whether it was appended.
  Key &ensureKey(std::string_view path, bool *created);
};

Value *findValue(Key &key, std::string_view name);

// Parses a hive file.  `rootName` is the hive's name in key headers
// ("HKEY_CURRENT_USER").  On failure returns false with a reason.
bool parseHive(std::string_view text, std::string_view rootName, HiveData *out, std::string *error);

// Writes a hive in the same format (round-trips through parseHive).
std::string formatHive(const HiveData &hive, std::string_view rootName);

// Case-insensitive ASCII comparison of names.
bool namesEqual(std::string_view a, std::string_view b);

}  // namespace ryx::platform::regfile
