// SPDX-License-Identifier: MIT
// The GDK side of OpenGL windows on GDK's Windows back-end: a GdkWindow is
// its HWND.  Windows sets a window's pixel format on its device once the
// window exists, so the window is made as the caller asks; an input-only
// window is a real (transparent) window there, with a device of its own.
//
// Written against gdkwin32.h's documented API; no GDK for Windows is at
// hand where this tree is built, so this file has not been compiled.
#include "platform/gl_window.h"

#include <gdk/gdkwin32.h>

namespace ryx::platform {

bool prepareGlWindowAttributes(const GlPixelFormat &format, GdkWindowAttr *attributes, gint *attributesMask) {
  (void)format;  // chosen and set on the device, after the window is made
  if (attributes == nullptr || attributesMask == nullptr) return false;
  GdkDisplay *display = gdk_display_get_default();
  return display != nullptr && GDK_IS_WIN32_DISPLAY(display);
}

const char *glWindowGdkBackend() { return "win32"; }

uint64_t nativeWindowHandle(GdkWindow *window) {
  if (window == nullptr || !GDK_IS_WIN32_WINDOW(window)) return 0;
  // GDK gives the HWND as a generic handle (HGDIOBJ).
  return reinterpret_cast<uintptr_t>(gdk_win32_window_get_handle(window));
}

GlDevice *getGlDevice(GdkWindow *window) {
  NativeWindow native;
  native.handle = nativeWindowHandle(window);
  if (native.handle == 0) return nullptr;
  return getGlDevice(native);
}

}  // namespace ryx::platform
