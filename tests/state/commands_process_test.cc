// SPDX-License-Identifier: MIT
// Server-state behaviour that lasts for a process: the GRID library is
// tried once per process, and the logger picks its output on the first
// message.  Each case runs the state_probe program in a fresh process
// against a temporary installation of real registry files and the
// stand-in libraries.
#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <cstdlib>

#include <gtest/gtest.h>

#include "installation.h"
#include "test_support.h"

namespace ryx {
namespace {

using test::dword;
using test::Installation;
using test::RunResult;
using test::Wrapper;

const std::string kNotEnabled =
    "RYX is NOT enabled on this system. Please contact your system administrator.";
const std::string kGridMissing =
    "Unable to load NVIDIA GRID library.\\nPlease contact your system administrator to update the NVIDIA "
    "driver to the latest version.";  // as the probe prints it, the line feed escaped

std::string probePath() { return test::builtLibrary("RYX_TEST_STATE_PROBE"); }

RunResult runProbe(const Installation &install, const std::vector<std::string> &steps,
                   const std::vector<std::string> &extraEnv = {}) {
  std::vector<std::string> argv{probePath()};
  argv.insert(argv.end(), steps.begin(), steps.end());
  std::vector<std::string> env = install.environment();
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());  // the case's own entries win
  return test::runProgram(argv, env);
}

// How many times a process loaded the GRID library.
int gridLoads(const Installation &install) {
  std::string record = test::readFile(install.gridRecord());
  int loads = 0;
  for (size_t at = record.find("loaded "); at != std::string::npos; at = record.find("loaded ", at + 1)) ++loads;
  return loads;
}

const std::vector<std::string> kBothOn = {"\"status\"=dword:00000001", "\"directXStatus\"=dword:00000001"};
const std::vector<std::string> kDirectXOff = {"\"status\"=dword:00000001", "\"directXStatus\"=dword:00000000"};

struct ProcessCase {
  const char *name;
  bool newUser;  // no hive at all; else kBothOn or the given values
  std::vector<std::string> values;
  Wrapper wrapper;
  bool grid;
  std::vector<std::string> env;
  std::vector<std::string> steps;  // "GRID" stands for the GRID library's path
  std::string expectedOut;
  int expectedLoads;
  std::string statusAfter, directXAfter;
};

TEST(CommandsProcessTest, StatusFollowsWrapperGridAndDirectXValue) {
  const std::string ok = "update=1 code=0 message=-\n";
  const std::string grid = "update=1 code=5 message=" + kGridMissing + "\n";
  const std::string disabled = "update=0 code=3 message=" + kNotEnabled + "\n";
  const std::vector<std::string> external = {"RYX_RENDERING_SERVER=render-1:8080"};
  const ProcessCase cases[] = {
      {"wrapper and GRID library", false, kBothOn, Wrapper::Full, true, {}, {"update"}, ok, 1, dword(1), dword(1)},
      {"new user: both values created, GRID check applies", true, {}, Wrapper::Full, true, {}, {"update"}, ok, 1,
       dword(1), dword(1)},
      {"GRID library missing", false, kBothOn, Wrapper::Full, false, {}, {"update"}, grid, 0, dword(1), dword(1)},
      {"wrapper and GRID library both missing", false, kBothOn, Wrapper::None, false, {}, {"update"}, disabled, 0,
       dword(1), dword(1)},
      {"plain GL library with the GRID library", false, kBothOn, Wrapper::Plain, true, {}, {"update"}, disabled, 1,
       dword(1), dword(1)},
      {"directXStatus 0 never loads the GRID library", false, kDirectXOff, Wrapper::Full, true, {}, {"update"}, ok,
       0, dword(1), dword(0)},
      {"external rendering server: GRID check passes without loading", false, kBothOn, Wrapper::Full, true,
       external, {"update", "grid"}, ok + "grid=1\n", 0, dword(1), dword(1)},
      {"forced local rendering ignores the external server", false, kBothOn, Wrapper::Full, false,
       {"RYX_RENDERING_SERVER=render-1:8080", "RYX_FORCE_LOCAL_RENDERING=true"}, {"update"}, grid, 0, dword(1),
       dword(1)},
      {"GRID library installed after a failed attempt is not seen", false, kBothOn, Wrapper::Full, false, {},
       {"update", "install", "BUILT_GRID", "GRID", "update", "grid"}, grid + "installed\n" + grid + "grid=0\n", 0,
       dword(1), dword(1)},
      {"a GRID library that loaded stays a success", false, kBothOn, Wrapper::Full, true, {},
       {"update", "remove", "GRID", "update"}, ok + "removed\n" + ok, 1, dword(1), dword(1)},
      {"switching off: both values 0, GRID library loaded once", false, kBothOn, Wrapper::Full, true, {},
       {"switch-off"}, "switch=1 code=0 message=-\n", 1, dword(0), dword(0)},
      {"switching off a new user without the GRID library", true, {}, Wrapper::Full, false, {}, {"switch-off"},
       "switch=1 code=5 message=" + kGridMissing + "\n", 0, dword(0), dword(0)},
      {"switching off without the wrapper writes nothing", false, kBothOn, Wrapper::None, false, {}, {"switch-off"},
       "switch=0 code=3 message=" + kNotEnabled + "\n", 0, dword(1), dword(1)},
      {"switching on from off: directXStatus stays 0 until the end, so no GRID load", false, {"\"status\"=dword:00000000", "\"directXStatus\"=dword:00000000"},
       Wrapper::Full, true, {}, {"switch-on"}, "switch=1 code=0 message=-\n", 0, dword(1), dword(1)},
  };
  for (const ProcessCase &c : cases) {
    SCOPED_TRACE(c.name);
    Installation install;
    if (!c.newUser) install.writeProductValues(c.values);
    install.installWrapper(c.wrapper);
    if (c.grid) install.installGrid();
    std::string hiveBefore = test::readFile(install.hivePath());
    std::vector<std::string> steps;
    for (const std::string &step : c.steps)
      steps.push_back(step == "GRID" ? install.gridPath() : step == "BUILT_GRID" ? test::builtLibrary("RYX_TEST_GRID") : step);

    RunResult run = runProbe(install, steps, c.env);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.expectedOut);
    EXPECT_EQ(gridLoads(install), c.expectedLoads);
    EXPECT_EQ(install.read("status"), c.statusAfter);
    EXPECT_EQ(install.read("directXStatus"), c.directXAfter);
    if (c.wrapper == Wrapper::None && !c.newUser) {
      EXPECT_EQ(test::readFile(install.hivePath()), hiveBefore);
    }
  }
}

