// SPDX-License-Identifier: MIT
// Owned C text from the C allocator: the in-program library hands texts out
// this way and releases them with free().
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>

namespace ryx {

struct FreeDeleter {
  void operator()(void *p) const { std::free(p); }
};

using CString = std::unique_ptr<char, FreeDeleter>;

// A copy of `text` (null stays null); null also when memory runs out.
inline CString copyCString(const char *text) { return CString(text != nullptr ? strdup(text) : nullptr); }

}  // namespace ryx
