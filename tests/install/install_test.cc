// SPDX-License-Identifier: MIT
// `meson install --destdir` of this build: what lands where, the desktop
// entries and manual pages as their checkers see them, and the installed
// ryx-settings started with no environment at all, with the staged tree put
// at the real prefix in a private mount namespace, finding the installed
// system configuration.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"

namespace ryx {
namespace {

std::string env(const char *name) {
  const char *value = getenv(name);
  return value != nullptr ? value : "";
}

bool isExecutableFile(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0111) != 0;
}

// Every regular file below folder, as paths relative to base.
void collectFiles(const std::string &base, const std::string &folder, std::vector<std::string> *files) {
  for (const std::string &name : test::listFolder(base + folder)) {
    std::string relative = folder + "/" + name;
    struct stat info;
    if (lstat((base + relative).c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode))
      collectFiles(base, relative, files);
    else
      files->push_back(relative);
  }
}

bool startsWith(const std::string &text, const std::string &head) { return text.rfind(head, 0) == 0; }

// One installation for the whole program: installing takes a second or two.
class Installed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    stage_ = new test::TempDir();
    install_ = new test::RunResult(test::runProgram({env("RYX_TEST_MESON"), "install", "-C", env("RYX_TEST_BUILD_ROOT"),
                                                     "--destdir", stage_->path(), "--no-rebuild", "--quiet"}));
  }
  static void TearDownTestSuite() {
    delete install_;
    delete stage_;
  }
  void SetUp() override {
    ASSERT_FALSE(env("RYX_TEST_MESON").empty()) << "run through `meson test`, which says where the build is";
    ASSERT_EQ(install_->status, 0) << install_->out << install_->err;
  }

  // Where an absolute installed path lies in the staging folder.
  static std::string staged(const std::string &path) { return stage_->path() + path; }
  static std::string prefix() { return env("RYX_TEST_PREFIX"); }
  static std::string bindir() { return env("RYX_TEST_BINDIR"); }
  static std::string datadir() { return env("RYX_TEST_DATADIR"); }
  static std::string mandir() { return env("RYX_TEST_MANDIR"); }
  static std::string autostartDir() { return env("RYX_TEST_AUTOSTART_DIR"); }

  static test::TempDir *stage_;
  static test::RunResult *install_;
};
test::TempDir *Installed::stage_ = nullptr;
test::RunResult *Installed::install_ = nullptr;