// isRyxOn is off where the product key cannot be created, and says so in
// the log file of its process.
TEST(CommandsProcessTest, ProductKeyThatCannotBeCreatedIsLogged) {
  Installation install;
  install.installWrapper(Wrapper::Full);
  install.installGrid();
  test::writeFile(install.path("not-a-folder"), "");  // a registry folder below a file cannot be made, even by root
  std::string logBase = install.path("ryxconfig");

  // Off for this user, so the GRID check does not apply.
  RunResult run = runProbe(install, {"on", "update"},
                           {"RYX_REGISTRY_DIR=" + install.path("not-a-folder/registry"), "RYX_LOG_FILE=" + logBase});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "on=0\nupdate=1 code=0 message=-\n");
  EXPECT_EQ(gridLoads(install), 0);

  std::vector<std::string> logs;
  for (const std::string &name : test::listFolder(install.path("")))
    if (name.rfind("ryxconfig.", 0) == 0) logs.push_back(name);
  ASSERT_EQ(logs.size(), 1u);
  // One file per process, ryxconfig.<pid>.txt, with that pid in each line.
  const pid_t pid = atoi(logs[0].c_str() + 10);
  EXPECT_EQ(logs[0], "ryxconfig." + std::to_string(pid) + ".txt");
  int lines = 0;
  for (const std::string &line : test::splitLines(test::readFile(install.path(logs[0])))) {
    ++lines;
    std::string reduced;
    EXPECT_TRUE(test::reduceLogLine(line, pid, &reduced)) << line;
    EXPECT_EQ(reduced, "E RYX (ryx::Commands::isRyxOn): Error creating registry key to store RYX status.");
  }
  EXPECT_EQ(lines, 2);  // one for each isRyxOn that had to create the key
}

// The real path of the system's GL library, as the loader finds it.
std::string systemGLPath() {
  void *handle = dlopen("libGL.so.1", RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) return {};
  struct link_map *map = nullptr;
  std::string path;
  char resolved[PATH_MAX];
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && realpath(map->l_name, resolved) != nullptr)
    path = resolved;
  dlclose(handle);
  return path;
}

// Without any OpenGL library the check prints its "ERROR: " line.  The
// system's GL library is hidden in a mount namespace of the probe's own;
// where namespaces are not allowed the case cannot be set up and is skipped.
TEST(CommandsProcessTest, NoOpenGLLibraryAtAllPrintsAnErrorLine) {
  const std::string unshare = "/usr/bin/unshare";
  std::string gl = systemGLPath();
  if (gl.empty()) GTEST_SKIP() << "this machine has no libGL.so.1 to hide";
  if (!test::fileExists(unshare)) GTEST_SKIP() << "unshare is not installed";

  Installation install;
  install.writeProductValues(kBothOn);
  std::vector<std::string> argv{unshare, "--mount", "/bin/sh", "-c",
                                "mount --bind /dev/null \"$1\" && echo namespace-ready >&2 && shift && exec \"$@\"",
                                "sh", gl, probePath(), "update"};
  RunResult run = test::runProgram(argv, install.environment());
  if (run.err.find("namespace-ready") == std::string::npos)
    GTEST_SKIP() << "no private mount namespace here: " << run.err;

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "ERROR: No OpenGL library could be found on this system.\n\nupdate=0 code=3 message=" +
                         kNotEnabled + "\n");
  EXPECT_EQ(gridLoads(install), 0);
}

}  // namespace
}  // namespace ryx
