// SPDX-License-Identifier: MIT
// The connected application over real loopback TCP connections: the update
// it reads and parses, the blacklist, and the watch on its connection.  The
// update's size and time bounds are shown by the whole program (e2e faults
// ApplicationSendsAnEndlessUpdate, ApplicationTricklesAnUpdateWithoutEnd).
#include "apps/ryx-config-connected-app.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "glib_support.h"

namespace ryx::test {
namespace {

std::string orNull(const char *text) { return text != nullptr ? text : "(null)"; }

void countSignal(RyxConfigConnectedApp *, gpointer user_data) { ++*static_cast<int *>(user_data); }

TEST(ConnectedApp, ReadsNameAndRenderingServer) {
  const struct {
    const char *label, *update, *name, *renderingServer;  // null: none
    std::vector<std::string> logs;                        // debug lines, in any order
    std::vector<std::string> absent;
    // clang-format off
  } cases[] = {
      {"complete", "<Update>\n<AppName>glxgears</AppName>\n<RenderingServer>render01</RenderingServer>\n</Update>\n",
       "glxgears", "render01", {"App name: glxgears", "App is using Rendering Server: render01"}, {}},
      {"slash path", "<AppName>/usr/lib/cad/bin/cad-3d</AppName>\n</Update>\n", "cad-3d", nullptr,
       {"App name: cad-3d", "Could not find tag <RenderingServer>"}, {}},
      {"name ending in a backslash", "<AppName>C:\\apps\\</AppName>\n</Update>\n", nullptr, nullptr, {},
       {"App name: "}},
      {"missing closing tags", "<AppName>app\n<RenderingServer>rs\n</Update>\n", nullptr, nullptr,
       {"Could not find closing tag </AppName>", "Could not find closing tag </RenderingServer>"}, {}},
      {"empty server", "<AppName>app</AppName><RenderingServer></RenderingServer>\n</Update>\n", "app", nullptr,
       {"App name: app"}, {"App is using Rendering Server: ", "Could not find tag <RenderingServer>"}},
  };
  // clang-format on
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    LoopbackPair pair;
    ASSERT_TRUE(pair.send(c.update));
    GLogCapture logs;
    g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);
    EXPECT_EQ(orNull(ryx_config_connected_app_get_name(app)), orNull(c.name));
    EXPECT_EQ(orNull(ryx_config_connected_app_get_rendering_server(app)), orNull(c.renderingServer));
    for (const std::string &line : c.logs) EXPECT_EQ(logs.count(line, G_LOG_LEVEL_DEBUG), 1) << line << logs.dump();
    for (const std::string &line : c.absent) EXPECT_EQ(logs.count(line), 0) << line;
  }
}

// The update ends at "</Update>" alone or at the close, where a last line
// without its line feed counts too.
TEST(ConnectedApp, TheCloseEndsAnUnfinishedUpdate) {
  for (const char *update : {"<AppName>tail</AppName>", "<AppName>tail</AppName>\r\n</Update>\r\n"}) {
    LoopbackPair pair;
    pair.send(update);
    std::thread closer([&] {
      g_usleep(200 * 1000);
      pair.closeClient();
    });
    g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);
    closer.join();
    EXPECT_STREQ(ryx_config_connected_app_get_name(app), "tail") << update;
  }
}

// A prefix test, case-sensitive.
TEST(ConnectedApp, Blacklist) {
  const struct {
    const char *name;
    bool blacklisted;
  } cases[] = {{"UnknownWorlds.exe", true}, {"RyxConfig", false}, {"Unknow", false}};
  for (const auto &c : cases) {
    LoopbackPair pair;
    pair.send(std::string("<AppName>") + c.name + "</AppName>\n</Update>\n");
    pair.closeClient();
    GLogCapture logs;
    g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);
    EXPECT_EQ(ryx_config_connected_app_is_blacklisted(app), c.blacklisted) << c.name;
    EXPECT_EQ(logs.count(std::string("Blacklisted: ") + c.name, G_LOG_LEVEL_DEBUG), c.blacklisted ? 1 : 0)
        << logs.dump();
  }
}

// The close is told once, and under a stream of arriving connections (some
// default-priority source ready in every iteration) it must not wait
// behind them.
TEST(ConnectedApp, AnEndIsReportedOnceWhileDefaultPriorityWorkKeepsComing) {
  for (bool closedFirst : {true, false}) {
    SCOPED_TRACE(closedFirst ? "closed before the application was made" : "closed later");
    LoopbackPair pair;
    pair.send("<AppName>a</AppName>\n</Update>\n");
    if (closedFirst) pair.closeClient();
    g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);
    int disconnected = 0;
    g_signal_connect(app, "disconnected", G_CALLBACK(countSignal), &disconnected);
    if (!closedFirst) {
      spinFor(50);
      EXPECT_EQ(disconnected, 0);
      pair.closeClient();
    }
    guint busy = g_idle_add_full(
        G_PRIORITY_DEFAULT, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
    const gint64 deadline = g_get_monotonic_time() + 2 * G_USEC_PER_SEC;
    while (disconnected == 0 && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, FALSE);
    g_source_remove(busy);
    spinFor(50);
    EXPECT_EQ(disconnected, 1);
  }
}

TEST(ConnectedApp, DisposeCancelsTheWatchWithoutSignalAndReleasesTheConnection) {
  LoopbackPair pair;
  pair.send("<AppName>a</AppName>\n</Update>\n");
  int disconnected = 0;
  const guint connectionRefs = G_OBJECT(pair.server)->ref_count;
  RyxConfigConnectedApp *app = ryx_config_connected_app_new(pair.server);
  g_signal_connect(app, "disconnected", G_CALLBACK(countSignal), &disconnected);
  GWeakRef weak;
  g_weak_ref_init(&weak, app);
  g_object_run_dispose(G_OBJECT(app));
  g_object_unref(app);
  pair.closeClient();
  // The cancelled read completes in the main loop and drops the last
  // reference without a signal.
  EXPECT_TRUE(spinUntil([&] {
    GObject *alive = (GObject *)g_weak_ref_get(&weak);
    if (alive != nullptr) g_object_unref(alive);
    return alive == nullptr;
  }));
  g_weak_ref_clear(&weak);
  EXPECT_EQ(disconnected, 0);
  EXPECT_EQ(G_OBJECT(pair.server)->ref_count, connectionRefs) << "the connection goes with the application";
}

// The console port hands over what it took with the handshake: the update
// is read from those bytes first, then from the connection.
TEST(ConnectedApp, TheUpdateMayStartInBytesTakenWithTheHandshake) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.send("lit</AppName>\n<RenderingServer>rs</RenderingServer>\n</Update>\n"));
  g_autoptr(GBytes) received = g_bytes_new_static("<AppName>sp", 11);
  g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new_with_received(pair.server, received);
  EXPECT_STREQ(ryx_config_connected_app_get_name(app), "split");
  EXPECT_STREQ(ryx_config_connected_app_get_rendering_server(app), "rs");
}

}  // namespace
}  // namespace ryx::test