TEST_F(Installed, LaysOutTheProgramsDataAndEntriesBelowThePrefix) {
  const struct {
    std::string path;
    bool executable;
    const char *magic;  // the file's first bytes, or null
  } cases[] = {
      {bindir() + "/ryxconfig", true, "\x7f" "ELF"},
      {bindir() + "/ryx-settings", true, "\x7f" "ELF"},
      {prefix() + "/share/ryx/images/ryx_status_icon.png", false, "\x89PNG"},
      {prefix() + "/share/ryx/images/ryx_status_icon_error.png", false, "\x89PNG"},
      {prefix() + "/share/ryx/images/icon.png", false, "\x89PNG"},
      {prefix() + "/share/ryx/images/ryx_logo_console.png", false, "\x89PNG"},
      {prefix() + "/conf/ryx.conf", false, "# ryx.conf: "},
      {datadir() + "/applications/ryxconfig.desktop", false, "[Desktop Entry]\n"},
      {autostartDir() + "/ryxconfig-autostart.desktop", false, "[Desktop Entry]\n"},
      {datadir() + "/icons/hicolor/scalable/apps/ryxconfig.svg", false, nullptr},
      {datadir() + "/icons/hicolor/64x64/apps/ryxconfig.png", false, "\x89PNG"},
      {mandir() + "/man1/ryxconfig.1", false, ".\\\" SPDX"},
      {mandir() + "/man1/ryx-settings.1", false, ".\\\" SPDX"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    ASSERT_TRUE(test::fileExists(staged(c.path)));
    EXPECT_EQ(isExecutableFile(staged(c.path)), c.executable);
    if (c.magic != nullptr) {
      EXPECT_TRUE(startsWith(test::readFile(staged(c.path)), c.magic));
    }
  }
  // Every component of the legal notices has a version line and a real
  // licence; this program's is the MIT licence.
  const std::string notices = staged(prefix() + "/legal-notices");
  std::vector<std::string> components = test::listFolder(notices);
  for (const char *required : {"RYX Configuration Utility", "GTK", "GLib"})
    EXPECT_NE(std::find(components.begin(), components.end(), required), components.end()) << required;
  for (const std::string &name : components) {
    std::string version = test::readFile(notices + "/" + name + "/version.txt");
    EXPECT_TRUE(version.size() >= 2 && version.back() == '\n') << name << ": \"" << version << "\"";
    EXPECT_GT(test::readFile(notices + "/" + name + "/license.txt").size(), 1000u) << name;
  }
  EXPECT_NE(test::readFile(notices + "/RYX Configuration Utility/license.txt").find("MIT License"), std::string::npos);
  EXPECT_NE(test::readFile(notices + "/GTK/license.txt").find("GNU LESSER GENERAL PUBLIC LICENSE"), std::string::npos);
}

TEST_F(Installed, PutsNothingOutsideThePrefixButTheAutostartEntry) {
  std::vector<std::string> files;
  collectFiles(stage_->path(), "", &files);
  EXPECT_GT(files.size(), 15u);
  for (const std::string &file : files)
    EXPECT_TRUE(startsWith(file, prefix() + "/") || startsWith(file, autostartDir() + "/")) << file;
}

TEST_F(Installed, DesktopEntriesAreCleanAndRunTheInstalledProgram) {
  const struct {
    std::string path;
    std::string exec;
  } cases[] = {
      {datadir() + "/applications/ryxconfig.desktop", "Exec=" + bindir() + "/ryxconfig\n"},
      {autostartDir() + "/ryxconfig-autostart.desktop", "Exec=" + bindir() + "/ryxconfig -nowin\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    test::RunResult r = test::runProgram({env("RYX_TEST_DESKTOP_FILE_VALIDATE"), staged(c.path)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");  // no warning or hint either
    EXPECT_NE(test::readFile(staged(c.path)).find(c.exec), std::string::npos);
    EXPECT_NE(test::readFile(staged(c.path)).find("\nIcon=ryxconfig\n"), std::string::npos);
  }
}

TEST_F(Installed, ManualPagesFormatWithoutWarningsAndCoverTheCommandLines) {
  const struct {
    const char *page;
    std::vector<const char *> mentions;  // as they appear in the source, dashes escaped
  } cases[] = {
      {"ryxconfig.1", {"\\-nowin", "\\-quit", "\\-q\n", "RYX_ROOT", "RYX_REGISTRY_DIR", "RYX_USER_CONFIG_DIR",
                       "RYX_LIBRARY_PATH", "RYX_PIPE_DIR", "RYX_VVN_ENABLED", "RYX_REMOTE_SESSION", "RYX_CONSOLE_PORT",
                       "G_MESSAGES_DEBUG", ".SH EXIT STATUS", "conf/ryx.conf.admin", "legal\\-notices"}},
      {"ryx-settings.1", {".B ryx\\-settings get", ".B ryx\\-settings list", ".B ryx\\-settings check",
                          "\\-\\-help", "\\-\\-version", "RYX_ROOT", ".SH EXIT STATUS", "conf/ryx.conf"}},
  };
  for (const auto &c : cases) {
    std::string path = staged(mandir() + "/man1/" + c.page);
    SCOPED_TRACE(path);
    test::RunResult r = test::runProgram({env("RYX_TEST_GROFF"), "-man", "-Tutf8", "-ww", "-z", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::string source = test::readFile(path);
    for (const char *mention : c.mentions) EXPECT_NE(source.find(mention), std::string::npos) << mention;
  }
}

TEST_F(Installed, ProgramsWithoutEnvironmentLookBelowThePrefix) {
  // Staged, the programs still look where they will be installed: the
  // compiled-in root is the prefix, whatever the staging folder.  A machine
  // registry hive with an InstallPath would rightly move it, so this holds
  // only on a machine without one.
  if (test::fileExists("/etc/ryx/registry/machine.reg")) GTEST_SKIP() << "this machine has a registry hive";
  test::RunResult r = test::runProgram({"/usr/bin/env", "-i", staged(bindir() + "/ryx-settings"), "check"});
  EXPECT_NE(r.out.find("system file " + prefix() + "/conf/ryx.conf: "), std::string::npos) << r.out;
}

TEST_F(Installed, ProgramsWithoutEnvironmentFindTheInstalledConfiguration) {
  // The staged tree laid over the real prefix (an overlay, read-only, in a
  // mount namespace of its own; a machine registry hive hidden there too):
  // what an installed program sees, without touching the machine.
  std::string unshare = env("RYX_TEST_UNSHARE");
  if (unshare.empty()) GTEST_SKIP() << "no unshare(1)";
  struct stat info;
  if (stat(prefix().c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    GTEST_SKIP() << "the prefix " << prefix() << " does not exist to be overlaid";
  if (prefix().find_first_of(":,") != std::string::npos) GTEST_SKIP() << "the prefix cannot be an overlay option";

  // A value only the installed system file gives.
  std::string conf = staged(prefix() + "/conf/ryx.conf");
  std::string text = test::readFile(conf);
  size_t line = text.find("\n#console_port = 2000\n");
  ASSERT_NE(line, std::string::npos);
  text.replace(line, 21, "\nconsole_port = 2345\n");
  test::writeFile(conf, text);

  const char *script =
      "set -e\n"
      "mount -t overlay overlay -o \"lowerdir=$1:$2\" \"$2\"\n"
      "if [ -d /etc/ryx ]; then mount -t tmpfs tmpfs /etc/ryx; fi\n"
      "root=$2; shift 2\n"
      "exec /usr/bin/env -i \"$root/bin/ryx-settings\" \"$@\"\n";
  auto run = [&](std::vector<std::string> args) {
    std::vector<std::string> argv = {unshare, "--mount", "--propagation", "private"};
    if (geteuid() != 0) argv.push_back("--map-root-user");
    argv.insert(argv.end(), {"/bin/sh", "-c", script, "sh", staged(prefix()), prefix()});
    argv.insert(argv.end(), args.begin(), args.end());
    return test::runProgram(argv);
  };
  test::RunResult probe = run({"--version"});
  if (probe.status != 0) GTEST_SKIP() << "no private mount namespace here: " << probe.err;

  test::RunResult get = run({"get", "Console", "console_port"});
  EXPECT_EQ(get.status, 0) << get.err;
  EXPECT_EQ(get.out, "2345\n");
  test::RunResult check = run({"check"});
  EXPECT_NE(check.out.find("system file " + prefix() + "/conf/ryx.conf: ok\n"), std::string::npos) << check.out;
  // ...and says the value comes from there.
  test::RunResult list = run({"list"});
  EXPECT_NE(list.out.find("Console.console_port = 2345  (system file " + prefix() + "/conf/ryx.conf)"),
            std::string::npos)
      << list.out;
}

}  // namespace
}  // namespace ryx
