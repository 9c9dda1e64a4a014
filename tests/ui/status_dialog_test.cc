// SPDX-License-Identifier: MIT
// The status window on real widgets: its tree, the panel that follows the
// status code, the applications and viewers, the rendering-server row and
// GRID note, the ON/OFF switch and its registry writes, and its buttons.
#include "ui/ryx-command-status-dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/install_root.h"
#include "common/ryx_gcommon.h"
#include "integration/ryx-config-viewer.h"
#include "state/commands.h"
#include "state/error_reporter.h"
#include "state/status.h"
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

  RyxCommandStatusDialog *open(bool desktopCapture = false) {
    if (dialog_ != nullptr) gtk_widget_destroy(dialog_);
    dialog_ = ryx_command_status_dialog_new(&commands_, desktopCapture);
    g_signal_connect(dialog_, "destroy", G_CALLBACK(gtk_widget_destroyed), &dialog_);
    gtk_widget_show(dialog_);
    return RYX_COMMAND_STATUS_DIALOG(dialog_);
  }
  RyxCommandStatusDialog *dlg() { return RYX_COMMAND_STATUS_DIALOG(dialog_); }
  GtkWidget *w(const char *name) {
    GtkWidget *widget = findWidget(dialog_, name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  bool visible(const char *name) { return gtk_widget_get_visible(w(name)); }
  void refresh() { ryx_command_status_dialog_refresh_status(dlg()); }

  struct Row {
    std::string name, location;
  };
  std::vector<Row> rows() {
    std::vector<Row> result;
    GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(w("apps_view")));
    GtkTreeIter iter;
    for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok; ok = gtk_tree_model_iter_next(model, &iter)) {
      g_autofree char *name = nullptr;
      g_autofree char *location = nullptr;
      gtk_tree_model_get(model, &iter, 0, &name, 1, &location, -1);
      result.push_back({name != nullptr ? name : "(null)", location != nullptr ? location : "(null)"});
    }
    return result;
  }

  Commands commands_;
  GtkWidget *dialog_ = nullptr;
};

// ---- construction ----------------------------------------------------------

TEST_F(StatusDialogTest, BuildsTheWindowAsDescribed) {
  open();
  GtkWindow *window = GTK_WINDOW(dialog_);
  EXPECT_STREQ(gtk_window_get_title(window), "Vezo RYX Server Status");
  EXPECT_FALSE(gtk_window_get_modal(window));
  EXPECT_NE(gtk_window_get_icon(window), nullptr) << "icon.png was not loaded";

  GtkWidget *close = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog_), GTK_RESPONSE_CLOSE);
  GtkWidget *legal = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
  ASSERT_NE(close, nullptr);
  ASSERT_NE(legal, nullptr);
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(close)), "_Close");
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(legal)), "_Legal Notices");
  GtkWidget *actions = gtk_widget_get_parent(close);
  EXPECT_EQ(gtk_container_get_border_width(GTK_CONTAINER(actions)), 5u);
  EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(actions)), 6);
  // Close comes first, then Legal Notices.
  g_autoptr(GList) buttons = gtk_container_get_children(GTK_CONTAINER(actions));
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
  int width = 0, height = 0;
  gtk_widget_get_size_request(GTK_WIDGET(view), &width, &height);
  EXPECT_EQ(height, 150);

  GtkComboBox *combo = GTK_COMBO_BOX(w("status_combo"));
  EXPECT_EQ(gtk_combo_box_get_active(combo), 1) << "RYX is off in the published state";
  g_autofree char *first = nullptr;
  GtkTreeIter iter;
  gtk_tree_model_get_iter_first(gtk_combo_box_get_model(combo), &iter);
  gtk_tree_model_get(gtk_combo_box_get_model(combo), &iter, 0, &first, -1);
  EXPECT_STREQ(first, "Switched ON");

  GtkWidget *note = w("grid_note_label");
  EXPECT_FALSE(gtk_widget_get_sensitive(note));
  EXPECT_FLOAT_EQ(gtk_label_get_xalign(GTK_LABEL(note)), 1.0f);
  EXPECT_EQ(labelMarkup(note), "<span size=\"small\">Using NVIDIA GRID API for DirectX applications</span>");
}

