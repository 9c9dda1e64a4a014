// SPDX-License-Identifier: MIT
// The status icon: its image and window follow changes of the published
// code, activation opens one window; as a StatusNotifierItem, on a private
// session bus with the stand-in watcher as its host; and in the XEmbed tray.
#define GDK_DISABLE_DEPRECATION_WARNINGS  // GtkStatusIcon
#include "ui/ryx-command-status-icon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "state/commands.h"
#include "state/status.h"
#include "ui/ryx-command-status-dialog.h"
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
  std::unique_ptr<PrivateBus> bus_;
};
[[maybe_unused]] ::testing::Environment *const busEnvironment = ::testing::AddGlobalTestEnvironment(new BusEnvironment);

class StatusIconTest : public UiFixture {
 protected:
  StatusIconTest() { setEnv("RYX_TRAY", nullptr); }
  ~StatusIconTest() override {
    g_clear_object(&icon_);
    watcher_.reset();
    spinFor(50);  // the icon's last bus traffic
  }

  void newIcon() {
    icon_ = RYX_COMMAND_STATUS_ICON(ryx_command_status_icon_new(&commands_, FALSE));
    g_signal_connect(icon_, "activate", G_CALLBACK(+[](GtkStatusIcon *, gpointer count) { ++*(int *)count; }),
                     &activations_);
  }
  void refresh(bool on, int code) {
    publish(on, code, code == 0 ? nullptr : "m");
    ryx_command_status_icon_refresh_status(icon_);
  }
  bool embedded() { return ryx_command_status_icon_is_embedded(icon_); }
  bool trayIconVisible() { return gtk_status_icon_get_visible(GTK_STATUS_ICON(icon_)); }
  // Whether the tray icon shows the pixels of the error image file.
  bool showsError() {
    g_autoptr(GdkPixbuf) error = gdk_pixbuf_new_from_file(imagePath("ryx_status_icon_error.png").c_str(), nullptr);
    g_autoptr(GBytes) a = gdk_pixbuf_read_pixel_bytes(gtk_status_icon_get_pixbuf(GTK_STATUS_ICON(icon_)));
    g_autoptr(GBytes) b = gdk_pixbuf_read_pixel_bytes(error);
    return g_bytes_equal(a, b);
  }
  std::vector<GtkWidget *> shownStatusWindows() {
    std::vector<GtkWidget *> shown;
    for (GtkWidget *window : toplevels(RYX_TYPE_COMMAND_STATUS_DIALOG))
      if (gtk_widget_get_visible(window)) shown.push_back(window);
    return shown;
  }
  // The one status window shown now (null, and a failure, otherwise).
  GtkWidget *window() {
    std::vector<GtkWidget *> open = shownStatusWindows();
    EXPECT_EQ(open.size(), 1u);
    return open.size() == 1 ? open[0] : nullptr;
  }
  int appRows(GtkWidget *window) {
    return gtk_tree_model_iter_n_children(gtk_tree_view_get_model(GTK_TREE_VIEW(findWidget(window, "apps_view"))),
                                          nullptr);
  }

  void startWatcher(std::vector<std::string> args = {}) {
    args.insert(args.begin(), getenv("RYX_TEST_SNI_WATCHER"));
    watcher_ = std::make_unique<Child>(args);
    lines_.clear();
    next_ = 0;
    ASSERT_TRUE(waitFor("watcher ready"));
  }
  // The watcher's next line that starts with prefix, read while the main
  // loop runs (the watcher asks our item for its properties).
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
  std::string output() const { return ::testing::PrintToString(lines_); }
  int seen(const std::string &text) {
    return (int)std::count_if(lines_.begin(), lines_.end(),
                              [&](const std::string &l) { return l.find(text) != std::string::npos; });
  }
  // The item's tooltip title and IconPixmap digest as the watcher next reads them.
  std::pair<std::string, std::string> nextItem() {
    std::string line;
    waitFor("item ", &line);
    g_autoptr(GRegex) re =
        g_regex_new(" IconPixmap=(\\S+).* ToolTip=\"([^\"]*)\"", (GRegexCompileFlags)0, (GRegexMatchFlags)0, nullptr);
    g_autoptr(GMatchInfo) m = nullptr;
    if (!g_regex_match(re, line.c_str(), (GRegexMatchFlags)0, &m)) return {"(none)", line};
    g_autofree char *digest = g_match_info_fetch(m, 1);
    g_autofree char *tooltip = g_match_info_fetch(m, 2);
    return {tooltip, digest};
  }
  // Waits for the watcher to take the item; its BUSNAME/PATH goes to item_.
  bool registered() {
    std::string line;
    if (!waitFor("registered ", &line)) return false;
    item_ = line.substr(line.find(' ') + 1);
    return spinUntil([&] { return embedded(); });
  }
  // An item method called from the host's side, once it is answered.
  void call(const char *method, GVariant *parameters) {
    bool answered = false;
    g_autoptr(GDBusConnection) host = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    g_dbus_connection_call(
        host, item_.substr(0, item_.find('/')).c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", method,
        parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
        +[](GObject *, GAsyncResult *, gpointer done) { *(bool *)done = true; }, &answered);
    spinUntil([&] { return answered; });
  }

