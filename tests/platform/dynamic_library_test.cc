// SPDX-License-Identifier: MIT
#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace ryx::platform {
namespace {

// SAMPLE_DIR holds sample.so and sample-dll.dll, built beside this test.
// The system's own OpenGL library where no folder has one, and a missing
// GRID library: the state tests (Wrapper::None, "GRID library missing").
TEST(DynamicLibrary, NamesAreSearchedOnTheLibraryPathThenInTheSystemFolder) {
  test::TempDir empty;
  const std::string firstEmpty = empty.path() + "::" + SAMPLE_DIR;
  const struct {
    const char *name, *libraryPath, *systemDir;  // libraryPath null: unset
    bool found;
  } cases[] = {
      {"sample", firstEmpty.c_str(), empty.path().c_str(), true},  // a bare name gets the suffix
      {"sample-dll.dll", SAMPLE_DIR, empty.path().c_str(), true},  // a name with an extension is taken as given
      {"sample", nullptr, empty.path().c_str(), false},
      {"sample", nullptr, SAMPLE_DIR, true},
  };
  for (const auto &c : cases) {
    test::ScopedEnv path("RYX_LIBRARY_PATH", c.libraryPath), systemDir("RYX_SYSTEM_DIR", c.systemDir);
    Library *library = loadLibrary(c.name);
    EXPECT_EQ(library != nullptr, c.found) << c.name << " " << (c.libraryPath ? c.libraryPath : "(unset)");
    if (library == nullptr) continue;
    auto fn = reinterpret_cast<int (*)()>(findSymbol(library, "ryxSampleExport"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(), 42);
    EXPECT_EQ(findSymbol(library, "noSuchExport"), nullptr);
    freeLibrary(library);
  }
  EXPECT_EQ(loadLibrary(""), nullptr);
  EXPECT_EQ(loadLibrary(nullptr), nullptr);
}

}  // namespace
}  // namespace ryx::platform
