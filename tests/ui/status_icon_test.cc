// SPDX-License-Identifier: MIT
// The status icon: its image and its status window follow changes of the
// published code, its tooltip the on/off state, and activation opens one
// window filled from the last application list.
#define GDK_DISABLE_DEPRECATION_WARNINGS  // GtkStatusIcon
#include "ui/ryx-command-status-icon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "integration/ryx-config-viewer.h"
#include "state/commands.h"
#include "state/status.h"
#include "ui/ryx-command-status-dialog.h"
#include "ui_fixture.h"

namespace ryx::test {
namespace {

class StatusIconTest : public UiFixture {
 protected:
  StatusIconTest() {
    icon_ = RYX_COMMAND_STATUS_ICON(ryx_command_status_icon_new(&commands_, FALSE));
  }
  ~StatusIconTest() override { g_clear_object(&icon_); }

  // The status windows open now (at most one is the icon's).
  std::vector<GtkWidget *> windows() {
    std::vector<GtkWidget *> open;
    for (GtkWidget *window : toplevels(RYX_TYPE_COMMAND_STATUS_DIALOG))
      if (gtk_widget_get_visible(window)) open.push_back(window);
    return open;
  }
  GtkWidget *window() {
    std::vector<GtkWidget *> open = windows();
    EXPECT_EQ(open.size(), 1u);
    return open.empty() ? nullptr : open[0];
  }
  void closeWindow() {
    GtkWidget *open = window();
    if (open != nullptr) gtk_dialog_response(GTK_DIALOG(open), GTK_RESPONSE_CLOSE);
  }

  // Whether the icon shows the pixels of that image file.
  bool showsImage(const char *name) {
    GdkPixbuf *shown = gtk_status_icon_get_pixbuf(GTK_STATUS_ICON(icon_));
    g_autoptr(GdkPixbuf) expected = gdk_pixbuf_new_from_file(imagePath(name).c_str(), nullptr);
    if (shown == nullptr || expected == nullptr) return false;
    g_autoptr(GBytes) a = gdk_pixbuf_read_pixel_bytes(shown);
    g_autoptr(GBytes) b = gdk_pixbuf_read_pixel_bytes(expected);
    return gdk_pixbuf_get_width(shown) == gdk_pixbuf_get_width(expected) && g_bytes_equal(a, b);
  }
  bool showsNormal() { return showsImage("ryx_status_icon.png"); }
  bool showsError() { return showsImage("ryx_status_icon_error.png"); }

  void refresh(int code, const char *message = "m") {
    publish(true, code, message);
    ryx_command_status_icon_refresh_status(icon_);
  }

  // The text the icon's tooltip handler sets, read from the tooltip's own
  // window.
  std::string tooltip() {
    std::vector<GtkWidget *> before = toplevels(GTK_TYPE_WINDOW);
    GtkTooltip *tip = GTK_TOOLTIP(g_object_new(GTK_TYPE_TOOLTIP, nullptr));
    gboolean shown = FALSE;
    g_signal_emit_by_name(icon_, "query-tooltip", 0, 0, FALSE, tip, &shown);
    EXPECT_TRUE(shown);
    std::string text = "(no tooltip window)";
    for (GtkWidget *window : toplevels(GTK_TYPE_WINDOW)) {
      if (std::find(before.begin(), before.end(), window) != before.end()) continue;
      for (GtkWidget *label : findWidgets(window, GTK_TYPE_LABEL))
        if (gtk_widget_get_visible(label)) text = labelText(label);
    }
    g_object_unref(tip);
    return text;
  }

