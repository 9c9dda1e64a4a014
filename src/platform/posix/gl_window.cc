// SPDX-License-Identifier: MIT
// The GDK side of OpenGL windows on GDK's X11 back-end: a GdkWindow is its
// X window on the display's connection.  Other GDK back-ends give no native
// window, so OpenGL gets no device.
#include "platform/gl_window.h"

#include <gdk/gdkx.h>

#include "platform/posix/glx_visual.h"

namespace ryx::platform {

bool prepareGlWindowAttributes(const GlPixelFormat &format, GdkWindowAttr *attributes, gint *attributesMask) {
  if (attributes == nullptr || attributesMask == nullptr) return false;
  GdkDisplay *display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
  GdkScreen *screen = gdk_display_get_default_screen(display);
  VisualID chosen =
      chooseGlxVisual(gdk_x11_display_get_xdisplay(display), gdk_x11_screen_get_screen_number(screen), format);
  GdkVisual *visual = chosen != 0 ? gdk_x11_screen_lookup_visual(screen, chosen) : nullptr;
  if (visual == nullptr) return false;
  // An input-only window has no pixels for GLX to draw to; an input-output
  // one in the GL visual does.  GDK makes a parentless input-only window a
  // temporary top-level (no frame, no window manager); the window keeps
  // that type.
  if (attributes->wclass == GDK_INPUT_ONLY) attributes->window_type = GDK_WINDOW_TEMP;
  attributes->wclass = GDK_INPUT_OUTPUT;
  attributes->visual = visual;
  *attributesMask |= GDK_WA_VISUAL;
  return true;
}

// GLX through GDK's X11 back-end; on a Wayland desktop GDK goes through Xwayland.
const char *glWindowGdkBackend() { return "x11"; }

uint64_t nativeWindowHandle(GdkWindow *window) {
  if (window == nullptr || !GDK_IS_X11_WINDOW(window)) return 0;
  return gdk_x11_window_get_xid(window);
}

GlDevice *getGlDevice(GdkWindow *window) {
  if (window == nullptr || !GDK_IS_X11_WINDOW(window)) return nullptr;
  NativeWindow native;
  native.handle = gdk_x11_window_get_xid(window);
  native.display = gdk_x11_display_get_xdisplay(gdk_window_get_display(window));
  return getGlDevice(native);
}

}  // namespace ryx::platform
