// SPDX-License-Identifier: MIT
// The GDK side of an OpenGL window: the attributes a GDK window needs so
// that OpenGL can draw to it, the GDK back-end that goes with the native
// OpenGL code, and the native window behind a GdkWindow.  Everything past
// the window itself (device, pixel format, context) is in gl_native.h.
#pragma once

#include <gdk/gdk.h>

#include <cstdint>

#include "platform/gl_native.h"

namespace ryx::platform {

// Completes the attributes of a new top-level window (no parent) so that
// OpenGL can draw to it in `format`: a window that only takes input cannot
// hold a drawable everywhere, and some displays fix the pixel format when
// the window is made.  The window keeps the size and place the caller gave.
// False, with nothing changed, when this display cannot draw with OpenGL.
bool prepareGlWindowAttributes(const GlPixelFormat &format, GdkWindowAttr *attributes, gint *attributesMask);

// The GDK back-end this window code draws through ("x11" here; "win32" on
// Windows), for gdk_set_allowed_backends before GTK starts.
const char *glWindowGdkBackend();

// The window's handle in the native window system; 0 when it has none.
uint64_t nativeWindowHandle(GdkWindow *window);

// The drawing device of a GDK window: that of its native window, or null
// when it has none OpenGL can draw to.
GlDevice *getGlDevice(GdkWindow *window);

}  // namespace ryx::platform