  Commands commands_;
  RyxCommandStatusIcon *icon_ = nullptr;
};

TEST_F(StatusIconTest, StartsWithTheNormalImageAndATooltip) {
  EXPECT_TRUE(showsNormal());
  EXPECT_FALSE(showsError());
  EXPECT_TRUE(gtk_status_icon_get_has_tooltip(GTK_STATUS_ICON(icon_)));
  EXPECT_TRUE(windows().empty());
}

TEST_F(StatusIconTest, TooltipTellsTheOnOffState) {
  EXPECT_EQ(tooltip(), "Vezo RYX Server Switched OFF") << "before the first periodic check";
  publish(true, 0);
  EXPECT_EQ(tooltip(), "Vezo RYX Server Switched ON");
  publish(false, STATUS_NOT_ENABLED, "m");
  EXPECT_EQ(tooltip(), "Vezo RYX Server Switched OFF");
}

TEST_F(StatusIconTest, ImageAndWindowFollowChangesOfTheCodeOnly) {
  refresh(STATUS_NOT_FUNCTIONING);
  EXPECT_TRUE(showsError());
  GtkWidget *first = window();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(labelText(findWidget(first, "error_title_label")), "RYX is not functioning correctly:");

  // The user closes it; the same code again leaves it closed.
  closeWindow();
  refresh(STATUS_NOT_FUNCTIONING);
  EXPECT_TRUE(windows().empty());
  EXPECT_TRUE(showsError());

  refresh(STATUS_RENDERING_SERVER_ERROR);
  EXPECT_TRUE(showsError());
  GtkWidget *second = window();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(labelText(findWidget(second, "error_title_label")),
            "There is an error contacting the configured Rendering Server:");

  refresh(0);
  EXPECT_TRUE(showsNormal());
  EXPECT_EQ(windows().size(), 1u) << "the window stays open, now without error";
  EXPECT_FALSE(shownOnScreen(findWidget(second, "error_frame")));
}

TEST_F(StatusIconTest, OpenWindowIsPresentedAgainOnANewCode) {
  refresh(STATUS_NOT_ENABLED);
  GtkWidget *open = window();
  refresh(STATUS_RENDERING_SERVER_ERROR);
  EXPECT_EQ(window(), open) << "the same window, brought up to date";
  EXPECT_EQ(labelText(findWidget(open, "error_title_label")),
            "There is an error contacting the configured Rendering Server:");
}

TEST_F(StatusIconTest, MissingGridLibraryWithoutGridIsNoError) {
  setEnv("RYX_USE_NVIDIA_GRID", "false");
  refresh(STATUS_GRID_LIBRARY_MISSING);
  EXPECT_TRUE(showsNormal());
  EXPECT_TRUE(windows().empty());
  refresh(0);
  EXPECT_TRUE(showsNormal());
  // The code was taken as shown: going back to 5 counts as a change again.
  setEnv("RYX_USE_NVIDIA_GRID", "true");
  refresh(STATUS_GRID_LIBRARY_MISSING);
  EXPECT_TRUE(showsError());
  EXPECT_EQ(windows().size(), 1u);
}

TEST_F(StatusIconTest, MissingGridLibraryWithGridOpensTheWindow) {
  setEnv("RYX_USE_NVIDIA_GRID", "true");
  refresh(STATUS_GRID_LIBRARY_MISSING);
  EXPECT_TRUE(showsError());
  GtkWidget *open = window();
  ASSERT_NE(open, nullptr);
  EXPECT_TRUE(shownOnScreen(findWidget(open, "error_frame")));
}

TEST_F(StatusIconTest, ActivationOpensOneWindowFilledFromTheStoredList) {
  connectApp("first", nullptr);
  connectApp("second", "far.example");
  ryx_command_status_icon_refresh_apps(icon_, apps_);
  EXPECT_TRUE(windows().empty()) << "the list is only kept";

  g_signal_emit_by_name(icon_, "activate");
  g_signal_emit_by_name(icon_, "activate");
  GtkWidget *open = window();
  ASSERT_NE(open, nullptr);
  GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(findWidget(open, "apps_view")));
  EXPECT_EQ(gtk_tree_model_iter_n_children(model, nullptr), 2);
  EXPECT_EQ(labelText(findWidget(open, "users_label")), "0") << "no viewer count until the next viewer refresh";

  // A refresh reaches the open window.
  ryx_command_status_icon_refresh_apps(icon_, g_list_last(apps_));
  EXPECT_EQ(gtk_tree_model_iter_n_children(model, nullptr), 1);

  closeWindow();
  EXPECT_TRUE(windows().empty());
  g_signal_emit_by_name(icon_, "activate");
  GtkWidget *fresh = window();
  ASSERT_NE(fresh, nullptr);
  model = gtk_tree_view_get_model(GTK_TREE_VIEW(findWidget(fresh, "apps_view")));
  EXPECT_EQ(gtk_tree_model_iter_n_children(model, nullptr), 1) << "filled from the last list handed over";
}

TEST_F(StatusIconTest, ViewersReachOnlyAnOpenWindow) {
  RyxConfigViewer *viewer = ryx_config_viewer_new(1, FALSE, FALSE, "v");
  GList list = {viewer, nullptr, nullptr};
  ryx_command_status_icon_refresh_viewers(icon_, &list);  // no window: nothing kept
  g_signal_emit_by_name(icon_, "activate");
  GtkWidget *open = window();
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(labelText(findWidget(open, "users_label")), "0");
  ryx_command_status_icon_refresh_viewers(icon_, &list);
  EXPECT_EQ(labelText(findWidget(open, "users_label")), "1 (without RYX Kestrane)");
  ryx_config_viewer_free(viewer);
}

TEST_F(StatusIconTest, WindowOutlivesAReleasedIcon) {
  g_signal_emit_by_name(icon_, "activate");
  GtkWidget *open = window();
  g_clear_object(&icon_);
  ASSERT_EQ(windows().size(), 1u);
  gtk_dialog_response(GTK_DIALOG(open), GTK_RESPONSE_CLOSE);  // must not touch the released icon
  EXPECT_TRUE(windows().empty());
}

TEST_F(StatusIconTest, WrongArgumentsGivePreconditionWarnings) {
  GtkStatusIcon *plain = gtk_status_icon_new();
  auto *notOurs = reinterpret_cast<RyxCommandStatusIcon *>(plain);
  GLogCapture logs;
  ryx_command_status_icon_refresh_apps(notOurs, nullptr);
  ryx_command_status_icon_refresh_status(nullptr);
  ryx_command_status_icon_refresh_viewers(notOurs, nullptr);
  for (const char *function : {"ryx_command_status_icon_refresh_apps", "ryx_command_status_icon_refresh_status",
                               "ryx_command_status_icon_refresh_viewers"})
    EXPECT_EQ(logs.count(preconditionMessage(function, "RYX_IS_COMMAND_STATUS_ICON(status)"), G_LOG_LEVEL_CRITICAL),
              1)
        << function << "\n"
        << logs.dump();
  EXPECT_EQ(logs.records().size(), 3u);
  g_object_unref(plain);
}

}  // namespace
}  // namespace ryx::test
