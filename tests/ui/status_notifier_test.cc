// SPDX-License-Identifier: MIT
// The status icon shown as a StatusNotifierItem: on a private session bus
// with the stand-in watcher, the icon registers, its image and tooltip
// follow the status, Activate runs the icon's own activation, and it moves
// between the watcher and the XEmbed tray as watchers come and go.
#define GDK_DISABLE_DEPRECATION_WARNINGS  // GtkStatusIcon
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "state/commands.h"
#include "state/status.h"
#include "ui/ryx-command-status-dialog.h"
#include "ui/ryx-command-status-icon.h"
#include "ui/ryx-status-notifier-item.h"
#include "ui_fixture.h"

namespace ryx::test {
namespace {

// One bus for the whole program: GIO keeps its session connection for the
// process, so the bus must be there before the first test and stay.
class BusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    bus_ = std::make_unique<PrivateBus>();
    ASSERT_FALSE(bus_->address().empty()) << "dbus-daemon did not start";
    setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), 1);
  }
  void TearDown() override { bus_.reset(); }

 private:
  std::unique_ptr<PrivateBus> bus_;
};
[[maybe_unused]] ::testing::Environment *const busEnvironment =
    ::testing::AddGlobalTestEnvironment(new BusEnvironment);

// The stand-in watcher, its output lines read while the main loop runs (the
// watcher asks our item for its properties, and we answer from that loop).
class Watcher {
 public:
  explicit Watcher(std::vector<std::string> args = {}) {
    std::vector<std::string> argv = {getenv("RYX_TEST_SNI_WATCHER")};
    argv.insert(argv.end(), args.begin(), args.end());
    child_ = std::make_unique<Child>(argv);
    ready_ = waitFor("watcher ready");
  }
  bool ready() const { return ready_; }

  // The next line from the last match on that starts with prefix.
  bool waitFor(const std::string &prefix, std::string *found = nullptr, int timeoutMs = 5000) {
    bool matched = false;
    spinUntil(
        [&] {
          std::string line;
          while (!matched && child_->readLine(&line, 0)) lines_.push_back(line);
          for (; !matched && next_ < lines_.size(); ++next_) {
            if (lines_[next_].rfind(prefix, 0) != 0) continue;
            if (found != nullptr) *found = lines_[next_];
            matched = true;
          }
          return matched;
        },
        timeoutMs);
    return matched;
  }
  std::string output() const {
    std::string all;
    for (const std::string &line : lines_) all += line + "\n";
    return all;
  }

 private:
  std::unique_ptr<Child> child_;
  std::vector<std::string> lines_;
  size_t next_ = 0;
  bool ready_ = false;
};

