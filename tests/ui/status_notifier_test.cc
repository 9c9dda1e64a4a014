// SPDX-License-Identifier: MIT
// The status icon shown as a StatusNotifierItem: on a private session bus
// with the stand-in watcher, the icon registers, its image and tooltip
// follow the status, a click runs the icon's own activation, and RYX_TRAY
// and a refusing watcher or a missing bus are dealt with.
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
    args.insert(args.begin(), getenv("RYX_TEST_SNI_WATCHER"));
    watcher_ = std::make_unique<Child>(args);
    lines_.clear();
    next_ = 0;
    ASSERT_TRUE(waitFor("watcher ready"));
  }
  // The watcher's next line, from the last match on, that starts with
  // prefix; read while the main loop runs (the watcher asks our item for
  // its properties, and we answer from that loop).
  bool waitFor(const std::string &prefix, std::string *found = nullptr, int timeoutMs = 5000) {
    bool matched = false;
    spinUntil(
        [&] {
          for (std::string line; !matched && watcher_->readLine(&line, 0);) lines_.push_back(line);
          for (; !matched && next_ < lines_.size(); ++next_) {
            matched = lines_[next_].rfind(prefix, 0) == 0;
            if (matched && found != nullptr) *found = lines_[next_];
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
    if (!waitFor("registered ", &line)) return false;
    item_ = line.substr(strlen("registered "));
    busName_ = item_.substr(0, item_.find('/'));
    return spinUntil([&] { return embedded(); });
  }

  // A call from the host's side, the main loop running until it is answered.
  GVariant *call(const char *interface, const char *method, GVariant *parameters) {
    using Wait = std::pair<GVariant *, bool>;  // the reply, and whether it came
    Wait wait = {nullptr, false};
    g_dbus_connection_call(
        host_, busName_.c_str(), "/StatusNotifierItem", interface, method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
        +[](GObject *source, GAsyncResult *result, gpointer data) {
          auto *w = static_cast<Wait *>(data);
          w->first = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
          w->second = true;
        },
        &wait);
    spinUntil([&] { return wait.second; });
    return wait.first;
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

  Commands commands_;
  RyxCommandStatusIcon *icon_ = nullptr;
  int activations_ = 0;
  std::unique_ptr<Child> watcher_;
  std::vector<std::string> lines_;
  size_t next_ = 0;
  GDBusConnection *host_ = nullptr;
  std::string item_, busName_;
  std::vector<std::string> signals_;
};

// The item registers instead of the tray icon, tells the watcher what it
// is, answers the host's calls (every click activates), sends its image
// and tooltip as the status changes, one signal per change, and leaves the
// watcher when it is released.  An unknown RYX_TRAY value is reported and
// the session decides.
TEST_F(StatusNotifierTest, RegistersFollowsTheStatusAndLeaves) {
  startWatcher();
  setEnv("RYX_TRAY", "systray");
  {
    GLogCapture logs;
    newIcon();
    EXPECT_EQ(logs.count("RYX_TRAY=systray is neither sni nor xembed; the session decides", G_LOG_LEVEL_WARNING), 1)
        << logs.dump();
  }
  EXPECT_TRUE(trayIconVisible()) << "left in the XEmbed tray, as made, while the bus is asked";
  ASSERT_TRUE(registered()) << output();
  EXPECT_EQ(item_.rfind("org.kde.StatusNotifierItem-", 0), 0u) << item_;
  EXPECT_FALSE(trayIconVisible());
  std::string line;
  ASSERT_TRUE(waitFor("item ", &line)) << output();
  for (const char *expected :
       {"Category=\"ApplicationStatus\"", "Id=\"ryxconfig\"", "Title=\"Vezo RYX Server\"", "Status=\"Active\"",
        "ItemIsMenu=false", "ToolTip=\"Vezo RYX Server Switched OFF\"", "IconPixmap=16x16,22x22,24x24,32x32,48x48:"})
    EXPECT_NE(line.find(expected), std::string::npos) << expected << " in " << line;
  EXPECT_TRUE(iconIs("ryx_status_icon.png"));

  countSignals();
  refresh(true, STATUS_NOT_FUNCTIONING);
  EXPECT_TRUE(iconIs("ryx_status_icon_error.png"));
  EXPECT_EQ(tooltipTitle(), "Vezo RYX Server Switched ON");
  EXPECT_EQ(shownStatusWindows().size(), 1u) << "a new error opens the window, as in the tray";
  refresh(true, STATUS_NOT_FUNCTIONING);  // nothing changed: hosts are not bothered
  refresh(false, 0);
  EXPECT_TRUE(iconIs("ryx_status_icon.png"));
  EXPECT_EQ(tooltipTitle(), "Vezo RYX Server Switched OFF");
  spinUntil([&] { return seen("NewToolTip") >= 2 && seen("NewIcon") >= 2; }, 2000);
  spinFor(100);
  EXPECT_EQ(seen("NewToolTip"), 2);
  EXPECT_EQ(seen("NewIcon"), 2);
  ASSERT_TRUE(waitFor("signal " + item_ + " NewIcon")) << output();

  gtk_dialog_response(GTK_DIALOG(shownStatusWindows().at(0)), GTK_RESPONSE_CLOSE);
  ASSERT_TRUE(shownStatusWindows().empty());
  activate();
  activate();
  EXPECT_EQ(activations_, 2) << "every \"activate\" handler of the icon ran";
  EXPECT_EQ(shownStatusWindows().size(), 1u);
  EXPECT_EQ(toplevels(RYX_TYPE_COMMAND_STATUS_DIALOG).size(), 1u);
  // Hosts differ in what a click sends (some send ContextMenu on a left
  // click, SecondaryActivate on a middle one); an item without a menu
  // activates on each, and a scroll does nothing.
  for (const char *method : {"ContextMenu", "Scroll", "SecondaryActivate"}) {
    GVariant *arguments =
        strcmp(method, "Scroll") == 0 ? g_variant_new("(is)", 1, "vertical") : g_variant_new("(ii)", 0, 0);
    g_autoptr(GVariant) reply = call("org.kde.StatusNotifierItem", method, arguments);
    EXPECT_NE(reply, nullptr) << method;
  }
  EXPECT_EQ(activations_, 4) << "ContextMenu and SecondaryActivate activate, Scroll does not";

  g_clear_object(&icon_);
  EXPECT_TRUE(waitFor("unregistered " + item_)) << output();
}

// RYX_TRAY=sni: the item is made before there is a watcher, with what the
// icon shows by then, and outlives the watcher; the tray is never used.
// (The tray beside a watcher under RYX_TRAY=xembed, and the way back to
// the tray when a watcher goes, are the whole-program tray cases'.)
TEST_F(StatusNotifierTest, RyxTraySniWaitsForAWatcherAndNeverUsesTheTray) {
  setEnv("RYX_TRAY", "SNI");
  newIcon();
  refresh(true, STATUS_NOT_FUNCTIONING);
  spinFor(300);
  EXPECT_FALSE(trayIconVisible());
  EXPECT_FALSE(embedded());
  startWatcher();
  ASSERT_TRUE(registered()) << output();
  EXPECT_TRUE(iconIs("ryx_status_icon_error.png")) << "the image went along";
  watcher_.reset();
  spinUntil([&] { return !embedded(); });
  spinFor(200);
  EXPECT_FALSE(trayIconVisible());
  EXPECT_FALSE(embedded());
}

TEST_F(StatusNotifierTest, ARefusedRegistrationIsNotEmbedded) {
  startWatcher({"--refuse"});
  GLogCapture logs;
  newIcon();
  ASSERT_TRUE(waitFor("refused ")) << output();
  const char *warning =
      "The StatusNotifierWatcher did not take the status icon: GDBus.Error:"
      "org.kde.StatusNotifierWatcher.Error.Refused: this watcher takes no items";
  spinUntil([&] { return logs.contains(warning); }, 3000);
  EXPECT_EQ(logs.count(warning, G_LOG_LEVEL_WARNING), 1) << logs.dump();
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
