// SPDX-License-Identifier: MIT
#include "common/install_root.h"

#include <gtest/gtest.h>

#include "common/install_config.h"
#include "config_fixture.h"
#include "platform/registry.h"

namespace ryx {
namespace {

using namespace ryx::platform;

class InstallRoot : public test::ConfigFixture {
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
    if (path != nullptr) {
      ASSERT_EQ(regSetValue(handle.get(), "InstallPath", kRegSz, path, static_cast<uint32_t>(strlen(path) + 1)),
                kRegOk);
    }
  }
};

TEST_F(InstallRoot, EnvironmentVariableWinsAndEndsWithOneSeparator) {
  set("RYX_ROOT", "/srv/ryx");
  EXPECT_EQ(root(), "/srv/ryx/");
  set("RYX_ROOT", "/srv/ryx/");
  EXPECT_EQ(root(), "/srv/ryx/");
  set("RYX_ROOT", "");
  EXPECT_EQ(root(), dir / "pf86/Vezo/ryx/");
}

TEST_F(InstallRoot, RegistryThenProgramsFolders) {
  // Nothing: the 32-bit programs folder.
  EXPECT_EQ(root(), dir / "pf86/Vezo/ryx/");
  // The product key without InstallPath: the (64-bit) programs folder.
  setInstallPath(kProductKey, kKeyWow64_64Key, nullptr);
  EXPECT_EQ(root(), dir / "pf/Vezo/ryx/");
  setInstallPath(kProductKey, kKeyWow64_64Key, "/usr/local/ryx");
  EXPECT_EQ(root(), "/usr/local/ryx/");
}

TEST_F(InstallRoot, ProgramsFoldersAtTheirDefaultMeanTheConfiguredPrefix) {
  std::string prefix = std::string(kInstallPrefix) + (std::string(kInstallPrefix).back() == '/' ? "" : "/");
  // Nothing moved: the prefix this build installs to, whichever programs
  // folder the registry makes the root come from.
  set("RYX_PROGRAM_FILES_X86", nullptr);
  EXPECT_EQ(root(), prefix);
  set("RYX_PROGRAM_FILES_X86", "");
  EXPECT_EQ(root(), prefix);
  setInstallPath(kProductKey, kKeyWow64_64Key, nullptr);
  EXPECT_EQ(root(), dir / "pf/Vezo/ryx/");  // the 64-bit folder is still moved
  set("RYX_PROGRAM_FILES", nullptr);
  EXPECT_EQ(root(), prefix);
  // Only the folder the root comes from counts.
  set("RYX_PROGRAM_FILES_X86", (dir / "pf86").c_str());
  EXPECT_EQ(root(), prefix);
}

TEST_F(InstallRoot, KestraneKeyInTheThirtyTwoBitView) {
  setInstallPath(kKestraneKey, kKeyWow64_32Key, "/opt/kestrane/");
  EXPECT_EQ(root(), "/opt/kestrane/");
}

TEST_F(InstallRoot, JoinPath) {
  const struct {
    std::initializer_list<const char *> parts;
    const char *expected;
  } cases[] = {
      {{"/opt/Vezo/ryx/", "conf", "ryx.conf"}, "/opt/Vezo/ryx/conf/ryx.conf"},
      {{"/a", "", "b"}, "/a/b"},
      {{"/a", "b/", nullptr, "c"}, "/a/b"},
      {{"C:\\a\\", "b"}, "C:\\a\\b"},
      {{"", ""}, ""},
      {{"dir/"}, "dir"},
  };
  for (const auto &c : cases) {
    CString joined = joinPath(c.parts);
    ASSERT_NE(joined, nullptr) << c.expected;
    EXPECT_STREQ(joined.get(), c.expected);
  }
  std::string part(128, 'p');
  EXPECT_NE(joinPath({part.c_str(), part.c_str()}), nullptr);  // 257 characters with separators
  std::string longer(129, 'p');
  EXPECT_EQ(joinPath({longer.c_str(), part.c_str()}), nullptr);
  EXPECT_EQ(joinPath({std::string(259, 'x').c_str()}), nullptr);
}

TEST_F(InstallRoot, HomeFolder) {
  EXPECT_EQ(getHomeFolder(), home());
  set("HOMEDRIVE", "C:");
  EXPECT_EQ(getHomeFolder(), home());  // both are needed
  set("HOMEPATH", "\\Users\\u");
  EXPECT_EQ(getHomeFolder(), "C:\\Users\\u");
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
  EXPECT_FALSE(readProductDword("directXStatus", &value));
}

TEST_F(InstallRoot, ProductKeyCannotBeCreatedWhereTheFolderCannotBe) {
  test::writeFile(dir / "plain-file", "");
  set("RYX_REGISTRY_DIR", (dir / "plain-file/registry").c_str());
  EXPECT_FALSE(createProductKey());
}

}  // namespace
}  // namespace ryx
