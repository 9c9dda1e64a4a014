// SPDX-License-Identifier: MIT
// LoadLibraryA through the loader: RYX_LIBRARY_PATH first, then the
// system's own search; SAMPLE_DIR holds sample.dll, built for this test.
#include <gtest/gtest.h>

#include <string>

#include "platform/dynamic_library.h"
#include "test_support.h"

namespace ryx::platform {
namespace {

TEST(DynamicLibraryWin32, BareNamesGetTheSuffixAndTheLibraryPathIsSearchedFirst) {
  test::TempDir empty;
  const std::string emptyFirst = empty.path() + ";" + SAMPLE_DIR;
  for (const char *path : {emptyFirst.c_str(), static_cast<const char *>(SAMPLE_DIR)}) {
    test::ScopedEnv libraryPath("RYX_LIBRARY_PATH", path);
    Library *library = loadLibrary("sample");
    ASSERT_NE(library, nullptr) << path;
    auto fn = reinterpret_cast<int (*)()>(findSymbol(library, "ryxSampleExport"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(), 42);
    EXPECT_EQ(findSymbol(library, "noSuchExport"), nullptr);
    freeLibrary(library);
  }
  test::ScopedEnv unset("RYX_LIBRARY_PATH", nullptr);
  EXPECT_EQ(loadLibrary("sample"), nullptr);  // not beside the program, nor in the system folder
  Library *system = loadLibrary("kernel32");  // the system's own search
  ASSERT_NE(system, nullptr);
  EXPECT_NE(findSymbol(system, "GetCurrentProcessId"), nullptr);
  freeLibrary(system);
  EXPECT_EQ(loadLibrary(""), nullptr);
}

}  // namespace
}  // namespace ryx::platform
