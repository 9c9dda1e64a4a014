// SPDX-License-Identifier: MIT
// The status window on real widgets: what the session hides, the panel
// each kind of code gets and how refreshes change it, the applications and
// viewers, the rendering-server row and GRID note, the ON/OFF switch, and
// its buttons.
#include "ui/ryx-command-status-dialog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "integration/ryx-config-viewer.h"
#include "state/commands.h"
#include "state/status.h"
#include "ui/ryx-console-legal-notices-dialog.h"
#include "ui_fixture.h"

namespace ryx::test {
namespace {

// A background colour as 16-bit channels; the CSS colours pass through
// doubles, so one unit either way is the same colour.
bool hasBackground(GtkWidget *widget, int red, int green, int blue) {
  GtkStyleContext *context = gtk_widget_get_style_context(widget);
  GdkRGBA *colour = nullptr;
  gtk_style_context_get(context, gtk_style_context_get_state(context), GTK_STYLE_PROPERTY_BACKGROUND_COLOR, &colour,
                        nullptr);
  bool same = std::abs(colour->red * 65535 - red) <= 1 && std::abs(colour->green * 65535 - green) <= 1 &&
              std::abs(colour->blue * 65535 - blue) <= 1;
  gdk_rgba_free(colour);
  return same;
}

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
  int comboChoice() { return gtk_combo_box_get_active(GTK_COMBO_BOX(w("status_combo"))); }
  void refresh() { ryx_command_status_dialog_refresh_status(dlg()); }
  // Publishes an on state with that code and refreshes the window.
  void show(int code, const char *message = "m") {
    publish(true, code, message);
    refresh();
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

// Desktop capture hides the switch and the list, also once an error came
// and went; a remote-desktop session hides the viewer count.
TEST_F(StatusDialogTest, ShowsWhatTheSessionCallsFor) {
  open(true);
  for (bool again : {false, true}) {
    EXPECT_FALSE(shown("apps_box")) << again;
    EXPECT_FALSE(shown("status_combo")) << again;
    EXPECT_TRUE(shown("users_row"));
    show(STATUS_NOT_FUNCTIONING);  // shows the switch
    show(0);
  }
  setEnv("RYX_REMOTE_SESSION", "1");
  open();
  EXPECT_TRUE(shown("apps_box"));
  EXPECT_FALSE(shown("users_row"));
}

// One row per kind of screen (a missing GRID library without GRID in use
// keeps its panel hidden): the panel's look, heading and message (its
// markup applied), the warning line and the switch; code 0 takes them
// away again.
TEST_F(StatusDialogTest, EachKindOfCodeGetsItsPanel) {
  const struct {
    int code;
    bool panel, warning, combo;
    const char *word;  // the state word beside the warning; null: hidden
    int red, green, blue;
    const char *heading;
  } cases[] = {
      {STATUS_NOT_ENABLED, true, true, false, "Disabled", 40000, 0, 0, "Error activating RYX:"},
      {STATUS_NOT_FUNCTIONING, true, false, true, nullptr, 65535, 65535, 30000, "RYX is not functioning correctly:"},
      {STATUS_RENDERING_SERVER_ERROR, true, true, false, nullptr, 40000, 0, 0,
       "There is an error contacting the configured Rendering Server:"},
      {STATUS_GRID_LIBRARY_MISSING, false, false, true, nullptr, 65535, 65535, 30000, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.code);
    open();
    show(c.code, "Something <i>went</i> wrong.");
    EXPECT_EQ(shown("error_frame"), c.panel);
    EXPECT_EQ(shown("warning_box"), c.warning);
    EXPECT_EQ(shown("status_combo"), c.combo);
    EXPECT_EQ(shown("apps_box"), c.combo);
    if (c.word != nullptr) {
      EXPECT_EQ(text("state_label"), c.word);
    }
    EXPECT_TRUE(hasBackground(w("error_event_box"), c.red, c.green, c.blue));
    if (c.heading != nullptr) {
      EXPECT_EQ(text("error_title_label"), c.heading);
      EXPECT_EQ(text("error_text_label"), "Something went wrong.");
    }
    show(0);
    EXPECT_FALSE(shown("error_frame"));
    EXPECT_FALSE(shown("warning_box"));
    EXPECT_TRUE(shown("status_combo"));
    EXPECT_TRUE(shown("apps_box"));
  }
}

// Refreshes follow the published state: the combo the on/off state every
// time, the panel a change of code only, so a code that stays keeps its
// first message; a message that is no valid markup is shown as text,
// without a warning; the "Disabled" word comes back with a later code 3
// only.  The first step is shown at creation.
TEST_F(StatusDialogTest, RefreshesFollowThePublishedState) {
  const struct {
    bool on;
    int code;
    const char *message, *text;
    const char *word;  // the state word; null: hidden
  } steps[] = {
      {true, STATUS_RENDERING_SERVER_ERROR, "Cannot reach a&b <port", "Cannot reach a&b <port", nullptr},
      {true, STATUS_NOT_ENABLED, "first message", "first message", "Disabled"},
      {false, STATUS_NOT_ENABLED, "second message", "first message", "Disabled"},
      {true, STATUS_RENDERING_SERVER_ERROR, "m", "m", nullptr},
      {true, STATUS_SWITCH_ON_FAILED, "m", "m", nullptr},
      {true, STATUS_NOT_ENABLED, "m", "m", "Disabled"},
      {true, STATUS_NOT_FUNCTIONING, nullptr, "", nullptr},
  };
  GLogCapture logs;
  for (const auto &step : steps) {
    SCOPED_TRACE(std::to_string(step.code) + " " + (step.message ? step.message : "(null)"));
    publish(step.on, step.code, step.message);
    if (dialog_ == nullptr) open();
    refresh();
    EXPECT_EQ(text("error_text_label"), step.text);
    EXPECT_EQ(comboChoice(), step.on ? 0 : 1);
    if (step.code != STATUS_NOT_FUNCTIONING) {
      EXPECT_EQ(shown("state_label"), step.word != nullptr);
    }
  }
  for (const LogRecord &record : logs.records()) EXPECT_NE(record.level, G_LOG_LEVEL_WARNING) << record.message;
}

// The rendering server row shows the configured server; without one the
// GRID note shows where GRID is in use, until the shown code is an error.
TEST_F(StatusDialogTest, RenderingServerRowAndGridNote) {
  setEnv("RYX_USE_NVIDIA_GRID", "true");
  setEnv("RYX_RENDERING_SERVER", "render01.example");
  open();
  EXPECT_TRUE(shown("rs_value_label"));
  EXPECT_EQ(text("rs_value_label"), "render01.example");
  EXPECT_FALSE(shown("grid_note_label")) << "never shown with a rendering server";
  setEnv("RYX_RENDERING_SERVER", nullptr);
  refresh();
  EXPECT_FALSE(shown("rs_value_label"));
  EXPECT_TRUE(shown("grid_note_label"));
  show(STATUS_NOT_FUNCTIONING);
  refresh();
  EXPECT_FALSE(shown("grid_note_label"));
  setEnv("RYX_USE_NVIDIA_GRID", "false");
  show(0);
  refresh();
  EXPECT_FALSE(shown("grid_note_label"));
}

// Each application's row says where it renders, in the list's order; a
// refresh replaces the list.
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
      {"rs1.example", "", "viewer.exe|(Local rendering)"},  // an empty element
  };
  open();
  for (const auto &c : cases) {
    setEnv("RYX_RENDERING_SERVER", c.configured);
    GList one = {connectApp("viewer.exe", c.server), nullptr, nullptr};
    ryx_command_status_dialog_refresh_apps(dlg(), &one);
    EXPECT_EQ(rows(), std::vector<std::string>{c.row}) << (c.configured ? c.configured : "(none)");
  }
  setEnv("RYX_RENDERING_SERVER", nullptr);
  g_list_free_full(apps_, g_object_unref);
  apps_ = nullptr;
  connectApp("first", nullptr);
  connectApp(nullptr, nullptr);  // an update without a name
  ryx_command_status_dialog_refresh_apps(dlg(), apps_);
  EXPECT_EQ(rows(), (std::vector<std::string>{"Unnamed application|", "first|"}));
  ryx_command_status_dialog_refresh_apps(dlg(), nullptr);
  EXPECT_TRUE(rows().empty());
}

// At the window's own size the list shows several rows, and each row has
// its whole location at the right edge of the list, however long a name is.
TEST_F(StatusDialogTest, ListShowsRowsWithEveryLocationAtTheRightEdge) {
  const std::string longName(200, 'n');
  for (const char *name : {"one.exe", longName.c_str(), "three.exe"}) connectApp(name, "far.example");
  open();
  ryx_command_status_dialog_refresh_apps(dlg(), apps_);
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(w("apps_view")); }));
  spinFor(100);

  GtkTreeView *view = GTK_TREE_VIEW(w("apps_view"));
  EXPECT_GE(gtk_widget_get_allocated_height(gtk_widget_get_parent(GTK_WIDGET(view))), 150);
  GtkTreeViewColumn *column = gtk_tree_view_get_column(view, 0);
  g_autoptr(GList) cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
  auto *location = GTK_CELL_RENDERER(g_list_last(cells)->data);
  const int listWidth = gtk_widget_get_allocated_width(GTK_WIDGET(view));
  GtkTreeModel *model = gtk_tree_view_get_model(view);
  GtkTreeIter iter;
  for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok; ok = gtk_tree_model_iter_next(model, &iter)) {
    g_autoptr(GtkTreePath) path = gtk_tree_model_get_path(model, &iter);
    GdkRectangle area;
    gtk_tree_view_get_background_area(view, path, column, &area);
    gtk_tree_view_column_cell_set_cell_data(column, model, &iter, FALSE, FALSE);
    int offset = 0, width = 0, natural = 0, x = 0, y = 0;
    gtk_tree_view_column_cell_get_position(column, location, &offset, &width);
    gtk_cell_renderer_get_preferred_width(location, GTK_WIDGET(view), nullptr, &natural);
    gtk_tree_view_convert_bin_window_to_widget_coords(view, area.x + offset, area.y, &x, &y);
    SCOPED_TRACE(gtk_tree_path_get_indices(path)[0]);
    EXPECT_GE(width, natural) << "the location is cut";
    EXPECT_LE(x + width, listWidth);
    EXPECT_GE(x + width, listWidth - 12) << "the location is not at the right edge";
  }
}

