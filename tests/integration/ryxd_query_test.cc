// SPDX-License-Identifier: MIT
// The daemon query against the real stand-in daemon, one per test.  GLib
// reads XDG_DATA_HOME once per process, so the whole test program shares
// one data folder and its tests, which run one after another, each start
// and stop their own daemon in it.
#include "integration/ryxd-query.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

struct LogLine {
  GLogLevelFlags level;
  std::string domain, function, message;
};

std::mutex capturedMutex;
std::string printed;
std::vector<LogLine> logged;

void onPrinterr(const char *text) {
  std::lock_guard<std::mutex> lock(capturedMutex);
  printed += text;
}

// Keeps the program's own lines ("RYX"); GLib's and GIO's go their usual way.
GLogWriterOutput onLog(GLogLevelFlags level, const GLogField *fields, gsize count, gpointer data) {
  LogLine line{static_cast<GLogLevelFlags>(level & G_LOG_LEVEL_MASK), "", "", ""};
  for (gsize i = 0; i < count; ++i) {
    std::string value = fields[i].length < 0 ? static_cast<const char *>(fields[i].value)
                                             : std::string(static_cast<const char *>(fields[i].value), fields[i].length);
    if (g_str_equal(fields[i].key, "GLIB_DOMAIN")) line.domain = value;
    if (g_str_equal(fields[i].key, "CODE_FUNC")) line.function = value;
    if (g_str_equal(fields[i].key, "MESSAGE")) line.message = value;
  }
  if (line.domain != "RYX") return g_log_writer_default(level, fields, count, data);
  std::lock_guard<std::mutex> lock(capturedMutex);
  logged.push_back(line);
  return G_LOG_WRITER_HANDLED;
}

// One data folder for the program, set before GLib first reads it.
class DataHome : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
    g_set_printerr_handler(onPrinterr);
    g_log_set_writer_func(onLog, nullptr, nullptr);
  }
  ryx::test::TempDir dir_;
};
::testing::Environment *const dataHome = ::testing::AddGlobalTestEnvironment(new DataHome);

std::string portFilePath() {
  g_autoptr(GFile) file = get_ryxd_port_file();
  g_autofree char *path = g_file_get_path(file);
  return path;
}

void makePortFileFolder() {
  g_autofree char *folder = g_path_get_dirname(portFilePath().c_str());
  g_mkdir_with_parents(folder, 0700);
}

class RyxdQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clearCaptured();
    remove(portFilePath().c_str());
  }
  static void clearCaptured() {
    std::lock_guard<std::mutex> lock(capturedMutex);
    printed.clear();
    logged.clear();
  }
  void TearDown() override {
    ryx_config_daemon_data_clear(&data_);
    if (daemon_) {
      EXPECT_EQ(0, daemon_->stop()) << "SIGTERM ends the daemon cleanly";
      daemon_.reset();
    }
    remove(portFilePath().c_str());
  }

  // Starts the stand-in daemon and returns the port it listens on.
  int startDaemon(std::vector<std::string> args = {}) {
    args.insert(args.begin(), RYXD_PROGRAM);
    daemon_ = std::make_unique<ryx::test::Child>(args);
    std::string line;
    EXPECT_TRUE(daemon_->readLine(&line, 5000)) << "the daemon did not start";
    const std::string prefix = "ryxd listening on 127.0.0.1:";
    EXPECT_EQ(0u, line.find(prefix)) << line;
    return line.find(prefix) == 0 ? atoi(line.c_str() + prefix.size()) : 0;
  }

  std::string printedText() {
    std::lock_guard<std::mutex> lock(capturedMutex);
    return printed;
  }
  std::vector<LogLine> logLines() {
    std::lock_guard<std::mutex> lock(capturedMutex);
    return logged;
  }
  std::vector<std::string> debugLines() {
    std::vector<std::string> result;
    for (const LogLine &l : logLines()) {
      if (l.level != G_LOG_LEVEL_DEBUG) continue;
      EXPECT_EQ("RYX", l.domain);
      EXPECT_EQ("check_ryxd_server_started", l.function);
      result.push_back(l.message);
    }
    return result;
  }

  RyxConfigDaemonData data_ = {};
  std::unique_ptr<ryx::test::Child> daemon_;
};

TEST_F(RyxdQueryTest, PortFileIsPerHostInTheUserDataFolder) {
  std::string expected = std::string(g_get_user_data_dir()) + "/Vezo/ryx/ryxdport." + g_get_host_name() + ".WINSESSION";
  EXPECT_EQ(expected, portFilePath());
  EXPECT_EQ(0u, expected.find(getenv("XDG_DATA_HOME")));
}

