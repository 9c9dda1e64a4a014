// SPDX-License-Identifier: MIT
// The status window on real widgets: its tree, the panel that follows the
// status code, the applications and viewers, the rendering-server row and
// GRID note, the ON/OFF switch and its registry writes, and its buttons;
// and the preconditions of the status window's and icon's functions.
#define GDK_DISABLE_DEPRECATION_WARNINGS  // GtkStatusIcon
#include "ui/ryx-command-status-dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "common/install_root.h"
#include "common/ryx_gcommon.h"
#include "integration/ryx-config-viewer.h"
#include "state/commands.h"
#include "state/error_reporter.h"
#include "state/status.h"
#include "ui/ryx-command-status-icon.h"
#include "ui/ryx-console-legal-notices-dialog.h"
#include "ui_fixture.h"

namespace ryx::test {
namespace {

const Rgb16 kDarkRed = {40000, 0, 0};
const Rgb16 kLightYellow = {65535, 65535, 30000};
const Rgb16 kWhite = {65535, 65535, 65535};

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
      result.push_back(std::string(name ? name : "(null)") + "|" + (location ? location : "(null)"));
    }
    return result;
  }

  Commands commands_;
  GtkWidget *dialog_ = nullptr;
};

TEST_F(StatusDialogTest, BuildsTheWindowAsDescribed) {
  open();
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog_)), "Vezo RYX Server Status");
  EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(dialog_)));
  EXPECT_NE(gtk_window_get_icon(GTK_WINDOW(dialog_)), nullptr) << "icon.png was not loaded";
  // Close comes first, then Legal Notices.
  GtkWidget *close = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog_), GTK_RESPONSE_CLOSE);
  GtkWidget *legal = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
  ASSERT_TRUE(close != nullptr && legal != nullptr);
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(close)), "_Close");
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(legal)), "_Legal Notices");
  g_autoptr(GList) buttons = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(close)));
  EXPECT_EQ(g_list_index(buttons, close), 0);
  EXPECT_EQ(g_list_index(buttons, legal), 1);

  EXPECT_EQ(backgroundOf(w("header")), kWhite);
  EXPECT_EQ(labelMarkup(w("version_label")).rfind("Version 1.0.0 (r", 0), 0u) << labelMarkup(w("version_label"));
  EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(w("logo"))), GTK_IMAGE_PIXBUF) << "ryx_logo_console.png missing";
  EXPECT_EQ(labelMarkup(w("host_label")), std::string("<b>") + g_get_host_name() + "</b>");
  EXPECT_EQ(labelText(w("users_label")), "0");
  GtkTreeView *view = GTK_TREE_VIEW(w("apps_view"));
  EXPECT_FALSE(gtk_tree_view_get_headers_visible(view));
  EXPECT_STREQ(gtk_tree_view_column_get_title(gtk_tree_view_get_column(view, 0)), "Name");
  EXPECT_EQ(comboChoice(), 1) << "RYX is off in the published state";
  GtkTreeModel *choices = gtk_combo_box_get_model(GTK_COMBO_BOX(w("status_combo")));
  g_autofree char *first = nullptr;
  GtkTreeIter iter;
  gtk_tree_model_get_iter_first(choices, &iter);
  gtk_tree_model_get(choices, &iter, 0, &first, -1);
  EXPECT_STREQ(first, "Switched ON");
  EXPECT_EQ(labelMarkup(w("grid_note_label")),
            "<span size=\"small\">Using NVIDIA GRID API for DirectX applications</span>");
}