TEST_F(StatusDialogTest, CountsViewersAndThoseWithoutKestrane) {
  const struct {
    std::vector<int> viewers;  // 1 with Kestrane support, 0 without, -1 a null entry
    const char *shown;
  } cases[] = {
      {{}, "0"},
      {{1, 1}, "2"},
      {{1, 0, 1}, "3 (1 without RYX Kestrane)"},
      {{0, 0, 0}, "3 (without RYX Kestrane)"},
      {{1, -1}, "2 (1 without RYX Kestrane)"},  // a null entry counts
  };
  open();
  for (const auto &c : cases) {
    GList *viewers = nullptr;
    for (int v : c.viewers)
      viewers = g_list_append(viewers, v < 0 ? nullptr : ryx_config_viewer_new(7, v == 1, FALSE, "viewer"));
    GLogCapture logs;  // the getter's warning for the null entry
    ryx_command_status_dialog_refresh_viewers(dlg(), viewers);
    EXPECT_EQ(text("users_label"), c.shown);
    g_list_free_full(viewers, [](gpointer v) {
      if (v != nullptr) ryx_config_viewer_free((RyxConfigViewer *)v);
    });
  }
}

// The user's choice runs the switch (here, without the wrapper, it finds
// RYX not enabled) and leaves the screen to the published state; the
// program's own setting of the combo runs nothing.
TEST_F(StatusDialogTest, OnlyTheUsersChoiceRunsTheSwitch) {
  publish(true, 0);
  open();
  gtk_combo_box_set_active(GTK_COMBO_BOX(w("status_combo")), 1);
  EXPECT_EQ(commands_.code(), STATUS_NOT_ENABLED);
  EXPECT_FALSE(shown("error_frame"));
  commands_.clearStatus();
  refresh();
  EXPECT_EQ(comboChoice(), 0) << "the published state is ON";
  publish(false, 0);
  refresh();
  EXPECT_EQ(comboChoice(), 1);
  EXPECT_EQ(commands_.code(), STATUS_OK);
}

// Any response but Legal Notices closes the window.  Legal Notices opens
// one notices window, transient for its parent and closed with it; once
// closed it opens again.
TEST_F(StatusDialogTest, ResponsesCloseTheWindowAndOpenOneNoticesWindow) {
  GLogCapture logs;  // this installation has no notices
  open();
  for (int closeNoticesWith : {GTK_RESPONSE_CANCEL, GTK_RESPONSE_DELETE_EVENT}) {
    gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
    gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
    std::vector<GtkWidget *> notices = toplevels(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(gtk_widget_get_visible(notices[0]));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(notices[0])), GTK_WINDOW(dialog_));
    gtk_dialog_response(GTK_DIALOG(notices[0]), closeNoticesWith);
    EXPECT_TRUE(toplevels(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG).empty());
  }
  ASSERT_NE(dialog_, nullptr) << "the status window stays open";
  gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
  gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_CLOSE);
  EXPECT_EQ(dialog_, nullptr);
  EXPECT_TRUE(toplevels(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG).empty()) << "closed with its parent";
}

}  // namespace
}  // namespace ryx::test
