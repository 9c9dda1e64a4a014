// SPDX-License-Identifier: MIT
// The Kestrane trigger on a real X display with the system's OpenGL: the
// window at the position from the settings, and its frame.
// Where the connection information goes is tested from the other side, in
// kestrane_trigger_handover_test.cc.
// gtest first: X11's headers define None and Bool as macros.
#include <gtest/gtest.h>

#include <GL/glx.h>
#include <X11/Xlib.h>
#include <gdk/gdk.h>
#include <gdk/gdkx.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/ryx_gcommon.h"
#include "integration/ryx-config-kestrane-trigger-private.h"
#include "integration/ryx-config-kestrane-trigger.h"
#include "glib_support.h"
#include "installation.h"

namespace {

struct TriggerDeleter {
  void operator()(RyxConfigKestraneTrigger *trigger) const { g_object_unref(trigger); }
};
using TriggerPtr = std::unique_ptr<RyxConfigKestraneTrigger, TriggerDeleter>;

Display *xdisplay() { return gdk_x11_display_get_xdisplay(gdk_display_get_default()); }

TriggerPtr makeTrigger(guint16 port = 7000) {
  return TriggerPtr(ryx_config_kestrane_trigger_new("payload", port, "conference", "key", nullptr, nullptr));
}

Window xidOf(const TriggerPtr &trigger) {
  GdkWindow *window = ryx_config_kestrane_trigger_get_window(trigger.get());
  return window != nullptr ? gdk_x11_window_get_xid(window) : None;
}

class KestraneTriggerTest : public ::testing::Test {
 protected:
  // No wrapper and no extension (empty pipe folder): each trigger asks for
  // tracking and logs its error line, which the capture keeps out of the
  // test output.
  void SetUp() override { ryx_conf_settings_reload(); }
  ryx::test::Installation settings;
  ryx::test::GLogCapture log;
};

// The pixel the X server shows for a window.
unsigned long pixelOf(Window window) {
  XImage *image = XGetImage(xdisplay(), window, 0, 0, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return ~0ul;
  unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
  XDestroyImage(image);
  return pixel;
}

// At "X,Y" of the setting (blanks around the numbers allowed), a shown
// 1 x 1 window with a current context, showing one frame cleared
// before the colour turns white: over a white window, where it presented
// nothing or cleared with white its pixel would be white.
TEST_F(KestraneTriggerTest, WindowShowsOneBlackFrame) {
  Display *x = xdisplay();
  XSetWindowAttributes white = {};
  white.background_pixel = WhitePixel(x, DefaultScreen(x));
  white.override_redirect = True;
  Window under = XCreateWindow(x, DefaultRootWindow(x), 300, 300, 4, 4, 0, CopyFromParent, InputOutput, CopyFromParent,
                               CWBackPixel | CWOverrideRedirect, &white);
  XMapWindow(x, under);
  XSync(x, False);
  ASSERT_EQ(pixelOf(under), 0xffffffu);
  settings.set("RYX_CONFIG_TRIGGER_POSITION", " 301 ,\t301 ");
  ryx_conf_settings_reload();
  TriggerPtr trigger = makeTrigger();
  Window window = xidOf(trigger);
  ASSERT_NE(window, static_cast<Window>(None));
  XSync(x, False);
  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(x, window, &attributes));
  gint32 setX = -1, setY = -1;
  int placedX = -1, placedY = -1;
  Window child = None;
  ryx_config_kestrane_trigger_get_position(trigger.get(), &setX, &setY);
  XTranslateCoordinates(x, window, DefaultRootWindow(x), 0, 0, &placedX, &placedY, &child);
  EXPECT_EQ(std::vector<long>({setX, setY, placedX, placedY, attributes.width, attributes.height, attributes.map_state,
                               glXGetCurrentDrawable() == window, static_cast<long>(pixelOf(window))}),
            std::vector<long>({301, 301, 301, 301, 1, 1, IsViewable, 1, 0x000000}));
  XDestroyWindow(x, under);
  XSync(x, False);
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The system's OpenGL, whatever is installed: the process loads its
  // OpenGL library once, at the first trigger.
  ryx::test::TempDir noLibraries;
  unsetenv("RYX_LIBRARY_PATH");
  setenv("RYX_SYSTEM_DIR", noLibraries.path().c_str(), 1);
  gdk_set_allowed_backends("x11");
  if (!gdk_init_check(&argc, &argv)) {
    fprintf(stderr, "no display: these tests run under an X server (xvfb-run)\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
