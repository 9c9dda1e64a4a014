// SPDX-License-Identifier: MIT
#include "state/error_reporter.h"

#include <glib.h>

namespace ryx {

ErrorReporter::~ErrorReporter() { g_free(message); }

void ErrorReporter::setMessage(const char *text) {
  char *copy = g_strdup(text);  // copy first: `text` may be the old message
  g_free(message);
  message = copy;
}

}  // namespace ryx
