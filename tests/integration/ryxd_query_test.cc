// SPDX-License-Identifier: MIT
// The daemon query against the real stand-in daemon, one per test.  GLib
// reads XDG_DATA_HOME once per process, so the whole test program shares
// one data folder and its tests, which run one after another, each start
// and stop their own daemon in it.
#include "integration/ryxd-query.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "glib_support.h"
#include "test_support.h"

namespace {

std::string printed;
void onPrinterr(const char *text) { printed += text; }

// One data folder for the program, set before GLib first reads it.
class DataHome : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
    g_set_printerr_handler(onPrinterr);
  }
  ryx::test::TempDir dir_;
};
::testing::Environment *const dataHome = ::testing::AddGlobalTestEnvironment(new DataHome);

std::string portFilePath() {
  g_autoptr(GFile) file = get_ryxd_port_file();
  g_autofree char *path = g_file_get_path(file);
  return path;
}

class RyxdQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    printed.clear();
    log_.reset();  // one capture at a time
    log_ = std::make_unique<ryx::test::GLogCapture>();
    g_autofree char *folder = g_path_get_dirname(portFilePath().c_str());
    g_mkdir_with_parents(folder, 0700);
    remove(portFilePath().c_str());
  }
  void TearDown() override {
    ryx_config_daemon_data_clear(&data_);
    if (daemon_) {
      EXPECT_EQ(0, daemon_->stop()) << "SIGTERM ends the daemon cleanly";
    }
    daemon_.reset();
    log_.reset();
    remove(portFilePath().c_str());
  }

  // Starts the stand-in daemon and returns the port it listens on.
  int startDaemon(std::vector<std::string> args = {}) {
    args.insert(args.begin(), RYXD_PROGRAM);
    daemon_ = std::make_unique<ryx::test::Child>(args);
    std::string line;
    const std::string prefix = "ryxd listening on 127.0.0.1:";
    EXPECT_TRUE(daemon_->readLine(&line, 5000) && line.find(prefix) == 0) << "the daemon did not start: " << line;
    return line.find(prefix) == 0 ? atoi(line.c_str() + prefix.size()) : 0;
  }

  // The program's own records (domain RYX) of one level, as "function: message".
  std::vector<std::string> lines(GLogLevelFlags level) const {
    std::vector<std::string> result;
    for (const ryx::test::LogRecord &r : log_->records())
      if (r.domain == "RYX" && r.level == level) result.push_back(r.function + ": " + r.message);
    return result;
  }

  RyxConfigDaemonData data_ = {};
  std::unique_ptr<ryx::test::Child> daemon_;
  std::unique_ptr<ryx::test::GLogCapture> log_;
};

const char kQuery[] = "check_ryxd_server_started: ";

// The values reaching the driver are shown by the whole program (e2e
// TheInstanceServesSecondStartsAndItsConsolePort; desktop capture:
// StartUpFollowsThePeersItMeets).  The stand-in writes its port file where
// its own code puts it, so the query reaching it shows the file's place.
TEST_F(RyxdQueryTest, FetchesWhatTheDaemonHoldsAndKeepsTheConnection) {
  int port = startDaemon({"--payload", "the payload", "--port", "9000", "--conference-id", "cid", "--conference-key",
                          "ckey", "--encryption-key", "0a0B0c"});
  ASSERT_TRUE(check_ryxd_server_started(&data_));
  EXPECT_EQ("", printed);
  EXPECT_FALSE(data_.using_desktop_capture);
  ASSERT_NE(nullptr, data_.ryxd_connection);
  EXPECT_TRUE(g_socket_connection_is_connected(data_.ryxd_connection));
  EXPECT_EQ(lines(G_LOG_LEVEL_DEBUG),
            std::vector<std::string>({kQuery + std::string("Connected to ryxd on port ") + std::to_string(port),
                                      kQuery + std::string("ryxd port: 9000, conference id: cid, conference key: "
                                                           "ckey. enc key len: 3, payload: the payload"),
                                      kQuery + std::string("Retrieved info from ryxd")}));

  // Released twice, then cleared: the strings go only with the rest.
  ryx_config_daemon_data_release_objects(&data_);
  ryx_config_daemon_data_release_objects(&data_);
  EXPECT_TRUE(data_.ryxd_connection == nullptr && data_.encryption_key == nullptr);
  EXPECT_STREQ("the payload", data_.payload);
  ryx_config_daemon_data_clear(&data_);
  EXPECT_EQ(nullptr, data_.payload);
}

// A missing or unreadable port file (one error path), one without a port
// or cookie, or one naming a port nobody listens on, fails the query before
// it has a connection.
TEST_F(RyxdQueryTest, PortFilesThatLackSomething) {
  const std::string gone = "[ryxd]\nport=" + std::to_string(ryx::test::unusedPort()) + "\ncookie=c\n";
  const struct {
    const char *content;  // null: no file
    std::string printed;  // its start
    std::vector<std::string> warnings;
  } cases[] = {
      {nullptr,
       "Could not find ryxd server info\n",
       {"get_ryxd_connection_info: There was an error getting the port from the caching file: No such file or "
        "directory"}},
      {"[ryxd]\nport=4000\n", "Could not find ryxd cookie\n", {}},
      {gone.c_str(), "There was an error connecting to ryxd: ", {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.content != nullptr ? c.content : "no file");
    printed.clear();
    log_->clear();
    if (c.content != nullptr) ryx::test::writeFile(portFilePath(), c.content);
    EXPECT_FALSE(check_ryxd_server_started(&data_));
    EXPECT_EQ(printed.substr(0, c.printed.size()), c.printed);
    EXPECT_EQ(lines(G_LOG_LEVEL_WARNING), c.warnings);
    EXPECT_EQ(nullptr, data_.ryxd_connection);
  }
  EXPECT_NE(printed.find("Connection refused"), std::string::npos) << printed;
}

// A misbehaving daemon ends the query as a failure of the step that was
// waiting and releases the connection; what came before the failure stays.
// (A reply of the wrong type: e2e StartUpFollowsThePeersItMeets.)
TEST_F(RyxdQueryTest, AFaultOfTheDaemonFailsItsStepAndReleasesTheConnection) {
  const struct {
    const char *fault;
    std::string printed;
    bool haveIds;
  } cases[] = {
      {"drop-before-connection-info",
       "There was a problem writing the connection information: Error sending data: Broken pipe\n", true},
      {"silent", "There was an error reading the backend ids: ryxd did not finish the exchange within 5 seconds\n",
       false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.fault);
    SetUp();
    startDaemon({"--fault", c.fault});
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(check_ryxd_server_started(&data_));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(RYX_RYXD_QUERY_TIMEOUT_MS + 3000));
    EXPECT_EQ(c.printed, printed);
    // No connection, a cancellable, the ids if they came, no port, one debug line.
    EXPECT_EQ((std::vector<size_t>{data_.ryxd_connection == nullptr, data_.ryxd_cancellable != nullptr,
                                   data_.backend_ids != nullptr, data_.port == 0, lines(G_LOG_LEVEL_DEBUG).size()}),
              (std::vector<size_t>{true, true, c.haveIds, true, 1}));
    TearDown();
  }
}

}  // namespace
