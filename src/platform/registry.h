// SPDX-License-Identifier: MIT
// The registry as the program sees it: two hives, keys opened with access
// flags, typed values queried into the caller's buffer.  Results are the
// registry's own status codes so that callers test for "not found" and
// "more data" the same way on every back-end.
#pragma once

#include <cstdint>
#include <memory>

namespace ryx::platform {

enum class Hive { CurrentUser, LocalMachine };

// Status codes of registry calls.
enum RegStatus : long {
  kRegOk = 0,
  kRegFileNotFound = 2,
  kRegAccessDenied = 5,
  kRegInvalidParameter = 87,
  kRegMoreData = 234,
  kRegFailed = 1010,  // the hive could not be read or written
};

// Access flags, with the values they carry on Windows.
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr uint32_t kKeyNotify = 0x0010;
constexpr uint32_t kKeyWow64_64Key = 0x0100;
constexpr uint32_t kKeyWow64_32Key = 0x0200;
constexpr uint32_t kReadControl = 0x20000;
constexpr uint32_t kKeyRead = kReadControl | kKeyQueryValue | kKeyEnumerateSubKeys | kKeyNotify;  // 0x20019
constexpr uint32_t kKeyWrite = kReadControl | kKeySetValue | kKeyCreateSubKey;                    // 0x20006

// Value types.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

class RegKey;
struct RegKeyDeleter {
  void operator()(RegKey *key) const;
};
// An open key; closing is releasing the pointer.
using RegKeyPtr = std::unique_ptr<RegKey, RegKeyDeleter>;

// Opens an existing key.  kRegFileNotFound when it does not exist.
long regOpenKey(Hive hive, const char *subKey, uint32_t access, RegKeyPtr *out);

// Opens a key, creating it (and its parents) when it does not exist.
long regCreateKey(Hive hive, const char *subKey, uint32_t access, RegKeyPtr *out);

// Reads a value.  `data` may be null to ask only for type and size.  On
// entry *size is the room in `data`; on return the value's size.  A value
// larger than the room gives kRegMoreData and copies nothing.
long regQueryValue(RegKey *key, const char *name, uint32_t *type, void *data, uint32_t *size);

// Stores a value of the given type and bytes (a REG_SZ includes its NUL).
long regSetValue(RegKey *key, const char *name, uint32_t type, const void *data, uint32_t size);

}  // namespace ryx::platform
