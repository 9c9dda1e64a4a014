// SPDX-License-Identifier: MIT
// A native window that OpenGL draws to: its drawing device, pixel format and
// rendering context, and the OpenGL library the process draws with.
//
// That library is "opengl32" as the dynamic-library loader finds it, so the
// product's OpenGL wrapper when it is installed; it is loaded on first use
// and kept for the life of the process, as a program linked to it would
// keep it.  Driver entry points are looked up in that library by name.
//
// Every failure is a null or false result; none is reported here.
#pragma once

#include <gdk/gdk.h>

#include <cstdint>

namespace ryx::platform {

// What a window's pixels should hold.  A choice gives the closest format
// the display offers.
struct GlPixelFormat {
  bool doubleBuffer = false;
  uint8_t colorBits = 0;  // red, green, blue and alpha together
  uint8_t alphaBits = 0;
  uint8_t depthBits = 0;
};

struct GlDevice;   // the drawing device of one window
struct GlContext;  // an OpenGL rendering context

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

// The drawing device of a window; null when OpenGL cannot draw to it.
GlDevice *getGlDevice(GdkWindow *window);
void releaseGlDevice(GlDevice *device);

// The number of the device's pixel format closest to `format`; 0 for none.
int choosePixelFormat(GlDevice *device, const GlPixelFormat &format);
// Gives the device that pixel format; once only.
bool setPixelFormat(GlDevice *device, int pixelFormat, const GlPixelFormat &format);

// An entry point the OpenGL library exports, by name; null when it has none.
void *findGlFunction(const char *name);

// A rendering context for the device's pixel format; null on failure.
GlContext *createGlContext(GlDevice *device);
// Makes the context current on this thread, drawing to the device.
bool makeGlContextCurrent(GlDevice *device, GlContext *context);
// Presents the back buffer of a double-buffered device.
bool swapGlBuffers(GlDevice *device);
// Deletes the context; a context current on this thread is released first.
void deleteGlContext(GlContext *context);

// The OpenGL 1.1 calls, on the current context; nothing happens when the
// library lacks them.
constexpr uint32_t kGlDepthBufferBit = 0x00000100;
constexpr uint32_t kGlColorBufferBit = 0x00004000;
void clearGl(uint32_t mask);
void setGlClearColor(float red, float green, float blue, float alpha);
void flushGl();

}  // namespace ryx::platform
