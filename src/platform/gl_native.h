// SPDX-License-Identifier: MIT
// OpenGL on a window of the native window system: its drawing device,
// pixel format and rendering context, and the OpenGL library the process
// draws with.  No toolkit is involved; gl_window.h maps a GDK window to
// the native window this works on.
//
// That library is "opengl32" as the dynamic-library loader finds it, so the
// product's OpenGL wrapper when it is installed; it is loaded on first use
// and kept for the life of the process, as a program linked to it would
// keep it.  Driver entry points are looked up in that library by name.
//
// Every failure is a null or false result; none is reported here.
#pragma once

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

// A window as the window system knows it: its handle (an X11 window id, a
// Win32 HWND) and, where the system has one, the display connection the
// handle belongs to (an X11 Display *; null on Windows).
struct NativeWindow {
  uint64_t handle = 0;
  void *display = nullptr;
};

struct GlDevice;   // the drawing device of one window
struct GlContext;  // an OpenGL rendering context

// The drawing device of a window; null when OpenGL cannot draw to it.
GlDevice *getGlDevice(const NativeWindow &window);
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
