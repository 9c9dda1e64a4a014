// SPDX-License-Identifier: MIT
// OpenGL windows through GLX on GDK's X11 back-end.  Other GDK back-ends,
// and X servers without GLX, give no device, so every later step fails.
//
// Every GLX and GL function comes from the "opengl32" library as the
// dynamic-library loader finds it (the product's wrapper, which carries the
// system's GL as a dependency, or the system's libGL itself), looked up by
// name in that library.  glXGetProcAddress is never used: it answers for
// any name, so it cannot tell whether the driver has an entry point.
//
// X11 fixes a window's pixel format (its visual) when the window is made,
// so the visual is chosen before the window exists; choosing again on the
// device gives the same visual, and setting it checks that the window has
// it.  GLX reports its failures as X errors, which GDK would treat as
// fatal: every call that can raise one runs inside GDK's error trap.
#include "platform/gl_window.h"

#include <GL/gl.h>
#include <GL/glx.h>
#include <gdk/gdkx.h>

#include <vector>

#include "platform/dynamic_library.h"

namespace ryx::platform {

struct GlDevice {
  GdkDisplay *display;
  Display *xdisplay;
  Window window;
  VisualID visual;  // the window's own visual
  XVisualInfo *format = nullptr;  // set by setPixelFormat, freed with XFree
};

struct GlContext {
  GdkDisplay *display;
  Display *xdisplay;
  GLXContext context;
};

namespace {

// The functions taken from the process's OpenGL library.
struct GlLibrary {
  Library *library = nullptr;
  Bool (*queryExtension)(Display *, int *, int *) = nullptr;
  XVisualInfo *(*chooseVisual)(Display *, int, int *) = nullptr;
  GLXContext (*createContext)(Display *, XVisualInfo *, GLXContext, Bool) = nullptr;
  Bool (*makeCurrent)(Display *, GLXDrawable, GLXContext) = nullptr;
  void (*swapBuffers)(Display *, GLXDrawable) = nullptr;
  void (*destroyContext)(Display *, GLXContext) = nullptr;
  GLXContext (*getCurrentContext)() = nullptr;
  void (*clear)(GLbitfield) = nullptr;
  void (*clearColor)(GLclampf, GLclampf, GLclampf, GLclampf) = nullptr;
  void (*flush)() = nullptr;

