// SPDX-License-Identifier: MIT
// The server status as the status icon and dialog display it: whether RYX
// is switched on for the user, and the current status code and message.
// The periodic check publishes the state checks here; the rendering server
// check writes its own code and message.  Created on first use, kept until
// the process ends.
#pragma once

#include <cstdint>

#include "common/singleton.h"
#include "state/status.h"

namespace ryx {

class ErrorReporter : public Singleton<ErrorReporter> {
 public:
  virtual ~ErrorReporter();  // frees message
  ErrorReporter(const ErrorReporter &) = delete;
  ErrorReporter &operator=(const ErrorReporter &) = delete;

  // Replaces message with a copy of `text` (null clears it).
  void setMessage(const char *text);

  bool ryxOn = false;
  int32_t code = STATUS_OK;
  char *message = nullptr;  // owned, C allocator

 private:
  friend class Singleton<ErrorReporter>;
  ErrorReporter() = default;
};

}  // namespace ryx