  Commands commands_;
  RyxCommandStatusIcon *icon_ = nullptr;
  int activations_ = 0;
  std::unique_ptr<Child> watcher_;
  std::vector<std::string> lines_;
  size_t next_ = 0;
  std::string item_;
};

// A missing GRID library is an error only with GRID in use.  A code that
// stays leaves a window the user closed alone; an open window is brought up
// to date, not replaced, and stays open when the error goes.
TEST_F(StatusIconTest, ImageAndWindowFollowChangesOfTheCodeOnly) {
  newIcon();
  refresh(true, STATUS_GRID_LIBRARY_MISSING);
  EXPECT_FALSE(showsError());
  EXPECT_TRUE(shownStatusWindows().empty());
  refresh(true, 0);
  setEnv("RYX_USE_NVIDIA_GRID", "true");
  refresh(true, STATUS_GRID_LIBRARY_MISSING);
  EXPECT_TRUE(showsError());
  ASSERT_NE(window(), nullptr);
  gtk_dialog_response(GTK_DIALOG(window()), GTK_RESPONSE_CLOSE);
  refresh(true, STATUS_GRID_LIBRARY_MISSING);
  EXPECT_TRUE(shownStatusWindows().empty());

  refresh(true, STATUS_RENDERING_SERVER_ERROR);
  GtkWidget *open = window();
  ASSERT_NE(open, nullptr);
  refresh(true, STATUS_NOT_ENABLED);
  EXPECT_EQ(window(), open);
  EXPECT_EQ(labelText(findWidget(open, "error_title_label")), "Error activating RYX:");
  refresh(true, 0);
  EXPECT_FALSE(showsError());
  EXPECT_EQ(window(), open);
}

TEST_F(StatusIconTest, ActivationOpensOneWindowFilledFromTheStoredList) {
  newIcon();
  connectApp("first", nullptr);
  connectApp("second", "far.example");
  ryx_command_status_icon_refresh_apps(icon_, apps_);
  EXPECT_TRUE(shownStatusWindows().empty()) << "the list is only kept";
  g_signal_emit_by_name(icon_, "activate");
  g_signal_emit_by_name(icon_, "activate");
  GtkWidget *open = window();
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(appRows(open), 2);
  ryx_command_status_icon_refresh_apps(icon_, g_list_last(apps_));
  EXPECT_EQ(appRows(open), 1);

  gtk_dialog_response(GTK_DIALOG(open), GTK_RESPONSE_CLOSE);
  g_signal_emit_by_name(icon_, "activate");
  ASSERT_NE(open = window(), nullptr);
  EXPECT_EQ(appRows(open), 1) << "filled from the last list handed over";
  // The window outlives a released icon, and closing it must not touch it.
  g_clear_object(&icon_);
  ASSERT_EQ(shownStatusWindows().size(), 1u);
  gtk_dialog_response(GTK_DIALOG(open), GTK_RESPONSE_CLOSE);
  EXPECT_TRUE(shownStatusWindows().empty());
}