  bool hasGlx() const {
    return queryExtension != nullptr && chooseVisual != nullptr && createContext != nullptr &&
           makeCurrent != nullptr && swapBuffers != nullptr && destroyContext != nullptr &&
           getCurrentContext != nullptr;
  }
};

template <typename F>
void take(Library *library, const char *name, F *function) {
  *function = reinterpret_cast<F>(findSymbol(library, name));
}

// Loaded on first use and kept: contexts made from it may live until exit.
const GlLibrary &glLibrary() {
  static const GlLibrary loaded = [] {
    GlLibrary gl;
    gl.library = loadLibrary("opengl32");
    if (gl.library == nullptr) return gl;
    take(gl.library, "glXQueryExtension", &gl.queryExtension);
    take(gl.library, "glXChooseVisual", &gl.chooseVisual);
    take(gl.library, "glXCreateContext", &gl.createContext);
    take(gl.library, "glXMakeCurrent", &gl.makeCurrent);
    take(gl.library, "glXSwapBuffers", &gl.swapBuffers);
    take(gl.library, "glXDestroyContext", &gl.destroyContext);
    take(gl.library, "glXGetCurrentContext", &gl.getCurrentContext);
    take(gl.library, "glClear", &gl.clear);
    take(gl.library, "glClearColor", &gl.clearColor);
    take(gl.library, "glFlush", &gl.flush);
    return gl;
  }();
  return loaded;
}

// The X display behind GDK's default display when that is X11 with GLX.
Display *glxDisplay(GdkDisplay *display) {
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return nullptr;
  const GlLibrary &gl = glLibrary();
  if (!gl.hasGlx()) return nullptr;
  Display *xdisplay = gdk_x11_display_get_xdisplay(display);
  int errorBase = 0;
  int eventBase = 0;
  gdk_x11_display_error_trap_push(display);
  Bool present = gl.queryExtension(xdisplay, &errorBase, &eventBase);
  gdk_x11_display_error_trap_pop_ignored(display);
  return present ? xdisplay : nullptr;
}

// The GLX visual closest to `format`: the exact wish first, then without
// alpha, without depth, and last any RGBA visual, double-buffered if asked.
XVisualInfo *chooseVisual(GdkDisplay *display, Display *xdisplay, const GlPixelFormat &format) {
  const int alpha = format.alphaBits;
  const int channel = format.colorBits > alpha ? (format.colorBits - alpha) / 3 : 1;
  struct Wish {
    int alpha;
    int depth;
    int channel;
  };
  const Wish wishes[] = {
      {alpha, format.depthBits, channel},
      {0, format.depthBits, channel},
      {0, 0, channel},
      {0, 0, 1},
  };
  const int screen = gdk_x11_screen_get_screen_number(gdk_display_get_default_screen(display));
  for (const Wish &wish : wishes) {
    std::vector<int> attributes = {GLX_RGBA,       GLX_RED_SIZE,   wish.channel,   GLX_GREEN_SIZE,
                                   wish.channel,   GLX_BLUE_SIZE,  wish.channel,   GLX_ALPHA_SIZE,
                                   wish.alpha,     GLX_DEPTH_SIZE, wish.depth};
    if (format.doubleBuffer) attributes.push_back(GLX_DOUBLEBUFFER);
    attributes.push_back(None);
    gdk_x11_display_error_trap_push(display);
    XVisualInfo *visual = glLibrary().chooseVisual(xdisplay, screen, attributes.data());
    gdk_x11_display_error_trap_pop_ignored(display);
    if (visual != nullptr) return visual;
  }
  return nullptr;
}

}  // namespace

bool prepareGlWindowAttributes(const GlPixelFormat &format, GdkWindowAttr *attributes, gint *attributesMask) {
  if (attributes == nullptr || attributesMask == nullptr) return false;
  GdkDisplay *display = gdk_display_get_default();
  Display *xdisplay = glxDisplay(display);
  if (xdisplay == nullptr) return false;
  XVisualInfo *chosen = chooseVisual(display, xdisplay, format);
  if (chosen == nullptr) return false;
  GdkVisual *visual = gdk_x11_screen_lookup_visual(gdk_display_get_default_screen(display), chosen->visualid);
  XFree(chosen);
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
  if (window == nullptr || !GDK_IS_X11_WINDOW(window) || gdk_window_is_input_only(window)) return nullptr;
  GdkDisplay *display = gdk_window_get_display(window);
  Display *xdisplay = glxDisplay(display);
  if (xdisplay == nullptr) return nullptr;
  Window xid = gdk_x11_window_get_xid(window);
  Visual *visual = gdk_x11_visual_get_xvisual(gdk_window_get_visual(window));
  if (xid == None || visual == nullptr) return nullptr;
  return new GlDevice{display, xdisplay, xid, XVisualIDFromVisual(visual)};
}

void releaseGlDevice(GlDevice *device) {
  if (device == nullptr) return;
  if (device->format != nullptr) XFree(device->format);
  delete device;
}

int choosePixelFormat(GlDevice *device, const GlPixelFormat &format) {
  if (device == nullptr) return 0;
  XVisualInfo *chosen = chooseVisual(device->display, device->xdisplay, format);
  if (chosen == nullptr) return 0;
  int number = static_cast<int>(chosen->visualid);
  XFree(chosen);
  return number;
}

bool setPixelFormat(GlDevice *device, int pixelFormat, const GlPixelFormat &format) {
  (void)format;  // the number says it all here
  if (device == nullptr || device->format != nullptr || pixelFormat <= 0) return false;
  if (static_cast<VisualID>(pixelFormat) != device->visual) return false;
  XVisualInfo wanted = {};
  wanted.visualid = device->visual;
  int count = 0;
  XVisualInfo *found = XGetVisualInfo(device->xdisplay, VisualIDMask, &wanted, &count);
  if (found == nullptr) return false;
  device->format = found;
  return true;
}

void *findGlFunction(const char *name) {
  const GlLibrary &gl = glLibrary();
  return name != nullptr ? findSymbol(gl.library, name) : nullptr;
}

GlContext *createGlContext(GlDevice *device) {
  if (device == nullptr || device->format == nullptr) return nullptr;
  const GlLibrary &gl = glLibrary();
  gdk_x11_display_error_trap_push(device->display);
  GLXContext context = gl.createContext(device->xdisplay, device->format, nullptr, True);
  int error = gdk_x11_display_error_trap_pop(device->display);
  if (context == nullptr) return nullptr;
  if (error != 0) {
    gdk_x11_display_error_trap_push(device->display);
    gl.destroyContext(device->xdisplay, context);
    gdk_x11_display_error_trap_pop_ignored(device->display);
    return nullptr;
  }
  return new GlContext{device->display, device->xdisplay, context};
}

bool makeGlContextCurrent(GlDevice *device, GlContext *context) {
  if (device == nullptr || context == nullptr) return false;
  gdk_x11_display_error_trap_push(device->display);
  Bool made = glLibrary().makeCurrent(device->xdisplay, device->window, context->context);
  int error = gdk_x11_display_error_trap_pop(device->display);
  return made && error == 0;
}

bool swapGlBuffers(GlDevice *device) {
  if (device == nullptr) return false;
  gdk_x11_display_error_trap_push(device->display);
  glLibrary().swapBuffers(device->xdisplay, device->window);
  return gdk_x11_display_error_trap_pop(device->display) == 0;
}

void deleteGlContext(GlContext *context) {
  if (context == nullptr) return;
  const GlLibrary &gl = glLibrary();
  gdk_x11_display_error_trap_push(context->display);
  if (gl.getCurrentContext() == context->context) gl.makeCurrent(context->xdisplay, None, nullptr);
  gl.destroyContext(context->xdisplay, context->context);
  gdk_x11_display_error_trap_pop_ignored(context->display);
  delete context;
}

void clearGl(uint32_t mask) {
  if (auto clear = glLibrary().clear) clear(mask);
}

void setGlClearColor(float red, float green, float blue, float alpha) {
  if (auto clearColor = glLibrary().clearColor) clearColor(red, green, blue, alpha);
}

void flushGl() {
  if (auto flush = glLibrary().flush) flush();
}

}  // namespace ryx::platform
