// SPDX-License-Identifier: MIT
// The config manager's periodic check and refresh, driven directly on a
// real manager with the real extension stand-in, registry and libraries.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>

#include <memory>

#include "apps/ryx-config-connected-app.h"
#include "core/ryx-config-manager-private.h"
#include "glib_support.h"
#include "integration/ryx-config-viewer.h"
#include "peer_process.h"
#include "state/commands.h"
#include "state/error_reporter.h"
#include "test_support.h"

namespace ryx {
namespace {

class Manager : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *sub : {"/pipes", "/registry", "/root", "/lib", "/system", "/home"})
      mkdir((dir.path() + sub).c_str(), 0700);
    env("RYX_PIPE_DIR", dir / "pipes");
    env("RYX_REGISTRY_DIR", dir / "registry");
    env("RYX_ROOT", dir / "root");
    env("HOME", dir / "home");
    env("RYX_LIBRARY_PATH", dir / "lib");
    env("RYX_SYSTEM_DIR", dir / "system");
    env("XDG_SESSION_ID", "");
    env("RYX_CONFIG_CHECK_ENABLED", "");
    env("RYX_CONFIG_WARN_MISSING_32BIT", "");
    // The GRID library is tried once per process: have it there from the start.
    symlink(RYX_GRID_LIBRARY, (dir / "system/NvIFR64.dll").c_str());
    ASSERT_TRUE(extension.start({RYX_VNC_EXT_EXE, "--console", "--viewer", "5:1:five", "--viewer", "7:0:seven",
                                 "--viewer", "9:1:nine"}));
    std::string line;
    ASSERT_TRUE(extension.readLine(&line, 5000));
    manager = ryx_config_manager_new(&commands, RYX_CONFIG_CLIENT_COMMAND_SHOW_GUI);
    ErrorReporter &reporter = ErrorReporter::instance();
    reporter.code = STATUS_OK;
    reporter.ryxOn = false;
    reporter.setMessage(nullptr);
  }
  void TearDown() override { g_clear_object(&manager); }

  void env(const char *name, const std::string &value) {
    vars.push_back(std::make_unique<test::ScopedEnv>(name, value.empty() ? nullptr : value.c_str()));
  }
  void installWrapper() { symlink(RYX_WRAPPER_LIBRARY, (dir / "lib/opengl32.so").c_str()); }
  void check() {
    test::CaptureFd out(1);  // the missing wrapper's "ERROR: " line
    periodic_check(manager);
  }

  test::TempDir dir;
  std::vector<std::unique_ptr<test::ScopedEnv>> vars;
  test::PeerProcess extension;
  Commands commands;
  RyxConfigManager *manager = nullptr;
};

// The list is logged when it changes only (what an instance lists can be
// read from its log; a quiet session logs nothing every period).
TEST_F(Manager, NewExtensionKeepsTheViewerListInReverseOrder) {
  EXPECT_TRUE(manager->viewers_enabled);
  test::GLogCapture logs;
  update_viewer_list(manager);
  std::vector<std::string> names;
  for (GList *l = manager->viewers; l != nullptr; l = l->next) names.push_back(((RyxConfigViewer *)l->data)->name);
  EXPECT_EQ(names, (std::vector<std::string>{"nine", "seven", "five"}));
  EXPECT_FALSE(ryx_config_viewer_get_supports_rvn((RyxConfigViewer *)manager->viewers->next->data));
  EXPECT_EQ(logs.count("Viewers listed: 3: nine (9, Kestrane); seven (7); five (5, Kestrane)", G_LOG_LEVEL_DEBUG), 1)
      << logs.dump();
  // Rebuilt from scratch, not appended.
  update_viewer_list(manager);
  EXPECT_EQ(g_list_length(manager->viewers), 3u);
  EXPECT_EQ(logs.records().size(), 1u) << logs.dump();
  // Dispose may run twice and releases nothing twice.
  manager->daemon.encryption_key = g_bytes_new("k", 1);
  g_object_run_dispose(G_OBJECT(manager));
  EXPECT_EQ(manager->viewers, nullptr);
  EXPECT_EQ(manager->daemon.encryption_key, nullptr);
  g_object_run_dispose(G_OBJECT(manager));
}