TEST_F(RyxdQueryTest, FetchesEverythingTheDaemonHolds) {
  int port = startDaemon({"--backend-id", "one", "--backend-id", "two", "--payload", "the payload", "--port", "9000",
                          "--conference-id", "cid", "--conference-key", "ckey", "--encryption-key", "0a0B0c"});
  ASSERT_TRUE(check_ryxd_server_started(&data_));
  EXPECT_EQ("", printedText());
  ASSERT_NE(nullptr, data_.backend_ids);
  EXPECT_EQ(2u, g_strv_length(data_.backend_ids));
  EXPECT_STREQ("one", data_.backend_ids[0]);
  EXPECT_STREQ("two", data_.backend_ids[1]);
  EXPECT_FALSE(data_.using_desktop_capture);
  EXPECT_STREQ("the payload", data_.payload);
  EXPECT_EQ(9000, data_.port);
  EXPECT_STREQ("cid", data_.conference_id);
  EXPECT_STREQ("ckey", data_.conference_key);
  ASSERT_NE(nullptr, data_.encryption_key);
  gsize size = 0;
  auto *key = static_cast<const guint8 *>(g_bytes_get_data(data_.encryption_key, &size));
  ASSERT_EQ(3u, size);
  EXPECT_EQ(0x0a, key[0]);
  EXPECT_EQ(0x0c, key[2]);
  ASSERT_NE(nullptr, data_.ryxd_connection);
  EXPECT_TRUE(g_socket_connection_is_connected(data_.ryxd_connection)) << "kept open";
  EXPECT_NE(nullptr, data_.ryxd_cancellable);
  std::vector<std::string> expected = {
      "Connected to ryxd on port " + std::to_string(port),
      "ryxd port: 9000, conference id: cid, conference key: ckey. enc key len: 3, payload: the payload",
      "Retrieved info from ryxd",
  };
  EXPECT_EQ(expected, debugLines());
}

TEST_F(RyxdQueryTest, DesktopCaptureNeverAsksForConnectionInformation) {
  // The daemon would answer "connection-info" with the wrong type: the
  // query only succeeds when it does not ask.
  int port = startDaemon({"--desktop-capture", "--fault", "wrong-type"});
  ASSERT_TRUE(check_ryxd_server_started(&data_));
  EXPECT_TRUE(data_.using_desktop_capture);
  EXPECT_EQ(0, data_.port);
  EXPECT_EQ(nullptr, data_.payload);
  EXPECT_EQ(nullptr, data_.encryption_key);
  EXPECT_NE(nullptr, data_.ryxd_connection);
  std::vector<std::string> expected = {"Connected to ryxd on port " + std::to_string(port), "ryxd desktop capture enabled",
                                       "Retrieved info from ryxd"};
  EXPECT_EQ(expected, debugLines());
}

// A missing or unreadable port file, or one without a port or cookie, fails
// the query before it connects.
TEST_F(RyxdQueryTest, PortFilesThatLackSomething) {
  struct Case {
    const char *content;  // null: no file
    const char *printed;
    const char *warning;  // null: none
  } cases[] = {
      {nullptr, "Could not find ryxd server info\n",
       "There was an error getting the port from the caching file: No such file or directory"},
      {"[ryxd]\nport=0\ncookie=c\n", "Could not find ryxd server info\n", nullptr},
      {"[ryxd]\ncookie=c\n", "Could not find ryxd server info\n", nullptr},
      {"[ryxd]\nport=65536\ncookie=c\n", "Could not find ryxd server info\n", nullptr},
      {"[other]\nport=4000\ncookie=c\n", "Could not find ryxd server info\n", nullptr},
      {"[ryxd]\nport=4000\n", "Could not find ryxd cookie\n", nullptr},
      {"not a key file\n", "Could not find ryxd server info\n", ""},
  };
  makePortFileFolder();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.content != nullptr ? c.content : "no file");
    clearCaptured();
    if (c.content != nullptr) ryx::test::writeFile(portFilePath(), c.content);
    EXPECT_FALSE(check_ryxd_server_started(&data_));
    EXPECT_EQ(c.printed, printedText());
    std::vector<LogLine> lines = logLines();
    ASSERT_EQ(c.warning != nullptr ? 1u : 0u, lines.size());
    if (c.warning != nullptr && *c.warning != '\0') {
      EXPECT_EQ(G_LOG_LEVEL_WARNING, lines[0].level);
      EXPECT_EQ("get_ryxd_connection_info", lines[0].function);
      EXPECT_EQ(c.warning, lines[0].message);
    }
    EXPECT_EQ(nullptr, data_.ryxd_connection);
    EXPECT_EQ(nullptr, data_.ryxd_cancellable) << "nothing was started";
  }
}

TEST_F(RyxdQueryTest, ReadsTheConnectionInfoOfThePortFile) {
  makePortFileFolder();
  ryx::test::writeFile(portFilePath(), "[ryxd]\nport=70000\ncookie=secret\nhost=elsewhere\n");
  char *host = nullptr, *cookie = nullptr;
  guint16 port = 1;
  get_ryxd_connection_info(&host, &port, &cookie);
  EXPECT_STREQ("localhost", host) << "the host is never read from the file";
  EXPECT_EQ(70000 - 65536, port);
  EXPECT_STREQ("secret", cookie);
  g_free(host);
  g_free(cookie);

  remove(portFilePath().c_str());
  host = reinterpret_cast<char *>(0x1);
  cookie = reinterpret_cast<char *>(0x1);
  port = 1;
  get_ryxd_connection_info(&host, &port, &cookie);
  EXPECT_EQ(nullptr, host);
  EXPECT_EQ(0, port);
  EXPECT_EQ(nullptr, cookie);
}

