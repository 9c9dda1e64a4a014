// SPDX-License-Identifier: MIT
#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "test_support.h"

namespace ryx::platform {
namespace {

// SAMPLE_DIR holds the sample library built beside this test (on POSIX
// also as sample-dll.dll).  The system's own OpenGL library where no
// folder has one, and a missing GRID library: the state tests.
#ifdef _WIN32
const char kSeparator = ';';
const char kWithExtension[] = "sample.dll";
#else
const char kSeparator = ':';
const char kWithExtension[] = "sample-dll.dll";
#endif

bool loadsSample(const char *name) {
  Library *library = loadLibrary(name);
  if (library == nullptr) return false;
  auto fn = reinterpret_cast<int (*)()>(findSymbol(library, "ryxSampleExport"));
  EXPECT_EQ(fn != nullptr ? fn() : -1, 42);
  freeLibrary(library);
  return true;
}

TEST(DynamicLibrary, NamesAreSearchedOnTheLibraryPathThenInTheSystemsPlaces) {
  test::TempDir empty;
  const std::string firstEmpty = empty.path() + kSeparator + kSeparator + SAMPLE_DIR;
  test::ScopedEnv systemDir("RYX_SYSTEM_DIR", empty.path().c_str());
  const std::tuple<const char *, const char *, bool> cases[] = {
      // name, RYX_LIBRARY_PATH (null: unset), found
      {"sample", firstEmpty.c_str(), true},  // a bare name gets the suffix
      {kWithExtension, SAMPLE_DIR, true},    // a name with an extension is taken as given
      {"sample", nullptr, false},            // neither beside the program nor in the system folder
  };
  for (const auto &[name, libraryPath, found] : cases) {
    test::ScopedEnv path("RYX_LIBRARY_PATH", libraryPath);
    EXPECT_EQ(loadsSample(name), found) << name << " " << (libraryPath ? libraryPath : "(unset)");
  }
#ifndef _WIN32
  test::ScopedEnv sampleIsSystem("RYX_SYSTEM_DIR", SAMPLE_DIR);
  EXPECT_TRUE(loadsSample("sample"));
#endif
}

}  // namespace
}  // namespace ryx::platform
