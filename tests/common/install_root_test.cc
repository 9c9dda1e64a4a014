// SPDX-License-Identifier: MIT
#include "common/install_root.h"

#include <gtest/gtest.h>

#include "common/install_config.h"
#include "platform/registry.h"
#include "settings_sandbox.h"

namespace ryx {
namespace {

using namespace ryx::platform;

class InstallRoot : public ::testing::Test, public test::SettingsSandbox {
 protected:
  InstallRoot() {
    set("RYX_ROOT", nullptr);
    set("RYX_PROGRAM_FILES", (dir / "pf").c_str());
    set("RYX_PROGRAM_FILES_X86", (dir / "pf86").c_str());
  }
  std::string root() {
    char buffer[kInstallRootSize];
    getInstallRoot(buffer);
    return buffer;
  }
  void setInstallPath(const char *key, uint32_t view, const char *path) {
    RegKeyPtr handle;
    ASSERT_EQ(regCreateKey(Hive::LocalMachine, key, kKeyWrite | view, &handle), kRegOk);
    uint32_t size = path != nullptr ? static_cast<uint32_t>(strlen(path) + 1) : 0;
    if (path != nullptr) {
      ASSERT_EQ(regSetValue(handle.get(), "InstallPath", kRegSz, path, size), kRegOk);
    }
  }
};

TEST_F(InstallRoot, EnvironmentThenRegistryThenProgramsFolder) {
  EXPECT_EQ(root(), dir / "pf86/Vezo/ryx/");  // nothing: the 32-bit programs folder
  setInstallPath(kKestraneKey, kKeyWow64_32Key, "/opt/kestrane/");
  EXPECT_EQ(root(), "/opt/kestrane/");
  setInstallPath(kProductKey, kKeyWow64_64Key, nullptr);  // the product key wins, even without InstallPath
  EXPECT_EQ(root(), dir / "pf/Vezo/ryx/");
  setInstallPath(kProductKey, kKeyWow64_64Key, "/usr/local/ryx");
  EXPECT_EQ(root(), "/usr/local/ryx/");
  for (const char *env : {"/srv/ryx", "/srv/ryx/"}) {
    set("RYX_ROOT", env);
    EXPECT_EQ(root(), "/srv/ryx/") << env;
  }
  set("RYX_ROOT", "");
  EXPECT_EQ(root(), "/usr/local/ryx/");
}

TEST_F(InstallRoot, ProgramsFoldersAtTheirDefaultMeanTheConfiguredPrefix) {
  std::string prefix = std::string(kInstallPrefix) + (std::string(kInstallPrefix).back() == '/' ? "" : "/");
  for (const char *value : {static_cast<const char *>(nullptr), ""}) {
    set("RYX_PROGRAM_FILES_X86", value);
    EXPECT_EQ(root(), prefix);
  }
  setInstallPath(kProductKey, kKeyWow64_64Key, nullptr);
  EXPECT_EQ(root(), dir / "pf/Vezo/ryx/");  // the 64-bit folder is still moved
  set("RYX_PROGRAM_FILES", nullptr);
  set("RYX_PROGRAM_FILES_X86", (dir / "pf86").c_str());  // only the folder the root comes from counts
  EXPECT_EQ(root(), prefix);
}

TEST_F(InstallRoot, JoinPathSkipsEmptyPartsStopsAtNullAndBoundsTheLength) {
  const std::string part(128, 'p'), longer(129, 'p');
  const struct {
    std::initializer_list<const char *> parts;
    std::string expected;  // "(null)": too long
  } cases[] = {
      {{"/opt/Vezo/ryx/", "conf", "ryx.conf"}, "/opt/Vezo/ryx/conf/ryx.conf"},
      {{"/a", "", "b/", nullptr, "c"}, "/a/b"},
      {{"C:\\a\\", "b"}, "C:\\a\\b"},
      {{"", ""}, ""},
      {{part.c_str(), part.c_str()}, part + "/" + part},  // 257 characters with the separators
      {{longer.c_str(), part.c_str()}, "(null)"},
  };
  for (const auto &c : cases) {
    CString joined = joinPath(c.parts);
    EXPECT_EQ(joined != nullptr ? std::string(joined.get()) : "(null)", c.expected);
  }
}

TEST_F(InstallRoot, ProductDwordsNeedTheKeyFirst) {
  uint32_t value = 9;
  EXPECT_FALSE(readProductDword("status", &value));
  EXPECT_FALSE(writeProductDword("status", 1));
  EXPECT_TRUE(createProductKey());
  EXPECT_TRUE(createProductKey());
  EXPECT_TRUE(writeProductDword("status", 0x01020304));
  EXPECT_TRUE(readProductDword("status", &value));
  EXPECT_EQ(value, 0x01020304u);
}

}  // namespace
}  // namespace ryx