// RYX_TRAY=sni: the item is made before there is a watcher, with what the
// icon shows by then; the tray is not used.
// The item sends its image and tooltip as the status changes, one signal
// per change, turns every click but a scroll into the icon's activation,
// and leaves the watcher when it is released.
TEST_F(StatusIconTest, ItemWaitsForAWatcherFollowsTheStatusAndLeaves) {
  setEnv("RYX_TRAY", "SNI");
  newIcon();
  refresh(true, STATUS_NOT_FUNCTIONING);
  spinFor(300);
  EXPECT_FALSE(trayIconVisible());
  EXPECT_FALSE(embedded());
  startWatcher();
  ASSERT_TRUE(registered()) << output();
  const auto error = nextItem();
  EXPECT_EQ(error.first, "Vezo RYX Server Switched ON") << output();
  refresh(true, STATUS_NOT_FUNCTIONING);  // nothing changed: hosts are not bothered
  refresh(false, 0);                      // the tooltip changes, then the image
  ASSERT_TRUE(waitFor("signal " + item_ + " NewIcon ")) << output();
  const auto ok = nextItem();
  EXPECT_EQ(ok.first, "Vezo RYX Server Switched OFF") << output();
  EXPECT_NE(ok.second, error.second) << "the image follows the code";
  EXPECT_EQ(seen(" NewToolTip from "), 1) << output();
  EXPECT_EQ(seen(" NewIcon from "), 1) << output();

  for (const char *method : {"Activate", "ContextMenu", "SecondaryActivate"}) call(method, g_variant_new("(ii)", 0, 0));
  call("Scroll", g_variant_new("(is)", 1, "vertical"));
  EXPECT_EQ(activations_, 3) << "every click but the scroll ran the icon's \"activate\"";
  g_clear_object(&icon_);
  EXPECT_TRUE(waitFor("unregistered " + item_)) << output();
}

// An unknown RYX_TRAY value is reported and the session decides.
TEST_F(StatusIconTest, ARefusedRegistrationIsNotEmbedded) {
  startWatcher({"--refuse"});
  setEnv("RYX_TRAY", "systray");
  GLogCapture logs;
  newIcon();
  ASSERT_TRUE(waitFor("refused ")) << output();
  const char *warning =
      "The StatusNotifierWatcher did not take the status icon: GDBus.Error:"
      "org.kde.StatusNotifierWatcher.Error.Refused: this watcher takes no items";
  EXPECT_TRUE(spinUntil([&] { return logs.count(warning, G_LOG_LEVEL_WARNING) == 1; }, 3000)) << logs.dump();
  EXPECT_EQ(logs.count("RYX_TRAY=systray is neither sni nor xembed; the session decides", G_LOG_LEVEL_WARNING), 1);
  EXPECT_FALSE(embedded());
  EXPECT_FALSE(trayIconVisible()) << "the watcher is there; the tray is not used";
}

// IconPixmap is ARGB32 in network byte order: alpha, red, green, blue.
TEST(StatusNotifierPixmap, PixelsBecomeArgbBytesMostSignificantFirst) {
  TempDir dir;
  const std::string path = dir / "image.png";
  g_autoptr(GdkPixbuf) image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 2, 1);
  const guint8 rgba[] = {255, 0, 0, 128, 1, 2, 3, 255};
  std::copy(rgba, rgba + 8, gdk_pixbuf_get_pixels(image));
  ASSERT_TRUE(gdk_pixbuf_save(image, path.c_str(), "png", nullptr, nullptr));
  g_autoptr(GVariant) pixmaps = g_variant_ref_sink(ryx_status_notifier_item_pixmaps_from_file(path.c_str()));
  ASSERT_EQ(g_variant_n_children(pixmaps), 1u) << "no panel size is below 2 pixels";
  gint32 width = 0, height = 0;
  g_autoptr(GVariant) bytes = nullptr;
  g_variant_get_child(pixmaps, 0, "(ii@ay)", &width, &height, &bytes);
  auto *data = static_cast<const guint8 *>(g_variant_get_data(bytes));
  EXPECT_EQ(std::make_tuple(width, height, std::vector<guint8>(data, data + g_variant_get_size(bytes))),
            std::make_tuple(2, 1, std::vector<guint8>{128, 255, 0, 0, 255, 1, 2, 3}));
}

}  // namespace
}  // namespace ryx::test
