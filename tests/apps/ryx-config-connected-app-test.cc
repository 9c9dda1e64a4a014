// SPDX-License-Identifier: MIT
// The connected application over real loopback TCP connections: the update
// it reads and parses, the blacklist, and the watch on its connection.
#include "apps/ryx-config-connected-app.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "glib_support.h"

namespace {

using ryx::test::GLogCapture;
using ryx::test::LoopbackPair;
using ryx::test::preconditionMessage;
using ryx::test::spinFor;
using ryx::test::spinUntil;

std::string joinLines(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines) text += line + "\n";
  return text;
}

std::string orNull(const char *text) { return text != nullptr ? text : "(null)"; }

void countSignal(RyxConfigConnectedApp *, gpointer user_data) { ++*static_cast<int *>(user_data); }

struct ParseCase {
  const char *label;
  std::vector<std::string> lines;
  const char *name;             // null for none
  const char *renderingServer;  // null for none
  std::vector<std::string> logs;  // debug lines, in any order
  std::vector<std::string> absent;
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, ReadsNameAndRenderingServer) {
  const ParseCase &c = GetParam();
  LoopbackPair pair;
  ASSERT_TRUE(pair.send(joinLines(c.lines)));
  GLogCapture logs;
  g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);

  EXPECT_EQ(orNull(ryx_config_connected_app_get_name(app)), orNull(c.name));
  EXPECT_EQ(orNull(ryx_config_connected_app_get_rendering_server(app)), orNull(c.renderingServer));
  for (const std::string &line : c.logs) EXPECT_EQ(logs.count(line, G_LOG_LEVEL_DEBUG), 1) << line << "\n" << logs.dump();
  for (const std::string &line : c.absent) EXPECT_FALSE(logs.contains(line)) << line;
  for (const ryx::test::LogRecord &record : logs.records()) {
    if (record.message.rfind("Could not", 0) == 0 || record.message.rfind("App ", 0) == 0) {
      EXPECT_EQ(record.function, "parse_data") << record.message;
    }
  }
  // Only a name can be blacklisted: an application without one is not.
  if (c.name == nullptr) {
    EXPECT_FALSE(ryx_config_connected_app_is_blacklisted(app));
  }
}

// label, lines sent, name, rendering server, debug lines, lines that must not appear
const ParseCase kParseCases[] = {
    {"Complete",
     {"<Update>", "<AppName>glxgears</AppName>", "<RenderingServer>render01</RenderingServer>", "</Update>"}, "glxgears",
     "render01", {"App name: glxgears", "App is using Rendering Server: render01"}, {}},
    {"WindowsPath", {"<AppName>C:\\Program Files\\Vendor\\viewer.exe</AppName>", "</Update>"}, "viewer.exe", nullptr,
     {"App name: viewer.exe", "Could not find tag <RenderingServer>"}, {}},
    {"SlashPath", {"<AppName>/usr/lib/cad/bin/cad-3d</AppName>", "<RenderingServer>rs</RenderingServer>", "</Update>"},
     "cad-3d", "rs", {"App name: cad-3d"}, {}},
    {"NameEndingInSeparator", {"<AppName>C:\\Tools\\</AppName>", "<RenderingServer>rs</RenderingServer>", "</Update>"},
     nullptr, "rs", {}, {"App name: "}},
    {"ElementsSplitAcrossLines",
     {"<Update><AppName>glx", "gears</AppName><Rendering", "Server>far.example</RenderingServer>", "</Update>"},
     "glxgears", "far.example", {"App name: glxgears", "App is using Rendering Server: far.example"}, {}},
    {"MissingTags", {"<Update>", "hello", "</Update>"}, nullptr, nullptr,
     {"Could not find tag <AppName>", "Could not find tag <RenderingServer>"}, {}},
    {"MissingClosingTags", {"<AppName>app", "<RenderingServer>rs", "</Update>"}, nullptr, nullptr,
     {"Could not find closing tag </AppName>", "Could not find closing tag </RenderingServer>"}, {}},
    {"EmptyRenderingServer", {"<AppName>app</AppName><RenderingServer></RenderingServer>", "</Update>"}, "app", nullptr,
     {"App name: app"}, {"App is using Rendering Server: ", "Could not find tag <RenderingServer>"}},
    {"FirstElementWins", {"<AppName>first</AppName><AppName>second</AppName>", "</Update>"}, "first", nullptr,
     {"App name: first"}, {}},
    {"ServerIsNotTrimmed", {"<AppName>a</AppName><RenderingServer>\\\\host\\share</RenderingServer>", "</Update>"}, "a",
     "\\\\host\\share", {}, {}},
    {"NoName", {"<RenderingServer>rs</RenderingServer>", "</Update>"}, nullptr, "rs", {"Could not find tag <AppName>"},
     {}},
    {"LinesAfterUpdateAreNotParsed", {"<AppName>a</AppName>", "</Update>", "<RenderingServer>late</RenderingServer>"},
     "a", nullptr, {"Could not find tag <RenderingServer>"}, {}},
};