TEST_F(StatusDialogTest, ShowsWhatTheSessionCallsFor) {
  const struct {
    const char *label;
    bool capture, remote;
    std::vector<const char *> shown, hidden;
  } cases[] = {
      {"local", false, false, {"header", "host_label", "users_row", "status_caption_label", "status_combo", "apps_box"},
       {"warning_box", "error_frame", "rs_caption_label", "rs_value_label", "grid_note_label"}},
      {"desktop capture", true, false, {"header", "host_label", "users_row"},
       {"status_caption_label", "status_combo", "apps_box", "warning_box", "error_frame"}},
      {"remote desktop", false, true, {"header", "status_combo", "apps_box"}, {"users_row", "users_label"}},
  };
  RyxConfigViewer *viewer = ryx_config_viewer_new(1, TRUE, FALSE, "v");
  GList viewers = {viewer, nullptr, nullptr};
  for (const auto &c : cases) {
    setEnv("RYX_REMOTE_SESSION", c.remote ? "1" : "0");
    open(c.capture);
    // As built, and again after an error came and went and a viewer refresh.
    for (const char *when : {"as built", "after an error and a viewer refresh"}) {
      SCOPED_TRACE(std::string(c.label) + ", " + when);
      for (const char *name : c.shown) EXPECT_TRUE(shown(name)) << name;
      for (const char *name : c.hidden) EXPECT_FALSE(shown(name)) << name;
      show(STATUS_NOT_ENABLED);
      show(0);
      ryx_command_status_dialog_refresh_viewers(dlg(), &viewers);
    }
  }
  ryx_config_viewer_free(viewer);
}

struct CodeCase {
  const char *label;
  int code;
  bool grid;
  // expectations
  bool caption, combo, warning;
  const char *stateLabel;  // the word beside the warning icon; null: hidden
  bool panel, apps;
  const char *heading;  // null: not checked (panel hidden)
  const char *textColour;
  Rgb16 background;
};

const CodeCase kCodeCases[] = {
    {"Disabled", STATUS_NOT_ENABLED, false, true, false, true, "Disabled", true, false, "Error activating RYX",
     "white", kDarkRed},
    {"NotFunctioning", STATUS_NOT_FUNCTIONING, false, true, true, false, nullptr, true, true,
     "RYX is not functioning correctly", "black", kLightYellow},
    {"GridMissingWithGrid", STATUS_GRID_LIBRARY_MISSING, true, true, true, false, nullptr, true, true,
     "RYX is not functioning correctly", "black", kLightYellow},
    {"GridMissingWithoutGrid", STATUS_GRID_LIBRARY_MISSING, false, true, true, false, nullptr, false, true, nullptr,
     nullptr, kLightYellow},
    {"RenderingServer", STATUS_RENDERING_SERVER_ERROR, false, true, false, true, nullptr, true, false,
     "There is an error contacting the configured Rendering Server", "white", kDarkRed},
    {"SwitchOnFailed", STATUS_SWITCH_ON_FAILED, false, true, false, true, "", true, false,
     "There was an error switching on RYX", "white", kDarkRed},
    {"UnknownCode", 42, false, true, false, true, "", true, false, "There was an error switching on RYX", "white",
     kDarkRed},
};

class CodeTest : public StatusDialogTest, public ::testing::WithParamInterface<std::tuple<CodeCase, bool, bool>> {};

// For each code: in a window made while the code holds and in one that
// sees the code arrive by a refresh, with and without desktop capture; and
// back to code 0 afterwards.
TEST_P(CodeTest, PanelFollowsTheTable) {
  const auto &[c, capture, arrivesByRefresh] = GetParam();
  setEnv("RYX_USE_NVIDIA_GRID", c.grid ? "true" : "false");
  const char *message = "Something <i>went</i> wrong.";
  if (arrivesByRefresh) open(capture);
  show(c.code, message);
  if (!arrivesByRefresh) open(capture);

  EXPECT_EQ(shown("status_caption_label"), c.caption);
  EXPECT_EQ(shown("status_combo"), c.combo);
  EXPECT_EQ(shown("warning_box"), c.warning);
  if (c.warning) {
    EXPECT_EQ(shown("state_label"), c.stateLabel != nullptr);
  }
  if (c.warning && c.stateLabel != nullptr) {
    EXPECT_EQ(labelText(w("state_label")), c.stateLabel);
  }
  EXPECT_EQ(shown("error_frame"), c.panel);
  EXPECT_EQ(shown("apps_box"), c.apps);
  EXPECT_EQ(backgroundOf(w("error_event_box")), c.background);
  if (c.heading != nullptr) {
    std::string span = std::string("<span foreground=\"") + c.textColour + "\">";
    EXPECT_EQ(labelMarkup(w("error_title_label")), span + "<b>" + c.heading + ":</b></span>");
    EXPECT_EQ(labelText(w("error_title_label")), std::string(c.heading) + ":");
    EXPECT_EQ(labelMarkup(w("error_text_label")), span + message + "</span>");
    EXPECT_EQ(labelText(w("error_text_label")), "Something went wrong.");
  }

  show(0);
  for (const char *name : {"apps_box", "status_combo", "status_caption_label"}) EXPECT_EQ(shown(name), !capture);
  EXPECT_FALSE(shown("error_frame"));
  EXPECT_FALSE(shown("warning_box"));
}

