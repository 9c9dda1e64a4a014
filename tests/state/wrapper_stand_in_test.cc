// SPDX-License-Identifier: MIT
// The OpenGL wrapper stand-in that the state checks and the Kestrane
// trigger load as "opengl32": its exports per build, the system's GL
// functions reached through it, and the record line of the connection
// entry point.
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

using SetConnectionInfo = int (*)(uint32_t, const char *, const char *, const void *, uint32_t, const char *const *);

// A library loaded as the program loads "opengl32", released at scope end.
class LoadedWrapper {
 public:
  explicit LoadedWrapper(Wrapper wrapper) : environment_(install_.environment()) {
    install_.installWrapper(wrapper);
    library_ = platform::loadLibrary("opengl32");
  }
  ~LoadedWrapper() { platform::freeLibrary(library_); }
  void *find(const char *name) const { return platform::findSymbol(library_, name); }
  const Installation &install() const { return install_; }

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

TEST(WrapperStandInTest, ConnectionInfoIsAppendedAsOneLinePerCall) {
  LoadedWrapper wrapper(Wrapper::Full);
  auto set = reinterpret_cast<SetConnectionInfo>(wrapper.find("glRyxSetConnectionInfo"));
  ASSERT_NE(set, nullptr);
  std::string record = wrapper.install().path("wrapper-record");
  test::ScopedEnv recordEnv("RYX_WRAPPER_RECORD", record.c_str());

  const unsigned char key[] = {0x00, 0x7f, 0xab, 0xff};
  const char *ids[] = {"be-1", "be-2", nullptr};
  EXPECT_EQ(set(5901, "conf-17", "secret key", key, sizeof key, ids), 1);

  // Separators and line breaks inside texts are escaped; null is \N.
  const char *oddIds[] = {"a,b", "tab\there", nullptr};
  EXPECT_EQ(set(32767, "line\nbreak\\", nullptr, nullptr, 0, oddIds), 1);
  const char *noIds[] = {nullptr};
  EXPECT_EQ(set(0, "", "\x01", key, 1, noIds), 1);
  EXPECT_EQ(set(1, "x", "y", key, 2, nullptr), 1);

  EXPECT_EQ(test::readFile(record),
            "5901\tconf-17\tsecret key\t007fabff\t4\tbe-1,be-2\n"
            "32767\tline\\nbreak\\\\\t\\N\t\t0\ta\\,b,tab\\there\n"
            "0\t\t\\x01\t00\t1\t\n"
            "1\tx\ty\t007f\t2\t\\N\n");
}

TEST(WrapperStandInTest, ConnectionInfoWithoutARecordFileIsDropped) {
  LoadedWrapper wrapper(Wrapper::Full);
  auto set = reinterpret_cast<SetConnectionInfo>(wrapper.find("glRyxSetConnectionInfo"));
  ASSERT_NE(set, nullptr);
  const char *ids[] = {nullptr};
  {
    test::ScopedEnv unset("RYX_WRAPPER_RECORD", nullptr);
    EXPECT_EQ(set(5901, "c", "k", nullptr, 0, ids), 0);
  }
  test::ScopedEnv unwritable("RYX_WRAPPER_RECORD", wrapper.install().path("no-such-folder/record").c_str());
  EXPECT_EQ(set(5901, "c", "k", nullptr, 0, ids), 0);
}

}  // namespace
}  // namespace ryx