struct NewDialogCase {
  const char *label;
  bool capture;
  bool remote;
  std::vector<const char *> shown;
  std::vector<const char *> hidden;
};

class NewDialogTest : public StatusDialogTest, public ::testing::WithParamInterface<NewDialogCase> {};

TEST_P(NewDialogTest, ShowsWhatTheSessionCallsFor) {
  const NewDialogCase &c = GetParam();
  setEnv("RYX_REMOTE_SESSION", c.remote ? "1" : "0");
  open(c.capture);
  for (const char *name : c.shown) EXPECT_TRUE(shownOnScreen(w(name))) << name;
  for (const char *name : c.hidden) EXPECT_FALSE(shownOnScreen(w(name))) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, NewDialogTest,
    ::testing::Values(
        NewDialogCase{"Local",
                      false,
                      false,
                      {"header", "host_label", "users_row", "status_caption_label", "status_combo", "apps_box"},
                      {"warning_box", "error_frame", "rs_caption_label", "rs_value_label", "grid_note_label"}},
        NewDialogCase{"DesktopCapture",
                      true,
                      false,
                      {"header", "host_label", "users_row"},
                      {"status_caption_label", "status_combo", "apps_box", "warning_box", "error_frame"}},
        NewDialogCase{"RemoteDesktop",
                      false,
                      true,
                      {"header", "status_combo", "apps_box"},
                      {"users_row", "users_label"}}),
    [](const auto &info) { return std::string(info.param.label); });

TEST_F(StatusDialogTest, RemoteSessionKeepsTheUsersLineHiddenForGood) {
  setEnv("RYX_REMOTE_SESSION", "1");
  open();
  publish(true, STATUS_NOT_ENABLED, "m");
  refresh();
  publish(true, 0);
  refresh();
  GList viewer = {nullptr, nullptr, nullptr};
  RyxConfigViewer *record = ryx_config_viewer_new(1, TRUE, FALSE, "v");
  viewer.data = record;
  ryx_command_status_dialog_refresh_viewers(dlg(), &viewer);
  ryx_config_viewer_free(record);
  EXPECT_FALSE(visible("users_row"));
}

