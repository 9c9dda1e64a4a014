// SPDX-License-Identifier: MIT
// The Kestrane trigger on a real X display with the system's OpenGL: the
// properties, the position from the settings, the window and its GL state.
// Where the connection information goes is tested from the other side, in
// kestrane_trigger_handover_test.cc.
// gtest first: X11's headers define None and Bool as macros.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdk.h>
#include <gdk/gdkx.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/ryx_gcommon.h"
#include "integration/ryx-config-kestrane-trigger-private.h"
#include "integration/ryx-config-kestrane-trigger.h"
#include "glib_support.h"
#include "trigger_test_support.h"

namespace {

using ryx::test::GLogCapture;
using ryx::test::IsolatedSettings;

struct TriggerDeleter {
  void operator()(RyxConfigKestraneTrigger *trigger) const { g_object_unref(trigger); }
};
using TriggerPtr = std::unique_ptr<RyxConfigKestraneTrigger, TriggerDeleter>;

Display *xdisplay() { return gdk_x11_display_get_xdisplay(gdk_display_get_default()); }

Window xidOf(RyxConfigKestraneTrigger *trigger) {
  GdkWindow *window = ryx_config_kestrane_trigger_get_window(trigger);
  return window != nullptr ? gdk_x11_window_get_xid(window) : None;
}

TriggerPtr makeTrigger(const char *payload = "payload", guint16 port = 7000) {
  return TriggerPtr(ryx_config_kestrane_trigger_new(payload, port, "conference", "key", nullptr, nullptr));
}

class KestraneTriggerTest : public ::testing::Test {
 protected:
  // No wrapper and no extension (empty pipe folder): each trigger asks for
  // tracking and logs its error line, which the capture keeps out of the
  // test output.
  IsolatedSettings settings;
  GLogCapture log;
};

TEST_F(KestraneTriggerTest, PropertiesHoldCopiesOfTheValues) {
  const guint8 keyBytes[] = {0x00, 0x7f, 0xff};
  GBytes *key = g_bytes_new(keyBytes, sizeof keyBytes);
  char payload[] = "the payload";
  char conference[] = "conf-1";
  const char *ids[] = {"alpha", "beta", nullptr};
  TriggerPtr trigger(ryx_config_kestrane_trigger_new(payload, 32767, conference, "secret", key, ids));
  payload[0] = 'X';
  conference[0] = 'X';

  g_autofree char *gotPayload = nullptr;
  g_autofree char *gotConference = nullptr;
  g_autofree char *gotKey = nullptr;
  g_auto(GStrv) gotIds = nullptr;
  guint port = 0;
  gpointer gotBytes = nullptr;
  g_object_get(trigger.get(), "payload", &gotPayload, "port", &port, "conference-id", &gotConference,
               "conference-key", &gotKey, "encryption-key", &gotBytes, "backend-ids", &gotIds, nullptr);
  EXPECT_STREQ(gotPayload, "the payload");
  EXPECT_EQ(port, 32767u);
  EXPECT_STREQ(gotConference, "conf-1");
  EXPECT_STREQ(gotKey, "secret");
  // The key is the caller's GBytes with a reference of the trigger's own.
  EXPECT_EQ(gotBytes, key);
  g_bytes_unref(key);
  gsize size = 0;
  const guint8 *data = static_cast<const guint8 *>(g_bytes_get_data(static_cast<GBytes *>(gotBytes), &size));
  ASSERT_EQ(size, sizeof keyBytes);
  EXPECT_EQ(std::vector<guint8>(data, data + size), std::vector<guint8>(keyBytes, keyBytes + sizeof keyBytes));
  ASSERT_NE(gotIds, nullptr);
  EXPECT_NE(static_cast<const void *>(gotIds), static_cast<const void *>(ids));
  ASSERT_EQ(g_strv_length(gotIds), 2u);
  EXPECT_STREQ(gotIds[0], "alpha");
  EXPECT_STREQ(gotIds[1], "beta");
}

TEST_F(KestraneTriggerTest, PortAboveTheRangeIsRefusedWithGLibsWarning) {
  struct Case {
    guint16 given;
    guint kept;
    bool warned;
  };
  const Case cases[] = {{0, 0, false}, {1, 1, false}, {32767, 32767, false}, {32768, 0, true}, {65535, 0, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.given);
    size_t before = log.records().size();
    TriggerPtr trigger = makeTrigger("payload", c.given);
    guint port = 12345;
    g_object_get(trigger.get(), "port", &port, nullptr);
    EXPECT_EQ(port, c.kept);
    std::string warning = "value \"" + std::to_string(c.given) +
                          "\" of type 'guint' is invalid or out of range for property 'port' of type 'guint'";
    int warnings = 0;
    for (size_t i = before; i < log.records().size(); ++i)
      if (log.records()[i].level == G_LOG_LEVEL_WARNING && log.records()[i].message.find(warning) != std::string::npos)
        ++warnings;
    EXPECT_EQ(warnings, c.warned ? 1 : 0) << log.dump();
  }
}


// Where the window is on the screen, from the X server.
struct Placement {
  int x = -1;
  int y = -1;
  unsigned width = 0;
  unsigned height = 0;
};

Placement placementOf(Window window) {
  Placement p;
  Window root = None;
  Window child = None;
  int x = 0;
  int y = 0;
  unsigned border = 0;
  unsigned depth = 0;
  if (!XGetGeometry(xdisplay(), window, &root, &x, &y, &p.width, &p.height, &border, &depth)) return p;
  XTranslateCoordinates(xdisplay(), window, root, 0, 0, &p.x, &p.y, &child);
  return p;
}

TEST_F(KestraneTriggerTest, PositionComesFromTheSetting) {
  struct Case {
    const char *setting;
    int x;
    int y;
  };
  const Case cases[] = {
      {"100, 200", 100, 200},
      {"  30 ,\t40  ", 30, 40},
      {"7", 0, 0},
      {"", 0, 0},  // empty falls through to the default "0,0"
      {"1,2,3", 1, 2},
      {"12,x", 12, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.setting);
    settings.set("RYX_CONFIG_TRIGGER_POSITION", c.setting);
    settings.reload();
    TriggerPtr trigger = makeTrigger();
    gint32 x = -1;
    gint32 y = -1;
    ryx_config_kestrane_trigger_get_position(trigger.get(), &x, &y);
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.y);
    Window window = xidOf(trigger.get());
    ASSERT_NE(window, static_cast<Window>(None));
    Placement placed = placementOf(window);
    EXPECT_EQ(placed.x, c.x);
    EXPECT_EQ(placed.y, c.y);
  }
}

