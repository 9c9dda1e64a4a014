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

// A copy of the first `length` bytes of `text`, NUL-terminated; null when
// memory runs out.
inline CString copyCString(const char *text, size_t length) {
  auto *copy = static_cast<char *>(std::malloc(length + 1));
  if (copy == nullptr) return CString();
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return CString(copy);
}

// Whether two texts are equal with ASCII letters compared regardless of
// case, as the "C" locale compares them.
inline bool equalsIgnoringCase(const char *a, const char *b) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  for (;; ++a, ++b) {
    if (lower(static_cast<unsigned char>(*a)) != lower(static_cast<unsigned char>(*b))) return false;
    if (*a == '\0') return true;
  }
}

}  // namespace ryx
