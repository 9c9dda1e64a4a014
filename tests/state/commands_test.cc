// SPDX-License-Identifier: MIT
// The server-state checks on real registry files and libraries, a fresh installation per case.
#include "state/commands.h"

#include <gtest/gtest.h>

#include "common/conf_settings.h"
#include "installation.h"
#include "test_support.h"

namespace ryx::test {
namespace {

constexpr const char *kNotEnabled = "RYX is NOT enabled on this system. Please contact your system administrator.";
const std::string kGridMissing =
    "Unable to load NVIDIA GRID library.\nPlease contact your system administrator to update the NVIDIA "
    "driver to the latest version.";
const std::vector<std::string> kBothOn = {"\"status\"=dword:00000001", "\"directXStatus\"=dword:00000001"};
const std::vector<std::string> kDirectXOff = {"\"status\"=dword:00000001", "\"directXStatus\"=dword:00000000"};

// The checks' result, code and message on one line ("update=1 code=0 message=-").
std::string describe(const char *step, bool result, const Commands &commands) {
  return std::string(step) + "=" + (result ? "1" : "0") + " code=" + std::to_string(commands.code()) +
         " message=" + (commands.message() != nullptr ? commands.message() : "-") + "\n";
}

// How many times the installation's GRID library was loaded.
int gridLoads(const Installation &install) {
  std::string record = readFile(install.gridRecord());
  int loads = 0;
  for (size_t at = record.find("loaded "); at != std::string::npos; at = record.find("loaded ", at + 1)) ++loads;
  return loads;
}

// The switch is read from the value or a new user starts switched on; the
// wrapper is the OpenGL library that exports ryxEnabled.  One object is what
// a process has: its GRID attempt is made once, and a library installed
// afterwards changes nothing.
TEST(Commands, StatusFollowsTheValuesWrapperAndGrid) {
  const std::string ok = "update=1 code=0 message=-\n", grid = "update=1 code=5 message=" + kGridMissing + "\n";
  const std::string disabled = "update=0 code=3 message=" + std::string(kNotEnabled) + "\n";
  const struct {
    const char *name;
    bool newUser;  // no hive at all; else `values`
    std::vector<std::string> values;
    Wrapper wrapper;
    bool grid;
    std::vector<std::string> env;
    std::vector<std::string> steps;  // on, on-dx, update, grid, install-grid, switch-on, switch-off
    std::string expectedOut;
    int expectedLoads;
    std::string statusAfter, directXAfter;
    // clang-format off
  } cases[] = {
      {"status 0 with directXStatus missing: both rewritten as on", false, {"\"status\"=dword:00000000"},
       Wrapper::Missing, false, {}, {"on-dx"}, "on=1\n", 0, dword(1), dword(1)},
      {"directXStatus 0 reads as off", false, kDirectXOff, Wrapper::Missing, false, {}, {"on-dx"}, "on=0\n", 0,
       dword(1), dword(0)},
      {"a string longer than 4 bytes counts as missing", false,
       {"\"status\"=\"switched off\"", "\"directXStatus\"=dword:00000000"}, Wrapper::Missing, false, {}, {"on"},
       "on=1\n", 0, dword(1), dword(1)},
      {"a large value reads as on", false, {"\"status\"=dword:80000000"}, Wrapper::Missing, false, {}, {"on"},
       "on=1\n", 0, dword(0x80000000u), "missing"},
      {"new user: both values created, GRID check applies", true, {}, Wrapper::Full, true, {}, {"update"}, ok, 1,
       dword(1), dword(1)},
      {"GRID library missing", false, kBothOn, Wrapper::Full, false, {}, {"update"}, grid, 0, dword(1), dword(1)},
      {"no wrapper wins over a missing GRID library", false, kBothOn, Wrapper::Missing, false, {}, {"update"},
       disabled, 0, dword(1), dword(1)},
      {"directXStatus 0 never loads the GRID library", false, kDirectXOff, Wrapper::Full, true, {}, {"update"}, ok,
       0, dword(1), dword(0)},
      {"a wrapper without connection info is one", false, kDirectXOff, Wrapper::NoConnectionInfo, false, {},
       {"update"}, ok, 0, dword(1), dword(0)},
      {"a GL library without ryxEnabled is no wrapper", false, kDirectXOff, Wrapper::Plain, false, {}, {"update"},
       disabled, 0, dword(1), dword(0)},
      {"external rendering server: GRID check passes without loading", false, kBothOn, Wrapper::Full, true,
       {"RYX_RENDERING_SERVER=render-1:8080"}, {"update", "grid"}, ok + "grid=1\n", 0, dword(1), dword(1)},
      {"forced local rendering: the GRID library is loaded", false, kBothOn, Wrapper::Full, true,
       {"RYX_RENDERING_SERVER=render-1:8080", "RYX_FORCE_LOCAL_RENDERING=true"}, {"update"}, ok, 1, dword(1),
       dword(1)},
      {"a GRID library installed after a failed attempt is not seen", false, kBothOn, Wrapper::Full, false, {},
       {"update", "install-grid", "update", "grid"}, grid + grid + "grid=0\n", 0, dword(1), dword(1)},
      {"switching off: both values 0, GRID library loaded once", false, kBothOn, Wrapper::Full, true, {},
       {"switch-off"}, "switch=1 code=0 message=-\n", 1, dword(0), dword(0)},
      {"switching off without the wrapper writes nothing", false, kBothOn, Wrapper::Missing, false, {}, {"switch-off"},
       "switch=0 code=3 message=" + std::string(kNotEnabled) + "\n", 0, dword(1), dword(1)},
      {"switching on from off: directXStatus stays 0 until the end, so no GRID load", false,
       {"\"status\"=dword:00000000", "\"directXStatus\"=dword:00000000"}, Wrapper::Full, true, {}, {"switch-on"},
       "switch=1 code=0 message=-\n", 0, dword(1), dword(1)},
  };
  // clang-format on
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Installation install;
    for (const std::string &entry : c.env) {
      size_t equals = entry.find('=');
      install.set(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1);
    }
    conf::Settings::instance().reload();
    if (!c.newUser) install.writeProductValues(c.values);
    install.installWrapper(c.wrapper);
    if (c.grid) install.installGrid();

    Commands commands;
    std::string out;
    CaptureFd stdoutLines(1);
    for (const std::string &step : c.steps) {
      if (step.rfind("on", 0) == 0) out += std::string("on=") + (commands.isRyxOn(step == "on-dx") ? "1" : "0") + "\n";
      if (step == "update") out += describe("update", commands.updateStatus(), commands);
      if (step == "grid") out += std::string("grid=") + (commands.isGridAvailable() ? "1" : "0") + "\n";
      if (step == "install-grid") install.installGrid();
      if (step.rfind("switch-", 0) == 0) out += describe("switch", commands.switchRyx(step == "switch-on"), commands);
    }
    EXPECT_EQ(stdoutLines.finish(), "") << "a GL library is found in every case";
    EXPECT_EQ(out, c.expectedOut);
    EXPECT_EQ(gridLoads(install), c.expectedLoads);
    EXPECT_EQ(install.read("status"), c.statusAfter);
    EXPECT_EQ(install.read("directXStatus"), c.directXAfter);
  }
  conf::Settings::instance().reload();
}

}  // namespace
}  // namespace ryx::test