TEST_F(KestraneTriggerTest, WindowIsAShownOneByOneUtilityWindowWithoutFrame) {
  settings.set("RYX_CONFIG_TRIGGER_POSITION", "100, 200");
  settings.reload();
  TriggerPtr trigger = makeTrigger();
  Window window = xidOf(trigger.get());
  ASSERT_NE(window, static_cast<Window>(None));

  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(xdisplay(), window, &attributes));
  EXPECT_EQ(attributes.width, 1);
  EXPECT_EQ(attributes.height, 1);
  EXPECT_EQ(attributes.c_class, InputOutput);  // GL needs pixels to draw to
  EXPECT_EQ(attributes.map_state, IsViewable);
  EXPECT_TRUE(attributes.override_redirect);  // no window manager frame

  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char *data = nullptr;
  Atom windowType = XInternAtom(xdisplay(), "_NET_WM_WINDOW_TYPE", False);
  ASSERT_EQ(XGetWindowProperty(xdisplay(), window, windowType, 0, 1, False, XA_ATOM, &type, &format, &count, &after,
                               &data),
            Success);
  ASSERT_EQ(count, 1u);
  Atom hint = reinterpret_cast<Atom *>(data)[0];
  XFree(data);
  EXPECT_EQ(hint, XInternAtom(xdisplay(), "_NET_WM_WINDOW_TYPE_UTILITY", False));
}