INSTANTIATE_TEST_SUITE_P(Codes, CodeTest,
                         ::testing::Combine(::testing::ValuesIn(kCodeCases), ::testing::Bool(), ::testing::Bool()),
                         [](const auto &info) {
                           return std::string(std::get<0>(info.param).label) +
                                  (std::get<1>(info.param) ? "_Capture" : "") +
                                  (std::get<2>(info.param) ? "_ByRefresh" : "_AtCreation");
                         });

// Refreshes follow the published state: the combo the on/off state every
// time, the panel a change of code only; a code that stays keeps its first
// message; a message that is no valid markup is shown as text, without a
// warning; the "Disabled" word comes back with a later code 3 only.  Every
// refresh logs the code and message.
TEST_F(StatusDialogTest, RefreshesFollowThePublishedState) {
  const struct {
    bool on;
    int code;
    const char *message, *text;
    const char *word;  // the state word; null: hidden
  } steps[] = {
      {true, STATUS_RENDERING_SERVER_ERROR, "Cannot reach a&b <port", "Cannot reach a&b <port", nullptr},
      {true, STATUS_NOT_ENABLED, "first message", "first message", "Disabled"},
      {true, STATUS_NOT_ENABLED, "second message", "first message", "Disabled"},
      {false, STATUS_NOT_ENABLED, "second message", "first message", "Disabled"},
      {true, STATUS_RENDERING_SERVER_ERROR, "third message", "third message", nullptr},
      {true, STATUS_SWITCH_ON_FAILED, "m", "m", nullptr},
      {true, STATUS_NOT_ENABLED, "m", "m", "Disabled"},
      {true, STATUS_NOT_FUNCTIONING, nullptr, "", nullptr},
  };
  GLogCapture logs;
  for (const auto &step : steps) {
    SCOPED_TRACE(std::to_string(step.code) + " " + (step.message ? step.message : "(null)"));
    publish(step.on, step.code, step.message);
    if (dialog_ == nullptr) open();  // the first step at creation
    refresh();
    EXPECT_EQ(labelText(w("error_text_label")), step.text);
    EXPECT_EQ(comboChoice(), step.on ? 0 : 1);
    if (step.code != STATUS_NOT_FUNCTIONING) {
      EXPECT_TRUE(shown("warning_box"));
      EXPECT_EQ(shown("state_label"), step.word != nullptr);
    }
    if (step.word != nullptr) {
      EXPECT_EQ(labelText(w("state_label")), step.word);
    }
  }
  EXPECT_EQ(labelText(w("error_title_label")), "RYX is not functioning correctly:");
  EXPECT_EQ(logs.count("Error code: 3, error message: second message", G_LOG_LEVEL_DEBUG), 2) << logs.dump();
  // No message is logged as an empty text.
  EXPECT_EQ(logs.count("Error code: 4, error message: ", G_LOG_LEVEL_DEBUG), 1) << logs.dump();
  for (const LogRecord &record : logs.records()) {
    EXPECT_NE(record.level, G_LOG_LEVEL_WARNING) << record.message;
    if (record.message.rfind("Error code: ", 0) == 0) {
      EXPECT_EQ(record.function, "change_status");
    }
  }
}

