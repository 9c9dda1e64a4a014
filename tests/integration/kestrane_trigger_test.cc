// SPDX-License-Identifier: MIT
// The Kestrane trigger on an X display: its window, made in this process
// with the system's OpenGL; and where its connection information goes, seen
// from the other side: the wrapper stand-in's record when the driver has the
// entry point, the stand-in extension's record when it has not.  Each
// hand-over case runs this program again (--probe) to make one trigger,
// since a process loads its OpenGL library once.
// gtest first: X11's headers define None and Bool as macros.
#include <gtest/gtest.h>

#include <GL/glx.h>
#include <X11/Xlib.h>
#include <gdk/gdk.h>
#include <gdk/gdkx.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/ryx_gcommon.h"
#include "integration/ryx-config-kestrane-trigger-private.h"
#include "integration/ryx-config-kestrane-trigger.h"
#include "glib_support.h"
#include "installation.h"

namespace {

using ryx::test::Child;
using ryx::test::RunResult;

std::string folderOf(const std::string &path) { return path.substr(0, path.rfind('/')); }

class KestraneTriggerTest : public ::testing::Test {
 protected:
  // Starts the stand-in extension on the console session's pipes, with a
  // fault unless `fault` is "".
  void startExtension(const char *fault) {
    std::vector<std::string> argv = {RYX_VNC_EXT_PROGRAM, "--record", extensionRecord()};
    if (*fault != '\0') argv.insert(argv.end(), {"--fault", fault});
    extension_ = std::make_unique<Child>(argv, environment());
    std::string line;
    ASSERT_TRUE(extension_->readLine(&line, 5000)) << "the extension did not start";
  }

  // Runs the probe: its output is the window's id ("0x...", or "none") and
  // then its log.
  RunResult runProbe(const std::vector<std::string> &extraEnv) {
    g_autofree char *self = g_file_read_link("/proc/self/exe", nullptr);
    return ryx::test::runProgram({self, "--probe"}, ryx::test::concat(environment(), extraEnv));
  }

  std::vector<std::string> environment() const {
    // Under a sanitizer build the GL libraries' own allocations kept until
    // exit are not the probe's leaks.
    const char *lsan = getenv("LSAN_OPTIONS");
    std::string lsanOptions = std::string(lsan != nullptr ? lsan : "") + ":suppressions=" + RYX_LSAN_SUPPRESSIONS;
    return ryx::test::concat(install.environment(), {"LSAN_OPTIONS=" + lsanOptions, "GDK_BACKEND=x11",
                                                     "RYX_WRAPPER_RECORD=" + wrapperRecord()});
  }

  std::string wrapperRecord() const { return install.dir / "wrapper.record"; }
  std::string extensionRecord() const { return install.dir / "extension.record"; }

