// SPDX-License-Identifier: MIT
// The rendering server check against the stand-in rendering server on
// loopback.  The default port 2007 is fixed, so those cases use a loopback
// address of their own (127.a.b.c, all of 127/8 reaches this machine) to
// stay clear of anything else on port 2007, and are skipped when none of a
// few tries can be had.
#include "integration/rendering-server-check.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/http_client.h"
#include "state/error_reporter.h"
#include "state/status.h"
#include "test_support.h"
#include "trigger_test_support.h"

namespace {

using ryx::test::Child;
using ryx::test::IsolatedSettings;

constexpr const char *kErrorMessage = "Cannot communicate with the Rendering Server";

// A loopback address other than 127.0.0.1, different for every call.
std::string privateLoopbackAddress() {
  static std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> octet(1, 254);
  return "127." + std::to_string(octet(random)) + "." + std::to_string(octet(random)) + "." +
         std::to_string(octet(random));
}

// ryx-render-server with `args`; port() is 0 when it could not listen.
class RenderServer {
 public:
  RenderServer(const std::string &address, int port, const std::vector<std::string> &args = {}) {
    std::vector<std::string> argv = {RYX_RENDER_SERVER, "--address", address, "--port", std::to_string(port)};
    argv.insert(argv.end(), args.begin(), args.end());
    child_ = std::make_unique<Child>(argv);
    std::string line;
    if (child_->readLine(&line, 5000)) port_ = atoi(line.c_str());
  }
  int port() const { return port_; }

 private:
  std::unique_ptr<Child> child_;
  int port_ = 0;
};

// A server of the test's own that keeps the one request it gets, for
// what the stand-in does not show: the bytes that arrived.
class RecordingServer {
 public:
  RecordingServer(const std::string &address, int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &at.sin_addr);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 || listen(fd_, 4) != 0) {
      if (fd_ >= 0) close(fd_);
      fd_ = -1;
      return;
    }
    thread_ = std::thread([this] { serveOne(); });
  }
  ~RecordingServer() {
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  bool listening() const { return fd_ >= 0; }
  // The request, once the server has answered it.
  std::string request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }

 private:
  // Reads one request head (2 s, 16 KiB at most) and answers 200.
  void serveOne() {
    pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, 15000) != 1) return;
    int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    char buffer[4096];
    while (request_.find("\r\n\r\n") == std::string::npos && request_.size() < 16384 &&
           std::chrono::steady_clock::now() < end) {
      pollfd c = {client, POLLIN, 0};
      if (poll(&c, 1, 100) != 1) continue;
      ssize_t n = recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request_.append(buffer, static_cast<size_t>(n));
    }
    static const char kAnswer[] = "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n";
    send(client, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL);
    close(client);
  }

  int fd_ = -1;
  std::thread thread_;
  std::string request_;
};

class RenderingServerCheckTest : public ::testing::Test {
 protected:
  // Runs the check on `setting` (null: unset) from a refresh count and a
  // reporter state that it must overwrite.
  void check(const char *setting) {
    settings.set("RYX_RENDERING_SERVER", setting);
    settings.reload();
    ryx::ErrorReporter &reporter = ryx::ErrorReporter::instance();
    reporter.code = ryx::STATUS_NOT_ENABLED;
    reporter.setMessage("left over");
    refreshCount = 149;
    check_rendering_server(&refreshCount);
    EXPECT_EQ(refreshCount, 0u);
  }

  int code() const { return ryx::ErrorReporter::instance().code; }
  std::string message() const {
    const char *text = ryx::ErrorReporter::instance().message;
    return text != nullptr ? text : "(null)";
  }

  void expectCleared() const {
    EXPECT_EQ(code(), ryx::STATUS_OK);
    EXPECT_EQ(message(), "");
  }
  void expectError() const {
    EXPECT_EQ(code(), ryx::STATUS_RENDERING_SERVER_ERROR);
    EXPECT_EQ(message(), kErrorMessage);
  }

  // The stand-in on a private loopback address at the default port, or a
  // skipped test.
  std::unique_ptr<RenderServer> serverOnDefaultPort(std::string *address) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      *address = privateLoopbackAddress();
      auto server = std::make_unique<RenderServer>(*address, RYX_RENDERING_SERVER_DEFAULT_PORT);
      if (server->port() == RYX_RENDERING_SERVER_DEFAULT_PORT) return server;
    }
    return nullptr;
  }

  IsolatedSettings settings;
  guint32 refreshCount = 0;
};

