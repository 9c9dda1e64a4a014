// SPDX-License-Identifier: MIT
// The OpenGL wrapper stand-in that the state checks and the Kestrane
// trigger load as "opengl32": its exports per build and the system's GL
// functions reached through it.  The record its connection entry point
// writes is checked from the trigger's side, in the hand-over test.
#include <dlfcn.h>

#include <cstdint>

#include <gtest/gtest.h>

#include "installation.h"
#include "platform/dynamic_library.h"
#include "test_support.h"

namespace ryx {
namespace {

using test::Installation;
using test::ScopedEnvironment;
using test::Wrapper;

// A library loaded as the program loads "opengl32", released at scope end.
class LoadedWrapper {
 public:
  explicit LoadedWrapper(Wrapper wrapper) : environment_(install_.environment()) {
    install_.installWrapper(wrapper);
    library_ = platform::loadLibrary("opengl32");
  }
  ~LoadedWrapper() { platform::freeLibrary(library_); }
  void *find(const char *name) const { return platform::findSymbol(library_, name); }

 private:
  Installation install_;
  ScopedEnvironment environment_;
  platform::Library *library_ = nullptr;
};

TEST(WrapperStandInTest, EachBuildExportsItsEntryPointsAndForwardsGL) {
  void *systemGL = dlopen("libGL.so.1", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(systemGL, nullptr) << dlerror();
  struct Case {
    const char *name;
    Wrapper wrapper;
    bool ryxEnabled;
    bool connectionInfo;
  } cases[] = {
      {"wrapper", Wrapper::Full, true, true},
      {"without the connection entry point", Wrapper::NoConnectionInfo, true, false},
      {"plain GL library", Wrapper::Plain, false, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    LoadedWrapper wrapper(c.wrapper);
    EXPECT_EQ(wrapper.find("ryxEnabled") != nullptr, c.ryxEnabled);
    EXPECT_EQ(wrapper.find("glRyxSetConnectionInfo") != nullptr, c.connectionInfo);
    for (const char *gl : {"glGetString", "glClear", "glClearColor", "glFlush", "glXGetProcAddress"}) {
      SCOPED_TRACE(gl);
      void *own = dlsym(systemGL, gl);
      ASSERT_NE(own, nullptr);
      EXPECT_EQ(wrapper.find(gl), own);  // the very function of the system's library
    }
  }
  dlclose(systemGL);
}

}  // namespace
}  // namespace ryx
