// SPDX-License-Identifier: MIT
// The registry itself.  The status codes and access flags of registry.h
// carry the system's own values, so they pass through unchanged.
#include "platform/registry.h"

#include <windows.h>

namespace ryx::platform {

static_assert(kRegMoreData == ERROR_MORE_DATA && kRegFileNotFound == ERROR_FILE_NOT_FOUND,
              "status codes are the system's");
static_assert(kKeyWow64_32Key == KEY_WOW64_32KEY && kKeyRead == KEY_READ && kKeyWrite == KEY_WRITE,
              "access flags are the system's");

class RegKey {
 public:
  HKEY handle;
};

void RegKeyDeleter::operator()(RegKey *key) const {
  RegCloseKey(key->handle);
  delete key;
}

namespace {

HKEY root(Hive hive) { return hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

long keep(LONG rc, HKEY handle, RegKeyPtr *out) {
  if (rc == ERROR_SUCCESS) out->reset(new RegKey{handle});
  return rc;
}

}  // namespace

long regOpenKey(Hive hive, const char *subKey, uint32_t access, RegKeyPtr *out) {
  if (out == nullptr) return kRegInvalidParameter;
  out->reset();
  HKEY handle = nullptr;
  LONG rc = RegOpenKeyExA(root(hive), subKey != nullptr ? subKey : "", 0, access, &handle);
  return keep(rc, handle, out);
}

long regCreateKey(Hive hive, const char *subKey, uint32_t access, RegKeyPtr *out) {
  if (out == nullptr) return kRegInvalidParameter;
  out->reset();
  HKEY handle = nullptr;
  LONG rc = RegCreateKeyExA(root(hive), subKey != nullptr ? subKey : "", 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                            nullptr, &handle, nullptr);
  return keep(rc, handle, out);
}

long regQueryValue(RegKey *key, const char *name, uint32_t *type, void *data, uint32_t *size) {
  if (key == nullptr || (data != nullptr && size == nullptr)) return kRegInvalidParameter;
  DWORD valueType = 0;
  DWORD room = size != nullptr ? *size : 0;
  LONG rc = RegQueryValueExA(key->handle, name, nullptr, &valueType, static_cast<BYTE *>(data),
                             size != nullptr ? &room : nullptr);
  if ((rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) && type != nullptr) *type = valueType;
  if ((rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) && size != nullptr) *size = room;
  return rc;
}

long regSetValue(RegKey *key, const char *name, uint32_t type, const void *data, uint32_t size) {
  if (key == nullptr || (data == nullptr && size > 0)) return kRegInvalidParameter;
  return RegSetValueExA(key->handle, name, 0, type, static_cast<const BYTE *>(data), size);
}

}  // namespace ryx::platform