// ---- the status panel --------------------------------------------------------

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
// sees the code arrive by a refresh, with and without desktop capture.
TEST_P(CodeTest, PanelFollowsTheTable) {
  const CodeCase &c = std::get<0>(GetParam());
  bool capture = std::get<1>(GetParam());
  bool arrivesByRefresh = std::get<2>(GetParam());
  setEnv("RYX_USE_NVIDIA_GRID", c.grid ? "true" : "false");
  const char *message = "Something <i>went</i> wrong.";
  if (arrivesByRefresh) {
    open(capture);
    publish(true, c.code, message);
    refresh();
  } else {
    publish(true, c.code, message);
    open(capture);
  }

  EXPECT_EQ(shownOnScreen(w("status_caption_label")), c.caption);
  EXPECT_EQ(shownOnScreen(w("status_combo")), c.combo);
  EXPECT_EQ(shownOnScreen(w("warning_box")), c.warning);
  if (c.warning) {
    EXPECT_EQ(shownOnScreen(w("state_label")), c.stateLabel != nullptr);
  }
  if (c.warning && c.stateLabel != nullptr) {
    EXPECT_EQ(labelText(w("state_label")), c.stateLabel);
  }
  EXPECT_EQ(shownOnScreen(w("error_frame")), c.panel);
  EXPECT_EQ(shownOnScreen(w("apps_box")), c.apps);
  EXPECT_EQ(backgroundOf(w("error_event_box")), c.background);
  if (c.heading != nullptr) {
    EXPECT_EQ(labelMarkup(w("error_title_label")),
              std::string("<span foreground=\"") + c.textColour + "\"><b>" + c.heading + ":</b></span>");
    EXPECT_EQ(labelText(w("error_title_label")), std::string(c.heading) + ":");
    EXPECT_EQ(labelMarkup(w("error_text_label")),
              std::string("<span foreground=\"") + c.textColour + "\">" + message + "</span>");
    EXPECT_EQ(labelText(w("error_text_label")), "Something went wrong.");
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, CodeTest,
                         ::testing::Combine(::testing::ValuesIn(kCodeCases), ::testing::Bool(), ::testing::Bool()),
                         [](const auto &info) {
                           return std::string(std::get<0>(info.param).label) +
                                  (std::get<1>(info.param) ? "_Capture" : "") +
                                  (std::get<2>(info.param) ? "_ByRefresh" : "_AtCreation");
                         });

TEST_F(StatusDialogTest, CodeBackToZeroRestoresTheNormalView) {
  for (bool capture : {false, true}) {
    open(capture);
    publish(true, STATUS_NOT_ENABLED, "off");
    refresh();
    publish(true, 0);
    refresh();
    EXPECT_EQ(shownOnScreen(w("apps_box")), !capture);
    EXPECT_EQ(shownOnScreen(w("status_combo")), !capture);
    EXPECT_EQ(shownOnScreen(w("status_caption_label")), !capture);
    EXPECT_FALSE(shownOnScreen(w("error_frame")));
    EXPECT_FALSE(shownOnScreen(w("warning_box")));
  }
}

TEST_F(StatusDialogTest, KeepsTheFirstMessageWhileTheCodeStays) {
  open();
  publish(true, STATUS_NOT_ENABLED, "first message");
  refresh();
  publish(true, STATUS_NOT_ENABLED, "second message");
  refresh();
  EXPECT_EQ(labelText(w("error_text_label")), "first message");
  // A new code brings the new message.
  publish(true, STATUS_RENDERING_SERVER_ERROR, "third message");
  refresh();
  EXPECT_EQ(labelText(w("error_text_label")), "third message");
}

TEST_F(StatusDialogTest, CodeWithoutMessageShowsTheHeadingAlone) {
  publish(true, STATUS_NOT_FUNCTIONING, nullptr);
  open();
  EXPECT_EQ(labelText(w("error_title_label")), "RYX is not functioning correctly:");
  EXPECT_EQ(labelText(w("error_text_label")), "");
}

TEST_F(StatusDialogTest, MessageThatIsNoMarkupIsShownAsText) {
  publish(true, STATUS_RENDERING_SERVER_ERROR, "Cannot reach a&b <port");
  ryx::test::GLogCapture logs;
  open();
  EXPECT_EQ(labelText(w("error_text_label")), "Cannot reach a&b <port");
  for (const LogRecord &record : logs.records()) EXPECT_NE(record.level, G_LOG_LEVEL_WARNING) << record.message;
}

TEST_F(StatusDialogTest, DisabledWordReturnsAfterARenderingServerError) {
  publish(true, STATUS_NOT_ENABLED, "m");
  open();
  EXPECT_TRUE(shownOnScreen(w("state_label")));
  EXPECT_EQ(labelText(w("state_label")), "Disabled");
  publish(true, STATUS_RENDERING_SERVER_ERROR, "m");
  refresh();
  EXPECT_TRUE(shownOnScreen(w("warning_box")));
  EXPECT_FALSE(shownOnScreen(w("state_label")));
  // Another code leaves the hidden word alone...
  publish(true, STATUS_SWITCH_ON_FAILED, "m");
  refresh();
  EXPECT_FALSE(shownOnScreen(w("state_label")));
  // ...but a new "Disabled" state shows it again.
  publish(true, STATUS_NOT_ENABLED, "m");
  refresh();
  EXPECT_TRUE(shownOnScreen(w("state_label")));
  EXPECT_EQ(labelText(w("state_label")), "Disabled");
}

TEST_F(StatusDialogTest, ComboFollowsTheOnOffStateOnEveryRefresh) {
  open();
  publish(true, STATUS_NOT_FUNCTIONING, "m");
  refresh();
  EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(w("status_combo"))), 0);
  publish(false, STATUS_NOT_FUNCTIONING, "m");  // same code: nothing else changes
  refresh();
  EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(w("status_combo"))), 1);
}

TEST_F(StatusDialogTest, LogsTheCodeAndMessageOnEveryStatusChange) {
  open();
  publish(true, STATUS_NOT_ENABLED, "the message");
  GLogCapture logs;
  refresh();
  refresh();
  EXPECT_EQ(logs.count("Error code: 3, error message: the message", G_LOG_LEVEL_DEBUG), 2) << logs.dump();
  EXPECT_EQ(logs.records().front().function, "change_status");
}