TEST_F(KestraneTriggerTest, VisualIsDoubleBufferedRgbaWithAlphaAndDepth) {
  TriggerPtr trigger = makeTrigger();
  GdkWindow *window = ryx_config_kestrane_trigger_get_window(trigger.get());
  ASSERT_NE(window, nullptr);
  XVisualInfo wanted = {};
  wanted.visualid = XVisualIDFromVisual(gdk_x11_visual_get_xvisual(gdk_window_get_visual(window)));
  int found = 0;
  XVisualInfo *visual = XGetVisualInfo(xdisplay(), VisualIDMask, &wanted, &found);
  ASSERT_NE(visual, nullptr);
  auto config = [&](int attribute) {
    int value = -1;
    EXPECT_EQ(glXGetConfig(xdisplay(), visual, attribute, &value), 0) << attribute;
    return value;
  };
  EXPECT_EQ(config(GLX_USE_GL), 1);
  EXPECT_EQ(config(GLX_RGBA), 1);
  EXPECT_EQ(config(GLX_DOUBLEBUFFER), 1);
  EXPECT_EQ(config(GLX_RED_SIZE) + config(GLX_GREEN_SIZE) + config(GLX_BLUE_SIZE) + config(GLX_ALPHA_SIZE), 32);
  EXPECT_EQ(config(GLX_ALPHA_SIZE), 8);
  EXPECT_GE(config(GLX_DEPTH_SIZE), 16);
  XFree(visual);
}

TEST_F(KestraneTriggerTest, ContextStaysCurrentWithTheClearColourSetToWhite) {
  TriggerPtr trigger = makeTrigger();
  Window window = xidOf(trigger.get());
  ASSERT_NE(window, static_cast<Window>(None));
  EXPECT_NE(glXGetCurrentContext(), nullptr);
  EXPECT_EQ(glXGetCurrentDrawable(), window);
  GLfloat colour[4] = {0, 0, 0, 0};
  glGetFloatv(GL_COLOR_CLEAR_VALUE, colour);
  EXPECT_EQ(std::vector<GLfloat>(colour, colour + 4), std::vector<GLfloat>({1.0f, 1.0f, 1.0f, 1.0f}));
}

TEST_F(KestraneTriggerTest, FinalizeDestroysTheWindowAndTheContext) {
  TriggerPtr trigger = makeTrigger();
  Window window = xidOf(trigger.get());
  ASSERT_NE(window, static_cast<Window>(None));
  trigger.reset();
  EXPECT_EQ(glXGetCurrentContext(), nullptr);
  GdkDisplay *display = gdk_display_get_default();
  gdk_x11_display_error_trap_push(display);
  XWindowAttributes attributes;
  Status exists = XGetWindowAttributes(xdisplay(), window, &attributes);
  gdk_x11_display_error_trap_pop_ignored(display);
  EXPECT_FALSE(exists);
}

// The pixel the X server shows for a window.
unsigned long pixelOf(Window window) {
  XImage *image = XGetImage(xdisplay(), window, 0, 0, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return ~0ul;
  unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
  XDestroyImage(image);
  return pixel;
}

TEST_F(KestraneTriggerTest, PresentsOneFrameClearedBeforeTheColourTurnsWhite) {
  // A white window underneath: where the trigger presented nothing, or a
  // frame cleared with the white colour, its pixel would be white.
  Display *x = xdisplay();
  XSetWindowAttributes white = {};
  white.background_pixel = WhitePixel(x, DefaultScreen(x));
  white.override_redirect = True;
  Window under = XCreateWindow(x, DefaultRootWindow(x), 300, 300, 4, 4, 0, CopyFromParent, InputOutput,
                               CopyFromParent, CWBackPixel | CWOverrideRedirect, &white);
  XMapWindow(x, under);
  XSync(x, False);
  ASSERT_EQ(pixelOf(under), 0xffffffu);

  settings.set("RYX_CONFIG_TRIGGER_POSITION", "301,301");
  settings.reload();
  TriggerPtr trigger = makeTrigger();
  Window window = xidOf(trigger.get());
  ASSERT_NE(window, static_cast<Window>(None));
  XSync(x, False);
  EXPECT_EQ(pixelOf(window), 0x000000u);
  trigger.reset();
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