// The check publishes the commands' state (off and on again: e2e
// Tray.WithAWatcherTheIconsImageAndTooltipFollowTheStatus), except while a
// rendering server error waits for the next server check, where the checks
// are disabled (only the switch is read) or under desktop capture.
TEST_F(Manager, ARenderingServerErrorWaitsForTheNextServerCheck) {
  ErrorReporter &reporter = ErrorReporter::instance();
  installWrapper();
  reporter.code = STATUS_RENDERING_SERVER_ERROR;
  reporter.setMessage("Cannot communicate with the Rendering Server");
  check();
  EXPECT_EQ(reporter.code, STATUS_RENDERING_SERVER_ERROR);
  EXPECT_STREQ(reporter.message, "Cannot communicate with the Rendering Server");
  EXPECT_TRUE(reporter.ryxOn);  // a new user starts switched on
}

TEST_F(Manager, DisabledChecksAndDesktopCaptureKeepStateErrorsAway) {
  ErrorReporter &reporter = ErrorReporter::instance();
  env("RYX_CONFIG_CHECK_ENABLED", "false");  // settings are read again at every check
  check();
  EXPECT_EQ(reporter.code, STATUS_OK);  // no wrapper, yet the commands' untouched state
  EXPECT_TRUE(reporter.ryxOn);          // the switch is still read
  env("RYX_CONFIG_CHECK_ENABLED", "");
  manager->daemon.using_desktop_capture = TRUE;
  commands.updateStatus();  // even a code the commands already hold is not published
  ASSERT_EQ(commands.code(), STATUS_NOT_ENABLED);
  check();
  EXPECT_EQ(reporter.code, STATUS_OK);
}

TEST_F(Manager, EveryHundredAndFiftiethRefreshChecksTheRenderingServer) {
  manager->refresh_count = 148;
  refresh_all(manager);
  EXPECT_EQ(manager->refresh_count, 149u);
  refresh_all(manager);
  EXPECT_EQ(manager->refresh_count, 0u);  // the check ran and restarted the count
  refresh_all(manager);
  EXPECT_EQ(manager->refresh_count, 1u);
}

// The names in the status window's application list, top to bottom.
std::vector<std::string> listedNames(GtkWidget *widget) {
  std::vector<std::string> names;
  if (GTK_IS_TREE_VIEW(widget)) {
    GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(widget));
    GtkTreeIter iter;
    for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok; ok = gtk_tree_model_iter_next(model, &iter)) {
      g_autofree char *name = nullptr;
      gtk_tree_model_get(model, &iter, 0, &name, -1);
      names.push_back(name != nullptr ? name : "");
    }
  } else if (GTK_IS_CONTAINER(widget)) {
    g_autoptr(GList) children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList *l = children; l != nullptr; l = l->next) {
      std::vector<std::string> more = listedNames(GTK_WIDGET(l->data));
      names.insert(names.end(), more.begin(), more.end());
    }
  }
  return names;
}

// Last in this file: the extension pipe opened for the first test's stand-in
// is kept by the process, and the viewer test wants it fresh.
// Applications join the list newest first; one whose connection ends
// leaves it, and the window is handed the shortened list.
TEST_F(Manager, ApplicationsJoinNewestFirstAndLeaveWhenTheirConnectionEnds) {
  GtkWidget *window = ryx_command_status_dialog_new(&commands, FALSE);
  manager->status_dialog = window;
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_widget_destroyed), &manager->status_dialog);
  test::LoopbackPair first, second;
  ASSERT_TRUE(first.send("<AppName>first</AppName>\n</Update>\n"));
  accept_connected_app(manager, first.server, nullptr);
  ASSERT_TRUE(second.send("<AppName>second</AppName>\n</Update>\n"));
  accept_connected_app(manager, second.server, nullptr);
  EXPECT_EQ(listedNames(window), (std::vector<std::string>{"second", "first"}));

  first.closeClient();
  EXPECT_TRUE(test::spinUntil([&] { return g_list_length(manager->apps) == 1; }));
  ASSERT_EQ(g_list_length(manager->apps), 1u);
  EXPECT_STREQ(ryx_config_connected_app_get_name(RYX_CONFIG_CONNECTED_APP(manager->apps->data)), "second");
  EXPECT_EQ(listedNames(window), std::vector<std::string>{"second"});
  // The window outlives the manager: nothing of it is left aimed at the
  // manager's field when the manager goes.
  g_object_run_dispose(G_OBJECT(manager));
  EXPECT_EQ(g_signal_handler_find(window, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, &manager->status_dialog), 0u);
  EXPECT_EQ(manager->status_dialog, nullptr);
  gtk_widget_destroy(window);
}

}  // namespace
}  // namespace ryx

int main(int argc, char **argv) {
  gtk_init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