// ---- rendering server row and GRID note ------------------------------------

TEST_F(StatusDialogTest, ConfiguredRenderingServerFillsTheSecondRow) {
  setEnv("RYX_USE_NVIDIA_GRID", "true");
  setEnv("RYX_RENDERING_SERVER", "render01.example");
  open();
  EXPECT_TRUE(shownOnScreen(w("rs_caption_label")));
  EXPECT_EQ(labelText(w("rs_caption_label")), "External Rendering Server:");
  EXPECT_EQ(labelMarkup(w("rs_value_label")), "<b>render01.example</b>");
  EXPECT_FALSE(shownOnScreen(w("grid_note_label"))) << "never shown with a rendering server";

  setEnv("RYX_RENDERING_SERVER", nullptr);
  refresh();
  EXPECT_FALSE(shownOnScreen(w("rs_caption_label")));
  EXPECT_FALSE(shownOnScreen(w("rs_value_label")));
  EXPECT_TRUE(shownOnScreen(w("grid_note_label")));
}

TEST_F(StatusDialogTest, GridNoteFollowsTheCodeOneRefreshLate) {
  setEnv("RYX_USE_NVIDIA_GRID", "true");
  open();
  EXPECT_TRUE(shownOnScreen(w("grid_note_label")));

  publish(true, STATUS_NOT_FUNCTIONING, "m");
  refresh();
  EXPECT_TRUE(shownOnScreen(w("grid_note_label"))) << "decided before the new code was shown";
  refresh();
  EXPECT_FALSE(shownOnScreen(w("grid_note_label")));

  publish(true, 0);
  refresh();
  EXPECT_FALSE(shownOnScreen(w("grid_note_label")));
  refresh();
  EXPECT_TRUE(shownOnScreen(w("grid_note_label")));

  setEnv("RYX_USE_NVIDIA_GRID", "false");
  refresh();
  EXPECT_FALSE(shownOnScreen(w("grid_note_label")));
}

// ---- applications ------------------------------------------------------------

struct LocationCase {
  const char *label;
  const char *configured;  // the rendering_server setting
  const char *server;      // the application's, null for none
  const char *location;
};

class LocationTest : public StatusDialogTest, public ::testing::WithParamInterface<LocationCase> {};

TEST_P(LocationTest, SaysWhereTheApplicationRenders) {
  const LocationCase &c = GetParam();
  setEnv("RYX_RENDERING_SERVER", c.configured);
  connectApp("viewer.exe", c.server);
  open();
  ryx_command_status_dialog_refresh_apps(dlg(), apps_);
  std::vector<Row> list = rows();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name, "viewer.exe");
  EXPECT_EQ(list[0].location, c.location);
}

INSTANTIATE_TEST_SUITE_P(
    Locations, LocationTest,
    ::testing::Values(LocationCase{"ElsewhereWithoutSetting", nullptr, "far.example",
                                   "(Rendering on <i>far.example</i>)"},
                      LocationCase{"LocalWithoutSetting", nullptr, nullptr, ""},
                      LocationCase{"OnTheConfiguredServer", "RS1.example", "rs1.EXAMPLE", ""},
                      LocationCase{"ElsewhereThanConfigured", "rs1.example", "rs2.example",
                                   "(Rendering on <i>rs2.example</i>)"},
                      LocationCase{"LocalWhileConfigured", "rs1.example", nullptr, "(Local rendering)"},
                      LocationCase{"EmptyServerElementIsLocal", "rs1.example", "", "(Local rendering)"}),
    [](const auto &info) { return std::string(info.param.label); });