TEST_F(StatusDialogTest, RenderingServerRowAndGridNote) {
  setEnv("RYX_USE_NVIDIA_GRID", "true");
  setEnv("RYX_RENDERING_SERVER", "render01.example");
  open();
  EXPECT_TRUE(shown("rs_caption_label"));
  EXPECT_EQ(labelText(w("rs_caption_label")), "External Rendering Server:");
  EXPECT_EQ(labelMarkup(w("rs_value_label")), "<b>render01.example</b>");
  EXPECT_FALSE(shown("grid_note_label")) << "never shown with a rendering server";
  setEnv("RYX_RENDERING_SERVER", nullptr);
  refresh();
  EXPECT_FALSE(shown("rs_caption_label"));
  EXPECT_FALSE(shown("rs_value_label"));
  EXPECT_TRUE(shown("grid_note_label"));

  // The note follows the code one refresh late: it is decided before the
  // new code is shown.
  const struct {
    int code;
    bool before, after;  // the note after the first and the second refresh
  } steps[] = {{STATUS_NOT_FUNCTIONING, true, false}, {0, false, true}};
  for (const auto &step : steps) {
    show(step.code);
    EXPECT_EQ(shown("grid_note_label"), step.before) << step.code;
    refresh();
    EXPECT_EQ(shown("grid_note_label"), step.after) << step.code;
  }
  setEnv("RYX_USE_NVIDIA_GRID", "false");
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
  connectApp("second", "elsewhere");
  connectApp(nullptr, nullptr);  // an update without a name
  GLogCapture logs;
  ryx_command_status_dialog_refresh_apps(dlg(), apps_);
  EXPECT_EQ(rows(), (std::vector<std::string>{"Unnamed application|", "second|(Rendering on <i>elsewhere</i>)",
                                              "first|"}));
  EXPECT_EQ(logs.count("app name: second", G_LOG_LEVEL_DEBUG), 1) << logs.dump();
  ryx_command_status_dialog_refresh_apps(dlg(), g_list_last(apps_));
  EXPECT_EQ(rows(), std::vector<std::string>{"first|"});
  ryx_command_status_dialog_refresh_apps(dlg(), nullptr);
  EXPECT_TRUE(rows().empty());
}

// At the window's own size the list shows several rows, and each row has
// its name at the left and its whole location at the right edge of the
// list, however long one name is.
TEST_F(StatusDialogTest, ListShowsRowsWithEveryLocationAtTheRightEdge) {
  const std::string longName(200, 'n');
  for (const char *name : {"one.exe", "two.exe", longName.c_str(), "four.exe", "five.exe"})
    connectApp(name, "far.example");
  open();
  ryx_command_status_dialog_refresh_apps(dlg(), apps_);
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(w("apps_view")); }));
  spinFor(100);

  GtkTreeView *view = GTK_TREE_VIEW(w("apps_view"));
  GtkWidget *scrolled = gtk_widget_get_parent(GTK_WIDGET(view));
  EXPECT_GE(gtk_widget_get_allocated_height(scrolled), 150);
  GtkAdjustment *horizontal = gtk_scrollable_get_hadjustment(GTK_SCROLLABLE(view));
  EXPECT_LE(gtk_adjustment_get_upper(horizontal), gtk_adjustment_get_page_size(horizontal)) << "scrolls sideways";

  GtkTreeViewColumn *column = gtk_tree_view_get_column(view, 0);
  g_autoptr(GList) cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
  ASSERT_EQ(g_list_length(cells), 2u);
  auto *name = GTK_CELL_RENDERER(cells->data), *location = GTK_CELL_RENDERER(cells->next->data);
  const int listWidth = gtk_widget_get_allocated_width(GTK_WIDGET(view));
  GtkTreeModel *model = gtk_tree_view_get_model(view);
  GtkTreeIter iter;
  for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok; ok = gtk_tree_model_iter_next(model, &iter)) {
    g_autoptr(GtkTreePath) path = gtk_tree_model_get_path(model, &iter);
    GdkRectangle area;
    gtk_tree_view_get_background_area(view, path, column, &area);  // where the column starts
    gtk_tree_view_column_cell_set_cell_data(column, model, &iter, FALSE, FALSE);
    int nameX = 0, nameWidth = 0, offset = 0, width = 0, natural = 0, x = 0, y = 0;
    gtk_tree_view_column_cell_get_position(column, name, &nameX, &nameWidth);
    gtk_tree_view_column_cell_get_position(column, location, &offset, &width);
    gtk_cell_renderer_get_preferred_width(location, GTK_WIDGET(view), nullptr, &natural);
    gtk_tree_view_convert_bin_window_to_widget_coords(view, area.x + offset, area.y, &x, &y);
    SCOPED_TRACE(gtk_tree_path_get_indices(path)[0]);
    EXPECT_GE(width, natural) << "the location is cut";
    EXPECT_GE(offset, nameX + nameWidth) << "the location overlaps the name";
    EXPECT_LE(x + width, listWidth);
    EXPECT_GE(x + width, listWidth - 12) << "the location is not at the right edge";
  }
}

