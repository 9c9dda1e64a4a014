// SPDX-License-Identifier: MIT
// X11 fixes a window's pixel format (its visual) when the window is made,
// so the GDK side asks the GLX code for the visual before it makes one.
#pragma once

#include <X11/Xlib.h>

#include "platform/gl_native.h"

namespace ryx::platform {

// The visual closest to `format` on that screen of the display; 0 when the
// display has no GLX or offers no such visual.
VisualID chooseGlxVisual(Display *display, int screen, const GlPixelFormat &format);

}  // namespace ryx::platform
