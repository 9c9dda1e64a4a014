// SPDX-License-Identifier: MIT
// Where the trigger's connection information goes, seen from the other
// side: the wrapper stand-in's record when the driver has the entry point,
// the stand-in extension's record when it has not.  Each case runs this
// program again (--probe) to make one trigger, since a process loads its
// OpenGL library once.
// gtest first: X11's headers define None and Bool as macros.
#include <gtest/gtest.h>

#include <gdk/gdk.h>
#include <gdk/gdkx.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "integration/ryx-config-kestrane-trigger-private.h"
#include "integration/ryx-config-kestrane-trigger.h"
#include "test_support.h"

namespace {

using ryx::test::Child;
using ryx::test::RunResult;
using ryx::test::TempDir;

std::string folderOf(const std::string &path) { return path.substr(0, path.rfind('/')); }

// The wrapper stand-in with and without the entry point (no wrapper at all,
// the system's libGL, takes the path of the one without).
const std::string kWrapper = folderOf(RYX_TEST_WRAPPER);
const std::string kWrapperWithoutEntryPoint = folderOf(RYX_TEST_WRAPPER_NO_CONNECTION_INFO);

std::string hexOf(const std::string &bytes) {
  std::string hex;
  for (unsigned char c : bytes) hex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  return hex;
}

// What one probe run printed.
struct ProbeReport {
  int status = -1;
  std::string window;  // "0x..." / "none"
  std::vector<std::string> log;
  std::string err;

  unsigned long windowId() const { return strtoul(window.c_str(), nullptr, 16); }
};

class KestraneTriggerHandoverTest : public ::testing::Test {
 protected:
  // Starts the stand-in extension on the console session's pipes.
  void startExtension(const std::vector<std::string> &faults = {}) {
    extension_.reset();
    std::vector<std::string> argv = {RYX_VNC_EXT_PROGRAM, "--record", extensionRecord()};
    for (const std::string &fault : faults) argv.insert(argv.end(), {"--fault", fault});
    extension_ = std::make_unique<Child>(argv, environment());
    std::string line;
    ASSERT_TRUE(extension_->readLine(&line, 5000)) << "the extension did not start";
    ASSERT_EQ(line.find("ryx-vnc-ext serving "), 0u) << line;
  }

  // Runs the probe, with `library` (a folder) searched first for opengl32.
  ProbeReport runProbe(const std::string &library, const std::vector<std::string> &args,
                       const std::vector<std::string> &extraEnv) {
    g_autofree char *self = g_file_read_link("/proc/self/exe", nullptr);
    std::vector<std::string> argv = {self, "--probe"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = environment();
    env.push_back("RYX_LIBRARY_PATH=" + library);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());  // a later entry replaces one of the same name
    RunResult result = ryx::test::runProgram(argv, env);
    ProbeReport report;
    report.status = result.status;
    report.err = result.err;
    for (const std::string &line : ryx::test::splitLines(result.out)) {
      if (line.rfind("window ", 0) == 0) report.window = line.substr(7);
      if (line.rfind("log ", 0) == 0) report.log.push_back(line.substr(4));
    }
    return report;
  }

  std::vector<std::string> environment() const {
    // Under a sanitizer build the GL libraries' own allocations kept until
    // exit are not the probe's leaks.
    const char *lsan = getenv("LSAN_OPTIONS");
    std::string lsanOptions = std::string(lsan != nullptr ? lsan : "") + ":suppressions=" + RYX_LSAN_SUPPRESSIONS;
    return {"LSAN_OPTIONS=" + lsanOptions,
            "GDK_BACKEND=x11",
            "RYX_PIPE_DIR=" + dir_ / "pipes",
            "RYX_WRAPPER_RECORD=" + wrapperRecord(),
            "RYX_ROOT=" + dir_.path(),
            "HOME=" + dir_.path(),
            "RYX_USER_CONFIG_DIR",
            "RYX_CONFIG_TRIGGER_POSITION",
            "RYX_VVN_ENABLED=false"};
  }

  std::string wrapperRecord() const { return dir_ / "wrapper.record"; }
  std::string extensionRecord() const { return dir_ / "extension.record"; }
  std::vector<std::string> extensionLines() const {
    return ryx::test::splitLines(ryx::test::readFile(extensionRecord()));
  }