TEST_F(RenderingServerCheckTest, WithoutServerSettingTheStatusIsCleared) {
  for (const char *setting : {static_cast<const char *>(nullptr), ""}) {
    SCOPED_TRACE(setting != nullptr ? "empty" : "unset");
    check(setting);
    expectCleared();
  }
}

TEST_F(RenderingServerCheckTest, HostAloneGoesToPort2007WithThePaddedHostHeader) {
  std::unique_ptr<RecordingServer> server;
  std::string address;
  for (int attempt = 0; attempt < 5 && (server == nullptr || !server->listening()); ++attempt) {
    address = privateLoopbackAddress();
    server = std::make_unique<RecordingServer>(address, RYX_RENDERING_SERVER_DEFAULT_PORT);
  }
  if (!server->listening()) GTEST_SKIP() << "port 2007 is taken on every loopback address tried";

  check(address.c_str());
  expectCleared();
  const std::string request = server->request();
  EXPECT_EQ(request.rfind("GET /index.html HTTP/1.0\r\n", 0), 0u) << request;
  EXPECT_NE(request.find("\r\nHost: " + address + ": 2007\r\n"), std::string::npos) << request;
}

TEST_F(RenderingServerCheckTest, PortOutsideTheRangeOrNotANumberMeans2007) {
  std::string address;
  std::unique_ptr<RenderServer> server = serverOnDefaultPort(&address);
  if (server == nullptr) GTEST_SKIP() << "port 2007 is taken on every loopback address tried";
  RenderServer elsewhere(address, 0);
  ASSERT_NE(elsewhere.port(), 0);

  struct Case {
    std::string after;  // what follows the host in the setting
    bool reached;       // a server listens at the port the rule gives
  };
  const Case cases[] = {
      {"", true},          {":0", true},     {":70000", true}, {":abc", true},
      {":", true},         {":-1", true},    {":65536", true}, {":99999999999999999999", true},
      {":2007", true},     {":" + std::to_string(elsewhere.port()), true},
      {":" + std::to_string(ryx::test::unusedPort()), false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("setting \"" + address + c.after + "\"");
    check((address + c.after).c_str());
    if (c.reached)
      expectCleared();
    else
      expectError();
  }
}

// Any answer that parses clears the status, whatever its code; no answer
// that parses, no server and no such host are the error.
TEST_F(RenderingServerCheckTest, StatusFollowsWhetherAnAnswerParses) {
  const struct {
    std::vector<std::string> args;
    bool cleared;
  } cases[] = {
      {{"--status", "HTTP/1.0 200 OK"}, true},
      {{"--status", "HTTP/1.1 404 Not Found"}, true},
      {{"--status", "HTTP/1.0 500 Internal Server Error"}, true},
      {{"--mode", "close"}, false},
      {{"--mode", "reset"}, false},
      {{"--mode", "no-empty-line"}, false},
      {{"--mode", "bad-header"}, false},
      {{"--mode", "raw"}, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args[1]);
    RenderServer server("127.0.0.1", 0, c.args);
    ASSERT_NE(server.port(), 0);
    check(("127.0.0.1:" + std::to_string(server.port())).c_str());
    if (c.cleared)
      expectCleared();
    else
      expectError();
  }
  for (const std::string &setting :
       {"127.0.0.1:" + std::to_string(ryx::test::unusedPort()), std::string("no-such-host.invalid")}) {
    SCOPED_TRACE(setting);
    check(setting.c_str());
    expectError();
  }
}

// A server that takes the request and never answers holds the check for
// the HTTP client's whole-request deadline, not longer.
TEST_F(RenderingServerCheckTest, SilentServerIsTheErrorAtTheDeadline) {
  RenderServer server("127.0.0.1", 0, {"--mode", "silent", "--hold-ms", "60000"});
  ASSERT_NE(server.port(), 0);
  auto start = std::chrono::steady_clock::now();
  check(("127.0.0.1:" + std::to_string(server.port())).c_str());
  auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  expectError();
  EXPECT_GE(waited, ryx::http::kRequestTimeoutMs - 100);
  EXPECT_LT(waited, ryx::http::kRequestTimeoutMs + 5000);
}

}  // namespace
