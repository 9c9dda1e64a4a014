// SPDX-License-Identifier: MIT
// The server-state checks for the user's desktop: is the RYX OpenGL wrapper
// installed, does the NVIDIA GRID capture library load where DirectX
// capture is on, and has the user switched RYX on.  The last run of the
// checks is held as a status code with its message.  One object is made at
// start-up and handed to the config manager, the icon and the dialog.
#pragma once

#include <cstdint>

#include "common/cstring.h"
#include "state/status.h"

namespace ryx {

// Per-user registry values under the product key, both 32-bit.
constexpr const char *kStatusValue = "status";                // nonzero: RYX switched on
constexpr const char *kDirectXStatusValue = "directXStatus";  // nonzero: GRID check applies

class Commands {
 public:
  Commands() = default;
  Commands(const Commands &) = delete;
  Commands &operator=(const Commands &) = delete;

  // "directXStatus" when `directX`, else "status".  A value that is missing
  // or does not fit in 4 bytes makes a new user: both values are written as
  // 1 and the result is whether both writes worked.
  bool isRyxOn(bool directX);

  // Whether the "opengl32" library that loads is the RYX wrapper, i.e.
  // exports "ryxEnabled".  No library at all prints an "ERROR: " line.
  bool isWrapperInstalled() const;

  // Whether the GRID capture library loads from the system folder.  Passes
  // without loading anything while an external rendering server is used;
  // otherwise the library is tried once and that outcome kept, so with the
  // one object a process has, a driver installed later is only seen after
  // a restart.
  bool isGridAvailable();

  // "force_local_rendering" is off and "external_rendering_server" is set.
  bool usesExternalRenderingServer() const;

  // Runs the checks and sets code and message: STATUS_NOT_ENABLED when the
  // wrapper is missing, else STATUS_GRID_LIBRARY_MISSING when "directXStatus"
  // is on and the GRID library does not load, else STATUS_OK.  Returns
  // whether the wrapper was found.
  bool updateStatus();

  // The dialog's ON/OFF switch: for "status" and then "directXStatus", clear
  // the status, run updateStatus and, only when the wrapper is installed,
  // write the value (1 on, 0 off).  Returns whether both values were written;
  // the dialog ignores it, as a failed write shows at the next periodic check.
  bool switchRyx(bool on);

  int32_t code() const { return code_; }
  const char *message() const { return message_.get(); }  // null for none

  // Back to STATUS_OK without a message.
  void clearStatus();

 private:
  void setStatus(int32_t code, const char *message);

  bool gridAttempted_ = false;
  bool gridLoaded_ = false;
  int32_t code_ = STATUS_OK;
  CString message_;  // C allocator, replaced (and freed) on every change
};

}  // namespace ryx
