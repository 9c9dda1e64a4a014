// SPDX-License-Identifier: MIT
// The server status codes shared by the state checks, the periodic check,
// the rendering server check, the status icon and the status dialog, the
// messages the state checks store with them, and the one place that
// decides what a code shows: whether it is published, and how the icon and
// the status window present it.
#pragma once

#include <cstdint>

namespace ryx {

// The values are fixed: the icon and the dialog compare against them.
constexpr int32_t STATUS_OK = 0;
// Produced by nothing in this program; the dialog shows every code without
// a meaning of its own as an error switching RYX on.
constexpr int32_t STATUS_SWITCH_ON_FAILED = 2;
constexpr int32_t STATUS_NOT_ENABLED = 3;
// Produced by nothing in this program; recognised by the periodic check and
// the dialog.
constexpr int32_t STATUS_NOT_FUNCTIONING = 4;
constexpr int32_t STATUS_GRID_LIBRARY_MISSING = 5;
// Written by the rendering server check straight into the ErrorReporter.
constexpr int32_t STATUS_RENDERING_SERVER_ERROR = 100;

constexpr const char *kNotEnabledMessage =
    "RYX is NOT enabled on this system. Please contact your system administrator.";
constexpr const char *kGridLibraryMissingMessage =
    "Unable to load NVIDIA GRID library.\n"
    "Please contact your system administrator to update the NVIDIA driver to the latest version.";

// Whether the state checks' `code` reaches the published record, which
// holds `publishedCode` now.  Desktop capture makes the switch's codes
// moot, a missing 32-bit wrapper shows only where the settings warn of it,
// and a rendering server error stays until the rendering server check runs
// again.
bool isStatusPublished(int32_t code, int32_t publishedCode, bool desktopCapture, bool warnMissing32Bit);

// How the icon and the status window present a published code.
struct StatusView {
  enum class Panel { kNone, kError, kNotFunctioning };
  enum class StateWord { kKept, kDisabled, kHidden };

  bool error = false;             // the icon's error image, and the window opens
  Panel panel = Panel::kNone;     // the coloured panel's look
  bool panelShown = false;        // the panel's frame (a panel look may still apply, hidden)
  const char *heading = nullptr;  // the panel's title, null for none
  StateWord state = StateWord::kKept;
  bool switchShown = true;    // the application list and the ON/OFF switch
  bool warningShown = false;  // the "contact your administrator" line
};

// `gridInUse`: the "use_nvidia_grid" setting, without which a missing GRID
// library is no error.
StatusView statusViewOf(int32_t code, bool gridInUse);

}  // namespace ryx