TEST_F(StatusDialogTest, ListsApplicationsInListOrderAndReplacesTheList) {
  connectApp("first", nullptr);
  connectApp("second", "elsewhere");
  connectApp(nullptr, nullptr);  // an update without a name
  open();
  GLogCapture logs;
  ryx_command_status_dialog_refresh_apps(dlg(), apps_);
  std::vector<Row> list = rows();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].name, "Unnamed application");
  EXPECT_EQ(list[1].name, "second");
  EXPECT_EQ(list[1].location, "(Rendering on <i>elsewhere</i>)");
  EXPECT_EQ(list[2].name, "first");
  EXPECT_EQ(logs.count("app name: second", G_LOG_LEVEL_DEBUG), 1) << logs.dump();
  EXPECT_EQ(logs.count("app name: first", G_LOG_LEVEL_DEBUG), 1);

  GList *shorter = g_list_last(apps_);
  ryx_command_status_dialog_refresh_apps(dlg(), shorter);
  list = rows();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name, "first");
  ryx_command_status_dialog_refresh_apps(dlg(), nullptr);
  EXPECT_TRUE(rows().empty());
}

// ---- viewers -----------------------------------------------------------------

struct ViewerCase {
  const char *label;
  std::vector<int> viewers;  // 1 with Kestrane support, 0 without, -1 a null entry
  const char *text;          // as displayed
  const char *markup;        // as set
};

class ViewerTest : public StatusDialogTest, public ::testing::WithParamInterface<ViewerCase> {};

TEST_P(ViewerTest, CountsViewersAndThoseWithoutKestrane) {
  const ViewerCase &c = GetParam();
  GList *viewers = nullptr;
  for (int v : c.viewers)
    viewers = g_list_append(viewers, v < 0 ? nullptr : ryx_config_viewer_new(7, v == 1, FALSE, "viewer"));
  open();
  GLogCapture logs;
  ryx_command_status_dialog_refresh_viewers(dlg(), viewers);
  EXPECT_EQ(labelText(w("users_label")), c.text);
  EXPECT_EQ(labelMarkup(w("users_label")), c.markup);
  // The getter's own precondition warning, once per null entry.
  int nulls = (int)std::count(c.viewers.begin(), c.viewers.end(), -1);
  int warnings = 0;
  for (const LogRecord &record : logs.records())
    if (record.level == G_LOG_LEVEL_CRITICAL &&
        record.message.find("ryx_config_viewer_get_supports_rvn") != std::string::npos &&
        record.message.find("assertion 'viewer != NULL' failed") != std::string::npos)
      warnings++;
  EXPECT_EQ(warnings, nulls) << logs.dump();
  for (GList *l = viewers; l != nullptr; l = l->next)
    if (l->data != nullptr) ryx_config_viewer_free((RyxConfigViewer *)l->data);
  g_list_free(viewers);
}

INSTANTIATE_TEST_SUITE_P(
    Viewers, ViewerTest,
    ::testing::Values(ViewerCase{"None", {}, "0", "0"}, ViewerCase{"AllWithKestrane", {1, 1}, "2", "2"},
                      ViewerCase{"OneOfThreeWithout", {1, 0, 1}, "3 (1 without RYX Kestrane)",
                                 "3 <span size=\"small\">(1 without RYX Kestrane)</span>"},
                      ViewerCase{"AllWithout", {0, 0, 0}, "3 (without RYX Kestrane)",
                                 "3 <span size=\"small\">(without RYX Kestrane)</span>"},
                      ViewerCase{"NullEntryCounts", {1, -1}, "2 (1 without RYX Kestrane)",
                                 "2 <span size=\"small\">(1 without RYX Kestrane)</span>"}),
    [](const auto &info) { return std::string(info.param.label); });

// ---- the ON/OFF switch -------------------------------------------------------

class SwitchTest : public StatusDialogTest {
 protected:
  void storeValues(uint32_t status, uint32_t directX) {
    ASSERT_TRUE(createProductKey());
    ASSERT_TRUE(writeProductDword("status", status));
    ASSERT_TRUE(writeProductDword("directXStatus", directX));
  }
  std::pair<uint32_t, uint32_t> values() {
    uint32_t status = 99, directX = 99;
    EXPECT_TRUE(readProductDword("status", &status));
    EXPECT_TRUE(readProductDword("directXStatus", &directX));
    return {status, directX};
  }
  void choose(int index) { gtk_combo_box_set_active(GTK_COMBO_BOX(w("status_combo")), index); }
};

