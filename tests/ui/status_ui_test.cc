// SPDX-License-Identifier: MIT
// The status UI on real widgets, each case in a settings sandbox with the
// built images and the published status reset, on a session bus of the
// program's own.  The status window: what the session hides, the screen
// each code gets and how refreshes change it, the applications and viewers,
// the rendering-server row and GRID note, the ON/OFF switch, its buttons,
// and the legal notices window they open.  The status icon: its image and
// window follow changes of the published code, activation opens one window;
// as a StatusNotifierItem, with the stand-in watcher as its host.
#define GDK_DISABLE_DEPRECATION_WARNINGS  // GtkStatusIcon
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "apps/ryx-config-connected-app.h"
#include "common/ryx_gcommon.h"
#include "glib_support.h"
#include "installation.h"
#include "integration/ryx-config-viewer.h"
#include "state/commands.h"
#include "state/error_reporter.h"
#include "state/status.h"
#include "ui/ryx-command-status-dialog.h"
#include "ui/ryx-command-status-icon.h"
#include "ui/ryx-console-legal-notices-dialog.h"
#include "ui/ryx-status-notifier-item.h"

namespace ryx::test {
namespace {

// Below root, internal children included: the widgets named `name` (null: every widget of `type`).
void findWidgets(GtkWidget *root, const char *name, GType type, std::vector<GtkWidget *> *found) {
  if (name != nullptr ? g_strcmp0(gtk_widget_get_name(root), name) == 0 : G_TYPE_CHECK_INSTANCE_TYPE(root, type))
    found->push_back(root);
  if (!GTK_IS_CONTAINER(root)) return;
  g_autoptr(GList) children = nullptr;
  gtk_container_forall(
      GTK_CONTAINER(root),
      [](GtkWidget *child, gpointer list) { *(GList **)list = g_list_append(*(GList **)list, child); }, &children);
  for (GList *l = children; l != nullptr; l = l->next) findWidgets(GTK_WIDGET(l->data), name, type, found);
}
std::vector<GtkWidget *> findWidgets(GtkWidget *root, GType type) {
  std::vector<GtkWidget *> found;
  findWidgets(root, nullptr, type, &found);
  return found;
}
GtkWidget *findWidget(GtkWidget *root, const char *name) {
  std::vector<GtkWidget *> found;
  findWidgets(root, name, G_TYPE_INVALID, &found);
  return found.empty() ? nullptr : found.front();
}
std::vector<GtkWidget *> toplevels(GType type) {
  std::vector<GtkWidget *> result;
  g_autoptr(GList) windows = gtk_window_list_toplevels();
  for (GList *l = windows; l != nullptr; l = l->next)
    if (G_TYPE_CHECK_INSTANCE_TYPE(l->data, type)) result.push_back(GTK_WIDGET(l->data));
  return result;
}
bool shownOnScreen(GtkWidget *widget) {
  for (GtkWidget *w = widget; w != nullptr; w = gtk_widget_get_parent(w))
    if (!gtk_widget_get_visible(w)) return false;
  return true;
}
std::string labelText(GtkWidget *label) { return gtk_label_get_text(GTK_LABEL(label)); }

class UiFixture : public ::testing::Test {
 protected:
  UiFixture() {
    static bool gtkReady = gtk_init_check(nullptr, nullptr);
    const char *images = getenv("RYX_TEST_IMAGES_DIR");
    if (!gtkReady || images == nullptr) {
      ADD_FAILURE() << "no display or no RYX_TEST_IMAGES_DIR: run the gui suite through meson, under xvfb-run";
      return;
    }
    std::filesystem::create_directories(imagePath(""));
    for (const char *image : {"ryx_status_icon.png", "ryx_status_icon_error.png", "icon.png", "ryx_logo_console.png"})
      writeFile(imagePath(image), readFile(std::string(images) + "/" + image));
    // No OpenGL wrapper nor GRID library is found in the empty library folders.
    setEnv("RYX_REMOTE_SESSION", "0");
    setEnv("RYX_USE_NVIDIA_GRID", "false");
    publish(false, 0, nullptr);
  }
  ~UiFixture() override {
    // Open windows go before the installation, held as a status window takes its notices along.
    GList *windows = gtk_window_list_toplevels();
    g_list_foreach(windows, (GFunc)(void (*)(void))g_object_ref, nullptr);
    for (GList *l = windows; l != nullptr; l = l->next)
      if (GTK_IS_DIALOG(l->data)) gtk_widget_destroy(GTK_WIDGET(l->data));
    g_list_free_full(windows, g_object_unref);
    spinFor(10);
    g_list_free_full(apps_, g_object_unref);
  }

