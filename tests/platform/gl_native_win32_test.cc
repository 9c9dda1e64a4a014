// SPDX-License-Identifier: MIT
// WGL on a plain Win32 window, through the system's opengl32 (under Wine,
// its OpenGL on the X display).
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/gl_native.h"

namespace ryx::platform {
namespace {

TEST(GlNativeWin32, DrawsOneFrameOnAPlainWindow) {
  WNDCLASSA windowClass = {};
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "RyxGlNativeTest";
  ASSERT_NE(RegisterClassA(&windowClass), 0) << GetLastError();
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr) << GetLastError();
  NativeWindow native;
  native.handle = reinterpret_cast<uintptr_t>(window);

  GlDevice *device = getGlDevice(native);
  ASSERT_NE(device, nullptr);
  const GlPixelFormat wanted = {true, 32, 8, 16};
  const int format = choosePixelFormat(device, wanted);
  ASSERT_GT(format, 0) << "ChoosePixelFormat: " << GetLastError();
  PIXELFORMATDESCRIPTOR chosen = {};
  ASSERT_NE(DescribePixelFormat(GetDC(window), format, sizeof chosen, &chosen), 0);
  EXPECT_EQ(chosen.dwFlags & (PFD_DOUBLEBUFFER | PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW),
            static_cast<DWORD>(PFD_DOUBLEBUFFER | PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW));
  EXPECT_EQ(chosen.iPixelType, PFD_TYPE_RGBA);
  ASSERT_TRUE(setPixelFormat(device, format, wanted)) << "SetPixelFormat: " << GetLastError();
  EXPECT_FALSE(setPixelFormat(device, format, wanted));  // once only

  GlContext *context = createGlContext(device);
  ASSERT_NE(context, nullptr) << "wglCreateContext: " << GetLastError();
  ASSERT_TRUE(makeGlContextCurrent(device, context)) << "wglMakeCurrent: " << GetLastError();
  auto clear = reinterpret_cast<void(WINAPI *)(uint32_t)>(findGlFunction("glClear"));
  auto getError = reinterpret_cast<uint32_t(WINAPI *)()>(findGlFunction("glGetError"));
  auto currentContext = reinterpret_cast<HGLRC(WINAPI *)()>(findGlFunction("wglGetCurrentContext"));
  ASSERT_NE(clear, nullptr);
  ASSERT_NE(getError, nullptr);
  ASSERT_NE(currentContext, nullptr);
  EXPECT_EQ(findGlFunction("glNoSuchEntryPoint"), nullptr);
  clear(kGlColorBufferBit | kGlDepthBufferBit);
  EXPECT_EQ(getError(), 0u);  // no error: the context is current and the call reached it
  EXPECT_TRUE(swapGlBuffers(device)) << "SwapBuffers: " << GetLastError();

  deleteGlContext(context);  // current, so released first
  EXPECT_EQ(currentContext(), nullptr);
  releaseGlDevice(device);
  DestroyWindow(window);
  EXPECT_EQ(getGlDevice(native), nullptr);  // the window is gone
}

}  // namespace
}  // namespace ryx::platform