  ryx::test::Installation install;
  std::unique_ptr<Child> extension_;
};

// The pixel the X server shows for a window.
unsigned long pixelOf(Display *x, Window window) {
  XImage *image = XGetImage(x, window, 0, 0, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return ~0ul;
  unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
  XDestroyImage(image);
  return pixel;
}

// At "X,Y" of the setting (blanks around the numbers allowed), a shown
// 1 x 1 window with a current context, showing one frame cleared
// before the colour turns white: over a white window, where it presented
// nothing or cleared with white its pixel would be white.  (With VVN on
// nothing is handed over: the system's OpenGL has no entry point.)
TEST_F(KestraneTriggerTest, WindowShowsOneBlackFrame) {
  Display *x = gdk_x11_display_get_xdisplay(gdk_display_get_default());
  XSetWindowAttributes white = {};
  white.background_pixel = WhitePixel(x, DefaultScreen(x));
  white.override_redirect = True;
  Window under = XCreateWindow(x, DefaultRootWindow(x), 300, 300, 4, 4, 0, CopyFromParent, InputOutput, CopyFromParent,
                               CWBackPixel | CWOverrideRedirect, &white);
  XMapWindow(x, under);
  XSync(x, False);
  ASSERT_EQ(pixelOf(x, under), 0xffffffu);
  install.set("RYX_CONFIG_TRIGGER_POSITION", " 301 ,\t301 ");
  install.set("RYX_VVN_ENABLED", "true");
  ryx_conf_settings_reload();
  g_autoptr(RyxConfigKestraneTrigger) trigger =
      ryx_config_kestrane_trigger_new("payload", 7000, nullptr, nullptr, nullptr, nullptr);
  GdkWindow *gdkWindow = ryx_config_kestrane_trigger_get_window(trigger);
  ASSERT_NE(gdkWindow, nullptr);
  Window window = gdk_x11_window_get_xid(gdkWindow);
  XSync(x, False);
  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(x, window, &attributes));
  int placedX = -1, placedY = -1;
  Window child = None;
  XTranslateCoordinates(x, window, DefaultRootWindow(x), 0, 0, &placedX, &placedY, &child);
  EXPECT_EQ(std::vector<long>({placedX, placedY, attributes.width, attributes.height, attributes.map_state,
                               glXGetCurrentDrawable() == window, static_cast<long>(pixelOf(x, window))}),
            std::vector<long>({301, 301, 1, 1, IsViewable, 1, 0x000000}));
  XDestroyWindow(x, under);
  XSync(x, False);
}

// With the driver's entry point the values go to it and no pipe is opened
// (every value reaching the driver: e2e
// TheInstanceServesSecondStartsAndItsConsolePort; here, values that are not
// there); without it the extension tracks the window with the payload
// (hex in the table).  Where tracking fails, or VVN is on, the window stays
// and the outcome is logged (or nothing is handed over).
TEST_F(KestraneTriggerTest, TheValuesGoToTheDriverOrTheExtensionTracksTheWindow) {
  // The wrapper stand-in with and without the entry point (no wrapper at
  // all, the system's libGL, takes the path of the one without) searched
  // first for opengl32.
  const std::string wrapper = "RYX_LIBRARY_PATH=" + folderOf(RYX_TEST_WRAPPER),
                    none = "RYX_LIBRARY_PATH=" + folderOf(RYX_TEST_WRAPPER_NO_CONNECTION_INFO);
  const std::string vvn = "RYX_VVN_ENABLED=true";
  const std::vector<std::string> p = {none, "PROBE_PAYLOAD=p"};
  const char *tracked = "info track_window: Tracked window (%lx)";
  const struct {
    const char *name;
    std::vector<std::string> env;  // the probe's library, trigger and settings
    const char *fault;             // null: no extension runs; "": none
    std::string data;              // the bytes the extension receives, in hex; "": none; "*": not looked at
    const char *log;               // %lx: the window id; "": no line
    std::string wrapper;           // what the wrapper stand-in records
  } cases[] = {
      {"only a port", {wrapper, "PROBE_PORT=5900"}, "", "", "", "5900\t\\N\t\\N\t\t0\t\\N\n"},
      // VVN only matters when the driver cannot take the values.
      {"VVN on", {wrapper, "PROBE_PORT=2", "PROBE_KEY=v", vvn}, "", "", "", "2\t\\N\tv\t\t0\t\\N\n"},
      {"no entry point", {none, "PROBE_PAYLOAD=pay,load"}, "", "7061792c6c6f616400", tracked, ""},
      {"no payload", {none}, "", "00", tracked, ""},
      {"tracking refused", p, "track-refuse", "*", "warning track_window: Request to track window %lx failed", ""},
      {"no extension", p, nullptr, "",
       "error track_window: You should install the VNC server's visualization extension to use RYX.", ""},
      {"VVN on, no entry point", {none, "PROBE_PAYLOAD=p", vvn}, "", "", "", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    remove(extensionRecord().c_str());
    remove(wrapperRecord().c_str());
    extension_.reset();
    if (c.fault != nullptr) startExtension(c.fault);
    RunResult probe = runProbe(c.env);
    ASSERT_EQ(probe.status, 0) << probe.err;
    std::vector<std::string> log = ryx::test::splitLines(probe.out);
    ASSERT_FALSE(log.empty());
    unsigned long window = strtoul(log[0].c_str(), nullptr, 16);
    ASSERT_NE(window, 0ul) << log[0];
    log.erase(log.begin());
    char line[256];
    snprintf(line, sizeof line, c.log, window);
    EXPECT_EQ(log, *c.log != '\0' ? std::vector<std::string>{line} : std::vector<std::string>{});
    const size_t n = c.data.size() / 2;
    snprintf(line, sizeof line, "TrackWindow window=%lu p=%zu flag=1 n=%zu bytes=%zu data=", window, n + 13, n, n + 29);
    if (c.data != "*") {
      EXPECT_EQ(ryx::test::splitLines(ryx::test::readFile(extensionRecord())),
                c.data.empty()
                    ? std::vector<std::string>()
                    : std::vector<std::string>({"connect VNC_Visualization_Ext_Session-Console",
                                                "connect VNC_Visualization_Ext_Notify-Console", line + c.data}));
    }
    EXPECT_EQ(ryx::test::readFile(wrapperRecord()), c.wrapper);
  }
}

// --probe, with the trigger's payload, port and conference key from
// PROBE_PAYLOAD, PROBE_PORT and PROBE_KEY: prints the window's id and then
// "LEVEL FUNCTION: MESSAGE" for every record of the log domain RYX.
int probe() {
  ryx::test::GLogCapture log;
  // On a loaded machine the shared test X server has been seen to refuse
  // one connection in a few dozen runs: three tries before giving up.
  bool opened = gdk_init_check(nullptr, nullptr);
  for (int attempt = 1; !opened && attempt < 3; ++attempt) {
    g_usleep(200 * 1000);
    opened = gdk_init_check(nullptr, nullptr);
  }
  if (!opened) {
    fprintf(stderr, "probe: cannot open a display (DISPLAY %s)\n", g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "unset");
    return 2;
  }
  const char *port = g_getenv("PROBE_PORT");
  RyxConfigKestraneTrigger *trigger = ryx_config_kestrane_trigger_new(
      g_getenv("PROBE_PAYLOAD"), port != nullptr ? atoi(port) : 0, nullptr, g_getenv("PROBE_KEY"), nullptr, nullptr);
  GdkWindow *window = ryx_config_kestrane_trigger_get_window(trigger);
  if (window != nullptr && GDK_IS_X11_WINDOW(window))
    printf("0x%lx\n", static_cast<unsigned long>(gdk_x11_window_get_xid(window)));
  else
    printf("%s\n", window != nullptr ? "other" : "none");
  g_object_unref(trigger);
  for (const ryx::test::LogRecord &r : log.records()) {
    if (r.domain != "RYX") continue;
    const char *level = r.fields.count("RYX_LEVEL") != 0       ? "error"
                        : (r.level & G_LOG_LEVEL_WARNING) != 0 ? "warning"
                        : (r.level & G_LOG_LEVEL_INFO) != 0    ? "info"
                                                               : "debug";
    printf("%s %s: %s\n", level, r.function.c_str(), r.message.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "--probe") == 0) return probe();
  ::testing::InitGoogleTest(&argc, argv);
  gdk_set_allowed_backends("x11");
  if (!gdk_init_check(&argc, &argv)) {
    fprintf(stderr, "no display: these tests run under an X server (xvfb-run)\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
