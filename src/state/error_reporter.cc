// SPDX-License-Identifier: MIT
#include "state/error_reporter.h"

#include <cstdlib>

#include "common/cstring.h"

namespace ryx {

ErrorReporter::~ErrorReporter() { std::free(message); }

void ErrorReporter::setMessage(const char *text) {
  CString copy = copyCString(text);  // copy first: `text` may be the old message
  std::free(message);
  message = copy.release();
}

}  // namespace ryx
