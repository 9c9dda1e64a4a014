// SPDX-License-Identifier: MIT
// The periodic check's own decisions and the console port's applications,
// driven directly with the real extension stand-in, registry and libraries.
// The manager that joins them is tested whole-program (tests/e2e).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>

#include "apps/ryx-config-connected-app.h"
#include "common/ryx_gcommon.h"
#include "core/periodic-check.h"
#include "core/ryx-console-port.h"
#include "glib_support.h"
#include "installation.h"
#include "integration/ryx-config-viewer.h"
#include "integration/vnc-ext-pipe.h"
#include "state/commands.h"
#include "state/error_reporter.h"
#include "test_support.h"

namespace ryx {
namespace {

class PeriodicCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    install.set("XDG_SESSION_ID", nullptr);
    install.installGrid();
    ErrorReporter &reporter = ErrorReporter::instance();
    reporter.code = STATUS_OK;
    reporter.ryxOn = false;
    reporter.setMessage(nullptr);
  }

  void publish(gboolean desktopCapture = FALSE) {
    test::CaptureFd out(1);  // the missing wrapper's "ERROR: " line
    ryx_periodic_check_publish_state(&commands, desktopCapture);
  }

  test::Installation install;
  Commands commands;
};

// The list is logged when it changes only (what an instance lists can be
// read from its log; a quiet session logs nothing every period).
TEST_F(PeriodicCheck, ViewerListComesInReverseOrderAndIsLoggedWhenItChanges) {
  test::Child extension(
      {RYX_VNC_EXT_EXE, "--console", "--viewer", "5:1:five", "--viewer", "7:0:seven", "--viewer", "9:1:nine"});
  std::string line;
  ASSERT_TRUE(extension.readLine(&line, 5000));
  ASSERT_TRUE(OpenExtPipe(RYX_EXT_PIPE_SESSION));
  test::GLogCapture logs;
  GList *viewers = ryx_periodic_check_list_viewers(nullptr);
  std::vector<std::string> names;
  for (GList *l = viewers; l != nullptr; l = l->next) names.push_back(((RyxConfigViewer *)l->data)->name);
  EXPECT_EQ(names, (std::vector<std::string>{"nine", "seven", "five"}));
  EXPECT_EQ(logs.count("Viewers listed: 3: nine (9, Kestrane); seven (7); five (5, Kestrane)", G_LOG_LEVEL_DEBUG), 1)
      << logs.dump();
  // Rebuilt from scratch, not appended, and the same list says nothing.
  viewers = ryx_periodic_check_list_viewers(viewers);
  EXPECT_EQ(g_list_length(viewers), 3u);
  EXPECT_EQ(logs.records().size(), 1u) << logs.dump();
  g_list_free_full(viewers, (GDestroyNotify)ryx_config_viewer_free);
}

// The checks are skipped where they are disabled (only the switch is read)
// or under desktop capture; what is then published is the status rules'.
TEST_F(PeriodicCheck, DisabledChecksAndDesktopCaptureKeepStateErrorsAway) {
  ErrorReporter &reporter = ErrorReporter::instance();
  install.set("RYX_CONFIG_CHECK_ENABLED", "false");  // settings are read again at every check
  publish();
  EXPECT_EQ(reporter.code, STATUS_OK);  // no wrapper, yet the commands' untouched state
  EXPECT_TRUE(reporter.ryxOn);          // the switch is still read
  install.set("RYX_CONFIG_CHECK_ENABLED", nullptr);
  commands.updateStatus();  // even a code the commands already hold is not published
  ASSERT_EQ(commands.code(), STATUS_NOT_ENABLED);
  publish(TRUE);
  EXPECT_EQ(reporter.code, STATUS_OK);
  publish();
  EXPECT_EQ(reporter.code, STATUS_NOT_ENABLED);
}

// Applications join newest first, unless blacklisted; each change is told,
// with whether one joined.  That one leaves when its connection ends, the
// whole program shows (tests/e2e: no descriptor is left behind).
TEST(ConsolePort, ApplicationsJoinNewestFirstUnlessBlacklisted) {
  const std::string port = std::to_string(test::unusedPort());
  test::ScopedEnv consolePort("RYX_CONSOLE_PORT", port.c_str());
  ryx_conf_settings_reload();
  g_autoptr(RyxConsolePort) console = ryx_console_port_new();
  std::vector<bool> changes;
  g_signal_connect(console, "apps-changed", G_CALLBACK(+[](RyxConsolePort *, gboolean joined, gpointer data) {
                     static_cast<std::vector<bool> *>(data)->push_back(joined);
                   }),
                   &changes);
  ASSERT_TRUE(ryx_console_port_listen(console));

  g_autoptr(GSocketClient) client = g_socket_client_new();
  std::vector<GSocketConnection *> apps;
  // The blacklisted one never joins; the next one's change shows it was served.
  for (const char *name : {"/usr/bin/ryxconfig", "first", "second"}) {
    GSocketConnection *connection =
        g_socket_client_connect_to_host(client, ("127.0.0.1:" + port).c_str(), 0, nullptr, nullptr);
    ASSERT_NE(connection, nullptr);
    std::string hello = std::string("RVN Dashboard Thread\n", 22) + "<AppName>" + name + "</AppName>\n</Update>\n";
    ASSERT_TRUE(g_output_stream_write_all(g_io_stream_get_output_stream(G_IO_STREAM(connection)), hello.data(),
                                          hello.size(), nullptr, nullptr, nullptr));
    apps.push_back(connection);
    size_t want = apps.size() - 1;
    if (want > 0) {
      ASSERT_TRUE(test::spinUntil([&] { return changes.size() == want; }));
    }
  }
  std::vector<std::string> names;
  for (GList *l = ryx_console_port_get_apps(console); l != nullptr; l = l->next)
    names.push_back(ryx_config_connected_app_get_name(RYX_CONFIG_CONNECTED_APP(l->data)));
  EXPECT_EQ(names, (std::vector<std::string>{"second", "first"}));
  EXPECT_EQ(changes, (std::vector<bool>{true, true}));
  for (GSocketConnection *&connection : apps) g_clear_object(&connection);
}

}  // namespace
}  // namespace ryx

int main(int argc, char **argv) {
  gtk_init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