class StatusNotifierTest : public UiFixture {
 protected:
  StatusNotifierTest() {
    setEnv("RYX_TRAY", nullptr);
    host_ = g_dbus_connection_new_for_address_sync(
        getenv("DBUS_SESSION_BUS_ADDRESS"),
        (GDBusConnectionFlags)(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                               G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
  }
  ~StatusNotifierTest() override {
    g_clear_object(&icon_);
    watcher_.reset();
    spinFor(50);  // the icon's last bus traffic
    g_clear_object(&host_);
  }

  void startWatcher(std::vector<std::string> args = {}) {
    watcher_ = std::make_unique<Watcher>(std::move(args));
    ASSERT_TRUE(watcher_->ready());
  }
  void newIcon() {
    icon_ = RYX_COMMAND_STATUS_ICON(ryx_command_status_icon_new(&commands_, FALSE));
    g_signal_connect(icon_, "activate", G_CALLBACK(+[](GtkStatusIcon *, gpointer count) { ++*(int *)count; }),
                     &activations_);
  }
  bool embedded() { return ryx_command_status_icon_is_embedded(icon_); }
  bool trayIconVisible() { return gtk_status_icon_get_visible(GTK_STATUS_ICON(icon_)); }

  // Waits for the watcher to take the item; its BUSNAME/PATH goes to item_.
  bool registered() {
    std::string line;
    if (!watcher_->waitFor("registered ", &line)) return false;
    item_ = line.substr(strlen("registered "));
    busName_ = item_.substr(0, item_.find('/'));
    return spinUntil([&] { return embedded(); });
  }

  // A call from the host's side, the main loop running until it is answered.
  GVariant *call(const char *interface, const char *method, GVariant *parameters) {
    GVariant *reply = nullptr;
    bool done = false;
    struct Wait {
      GVariant **reply;
      bool *done;
    } wait = {&reply, &done};
    g_dbus_connection_call(
        host_, busName_.c_str(), "/StatusNotifierItem", interface, method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
        +[](GObject *source, GAsyncResult *result, gpointer data) {
          auto *w = static_cast<Wait *>(data);
          *w->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
          *w->done = true;
        },
        &wait);
    spinUntil([&] { return done; });
    return reply;
  }
  // The value of an item property, or null.
  GVariant *property(const char *name) {
    g_autoptr(GVariant) reply = call("org.freedesktop.DBus.Properties", "Get",
                                     g_variant_new("(ss)", "org.kde.StatusNotifierItem", name));
    if (reply == nullptr) return nullptr;
    GVariant *boxed = nullptr;
    g_variant_get(reply, "(v)", &boxed);
    return boxed;
  }
  std::string tooltipTitle() {
    g_autoptr(GVariant) tip = property("ToolTip");
    if (tip == nullptr) return "(none)";
    const char *title = nullptr;
    g_variant_get_child(tip, 2, "&s", &title);
    return title;
  }
  bool iconIs(const char *image) {
    g_autoptr(GVariant) shown = property("IconPixmap");
    g_autoptr(GVariant) expected =
        g_variant_ref_sink(ryx_status_notifier_item_pixmaps_from_file(imagePath(image).c_str()));
    return shown != nullptr && g_variant_n_children(expected) > 0 && g_variant_equal(shown, expected);
  }
  void activate() {
    g_autoptr(GVariant) reply = call("org.kde.StatusNotifierItem", "Activate", g_variant_new("(ii)", 0, 0));
  }

  // Counts the item's signals seen by the host from now on.
  void countSignals() {
    g_dbus_connection_signal_subscribe(
        host_, busName_.c_str(), "org.kde.StatusNotifierItem", nullptr, "/StatusNotifierItem", nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection *, const char *, const char *, const char *, const char *name, GVariant *, gpointer data) {
          static_cast<std::vector<std::string> *>(data)->push_back(name);
        },
        &signals_, nullptr);
    // The bus takes the match rule before it answers a later call of ours.
    g_autoptr(GVariant) roundTrip = property("Id");
  }
  int seen(const char *name) { return (int)std::count(signals_.begin(), signals_.end(), name); }

  void refresh(bool on, int code) {
    publish(on, code, code == 0 ? nullptr : "m");
    ryx_command_status_icon_refresh_status(icon_);
  }

  std::vector<GtkWidget *> windows() {
    std::vector<GtkWidget *> open;
    for (GtkWidget *window : toplevels(RYX_TYPE_COMMAND_STATUS_DIALOG))
      if (gtk_widget_get_visible(window)) open.push_back(window);
    return open;
  }

  Commands commands_;
  RyxCommandStatusIcon *icon_ = nullptr;
  int activations_ = 0;
  std::unique_ptr<Watcher> watcher_;
  GDBusConnection *host_ = nullptr;
  std::string item_, busName_;
  std::vector<std::string> signals_;
};

TEST_F(StatusNotifierTest, RegistersWithTheWatcherInsteadOfTheTray) {
  startWatcher();
  newIcon();
  EXPECT_FALSE(trayIconVisible()) << "hidden while the bus is asked";
  ASSERT_TRUE(registered()) << watcher_->output();
  EXPECT_EQ(item_.rfind("org.kde.StatusNotifierItem-", 0), 0u) << item_;
  EXPECT_FALSE(trayIconVisible());

  std::string line;
  ASSERT_TRUE(watcher_->waitFor("item ", &line)) << watcher_->output();
  for (const char *expected :
       {"Category=\"ApplicationStatus\"", "Id=\"ryxconfig\"", "Title=\"Vezo RYX Server\"", "Status=\"Active\"",
        "ItemIsMenu=false", "ToolTip=\"Vezo RYX Server Switched OFF\"", "IconPixmap=16x16,22x22,24x24,32x32,48x48:"})
    EXPECT_NE(line.find(expected), std::string::npos) << expected << " in " << line;
  EXPECT_TRUE(iconIs("ryx_status_icon.png"));
}

TEST_F(StatusNotifierTest, ImageAndTooltipFollowTheStatus) {
  startWatcher();
  newIcon();
  ASSERT_TRUE(registered()) << watcher_->output();
  countSignals();

  refresh(true, STATUS_NOT_FUNCTIONING);
  EXPECT_TRUE(iconIs("ryx_status_icon_error.png"));
  EXPECT_EQ(tooltipTitle(), "Vezo RYX Server Switched ON");
  EXPECT_EQ(windows().size(), 1u) << "a new error opens the window, as in the tray";

  refresh(true, STATUS_NOT_FUNCTIONING);  // nothing changed: hosts are not bothered
  refresh(false, 0);
  EXPECT_TRUE(iconIs("ryx_status_icon.png"));
  EXPECT_EQ(tooltipTitle(), "Vezo RYX Server Switched OFF");

  setEnv("RYX_USE_NVIDIA_GRID", "false");
  refresh(false, STATUS_GRID_LIBRARY_MISSING);
  EXPECT_TRUE(iconIs("ryx_status_icon.png")) << "no error without GRID in use";

  spinUntil([&] { return seen("NewToolTip") >= 2 && seen("NewIcon") >= 3; }, 2000);
  spinFor(100);
  EXPECT_EQ(seen("NewToolTip"), 2);
  EXPECT_EQ(seen("NewIcon"), 3) << "error, normal, normal again for code 5";
  ASSERT_TRUE(watcher_->waitFor("signal " + item_ + " NewIcon")) << watcher_->output();
}

TEST_F(StatusNotifierTest, ActivateRunsTheIconsActivationAndOpensOneWindow) {
  startWatcher();
  newIcon();
  ASSERT_TRUE(registered()) << watcher_->output();
  activate();
  activate();
  EXPECT_EQ(activations_, 2) << "every \"activate\" handler of the icon ran";
  EXPECT_EQ(windows().size(), 1u);
  EXPECT_EQ(toplevels(RYX_TYPE_COMMAND_STATUS_DIALOG).size(), 1u);

  g_autoptr(GVariant) menu = call("org.kde.StatusNotifierItem", "ContextMenu", g_variant_new("(ii)", 0, 0));
  g_autoptr(GVariant) scroll = call("org.kde.StatusNotifierItem", "Scroll", g_variant_new("(is)", 1, "vertical"));
  g_autoptr(GVariant) middle = call("org.kde.StatusNotifierItem", "SecondaryActivate", g_variant_new("(ii)", 0, 0));
  EXPECT_NE(menu, nullptr);
  EXPECT_NE(scroll, nullptr);
  EXPECT_NE(middle, nullptr);
  EXPECT_EQ(activations_, 2) << "only Activate activates";
}

TEST_F(StatusNotifierTest, AWatcherThatComesTakesTheIconAndOneThatGoesGivesItBack) {
  newIcon();
  ASSERT_TRUE(spinUntil([&] { return trayIconVisible(); })) << "no watcher: the XEmbed tray";
  EXPECT_FALSE(embedded()) << "this X server has no tray";

  startWatcher();
  ASSERT_TRUE(registered()) << watcher_->output();
  EXPECT_FALSE(trayIconVisible());
  refresh(true, STATUS_NOT_FUNCTIONING);
  EXPECT_TRUE(iconIs("ryx_status_icon_error.png")) << "the image went along";

  watcher_.reset();
  EXPECT_TRUE(spinUntil([&] { return trayIconVisible(); }));
  EXPECT_FALSE(embedded());

  startWatcher();  // a restarted watcher is registered with again
  ASSERT_TRUE(registered()) << watcher_->output();
  EXPECT_TRUE(iconIs("ryx_status_icon_error.png"));
}

TEST_F(StatusNotifierTest, RyxTrayForcesTheBackEnd) {
  // XEmbed even with a watcher: the item is never made.
  startWatcher();
  setEnv("RYX_TRAY", "xembed");
  newIcon();
  EXPECT_TRUE(trayIconVisible());
  EXPECT_FALSE(watcher_->waitFor("registered ", nullptr, 1000)) << watcher_->output();
  g_clear_object(&icon_);
  watcher_.reset();

  // The watcher even before there is one, and after it went.
  setEnv("RYX_TRAY", "SNI");
  newIcon();
  spinFor(300);
  EXPECT_FALSE(trayIconVisible());
  EXPECT_FALSE(embedded());
  startWatcher();
  ASSERT_TRUE(registered()) << watcher_->output();
  watcher_.reset();
  spinUntil([&] { return !embedded(); });
  spinFor(200);
  EXPECT_FALSE(trayIconVisible());
  EXPECT_FALSE(embedded());
}

TEST_F(StatusNotifierTest, AnUnknownRyxTrayValueIsReportedAndTheSessionDecides) {
  startWatcher();
  GLogCapture logs;
  setEnv("RYX_TRAY", "systray");
  newIcon();
  EXPECT_TRUE(logs.contains("RYX_TRAY=systray is neither sni nor xembed; the session decides", G_LOG_LEVEL_WARNING))
      << logs.dump();
  EXPECT_TRUE(registered()) << watcher_->output();
}

TEST_F(StatusNotifierTest, ARefusedRegistrationIsNotEmbedded) {
  startWatcher({"--refuse"});
  GLogCapture logs;
  newIcon();
  ASSERT_TRUE(watcher_->waitFor("refused ")) << watcher_->output();
  const char *warning =
      "The StatusNotifierWatcher did not take the status icon: GDBus.Error:"
      "org.kde.StatusNotifierWatcher.Error.Refused: this watcher takes no items";
  spinUntil([&] { return logs.contains(warning); }, 3000);
  EXPECT_EQ(logs.count(warning, G_LOG_LEVEL_WARNING), 1)
      << logs.dump();
  EXPECT_FALSE(embedded());
  EXPECT_FALSE(trayIconVisible()) << "the watcher is there; the tray is not used";
}

TEST_F(StatusNotifierTest, WithoutASessionBusTheTrayIconShowsAtOnce) {
  TempDir runtime;
  setEnv("DBUS_SESSION_BUS_ADDRESS", nullptr);
  setEnv("XDG_RUNTIME_DIR", runtime.path().c_str());
  GLogCapture logs;
  newIcon();
  EXPECT_TRUE(trayIconVisible());
  spinFor(100);
  EXPECT_EQ(logs.count("Status icon shown through XEmbed", G_LOG_LEVEL_INFO), 1) << logs.dump();
  EXPECT_EQ(logs.records().size(), 1u) << logs.dump();
}

TEST_F(StatusNotifierTest, ReleasingTheIconTakesItOffTheWatcher) {
  startWatcher();
  newIcon();
  ASSERT_TRUE(registered()) << watcher_->output();
  g_clear_object(&icon_);
  EXPECT_TRUE(watcher_->waitFor("unregistered " + item_)) << watcher_->output();
}

// IconPixmap is ARGB32 in network byte order: alpha, red, green, blue.
TEST(StatusNotifierPixmap, PixelsBecomeArgbBytesMostSignificantFirst) {
  TempDir dir;
  struct Case {
    bool alpha;
    std::vector<guint8> pixels;    // two pixels of the file, in its channel order
    std::vector<guint8> expected;  // the same two as IconPixmap bytes
  } cases[] = {
      {true, {255, 0, 0, 128, 1, 2, 3, 255}, {128, 255, 0, 0, 255, 1, 2, 3}},
      {false, {10, 20, 30, 40, 50, 60}, {255, 10, 20, 30, 255, 40, 50, 60}},
  };
  for (const Case &c : cases) {
    GdkPixbuf *image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, c.alpha, 8, 2, 1);
    guint8 *row = gdk_pixbuf_get_pixels(image);
    std::copy(c.pixels.begin(), c.pixels.end(), row);
    std::string path = dir / (c.alpha ? "rgba.png" : "rgb.png");
    ASSERT_TRUE(gdk_pixbuf_save(image, path.c_str(), "png", nullptr, nullptr));
    g_object_unref(image);

    g_autoptr(GVariant) pixmaps = g_variant_ref_sink(ryx_status_notifier_item_pixmaps_from_file(path.c_str()));
    ASSERT_EQ(g_variant_n_children(pixmaps), 1u) << "no panel size is below 2 pixels";
    gint32 width = 0, height = 0;
    g_autoptr(GVariant) bytes = nullptr;
    g_variant_get_child(pixmaps, 0, "(ii@ay)", &width, &height, &bytes);
    EXPECT_EQ(width, 2);
    EXPECT_EQ(height, 1);
    gsize size = 0;
    auto *data = static_cast<const guint8 *>(g_variant_get_fixed_array(bytes, &size, 1));
    EXPECT_EQ(std::vector<guint8>(data, data + size), c.expected) << (c.alpha ? "with alpha" : "without alpha");
  }
  g_autoptr(GVariant) none =
      g_variant_ref_sink(ryx_status_notifier_item_pixmaps_from_file((dir / "missing.png").c_str()));
  EXPECT_EQ(g_variant_n_children(none), 0u);
}

}  // namespace
}  // namespace ryx::test
