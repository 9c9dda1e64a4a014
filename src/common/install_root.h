// SPDX-License-Identifier: MIT
// Where the product is installed, path joining, the user's home folder, and
// the 32-bit values under the product's per-user registry key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "common/cstring.h"

namespace ryx {

constexpr size_t kInstallRootSize = 1024;
constexpr const char *kProductKey = "Software\\Vezo Software\\Vezo Lumora";
constexpr const char *kKestraneKey = "Software\\Vezo Software\\Vezo Lumora Kestrane";

// Fills `buffer` (kInstallRootSize bytes) with the install root, which ends
// with the path separator.
void getInstallRoot(char *buffer);

// Joins the components up to the first null; empty ones are skipped.  Null
// when the result would not fit in 258 characters.
CString joinPath(std::initializer_list<const char *> components);

// HOMEDRIVE followed by HOMEPATH when both are set, else the user's home.
std::string getHomeFolder();

bool createProductKey();
bool readProductDword(const char *name, uint32_t *value);
bool writeProductDword(const char *name, uint32_t value);

}  // namespace ryx
