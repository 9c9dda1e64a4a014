// SPDX-License-Identifier: MIT
#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace ryx::platform {
namespace {

// SAMPLE_DIR holds sample.so and sample-dll.dll, built beside this test.
class DynamicLibrary : public ::testing::Test {
 protected:
  test::TempDir empty;
  test::ScopedEnv system{"RYX_SYSTEM_DIR", empty.path().c_str()};
};

TEST_F(DynamicLibrary, BareNameGetsTheSuffixAndIsFoundOnTheLibraryPath) {
  test::ScopedEnv path("RYX_LIBRARY_PATH", (empty.path() + "::" + SAMPLE_DIR).c_str());
  Library *library = loadLibrary("sample");
  ASSERT_NE(library, nullptr);
  auto fn = reinterpret_cast<int (*)()>(findSymbol(library, "ryxSampleExport"));
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn(), 42);
  EXPECT_EQ(findSymbol(library, "noSuchExport"), nullptr);
  freeLibrary(library);
}

TEST_F(DynamicLibrary, NameWithAnExtensionIsTakenAsGiven) {
  test::ScopedEnv path("RYX_LIBRARY_PATH", SAMPLE_DIR);
  Library *library = loadLibrary("sample-dll.dll");
  ASSERT_NE(library, nullptr);
  EXPECT_NE(findSymbol(library, "ryxSampleExport"), nullptr);
  freeLibrary(library);
}

TEST_F(DynamicLibrary, SystemFolderIsSearchedAfterTheLibraryPath) {
  test::ScopedEnv path("RYX_LIBRARY_PATH", nullptr);
  EXPECT_EQ(loadLibrary("sample"), nullptr);
  test::ScopedEnv systemDir("RYX_SYSTEM_DIR", SAMPLE_DIR);
  Library *library = loadLibrary("sample");
  EXPECT_NE(library, nullptr);
  freeLibrary(library);
}

TEST_F(DynamicLibrary, OpenGlFoundNowhereIsTheSystemsOwnWithoutTheWrapperExport) {
  test::ScopedEnv path("RYX_LIBRARY_PATH", empty.path().c_str());
  Library *library = loadLibrary("opengl32");
  ASSERT_NE(library, nullptr);
  EXPECT_NE(findSymbol(library, "glClear"), nullptr);
  EXPECT_EQ(findSymbol(library, "ryxEnabled"), nullptr);
  freeLibrary(library);
  EXPECT_EQ(loadLibrary("NvIFR64.dll"), nullptr);
  EXPECT_EQ(loadLibrary(""), nullptr);
  EXPECT_EQ(loadLibrary(nullptr), nullptr);
}

}  // namespace
}  // namespace ryx::platform