TEST_F(SwitchTest, UserChoiceWritesBothValuesWhileTheWrapperIsInstalled) {
  installWrapper();
  storeValues(1, 1);
  publish(true, 0);
  open();
  choose(1);
  EXPECT_EQ(values(), std::make_pair(0u, 0u));
  choose(0);
  EXPECT_EQ(values(), std::make_pair(1u, 1u));
}

TEST_F(SwitchTest, UserChoiceChangesNothingOnScreen) {
  installWrapper();
  storeValues(1, 1);
  publish(true, 0);
  open();
  choose(1);
  EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(w("status_combo"))), 1);
  EXPECT_FALSE(shownOnScreen(w("error_frame")));
  EXPECT_TRUE(ErrorReporter::instance().ryxOn) << "published state is the periodic check's to change";
}

TEST_F(SwitchTest, WithoutTheWrapperNothingIsWritten) {
  storeValues(1, 1);
  publish(true, 0);
  open();
  choose(1);
  EXPECT_EQ(values(), std::make_pair(1u, 1u));
  EXPECT_EQ(commands_.code(), STATUS_NOT_ENABLED);
}

TEST_F(SwitchTest, TheProgramsOwnSettingWritesNothing) {
  installWrapper();
  storeValues(1, 0);
  publish(true, 0);
  open();
  std::string hive = readFile(std::string(getenv("RYX_REGISTRY_DIR")) + "/user.reg");
  publish(false, 0);
  refresh();
  EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(w("status_combo"))), 1);
  publish(true, STATUS_NOT_FUNCTIONING, "m");
  refresh();
  EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(w("status_combo"))), 0);
  EXPECT_EQ(readFile(std::string(getenv("RYX_REGISTRY_DIR")) + "/user.reg"), hive);
  EXPECT_EQ(values(), std::make_pair(1u, 0u));
}

// ---- buttons -----------------------------------------------------------------

TEST_F(StatusDialogTest, CloseAndWindowCloseDestroyTheWindow) {
  for (int response : {GTK_RESPONSE_CLOSE, GTK_RESPONSE_DELETE_EVENT, GTK_RESPONSE_OK}) {
    open();
    gtk_dialog_response(GTK_DIALOG(dialog_), response);
    EXPECT_EQ(dialog_, nullptr) << response;
  }
}

TEST_F(StatusDialogTest, OneLegalNoticesWindowClosedWithItsParent) {
  GLogCapture logs;  // this installation has no legal notices
  open();
  gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
  gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
  ASSERT_NE(dialog_, nullptr) << "the status window stays open";
  std::vector<GtkWidget *> notices = toplevels(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(gtk_widget_get_visible(notices[0]));
  EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(notices[0])), GTK_WINDOW(dialog_));

  gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_CLOSE);
  EXPECT_TRUE(toplevels(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG).empty());

  // The process-wide reference was cleared: a new window opens one again.
  open();
  gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_HELP);
  EXPECT_EQ(toplevels(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG).size(), 1u);
  int warnings = 0;
  for (const LogRecord &record : logs.records())
    if (record.level == G_LOG_LEVEL_WARNING) warnings++;
  EXPECT_EQ(warnings, 2) << "one per window built:\n" << logs.dump();
}

TEST_F(StatusDialogTest, WrongArgumentsGivePreconditionWarnings) {
  GtkWidget *label = gtk_label_new("not a dialog");
  g_object_ref_sink(label);
  auto *notDialog = reinterpret_cast<RyxCommandStatusDialog *>(label);
  GLogCapture logs;
  ryx_command_status_dialog_refresh_status(notDialog);
  ryx_command_status_dialog_refresh_apps(nullptr, nullptr);
  ryx_command_status_dialog_refresh_viewers(notDialog, nullptr);
  for (const char *function : {"ryx_command_status_dialog_refresh_status", "ryx_command_status_dialog_refresh_apps",
                               "ryx_command_status_dialog_refresh_viewers"})
    EXPECT_EQ(logs.count(preconditionMessage(function, "RYX_IS_COMMAND_STATUS_DIALOG(dlg)"), G_LOG_LEVEL_CRITICAL), 1)
        << function << "\n"
        << logs.dump();
  EXPECT_EQ(logs.records().size(), 3u);
  g_object_unref(label);
}

}  // namespace
}  // namespace ryx::test