TEST_F(StatusDialogTest, CountsViewersAndThoseWithoutKestrane) {
  const struct {
    std::vector<int> viewers;  // 1 with Kestrane support, 0 without, -1 a null entry
    const char *markup;        // as set; the text shown is the same without the span
  } cases[] = {
      {{}, "0"},
      {{1, 1}, "2"},
      {{1, 0, 1}, "3 <span size=\"small\">(1 without RYX Kestrane)</span>"},
      {{0, 0, 0}, "3 <span size=\"small\">(without RYX Kestrane)</span>"},
      {{1, -1}, "2 <span size=\"small\">(1 without RYX Kestrane)</span>"},  // a null entry counts
  };
  open();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.markup);
    GList *viewers = nullptr;
    for (int v : c.viewers)
      viewers = g_list_append(viewers, v < 0 ? nullptr : ryx_config_viewer_new(7, v == 1, FALSE, "viewer"));
    GLogCapture logs;
    ryx_command_status_dialog_refresh_viewers(dlg(), viewers);
    EXPECT_EQ(labelMarkup(w("users_label")), c.markup);
    g_autofree char *plain = nullptr;
    pango_parse_markup(c.markup, -1, 0, nullptr, &plain, nullptr, nullptr);
    EXPECT_EQ(labelText(w("users_label")), plain);
    // The getter's own precondition warning, naming the bare function, once
    // per null entry.
    EXPECT_EQ(logs.count(preconditionMessage("ryx_config_viewer_get_supports_rvn", "viewer != NULL"),
                         G_LOG_LEVEL_CRITICAL),
              std::count(c.viewers.begin(), c.viewers.end(), -1))
        << logs.dump();
    g_list_free_full(viewers, [](gpointer v) { if (v != nullptr) ryx_config_viewer_free((RyxConfigViewer *)v); });
  }
}

// The ON/OFF combo: a user's choice writes both registry values while the
// wrapper is installed and changes nothing on screen (the published state
// is the periodic check's); without the wrapper nothing is written; the
// program's own setting of the combo never writes.
TEST_F(StatusDialogTest, SwitchWritesTheRegistryOnlyForTheUsersChoice) {
  auto store = [](uint32_t status, uint32_t directX) {
    ASSERT_TRUE(createProductKey());
    ASSERT_TRUE(writeProductDword("status", status));
    ASSERT_TRUE(writeProductDword("directXStatus", directX));
  };
  auto values = [] {
    uint32_t status = 99, directX = 99;
    EXPECT_TRUE(readProductDword("status", &status) && readProductDword("directXStatus", &directX));
    return std::make_pair(status, directX);
  };
  auto choose = [&](int index) { gtk_combo_box_set_active(GTK_COMBO_BOX(w("status_combo")), index); };

  store(1, 1);
  publish(true, 0);
  open();
  choose(1);
  EXPECT_EQ(values(), std::make_pair(1u, 1u)) << "nothing is written without the wrapper";
  EXPECT_EQ(commands_.code(), STATUS_NOT_ENABLED);

  installWrapper();
  open();
  choose(1);
  EXPECT_EQ(values(), std::make_pair(0u, 0u));
  EXPECT_EQ(comboChoice(), 1);
  EXPECT_FALSE(shown("error_frame"));
  EXPECT_TRUE(ErrorReporter::instance().ryxOn);
  choose(0);
  EXPECT_EQ(values(), std::make_pair(1u, 1u));

  store(1, 0);
  open();
  std::string hive = readFile(std::string(getenv("RYX_REGISTRY_DIR")) + "/user.reg");
  publish(false, 0);
  refresh();
  EXPECT_EQ(comboChoice(), 1);
  show(STATUS_NOT_FUNCTIONING);
  EXPECT_EQ(comboChoice(), 0);
  EXPECT_EQ(readFile(std::string(getenv("RYX_REGISTRY_DIR")) + "/user.reg"), hive);
  EXPECT_EQ(values(), std::make_pair(1u, 0u));
}

