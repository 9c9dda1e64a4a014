// SPDX-License-Identifier: MIT
#include "common/install_root.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "common/install_config.h"
#include "platform/registry.h"
#include "installation.h"

namespace ryx {
namespace {

using namespace ryx::platform;

#ifdef _WIN32
// The product's keys live in the system's own registry: each case starts
// and ends without them, and meson runs these cases alone.
void deleteProductKeys() {
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Vezo Software");
  HKEY software = nullptr;
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | view, &software) != ERROR_SUCCESS) continue;
    RegDeleteTreeA(software, "Vezo Software");
    RegCloseKey(software);
  }
}
#else
void deleteProductKeys() {}  // the registry lives in the sandbox's own folder
#endif

class InstallRoot : public ::testing::Test, public test::Installation {
 protected:
  InstallRoot() {
    deleteProductKeys();
    set("RYX_ROOT", nullptr);
    set("RYX_PROGRAM_FILES", (dir / "pf").c_str());
    set("RYX_PROGRAM_FILES_X86", (dir / "pf86").c_str());
  }
  ~InstallRoot() override { deleteProductKeys(); }

  // The programs folders: the system's own on Windows (its environment
  // names them too), the sandbox's stand-ins here.
  std::string programs(bool x86) const {
#ifdef _WIN32
    const char *folder = getenv(x86 ? "ProgramFiles(x86)" : "ProgramW6432");
    return folder != nullptr ? folder : "(unset)";
#else
    return dir / (x86 ? "pf86" : "pf");
#endif
  }
  std::string product(bool x86) const { return programs(x86) + path({"", "Vezo", "ryx", ""}); }
  std::string root() {
    char buffer[kInstallRootSize];
    getInstallRoot(buffer);
    return buffer;
  }
  void setInstallPath(const char *key, uint32_t view, const char *path) {
    RegKeyPtr handle;
    ASSERT_EQ(regCreateKey(Hive::LocalMachine, key, kKeyWrite | view, &handle), kRegOk);
    if (path == nullptr) return;
    ASSERT_EQ(regSetValue(handle.get(), "InstallPath", kRegSz, path, static_cast<uint32_t>(strlen(path) + 1)), kRegOk);
  }
};

TEST_F(InstallRoot, EnvironmentThenRegistryThenProgramsFolder) {
  EXPECT_EQ(root(), product(true));  // nothing: the 32-bit programs folder
  const std::string kestrane = path({"", "opt", "kestrane", ""}), local = path({"", "usr", "local", "ryx"});
  setInstallPath(kKestraneKey, kKeyWow64_32Key, kestrane.c_str());
  EXPECT_EQ(root(), kestrane);
  setInstallPath(kProductKey, kKeyWow64_64Key, nullptr);  // the product key wins, even without InstallPath
  EXPECT_EQ(root(), product(false));
  setInstallPath(kProductKey, kKeyWow64_64Key, local.c_str());
  EXPECT_EQ(root(), local + test::kSeparator);
  const std::string srv = path({"", "srv", "ryx"});
  for (const std::string &env : {srv, srv + test::kSeparator}) {
    set("RYX_ROOT", env.c_str());
    EXPECT_EQ(root(), srv + test::kSeparator) << env;
  }
  set("RYX_ROOT", "");
  EXPECT_EQ(root(), local + test::kSeparator);
}

#ifndef _WIN32  // Windows has real programs folders, never a stand-in default
TEST_F(InstallRoot, ProgramsFoldersAtTheirDefaultMeanTheConfiguredPrefix) {
  std::string prefix = std::string(kInstallPrefix) + (std::string(kInstallPrefix).back() == '/' ? "" : "/");
  set("RYX_PROGRAM_FILES_X86", nullptr);
  EXPECT_EQ(root(), prefix);
  setInstallPath(kProductKey, kKeyWow64_64Key, nullptr);
  EXPECT_EQ(root(), product(false));  // the 64-bit folder is still moved
  set("RYX_PROGRAM_FILES", nullptr);
  set("RYX_PROGRAM_FILES_X86", (dir / "pf86").c_str());  // only the folder the root comes from counts
  EXPECT_EQ(root(), prefix);
}
#endif

TEST_F(InstallRoot, JoinPathSkipsEmptyPartsStopsAtNullAndBoundsTheLength) {
  const std::string part(128, 'p'), longer(129, 'p'), sep(1, test::kSeparator);
  const struct {
    std::initializer_list<const char *> parts;  // an aggregate: the lists live as long as the table
    std::string expected;
  } cases[] = {
      {{"/a", "", "b/", nullptr, "c"}, "/a" + sep + "b"}, {{"C:\\a\\", "b"}, "C:\\a\\b"}, {{"", ""}, ""},
      {{part.c_str(), part.c_str()}, part + sep + part},  // 257 characters with the separators
      {{longer.c_str(), part.c_str()}, "(null)"},
  };
  for (const auto &c : cases) {
    CString joined = joinPath(c.parts);
    EXPECT_EQ(joined != nullptr ? std::string(joined.get()) : "(null)", c.expected);
  }
}

}  // namespace
}  // namespace ryx
