// SPDX-License-Identifier: MIT
// The status window on real widgets: what the session hides, the screen
// each code gets and how refreshes change it, the applications and viewers,
// the rendering-server row and GRID note, the ON/OFF switch, its buttons,
// and the legal notices window they open.
#include "ui/ryx-command-status-dialog.h"

#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "integration/ryx-config-viewer.h"
#include "state/commands.h"
#include "state/status.h"
#include "ui/ryx-console-legal-notices-dialog.h"
#include "ui_fixture.h"

namespace ryx::test {
namespace {

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
  void show(int code, const char *message = "m") {
    publish(true, code, message);
    refresh();
  }
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
  show(STATUS_NOT_FUNCTIONING);
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
  EXPECT_TRUE(gtk_widget_get_visible(notices[0]));
  EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(notices[0])), GTK_WINDOW(dialog_));
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

}  // namespace
}  // namespace ryx::test