// Any response but Legal Notices closes a window.  Legal Notices opens one
// notices window, transient for its parent and closed with it; its
// process-wide reference is cleared when it goes, so it opens again.  This
// installation has no notices: one warning per notices window built.
TEST_F(StatusDialogTest, ResponsesCloseTheWindowsAndOpenOneNoticesWindow) {
  GLogCapture logs;
  const int responses[][2] = {{GTK_RESPONSE_CLOSE, GTK_RESPONSE_CANCEL},
                              {GTK_RESPONSE_DELETE_EVENT, GTK_RESPONSE_DELETE_EVENT},
                              {GTK_RESPONSE_OK, GTK_RESPONSE_HELP}};
  for (const auto &[toStatus, toNotices] : responses) {
    SCOPED_TRACE(toStatus);
    open();
    for (bool closeNotices : {true, false}) {
      gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
      gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
      ASSERT_NE(dialog_, nullptr) << "the status window stays open";
      std::vector<GtkWidget *> notices = toplevels(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG);
      ASSERT_EQ(notices.size(), 1u);
      EXPECT_TRUE(gtk_widget_get_visible(notices[0]));
      EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(notices[0])), GTK_WINDOW(dialog_));
      gtk_dialog_response(GTK_DIALOG(closeNotices ? notices[0] : dialog_), closeNotices ? toNotices : toStatus);
      EXPECT_TRUE(toplevels(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG).empty());
    }
    EXPECT_EQ(dialog_, nullptr);
  }
  EXPECT_EQ(std::count_if(logs.records().begin(), logs.records().end(),
                          [](const LogRecord &r) { return r.level == G_LOG_LEVEL_WARNING; }),
            6)
      << logs.dump();
}

// The public functions of the status window and the status icon refuse an
// object of another type, with GLib's precondition warning.
TEST(StatusUi, WrongArgumentsGivePreconditionWarnings) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  GtkWidget *label = gtk_label_new("not ours");
  g_object_ref_sink(label);
  auto *dialog = reinterpret_cast<RyxCommandStatusDialog *>(label);
  auto *icon = reinterpret_cast<RyxCommandStatusIcon *>(label);
  const char *const kDialog = "RYX_IS_COMMAND_STATUS_DIALOG(dlg)", *const kIcon = "RYX_IS_COMMAND_STATUS_ICON(status)";
  const struct {
    const char *function, *check;
    std::function<void()> call;
  } cases[] = {
      {"ryx_command_status_dialog_refresh_status", kDialog, [&] { ryx_command_status_dialog_refresh_status(dialog); }},
      {"ryx_command_status_dialog_refresh_apps", kDialog, [] { ryx_command_status_dialog_refresh_apps(nullptr, nullptr); }},
      {"ryx_command_status_dialog_refresh_viewers", kDialog,
       [&] { ryx_command_status_dialog_refresh_viewers(dialog, nullptr); }},
      {"ryx_command_status_icon_refresh_apps", kIcon, [&] { ryx_command_status_icon_refresh_apps(icon, nullptr); }},
      {"ryx_command_status_icon_refresh_status", kIcon, [] { ryx_command_status_icon_refresh_status(nullptr); }},
      {"ryx_command_status_icon_refresh_viewers", kIcon, [&] { ryx_command_status_icon_refresh_viewers(icon, nullptr); }},
  };
  for (const auto &c : cases) {
    GLogCapture logs;
    c.call();
    EXPECT_EQ(logs.count(preconditionMessage(c.function, c.check), G_LOG_LEVEL_CRITICAL), 1) << logs.dump();
    EXPECT_EQ(logs.records().size(), 1u) << c.function;
  }
  g_object_unref(label);
}

}  // namespace
}  // namespace ryx::test