  // null unsets; the settings are reloaded.
  void setEnv(const char *name, const char *value) {
    sandbox_.set(name, value);
    ryx_conf_settings_reload();
  }
  void publish(bool ryxOn, int code, const char *message = nullptr) {
    ErrorReporter::instance().ryxOn = ryxOn;
    ErrorReporter::instance().code = code;
    ErrorReporter::instance().setMessage(message);
  }
  // An application connected over loopback, its update naming `name` and `server` (null: left out).
  RyxConfigConnectedApp *connectApp(const char *name, const char *server) {
    pairs_.push_back(std::make_unique<LoopbackPair>());
    std::string update = "<Update>\n";
    if (name != nullptr) update += std::string("<AppName>") + name + "</AppName>\n";
    if (server != nullptr) update += std::string("<RenderingServer>") + server + "</RenderingServer>\n";
    pairs_.back()->send(update + "</Update>\n");
    apps_ = g_list_prepend(apps_, ryx_config_connected_app_new(pairs_.back()->server));
    return RYX_CONFIG_CONNECTED_APP(apps_->data);
  }

  std::string noticesDir() const { return sandbox_.root() + "legal-notices"; }
  std::string imagePath(const char *name) const { return sandbox_.root() + "share/ryx/images/" + name; }

  GList *apps_ = nullptr;  // newest first, as the config manager keeps them

 private:
  Installation sandbox_;
  std::vector<std::unique_ptr<LoopbackPair>> pairs_;
};

class StatusDialogTest : public UiFixture {
 protected:
  ~StatusDialogTest() override {
    if (dialog_ != nullptr) gtk_widget_destroy(dialog_);
  }

  void open(bool desktopCapture = false) {
    if (dialog_ != nullptr) gtk_widget_destroy(dialog_);
    dialog_ = ryx_command_status_dialog_new(&commands_, desktopCapture);
    g_signal_connect(dialog_, "destroy", G_CALLBACK(gtk_widget_destroyed), &dialog_);
    gtk_widget_show(dialog_);
  }
  RyxCommandStatusDialog *dlg() { return RYX_COMMAND_STATUS_DIALOG(dialog_); }
  GtkWidget *w(const char *name) {
    GtkWidget *widget = findWidget(dialog_, name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  bool shown(const char *name) { return shownOnScreen(w(name)); }
  std::string text(const char *name) { return labelText(w(name)); }
  void refresh() { ryx_command_status_dialog_refresh_status(dlg()); }
  // The status as shown, on one line: the parts shown, the state word, the
  // panel's background (16-bit channels, to 5 units), heading, message, switch.
  std::string screen() {
    std::string line;
    for (const char *part : {"error_frame", "warning_box", "status_combo", "apps_box"})
      if (shown(part)) line += std::string(part) + " ";
    if (shown("warning_box")) line += "word=" + (shown("state_label") ? text("state_label") : "(hidden)") + " ";
    if (shown("error_frame")) {
      GtkStyleContext *context = gtk_widget_get_style_context(w("error_event_box"));
      GdkRGBA *colour = nullptr;
      gtk_style_context_get(context, gtk_style_context_get_state(context), GTK_STYLE_PROPERTY_BACKGROUND_COLOR, &colour,
                            nullptr);
      for (double channel : {colour->red, colour->green, colour->blue})
        line += std::to_string((int)std::lround(channel * 65535 / 5) * 5) + " ";
      gdk_rgba_free(colour);
      line += text("error_title_label") + " " + text("error_text_label") + " ";
    }
    return line + (gtk_combo_box_get_active(GTK_COMBO_BOX(w("status_combo"))) == 0 ? "ON" : "OFF");
  }

  // The application list's rows as "name|location".
  std::vector<std::string> rows() {
    std::vector<std::string> result;
    GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(w("apps_view")));
    GtkTreeIter iter;
    for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok; ok = gtk_tree_model_iter_next(model, &iter)) {
      g_autofree char *name = nullptr, *location = nullptr;
      gtk_tree_model_get(model, &iter, 0, &name, 1, &location, -1);
      result.push_back(std::string(name) + "|" + location);
    }
    return result;
  }

