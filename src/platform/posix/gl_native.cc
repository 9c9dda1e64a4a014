// SPDX-License-Identifier: MIT
// OpenGL windows through GLX on an X11 window and the display connection
// it belongs to.  Displays without GLX give no device, so every later step
// fails.
//
// Every GLX and GL function comes from the "opengl32" library as the
// dynamic-library loader finds it (the product's wrapper, which carries the
// system's GL as a dependency, or the system's libGL itself), looked up by
// name in that library.  glXGetProcAddress is never used: it answers for
// any name, so it cannot tell whether the driver has an entry point.
//
// X11 fixes a window's pixel format (its visual) when the window is made,
// so the visual is chosen before the window exists (chooseGlxVisual);
// choosing again on the device gives the same visual, and setting it checks
// that the window has it.
#include "platform/gl_native.h"

#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <vector>

#include "platform/dynamic_library.h"
#include "platform/posix/glx_visual.h"

namespace ryx::platform {

struct GlDevice {
  Display *display;
  Window window;
  int screen;
  VisualID visual;                // the window's own visual
  XVisualInfo *format = nullptr;  // set by setPixelFormat, freed with XFree
};

struct GlContext {
  Display *display;
  GLXContext context;
};

namespace {

// GLX reports its failures as X errors, which Xlib's default handler (and a
// toolkit's) treats as fatal.  Every call that can raise one runs inside a
// trap: what was sent before is flushed under the handler already there,
// then the trap's handler records what the calls raise until it ends.  Only
// the main thread talks to X, so there is one trap at a time.
class XErrorTrap {
 public:
  explicit XErrorTrap(Display *display) : display_(display) {
    XSync(display_, False);
    raised_ = false;
    previous_ = XSetErrorHandler(&record);
  }
  ~XErrorTrap() { end(); }
  XErrorTrap(const XErrorTrap &) = delete;
  XErrorTrap &operator=(const XErrorTrap &) = delete;

  // Waits for the server's answers; true when the calls raised an error.
  bool end() {
    if (display_ != nullptr) {
      XSync(display_, False);
      XSetErrorHandler(previous_);
      display_ = nullptr;
    }
    return raised_;
  }

 private:
  static int record(Display *, XErrorEvent *) {
    raised_ = true;
    return 0;
  }

  static inline bool raised_ = false;
  Display *display_;
  XErrorHandler previous_ = nullptr;
};

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
    return queryExtension != nullptr && chooseVisual != nullptr && createContext != nullptr && makeCurrent != nullptr &&
           swapBuffers != nullptr && destroyContext != nullptr && getCurrentContext != nullptr;
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

// Whether the library has GLX and the display's server offers it.
bool hasGlx(Display *display) {
  if (display == nullptr) return false;
  const GlLibrary &gl = glLibrary();
  if (!gl.hasGlx()) return false;
  int errorBase = 0;
  int eventBase = 0;
  XErrorTrap trap(display);
  Bool present = gl.queryExtension(display, &errorBase, &eventBase);
  return !trap.end() && present;
}

// The GLX visual closest to `format`: the exact wish first, then without
// alpha, without depth, and last any RGBA visual, double-buffered if asked.
XVisualInfo *chooseVisual(Display *display, int screen, const GlPixelFormat &format) {
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
  for (const Wish &wish : wishes) {
    std::vector<int> attributes = {GLX_RGBA,     GLX_RED_SIZE,   wish.channel, GLX_GREEN_SIZE,
                                   wish.channel, GLX_BLUE_SIZE,  wish.channel, GLX_ALPHA_SIZE,
                                   wish.alpha,   GLX_DEPTH_SIZE, wish.depth};
    if (format.doubleBuffer) attributes.push_back(GLX_DOUBLEBUFFER);
    attributes.push_back(None);
    XErrorTrap trap(display);
    XVisualInfo *visual = glLibrary().chooseVisual(display, screen, attributes.data());
    trap.end();
    if (visual != nullptr) return visual;
  }
  return nullptr;
}

}  // namespace

VisualID chooseGlxVisual(Display *display, int screen, const GlPixelFormat &format) {
  if (!hasGlx(display)) return 0;
  XVisualInfo *chosen = chooseVisual(display, screen, format);
  if (chosen == nullptr) return 0;
  VisualID visual = chosen->visualid;
  XFree(chosen);
  return visual;
}

GlDevice *getGlDevice(const NativeWindow &window) {
  auto *display = static_cast<Display *>(window.display);
  const auto xid = static_cast<Window>(window.handle);
  if (xid == None || !hasGlx(display)) return nullptr;
  XWindowAttributes attributes = {};
  XErrorTrap trap(display);
  Status got = XGetWindowAttributes(display, xid, &attributes);
  if (trap.end() || got == 0) return nullptr;
  // An input-only window has no pixels for GLX to draw to.
  if (attributes.c_class == InputOnly || attributes.visual == nullptr || attributes.screen == nullptr) return nullptr;
  return new GlDevice{display, xid, XScreenNumberOfScreen(attributes.screen), XVisualIDFromVisual(attributes.visual)};
}

void releaseGlDevice(GlDevice *device) {
  if (device == nullptr) return;
  if (device->format != nullptr) XFree(device->format);
  delete device;
}

int choosePixelFormat(GlDevice *device, const GlPixelFormat &format) {
  if (device == nullptr) return 0;
  XVisualInfo *chosen = chooseVisual(device->display, device->screen, format);
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
  XVisualInfo *found = XGetVisualInfo(device->display, VisualIDMask, &wanted, &count);
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
  XErrorTrap trap(device->display);
  GLXContext context = gl.createContext(device->display, device->format, nullptr, True);
  bool raised = trap.end();
  if (context == nullptr) return nullptr;
  if (raised) {
    XErrorTrap destroying(device->display);
    gl.destroyContext(device->display, context);
    return nullptr;
  }
  return new GlContext{device->display, context};
}

bool makeGlContextCurrent(GlDevice *device, GlContext *context) {
  if (device == nullptr || context == nullptr) return false;
  XErrorTrap trap(device->display);
  Bool made = glLibrary().makeCurrent(device->display, device->window, context->context);
  return !trap.end() && made;
}

bool swapGlBuffers(GlDevice *device) {
  if (device == nullptr) return false;
  XErrorTrap trap(device->display);
  glLibrary().swapBuffers(device->display, device->window);
  return !trap.end();
}

void deleteGlContext(GlContext *context) {
  if (context == nullptr) return;
  const GlLibrary &gl = glLibrary();
  {
    XErrorTrap trap(context->display);
    if (gl.getCurrentContext() == context->context) gl.makeCurrent(context->display, None, nullptr);
    gl.destroyContext(context->display, context->context);
  }
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
