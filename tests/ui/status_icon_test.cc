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
  StatusIconTest() { icon_ = RYX_COMMAND_STATUS_ICON(ryx_command_status_icon_new(&commands_, FALSE)); }
  ~StatusIconTest() override { g_clear_object(&icon_); }

  // The one status window shown now (null, and a failure, otherwise).
  GtkWidget *window() {
    std::vector<GtkWidget *> open = shownStatusWindows();
    EXPECT_EQ(open.size(), 1u);
    return open.size() == 1 ? open[0] : nullptr;
  }
  std::string heading(GtkWidget *window) { return labelText(findWidget(window, "error_title_label")); }
  int appRows(GtkWidget *window) {
    return gtk_tree_model_iter_n_children(gtk_tree_view_get_model(GTK_TREE_VIEW(findWidget(window, "apps_view"))),
                                          nullptr);
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

  void refresh(int code) {
    publish(true, code, "m");
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

TEST_F(StatusIconTest, StartsNormalAndItsTooltipTellsTheOnOffState) {
  EXPECT_TRUE(showsNormal());
  EXPECT_FALSE(showsError());
  EXPECT_TRUE(shownStatusWindows().empty());
  EXPECT_EQ(tooltip(), "Vezo RYX Server Switched OFF") << "before the first periodic check";
  publish(true, 0);
  EXPECT_EQ(tooltip(), "Vezo RYX Server Switched ON");
  publish(false, STATUS_NOT_ENABLED, "m");
  EXPECT_EQ(tooltip(), "Vezo RYX Server Switched OFF");
}

TEST_F(StatusIconTest, ImageAndWindowFollowChangesOfTheCodeOnly) {
  refresh(STATUS_NOT_FUNCTIONING);
  EXPECT_TRUE(showsError());
  ASSERT_NE(window(), nullptr);
  EXPECT_EQ(heading(window()), "RYX is not functioning correctly:");

  // The user closes it; the same code again leaves it closed.
  gtk_dialog_response(GTK_DIALOG(window()), GTK_RESPONSE_CLOSE);
  refresh(STATUS_NOT_FUNCTIONING);
  EXPECT_TRUE(shownStatusWindows().empty());
  EXPECT_TRUE(showsError());

  refresh(STATUS_RENDERING_SERVER_ERROR);
  EXPECT_TRUE(showsError());
  GtkWidget *open = window();
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(heading(open), "There is an error contacting the configured Rendering Server:");
  // An open window is brought up to date, not replaced.
  refresh(STATUS_NOT_ENABLED);
  EXPECT_EQ(window(), open);
  EXPECT_EQ(heading(open), "Error activating RYX:");

  refresh(0);
  EXPECT_TRUE(showsNormal());
  EXPECT_EQ(window(), open) << "the window stays open, now without error";
  EXPECT_FALSE(shownOnScreen(findWidget(open, "error_frame")));
}

TEST_F(StatusIconTest, MissingGridLibraryIsAnErrorOnlyWithGrid) {
  setEnv("RYX_USE_NVIDIA_GRID", "false");
  refresh(STATUS_GRID_LIBRARY_MISSING);
  EXPECT_TRUE(showsNormal());
  EXPECT_TRUE(shownStatusWindows().empty());
  refresh(0);
  EXPECT_TRUE(showsNormal());
  // The code was taken as shown: going back to 5 counts as a change again.
  setEnv("RYX_USE_NVIDIA_GRID", "true");
  refresh(STATUS_GRID_LIBRARY_MISSING);
  EXPECT_TRUE(showsError());
  ASSERT_NE(window(), nullptr);
  EXPECT_TRUE(shownOnScreen(findWidget(window(), "error_frame")));
}

TEST_F(StatusIconTest, ActivationOpensOneWindowFilledFromTheStoredList) {
  connectApp("first", nullptr);
  connectApp("second", "far.example");
  ryx_command_status_icon_refresh_apps(icon_, apps_);
  EXPECT_TRUE(shownStatusWindows().empty()) << "the list is only kept";
  RyxConfigViewer *viewer = ryx_config_viewer_new(1, FALSE, FALSE, "v");
  GList viewers = {viewer, nullptr, nullptr};
  ryx_command_status_icon_refresh_viewers(icon_, &viewers);  // no window: nothing kept

  g_signal_emit_by_name(icon_, "activate");
  g_signal_emit_by_name(icon_, "activate");
  GtkWidget *open = window();
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(appRows(open), 2);
  EXPECT_EQ(labelText(findWidget(open, "users_label")), "0") << "no viewer count until the next viewer refresh";

  // Refreshes reach the open window.
  ryx_command_status_icon_refresh_apps(icon_, g_list_last(apps_));
  EXPECT_EQ(appRows(open), 1);
  ryx_command_status_icon_refresh_viewers(icon_, &viewers);
  EXPECT_EQ(labelText(findWidget(open, "users_label")), "1 (without RYX Kestrane)");
  ryx_config_viewer_free(viewer);

  gtk_dialog_response(GTK_DIALOG(open), GTK_RESPONSE_CLOSE);
  EXPECT_TRUE(shownStatusWindows().empty());
  g_signal_emit_by_name(icon_, "activate");
  ASSERT_NE(window(), nullptr);
  EXPECT_EQ(appRows(window()), 1) << "filled from the last list handed over";

  // The window outlives a released icon, and closing it must not touch it.
  open = window();
  g_clear_object(&icon_);
  ASSERT_EQ(shownStatusWindows().size(), 1u);
  gtk_dialog_response(GTK_DIALOG(open), GTK_RESPONSE_CLOSE);
  EXPECT_TRUE(shownStatusWindows().empty());
}

}  // namespace
}  // namespace ryx::test
