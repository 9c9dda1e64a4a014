// SPDX-License-Identifier: MIT
// The server status codes shared by the state checks, the periodic check,
// the rendering server check, the status icon and the status dialog, and
// the messages the state checks store with them.
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

}  // namespace ryx
