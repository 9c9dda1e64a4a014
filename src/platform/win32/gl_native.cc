// SPDX-License-Identifier: MIT
// OpenGL windows through WGL on a window's device context.  The pixel
// format calls and SwapBuffers are GDI's; the rendering-context calls and
// every GL function come from the "opengl32" library as the loader finds
// it (the product's wrapper when it is installed, else the system's), by
// name, so the driver's own entry points are found the same way.
#include "platform/gl_native.h"

#include <windows.h>

#include "platform/dynamic_library.h"

namespace ryx::platform {

struct GlDevice {
  HWND window;
  HDC dc;
  int format = 0;  // set by setPixelFormat
};

struct GlContext {
  HGLRC context;
};

namespace {

// The functions taken from the process's OpenGL library.
struct GlLibrary {
  Library *library = nullptr;
  HGLRC(WINAPI *createContext)(HDC) = nullptr;
  BOOL(WINAPI *makeCurrent)(HDC, HGLRC) = nullptr;
  BOOL(WINAPI *deleteContext)(HGLRC) = nullptr;
  HGLRC(WINAPI *getCurrentContext)() = nullptr;
  void(WINAPI *clear)(uint32_t) = nullptr;
  void(WINAPI *clearColor)(float, float, float, float) = nullptr;
  void(WINAPI *flush)() = nullptr;

  bool hasWgl() const {
    return createContext != nullptr && makeCurrent != nullptr && deleteContext != nullptr &&
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
    take(gl.library, "wglCreateContext", &gl.createContext);
    take(gl.library, "wglMakeCurrent", &gl.makeCurrent);
    take(gl.library, "wglDeleteContext", &gl.deleteContext);
    take(gl.library, "wglGetCurrentContext", &gl.getCurrentContext);
    take(gl.library, "glClear", &gl.clear);
    take(gl.library, "glClearColor", &gl.clearColor);
    take(gl.library, "glFlush", &gl.flush);
    return gl;
  }();
  return loaded;
}

PIXELFORMATDESCRIPTOR describe(const GlPixelFormat &format) {
  PIXELFORMATDESCRIPTOR descriptor = {};
  descriptor.nSize = sizeof descriptor;
  descriptor.nVersion = 1;
  descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | (format.doubleBuffer ? PFD_DOUBLEBUFFER : 0);
  descriptor.iPixelType = PFD_TYPE_RGBA;
  descriptor.cColorBits = format.colorBits;
  descriptor.cAlphaBits = format.alphaBits;
  descriptor.cDepthBits = format.depthBits;
  descriptor.iLayerType = PFD_MAIN_PLANE;
  return descriptor;
}

}  // namespace

GlDevice *getGlDevice(const NativeWindow &window) {
  HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(window.handle));
  if (hwnd == nullptr || !IsWindow(hwnd) || !glLibrary().hasWgl()) return nullptr;
  HDC dc = GetDC(hwnd);
  if (dc == nullptr) return nullptr;
  return new GlDevice{hwnd, dc};
}

void releaseGlDevice(GlDevice *device) {
  if (device == nullptr) return;
  ReleaseDC(device->window, device->dc);
  delete device;
}

// The system's own choice: the closest format it has, within its rules.
int choosePixelFormat(GlDevice *device, const GlPixelFormat &format) {
  if (device == nullptr) return 0;
  const PIXELFORMATDESCRIPTOR wanted = describe(format);
  return ChoosePixelFormat(device->dc, &wanted);
}

bool setPixelFormat(GlDevice *device, int pixelFormat, const GlPixelFormat &format) {
  (void)format;  // the number says it all; the system's descriptor goes with it
  if (device == nullptr || device->format != 0 || pixelFormat <= 0) return false;
  PIXELFORMATDESCRIPTOR descriptor = {};
  if (DescribePixelFormat(device->dc, pixelFormat, sizeof descriptor, &descriptor) == 0) return false;
  if (!SetPixelFormat(device->dc, pixelFormat, &descriptor)) return false;
  device->format = pixelFormat;
  return true;
}

void *findGlFunction(const char *name) {
  const GlLibrary &gl = glLibrary();
  return name != nullptr ? findSymbol(gl.library, name) : nullptr;
}

GlContext *createGlContext(GlDevice *device) {
  if (device == nullptr || device->format == 0) return nullptr;
  HGLRC context = glLibrary().createContext(device->dc);
  return context != nullptr ? new GlContext{context} : nullptr;
}

bool makeGlContextCurrent(GlDevice *device, GlContext *context) {
  if (device == nullptr || context == nullptr) return false;
  return glLibrary().makeCurrent(device->dc, context->context) != FALSE;
}

bool swapGlBuffers(GlDevice *device) { return device != nullptr && SwapBuffers(device->dc) != FALSE; }

void deleteGlContext(GlContext *context) {
  if (context == nullptr) return;
  const GlLibrary &gl = glLibrary();
  if (gl.getCurrentContext() == context->context) gl.makeCurrent(nullptr, nullptr);
  gl.deleteContext(context->context);
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