TEST_F(RyxdQueryTest, APortAbove65535IsCutToItsLow16Bits) {
  int port = startDaemon({"--cookie", "c00kie"});
  ryx::test::writeFile(portFilePath(), "[ryxd]\nport=" + std::to_string(port + 65536) + "\ncookie=c00kie\n");
  ASSERT_TRUE(check_ryxd_server_started(&data_)) << printedText();
  EXPECT_EQ("Connected to ryxd on port " + std::to_string(port), debugLines().at(0));
}

TEST_F(RyxdQueryTest, ADaemonThatIsGoneFailsTheConnection) {
  makePortFileFolder();
  ryx::test::writeFile(portFilePath(), "[ryxd]\nport=" + std::to_string(ryx::test::unusedPort()) + "\ncookie=c\n");

  ASSERT_FALSE(check_ryxd_server_started(&data_));
  std::string text = printedText();
  EXPECT_EQ(0u, text.find("There was an error connecting to ryxd: ")) << text;
  EXPECT_NE(std::string::npos, text.find("Connection refused")) << text;
  EXPECT_EQ(nullptr, data_.ryxd_connection);
  EXPECT_TRUE(debugLines().empty());
}

// Every misbehaviour of the daemon ends the query as a failure of the step
// that was waiting, with that step's message, and releases the connection.
TEST_F(RyxdQueryTest, EveryFaultOfTheDaemonFailsItsStep) {
  struct Case {
    const char *fault;
    const char *printed;
    bool haveIds;
  } cases[] = {
      {"wrong-cookie", "There was an error reading the backend ids: The stream ended before a whole value was read\n",
       false},
      {"drop-before-backend-ids",
       "There was an error reading the backend ids: The stream ended before a whole value was read\n", false},
      {"drop-before-desktop-capture",
       "There was an error reading whether desktop capture is enabled: The stream ended before a whole value was read\n",
       true},
      {"drop-before-connection-info",
       "There was a problem writing the connection information: Error sending data: Broken pipe\n", true},
      {"wrong-type",
       "There was an error reading ryxd information: Expected a value of type “(sissv)” but received one of type "
       "“(sissay)”\n",
       true},
      {"silent", "There was an error reading the backend ids: ryxd did not finish the exchange within 5 seconds\n", false},
  };
  for (const Case &c : cases) {
    SetUp();
    startDaemon({"--fault", c.fault});
    auto start = steady_clock::now();
    EXPECT_FALSE(check_ryxd_server_started(&data_)) << c.fault;
    EXPECT_LT(steady_clock::now() - start, milliseconds(RYX_RYXD_QUERY_TIMEOUT_MS + 3000)) << c.fault;
    EXPECT_EQ(c.printed, printedText()) << c.fault;
    EXPECT_EQ(nullptr, data_.ryxd_connection) << c.fault;
    EXPECT_NE(nullptr, data_.ryxd_cancellable) << c.fault << ": the cancellable stays";
    EXPECT_EQ(c.haveIds, data_.backend_ids != nullptr) << c.fault << ": what came before the failure stays";
    EXPECT_EQ(0, data_.port) << c.fault;
    std::vector<std::string> debug = debugLines();
    ASSERT_EQ(1u, debug.size()) << c.fault;
    EXPECT_EQ(0u, debug[0].find("Connected to ryxd on port ")) << c.fault;
    TearDown();
  }
}

TEST_F(RyxdQueryTest, ReleasingTheDataTwiceIsHarmless) {
  startDaemon();
  ASSERT_TRUE(check_ryxd_server_started(&data_));
  EXPECT_EQ(16u, g_bytes_get_size(data_.encryption_key));
  ryx_config_daemon_data_release_objects(&data_);
  EXPECT_EQ(nullptr, data_.ryxd_connection);
  EXPECT_EQ(nullptr, data_.encryption_key);
  EXPECT_STREQ("payload", data_.payload) << "the strings go only with the rest";
  ryx_config_daemon_data_release_objects(&data_);
  ryx_config_daemon_data_clear(&data_);
  EXPECT_EQ(nullptr, data_.payload);
  EXPECT_EQ(nullptr, data_.backend_ids);
}

TEST(RyxdStandIn, RejectsBadCommandLinesAndHelps) {
  ryx::test::RunResult help = ryx::test::runProgram({RYXD_PROGRAM, "--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_NE(std::string::npos, help.out.find("drop-before-connection-info")) << help.out;
  const std::vector<std::string> bad[] = {
      {"--fault", "nonsense"},
      {"--encryption-key", "abc"},
      {"--encryption-key", "zz"},
      {"--listen-port", "70000"},
  };
  for (const auto &args : bad) {
    std::vector<std::string> argv = {RYXD_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(2, ryx::test::runProgram(argv).status) << args[0] << " " << args[1];
  }
}

}  // namespace