INSTANTIATE_TEST_SUITE_P(Updates, ParseTest, ::testing::ValuesIn(kParseCases),
                         [](const auto &info) { return std::string(info.param.label); });

TEST(ConnectedApp, EmptyUpdateIsUnknownAndBlacklisted) {
  LoopbackPair pair;
  pair.closeClient();
  GLogCapture logs;
  g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);
  EXPECT_STREQ(ryx_config_connected_app_get_name(app), "Unknown application");
  EXPECT_EQ(ryx_config_connected_app_get_rendering_server(app), nullptr);
  EXPECT_TRUE(logs.records().empty()) << logs.dump();  // no parse lines for an empty update
  EXPECT_TRUE(ryx_config_connected_app_is_blacklisted(app));
  ASSERT_EQ(logs.count("Blacklisted: Unknown application", G_LOG_LEVEL_DEBUG), 1);
  EXPECT_EQ(logs.records().back().function, "ryx_config_connected_app_is_blacklisted");
}

TEST(ConnectedApp, LastLineWithoutLineFeedCountsAtEndOfStream) {
  LoopbackPair pair;
  pair.send("<AppName>tail</AppName>");
  pair.closeClient();
  g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);
  EXPECT_STREQ(ryx_config_connected_app_get_name(app), "tail");
}

struct BlacklistCase {
  const char *name;
  bool blacklisted;
};

class BlacklistTest : public ::testing::TestWithParam<BlacklistCase> {};

TEST_P(BlacklistTest, PrefixTestIsCaseSensitive) {
  const BlacklistCase &c = GetParam();
  LoopbackPair pair;
  pair.send(std::string("<AppName>") + c.name + "</AppName>\n</Update>\n");
  g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);
  GLogCapture logs;
  EXPECT_EQ(ryx_config_connected_app_is_blacklisted(app), c.blacklisted);
  EXPECT_EQ(logs.count(std::string("Blacklisted: ") + c.name, G_LOG_LEVEL_DEBUG), c.blacklisted ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Names, BlacklistTest,
                         ::testing::Values(BlacklistCase{"ryxconfig", true}, BlacklistCase{"ryxconfig.exe", true},
                                           BlacklistCase{"Unknown application", true},
                                           BlacklistCase{"UnknownWorlds.exe", true},
                                           BlacklistCase{"unknown.exe", false}, BlacklistCase{"RyxConfig", false},
                                           BlacklistCase{"ryxconf", false}, BlacklistCase{"Unknow", false},
                                           BlacklistCase{"glxgears", false}));

TEST(ConnectedApp, ClosingTheConnectionEmitsDisconnectedOnce) {
  LoopbackPair pair;
  pair.send("<AppName>a</AppName>\n</Update>\n");
  g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);
  int disconnected = 0;
  g_signal_connect(app, "disconnected", G_CALLBACK(countSignal), &disconnected);
  spinFor(50);
  EXPECT_EQ(disconnected, 0);
  pair.closeClient();
  EXPECT_TRUE(spinUntil([&] { return disconnected > 0; }));
  spinFor(50);
  EXPECT_EQ(disconnected, 1);
}

