// SPDX-License-Identifier: MIT
// `meson install --destdir` of this build: what lands where, the desktop
// entries and manual pages as their checkers see them, and the installed
// ryx-settings started with no environment at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
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

  static test::TempDir *stage_;
  static test::RunResult *install_;
  const std::string prefix = env("RYX_TEST_PREFIX"), bindir = env("RYX_TEST_BINDIR"), datadir = env("RYX_TEST_DATADIR"),
                    mandir = env("RYX_TEST_MANDIR"), sysconfdir = env("RYX_TEST_SYSCONFDIR"),
                    autostart = env("RYX_TEST_AUTOSTART_DIR");
  const std::string consolePortProfile = sysconfdir + "/profile.d/ryx-console-port.sh",
                    consolePortGenerator = prefix + "/lib/systemd/user-environment-generators/60-ryx-console-port";
};
test::TempDir *Installed::stage_ = nullptr;
test::RunResult *Installed::install_ = nullptr;

TEST_F(Installed, LaysOutEverythingBelowThePrefixButTheSystemConfiguration) {
  const struct {
    std::string path;
    bool executable;
    const char *magic;  // the file's first bytes
  } cases[] = {
      {bindir + "/ryxconfig", true, "\177ELF"},
      {bindir + "/ryx-settings", true, "\177ELF"},
      {prefix + "/share/ryx/images/ryx_status_icon.png", false, "\x89PNG"},
      {prefix + "/share/ryx/images/ryx_status_icon_error.png", false, "\x89PNG"},
      {prefix + "/conf/ryx.conf", false, "# ryx.conf: "},
      {datadir + "/icons/hicolor/scalable/apps/ryxconfig.svg", false, "<?xml "},
      {datadir + "/icons/hicolor/64x64/apps/ryxconfig.png", false, "\x89PNG"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    struct stat info;
    ASSERT_EQ(stat(staged(c.path).c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ((info.st_mode & 0111) != 0, c.executable);
    EXPECT_TRUE(startsWith(test::readFile(staged(c.path)), c.magic));
  }
  size_t files = 0;
  for (const auto &entry : std::filesystem::recursive_directory_iterator(stage_->path())) {
    if (entry.is_directory()) continue;
    std::string file = entry.path().string().substr(stage_->path().size());
    EXPECT_TRUE(startsWith(file, prefix + "/") || startsWith(file, sysconfdir + "/")) << file;
    ++files;
  }
  EXPECT_GT(files, 15u);

  // Every component of the legal notices has a version line and a real
  // licence; this program's is the MIT licence.
  const std::string notices = staged(prefix + "/legal-notices");
  std::vector<std::string> components = test::listFolder(notices);
  for (const char *required : {"RYX Configuration Utility", "GTK", "GLib"})
    EXPECT_NE(std::find(components.begin(), components.end(), required), components.end()) << required;
  for (const std::string &name : components) {
    std::string version = test::readFile(notices + "/" + name + "/version.txt");
    EXPECT_TRUE(version.size() >= 2 && version.back() == '\n') << name << ": \"" << version << "\"";
    EXPECT_GT(test::readFile(notices + "/" + name + "/license.txt").size(), 1000u) << name;
  }
  EXPECT_NE(test::readFile(notices + "/RYX Configuration Utility/license.txt").find("MIT License"), std::string::npos);
}

// Desktop entries and manual pages pass their checkers without a word; the
// entries start the installed program, the autostart one without a window.
TEST_F(Installed, EntriesAndManualPagesAreClean) {
  const std::string validate = env("RYX_TEST_DESKTOP_FILE_VALIDATE"), groff = env("RYX_TEST_GROFF");
  const struct {
    std::string path;
    std::vector<std::string> checker;
    std::vector<std::string> mentions;
  } cases[] = {
      {datadir + "/applications/ryxconfig.desktop",
       {validate},
       {"Exec=" + bindir + "/ryxconfig\n", "\nIcon=ryxconfig\n"}},
      {autostart + "/ryxconfig-autostart.desktop",
       {validate},
       {"Exec=" + bindir + "/ryxconfig -nowin\n", "\nIcon=ryxconfig\n"}},
      {mandir + "/man1/ryxconfig.1", {groff, "-man", "-Tutf8", "-ww", "-z"}, {}},
      {mandir + "/man1/ryx-settings.1", {groff, "-man", "-Tutf8", "-ww", "-z"}, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<std::string> argv = c.checker;
    argv.push_back(staged(c.path));
    test::RunResult r = test::runProgram(argv);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");  // no warning or hint either
    std::string source = test::readFile(staged(c.path));
    for (const std::string &mention : c.mentions) EXPECT_NE(source.find(mention), std::string::npos) << mention;
  }
}

// The console-port script as a login shell sources it (sh and bash) and as
// systemd runs it for the user manager: BASE + uid mod RANGE from the
// administrator's file (read, never run), a port already chosen kept, and a
// range outside the port numbers refused with one line.
TEST_F(Installed, ConsolePortScriptsGiveEachUidItsOwnPort) {
  test::TempDir folder;
  const std::string conf = folder / "console-port.conf";
  const std::string ownUid = std::to_string(getuid()), ownPort = std::to_string(20000 + getuid() % 10000);
  const struct {
    const char *conf;  // null: no file
    std::string uid;   // empty: the caller's
    const char *chosen;
    std::string port;  // empty: none given
    bool complaint;
  } cases[] = {
      {nullptr, "1000", nullptr, "21000", false},
      {nullptr, "", nullptr, ownPort, false},
      {nullptr, "1000", "4000", "", false},
      {"# site\n RYX_CONSOLE_PORT_BASE = 030000\nRYX_CONSOLE_PORT_RANGE=100\n", "1234", nullptr, "30034", false},
      {"RYX_CONSOLE_PORT_BASE=$(kill $PPID)\nRYX_CONSOLE_PORT_RANGE=500\n", "1234", nullptr, "20234", false},
      {"RYX_CONSOLE_PORT_BASE=65000\nRYX_CONSOLE_PORT_RANGE=1000\n", "1", nullptr, "", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.conf ? c.conf : "(no file)") + " uid " + c.uid);
    if (c.conf)
      test::writeFile(conf, c.conf);
    else
      unlink(conf.c_str());
    std::vector<std::string> run = {
        "/usr/bin/env", "-u", "RYX_CONSOLE_PORT", "-u", "RYX_CONSOLE_PORT_UID", "RYX_CONSOLE_PORT_CONF=" + conf};
    if (!c.uid.empty()) run.push_back("RYX_CONSOLE_PORT_UID=" + c.uid);
    if (c.chosen) run.push_back(std::string("RYX_CONSOLE_PORT=") + c.chosen);
    for (const char *shell : {"/bin/sh", "/bin/bash"}) {
      test::RunResult sourced = test::runProgram(
          test::concat(run, {shell, "-c", ". '" + staged(consolePortProfile) + "'; echo \"${RYX_CONSOLE_PORT-none}\""}),
          {});
      EXPECT_EQ(sourced.out, (c.chosen ? c.chosen : c.port.empty() ? "none" : c.port) + std::string("\n")) << shell;
      EXPECT_EQ(sourced.err.find("ryx-console-port: ignoring " + conf) != std::string::npos, c.complaint)
          << sourced.err;
    }
    test::RunResult generated = test::runProgram(test::concat(run, {staged(consolePortGenerator)}));
    EXPECT_EQ(generated.status, 0);
    EXPECT_EQ(generated.out, c.chosen || c.port.empty() ? "" : "RYX_CONSOLE_PORT=" + c.port + "\n");
  }
}

// Staged, the programs still look where they will be installed: the
// compiled-in root is the prefix.
TEST_F(Installed, ProgramsWithoutEnvironmentLookBelowThePrefix) {
  // A machine registry hive with an InstallPath would rightly move the root.
  if (test::fileExists("/etc/ryx/registry/machine.reg")) GTEST_SKIP() << "this machine's registry names a root";
  test::RunResult r = test::runProgram({"/usr/bin/env", "-i", staged(bindir + "/ryx-settings"), "check"});
  EXPECT_NE(r.out.find("system file " + prefix + "/conf/ryx.conf: "), std::string::npos) << r.out;
}

}  // namespace
}  // namespace ryx