  TempDir dir_;
  std::unique_ptr<Child> extension_;
};

// With the driver's entry point the values go to it and no pipe is opened
// (every value reaching the driver: e2e
// TheInstanceServesSecondStartsAndItsConsolePort; here, values that are not
// there); without it the extension tracks the window with the payload.
// Where tracking fails, or VVN is on, the window stays and the outcome is
// logged (or nothing is handed over).
TEST_F(KestraneTriggerHandoverTest, TheValuesGoToTheDriverOrTheExtensionTracksTheWindow) {
  const std::vector<std::string> p9 = {"--payload", "p", "--port", "9"};
  const std::string none = kWrapperWithoutEntryPoint;
  const char *tracked = "info track_window: Tracked window (%lx)";
  const struct {
    const char *name;
    std::string library;
    std::vector<std::string> args;
    const char *fault;  // null: no extension runs; "": none
    bool vvn;
    std::string data;     // the bytes the extension receives; "": it receives nothing; "*": not looked at
    const char *log;      // %lx: the window id; "": no line
    std::string wrapper;  // what the wrapper stand-in records
  } cases[] = {
      {"only a port", kWrapper, {"--port", "5900"}, "", false, "", "", "5900\t\\N\t\\N\t\t0\t\\N\n"},
      // VVN only matters when the driver cannot take the values.
      {"VVN on", kWrapper, {"--port", "2", "--conference-key", "v"}, "", true, "", "", "2\t\\N\tv\t\t0\t\\N\n"},
      {"no entry point", none, {"--payload", "pay,load"}, "", false, {"pay,load\0", 9}, tracked, ""},
      {"no payload", none, {}, "", false, {"\0", 1}, tracked, ""},
      {"tracking refused", none, p9, "track-refuse", false, "*",
       "warning track_window: Request to track window %lx failed", ""},
      {"no extension", none, p9, nullptr, false, "",
       "error track_window: You should install the VNC server's visualization extension to use RYX.", ""},
      {"VVN on, no entry point", none, p9, "", true, "", "", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    remove(extensionRecord().c_str());
    remove(wrapperRecord().c_str());
    extension_.reset();
    if (c.fault != nullptr)
      startExtension(*c.fault != '\0' ? std::vector<std::string>{c.fault} : std::vector<std::string>{});
    ProbeReport report = runProbe(c.library, c.args, {std::string("RYX_VVN_ENABLED=") + (c.vvn ? "true" : "false")});
    ASSERT_EQ(report.status, 0) << report.err;
    unsigned long window = report.windowId();
    ASSERT_NE(window, 0ul) << report.window;
    char line[256];
    snprintf(line, sizeof line, c.log, window);
    EXPECT_EQ(report.log, *c.log != '\0' ? std::vector<std::string>{line} : std::vector<std::string>{});
    snprintf(line, sizeof line, "TrackWindow window=%lu p=%zu flag=1 n=%zu bytes=%zu data=", window, c.data.size() + 13,
             c.data.size(), c.data.size() + 29);
    if (c.data != "*") {
      EXPECT_EQ(extensionLines(),
                c.data.empty()
                    ? std::vector<std::string>()
                    : std::vector<std::string>({"connect VNC_Visualization_Ext_Session-Console",
                                                "connect VNC_Visualization_Ext_Notify-Console", line + hexOf(c.data)}));
    }
    EXPECT_EQ(ryx::test::readFile(wrapperRecord()), c.wrapper);
  }
}

// The probe prints "window 0xID" (or "none"), and "log LEVEL FUNCTION:
// MESSAGE" for every record of the log domain RYX.
GLogWriterOutput printRyxRecords(GLogLevelFlags level, const GLogField *fields, gsize count, gpointer) {
  const char *domain = nullptr, *message = "", *function = "", *ryxLevel = "";
  for (gsize i = 0; i < count; ++i) {
    const char *value = static_cast<const char *>(fields[i].value);
    if (strcmp(fields[i].key, "GLIB_DOMAIN") == 0) domain = value;
    if (strcmp(fields[i].key, "MESSAGE") == 0) message = value;
    if (strcmp(fields[i].key, "CODE_FUNC") == 0) function = value;
    if (strcmp(fields[i].key, "RYX_LEVEL") == 0) ryxLevel = value;
  }
  if (g_strcmp0(domain, "RYX") != 0) return g_log_writer_default(level, fields, count, nullptr);
  const char *name = strcmp(ryxLevel, "error") == 0  ? "error"
                     : (level & G_LOG_LEVEL_WARNING) ? "warning"
                     : (level & G_LOG_LEVEL_INFO)    ? "info"
                                                     : "debug";
  printf("log %s %s: %s\n", name, function, message);
  fflush(stdout);
  return G_LOG_WRITER_HANDLED;
}

// --probe [--payload TEXT] [--port N] [--conference-key TEXT]
int probe(int argc, char **argv) {
  const char *payload = nullptr, *conferenceKey = nullptr;
  guint16 port = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--payload") == 0) payload = argv[i + 1];
    if (strcmp(argv[i], "--port") == 0) port = static_cast<guint16>(atoi(argv[i + 1]));
    if (strcmp(argv[i], "--conference-key") == 0) conferenceKey = argv[i + 1];
  }
  g_log_set_writer_func(printRyxRecords, nullptr, nullptr);
  // On a loaded machine the shared test X server has been seen to refuse
  // one connection in a few dozen runs: three tries before giving up.
  bool opened = gdk_init_check(&argc, &argv);
  for (int attempt = 1; !opened && attempt < 3; ++attempt) {
    g_usleep(200 * 1000);
    opened = gdk_init_check(&argc, &argv);
  }
  if (!opened) {
    fprintf(stderr, "probe: cannot open a display (DISPLAY %s)\n", g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "unset");
    return 2;
  }
  RyxConfigKestraneTrigger *trigger =
      ryx_config_kestrane_trigger_new(payload, port, nullptr, conferenceKey, nullptr, nullptr);
  GdkWindow *window = ryx_config_kestrane_trigger_get_window(trigger);
  if (window != nullptr && GDK_IS_X11_WINDOW(window))
    printf("window 0x%lx\n", static_cast<unsigned long>(gdk_x11_window_get_xid(window)));
  else
    printf("window %s\n", window != nullptr ? "other" : "none");
  fflush(stdout);
  g_object_unref(trigger);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "--probe") == 0) return probe(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