TEST(ConnectedApp, UpdateEndWithCarriageReturnReadsOnUntilClose) {
  LoopbackPair pair;
  pair.send("<AppName>crlf</AppName>\r\n</Update>\r\n");
  // The reader waits for "</Update>" alone; the close ends the update.
  std::thread closer([&] {
    g_usleep(200 * 1000);
    pair.closeClient();
  });
  g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);
  closer.join();
  EXPECT_STREQ(ryx_config_connected_app_get_name(app), "crlf");
  int disconnected = 0;
  g_signal_connect(app, "disconnected", G_CALLBACK(countSignal), &disconnected);
  EXPECT_TRUE(spinUntil([&] { return disconnected == 1; }));
}

TEST(ConnectedApp, DataAfterTheUpdateEndsTheWatch) {
  LoopbackPair pair;
  pair.send("<AppName>chatty</AppName>\n</Update>\n");
  g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);
  int disconnected = 0;
  g_signal_connect(app, "disconnected", G_CALLBACK(countSignal), &disconnected);
  pair.send("x");
  spinFor(100);
  pair.closeClient();
  spinFor(200);
  EXPECT_EQ(disconnected, 0);
  EXPECT_STREQ(ryx_config_connected_app_get_name(app), "chatty");
}

TEST(ConnectedApp, DisposeCancelsTheWatchWithoutSignal) {
  LoopbackPair pair;
  pair.send("<AppName>a</AppName>\n</Update>\n");
  int disconnected = 0;
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
}

TEST(ConnectedApp, SilentApplicationIsGivenUpAfterTheDeadline) {
  LoopbackPair pair;
  pair.send("<AppName>slow</AppName>\n<Rendering");  // then nothing, connection kept open
  GLogCapture logs;
  gint64 start = g_get_monotonic_time();
  g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);
  gint64 waited = g_get_monotonic_time() - start;
  EXPECT_GE(waited, 5 * G_USEC_PER_SEC - 100 * 1000);
  EXPECT_STREQ(ryx_config_connected_app_get_name(app), "slow");
  EXPECT_EQ(logs.count("Stopped reading the update after 5 seconds", G_LOG_LEVEL_WARNING), 1) << logs.dump();
  EXPECT_EQ(logs.count("Could not find tag <RenderingServer>", G_LOG_LEVEL_DEBUG), 1);
}

TEST(ConnectedApp, EndlessUpdateIsCutAtTheSizeBound) {
  LoopbackPair pair;
  std::string flood(200 * 1024, 'x');
  std::thread writer([&] { pair.send("<AppName>big</AppName>\n" + flood); });
  GLogCapture logs;
  g_autoptr(RyxConfigConnectedApp) app = ryx_config_connected_app_new(pair.server);
  EXPECT_STREQ(ryx_config_connected_app_get_name(app), "big");
  EXPECT_EQ(logs.count("Stopped reading the update at 65536 bytes", G_LOG_LEVEL_WARNING), 1) << logs.dump();
  EXPECT_FALSE(logs.contains("Stopped reading the update after 5 seconds"));
  g_object_run_dispose(G_OBJECT(app));
  g_io_stream_close(G_IO_STREAM(pair.server), nullptr, nullptr);  // unblocks the writer
  writer.join();
}

TEST(ConnectedApp, WrongArgumentsGivePreconditionWarnings) {
  GLogCapture logs;
  g_autoptr(GObject) other = G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr));
  auto *notApp = reinterpret_cast<RyxConfigConnectedApp *>(other);

  EXPECT_EQ(ryx_config_connected_app_get_name(nullptr), nullptr);
  EXPECT_EQ(ryx_config_connected_app_get_rendering_server(notApp), nullptr);
  EXPECT_TRUE(ryx_config_connected_app_is_blacklisted(notApp));
  const char *expression = "RYX_IS_CONFIG_CONNECTED_APP(app)";
  EXPECT_EQ(logs.count(preconditionMessage("ryx_config_connected_app_get_name", expression), G_LOG_LEVEL_CRITICAL), 1)
      << logs.dump();
  EXPECT_EQ(logs.count(preconditionMessage("ryx_config_connected_app_get_rendering_server", expression),
                       G_LOG_LEVEL_CRITICAL),
            1);
  EXPECT_EQ(
      logs.count(preconditionMessage("ryx_config_connected_app_is_blacklisted", expression), G_LOG_LEVEL_CRITICAL), 1);
}

}  // namespace