  Commands commands_;
  GtkWidget *dialog_ = nullptr;
};

// Desktop capture hides the switch and the list; a remote-desktop session hides the viewer count.
TEST_F(StatusDialogTest, ShowsWhatTheSessionCallsFor) {
  open(true);
  EXPECT_EQ(screen(), "OFF");
  EXPECT_TRUE(shown("users_row"));
  setEnv("RYX_REMOTE_SESSION", "1");
  open();
  EXPECT_EQ(screen(), "status_combo apps_box OFF");
  EXPECT_FALSE(shown("users_row"));
}

// One dialog through a screen of each kind, the first shown at creation.  A
// code that stays keeps its first message; the switch follows every refresh.
// A message's markup is applied, one that is no valid markup is shown as
// text; a missing GRID library is no error without GRID in use.
TEST_F(StatusDialogTest, EachCodeGetsItsScreen) {
  const struct {
    bool on;
    int code;
    const char *message;
    std::string screen;
  } steps[] = {
      {true, STATUS_RENDERING_SERVER_ERROR, "Cannot reach a&b <port",
       "error_frame warning_box word=(hidden) 40000 0 0 There is an error contacting the configured Rendering Server: "
       "Cannot reach a&b <port ON"},
      {true, STATUS_NOT_ENABLED, "first <i>message</i>",
       "error_frame warning_box word=Disabled 40000 0 0 Error activating RYX: first message ON"},
      {false, STATUS_NOT_ENABLED, "second message",
       "error_frame warning_box word=Disabled 40000 0 0 Error activating RYX: first message OFF"},
      {true, STATUS_SWITCH_ON_FAILED, "m",  // the word stays as it was
       "error_frame warning_box word=Disabled 40000 0 0 There was an error switching on RYX: m ON"},
      {true, 0, nullptr, "status_combo apps_box ON"},
      {true, STATUS_NOT_FUNCTIONING, "m",
       "error_frame status_combo apps_box 65535 65535 30000 RYX is not functioning correctly: m ON"},
      {true, STATUS_GRID_LIBRARY_MISSING, "m", "status_combo apps_box ON"},
  };
  GLogCapture logs;
  for (const auto &step : steps) {
    SCOPED_TRACE(step.code);
    publish(step.on, step.code, step.message);
    if (dialog_ == nullptr) open();
    refresh();
    EXPECT_EQ(screen(), step.screen);
  }
  for (const LogRecord &record : logs.records()) EXPECT_NE(record.level, G_LOG_LEVEL_WARNING) << record.message;
}

// The rendering server row shows the configured server; without one the
// GRID note shows where GRID is in use, until the shown code is an error.
TEST_F(StatusDialogTest, RenderingServerRowAndGridNote) {
  setEnv("RYX_USE_NVIDIA_GRID", "true");
  setEnv("RYX_RENDERING_SERVER", "render01.example");
  open();
  EXPECT_EQ(shown("rs_value_label") ? text("rs_value_label") : "(hidden)", "render01.example");
  EXPECT_FALSE(shown("grid_note_label")) << "never shown with a rendering server";
  setEnv("RYX_RENDERING_SERVER", nullptr);
  refresh();
  EXPECT_FALSE(shown("rs_value_label"));
  EXPECT_TRUE(shown("grid_note_label"));
  publish(true, STATUS_NOT_FUNCTIONING, "m");
  refresh();
  refresh();  // the note follows the code the previous refresh showed
  EXPECT_FALSE(shown("grid_note_label"));
}

// Each application's row says where it renders, in the list's order; a
// refresh replaces the list (one row each time).
TEST_F(StatusDialogTest, ListsApplicationsAndWhereEachRenders) {
  const struct {
    const char *configured;  // the rendering_server setting
    const char *server;      // the application's, null for none
    const char *row;
  } cases[] = {
      {nullptr, "far.example", "viewer.exe|(Rendering on <i>far.example</i>)"},
      {nullptr, nullptr, "viewer.exe|"},
      {"RS1.example", "rs1.EXAMPLE", "viewer.exe|"},
      {"rs1.example", "rs2.example", "viewer.exe|(Rendering on <i>rs2.example</i>)"},
      {"rs1.example", nullptr, "viewer.exe|(Local rendering)"},
  };
  open();
  for (const auto &c : cases) {
    setEnv("RYX_RENDERING_SERVER", c.configured);
    GList one = {connectApp("viewer.exe", c.server), nullptr, nullptr};
    ryx_command_status_dialog_refresh_apps(dlg(), &one);
    EXPECT_EQ(rows(), std::vector<std::string>{c.row}) << (c.configured ? c.configured : "(none)");
  }
  g_list_free_full(apps_, g_object_unref);
  apps_ = nullptr;
  connectApp("first", nullptr);
  connectApp(nullptr, nullptr);  // an update without a name
  ryx_command_status_dialog_refresh_apps(dlg(), apps_);
  EXPECT_EQ(rows(), (std::vector<std::string>{"Unnamed application|(Local rendering)", "first|(Local rendering)"}));
}

TEST_F(StatusDialogTest, CountsViewersAndThoseWithoutKestrane) {
  const struct {
    std::vector<int> viewers;  // 1 with Kestrane support, 0 without, -1 a null entry
    const char *shown;
  } cases[] = {
      {{0, 0, 0}, "3 (without RYX Kestrane)"}, {{1, -1}, "2 (1 without RYX Kestrane)"},  // a null entry counts
  };
  open();
  for (const auto &c : cases) {
    GList *viewers = nullptr;
    for (int v : c.viewers) viewers = g_list_append(viewers, v < 0 ? nullptr : ryx_config_viewer_new(7, v, FALSE, "v"));
    GLogCapture logs;  // the getter's warning for the null entry
    ryx_command_status_dialog_refresh_viewers(dlg(), viewers);
    EXPECT_EQ(text("users_label"), c.shown);
    for (GList *l = viewers; l != nullptr; l = l->next) ryx_config_viewer_free((RyxConfigViewer *)l->data);
    g_list_free(viewers);
  }
}

// The user's choice runs the switch (here, without the wrapper, it finds
// RYX not enabled) and leaves the screen to the published state; the
// program's own setting of the combo (back to ON) runs nothing.
TEST_F(StatusDialogTest, OnlyTheUsersChoiceRunsTheSwitch) {
  publish(true, 0);
  open();
  gtk_combo_box_set_active(GTK_COMBO_BOX(w("status_combo")), 1);
  EXPECT_EQ(commands_.code(), STATUS_NOT_ENABLED);
  commands_.clearStatus();
  refresh();
  EXPECT_EQ(screen(), "status_combo apps_box ON") << "the published state";
  EXPECT_EQ(commands_.code(), STATUS_OK);
}

// The notices window's text; "(no text)" without its view.
std::string noticesText(GtkWidget *notices) {
  std::vector<GtkWidget *> views = findWidgets(notices, GTK_TYPE_TEXT_VIEW);
  if (views.size() != 1 || !shownOnScreen(views[0])) return "(no text)";
  GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(views[0]));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  g_autofree char *all = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
  return all;
}

// Any response but Legal Notices closes the window.  Legal Notices opens one
// notices window, transient for it and closed with it.  Without a folder it
// warns and shows only Close; else a heading and notice per folder with a
// licence, in listing order: the folder's name and version.txt less its last
// character; a licence that is no UTF-8 is shown, not refused.
TEST_F(StatusDialogTest, ResponsesCloseTheWindowOrOpenOneNoticesWindow) {
  g_autoptr(GError) missing = nullptr;
  EXPECT_EQ(g_dir_open(noticesDir().c_str(), 0, &missing), nullptr);
  const std::string warning = std::string("Could not open the legal notices directory: ") + missing->message;
  GLogCapture logs;
  open();
  gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
  gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
  std::vector<GtkWidget *> notices = toplevels(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(logs.count(warning, G_LOG_LEVEL_WARNING), 1) << logs.dump();
  EXPECT_EQ(noticesText(notices[0]), "(no text)");
  EXPECT_TRUE(shownOnScreen(gtk_dialog_get_widget_for_response(GTK_DIALOG(notices[0]), GTK_RESPONSE_CANCEL)));
  gtk_dialog_response(GTK_DIALOG(notices[0]), GTK_RESPONSE_CANCEL);
  EXPECT_TRUE(toplevels(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG).empty());

  const struct {
    const char *name, *version, *licence;  // null: no such file
    const char *heading, *notice;
  } cases[] = {
      {"zlib", "2.74.6\n", "Z licence", "zlib 2.74.6", "Z licence"},
      {"none", nullptr, "N licence", "none ", "N licence"},
      {"bytes", "1\n", "caf\xe9 licence", "bytes 1", "caf\xef\xbf\xbd licence"},
      {"no-licence", "1\n", nullptr, nullptr, nullptr},
  };
  std::map<std::string, std::string> shownFor;
  g_mkdir(noticesDir().c_str(), 0700);
  for (const auto &c : cases) {
    std::string folder = noticesDir() + "/" + c.name;
    g_mkdir(folder.c_str(), 0700);
    if (c.version != nullptr) writeFile(folder + "/version.txt", c.version);
    if (c.licence == nullptr) continue;
    writeFile(folder + "/license.txt", c.licence);
    shownFor[c.name] = std::string(24, ' ') + c.heading + "\n" + std::string(104, ' ') + "\n\n" + c.notice + "\n";
  }
  std::string expected;
  for (const std::string &name : listFolder(noticesDir())) expected += shownFor[name];
  ASSERT_NE(dialog_, nullptr) << "the status window stays open";
  gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
  notices = toplevels(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG);
  ASSERT_EQ(notices.size(), 1u) << "opens again";
  EXPECT_EQ(noticesText(notices[0]), expected);
  gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_CLOSE);
  EXPECT_EQ(dialog_, nullptr);
  EXPECT_TRUE(toplevels(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG).empty()) << "closed with its parent";
}

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
}

// RYX_TRAY=sni: the item is made before there is a watcher, with what the
// icon shows by then, and the tray is not used.  It sends its image and
// tooltip as the status changes, one signal per change, turns every click
// but a scroll into the icon's activation, and leaves the watcher when it
// is released.
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

// A watcher that refuses the item leaves it unembedded, with the watcher's
// reason logged, and the tray unused.  An unknown RYX_TRAY value is
// reported and the session decides.
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
