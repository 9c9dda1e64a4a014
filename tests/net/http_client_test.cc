// SPDX-License-Identifier: MIT
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "log_capture.h"
#include "render_server.h"

namespace ryx::http {
namespace {

using Lines = std::vector<std::string>;
using test::LogCapture;
using test::RenderServer;

const char kPath[] = "/index.html";
const char kExecute[] = "W RYX (ryx::http::Client::execute): ";
const char kParseResponse[] = "W RYX (ryx::http::Response::Response): Cannot parse HTTP response";
const char kParseHeader[] = "W RYX (ryx::http::Response::parseResponse): Cannot parse HTTP header";
const char kCannotWrite[] = "W RYX (ryx::http::Client::doGet): Cannot write first line";

std::string executeLine(const char *message) { return kExecute + std::string(message); }

long long msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

std::string hostHeader(uint16_t port) {
  char text[32];
  snprintf(text, sizeof text, "127.0.0.1:%5u", port);
  return text;
}

TEST(Client, HostHeaderCarriesPortUnlessItIs80) {
  const struct {
    uint16_t port;
    const char *expected;
  } cases[] = {{80, "render.example"}, {8080, "render.example: 8080"}};
  for (const auto &c : cases) EXPECT_STREQ(Client("render.example", c.port).hostHeader(), c.expected) << c.port;
  EXPECT_EQ(Client(nullptr, 2007).hostHeader(), nullptr);
}

// The request line, three headers (the caller's replace only those) and
// the empty line; parameters go in the request line.
TEST(Client, GetSendsRequestLineThreeHeadersAndEmptyLine) {
  RenderServer server({"--mode", "echo"});
  Client client("127.0.0.1", server.port());
  LogCapture log;
  Response response = client.doGet(kPath, NameValueCollection(), NameValueCollection());
  EXPECT_EQ(log.lines(), Lines{});
  ASSERT_TRUE(response.valid());
  EXPECT_EQ(response.statusCode(), 200);
  EXPECT_EQ(response.body(), std::string("GET /index.html HTTP/1.0\r\nUser-Agent: ") + defaultUserAgent() +
                                 "\r\nAccept: */*\r\nHost: " + hostHeader(server.port()) + "\r\n\r\n");

  NameValueCollection headers, parameters;
  for (const char *name : {"X-Extra", "Host", "Accept", "User-Agent"})
    headers.add(NameValueItem(name, (std::string(name) + "-own").c_str()));
  parameters.add(NameValueItem("a", "1"));
  parameters.add(NameValueItem("b", "x y/\xc3\xa9"));
  response = client.doGet(kPath, parameters, headers);
  ASSERT_TRUE(response.valid());
  EXPECT_STREQ(response.body(),
               "GET /index.html?a=1&b=x+y%2f%c3%a9 HTTP/1.0\r\nUser-Agent: User-Agent-own\r\n"
               "Accept: Accept-own\r\nHost: Host-own\r\n\r\n");
}

// "GET " + path + " HTTP/1.0\r\n" is the path's length + 15; the encoded
// query counts too.
TEST(Client, RequestLineMustFitIn127Characters) {
  RenderServer server({"--mode", "echo"});
  Client client("127.0.0.1", server.port());
  NameValueCollection none, longQuery;
  longQuery.add(NameValueItem("q", std::string(60, '/').c_str()));  // 180 characters once encoded
  const struct {
    std::string path;
    const NameValueCollection &query;
    bool sent;
  } cases[] = {
      {"/" + std::string(111, 'a'), none, true},   // 127 characters
      {"/" + std::string(112, 'a'), none, false},  // 128
      {"/a", none, true},                          // 17, the shortest line taken
      {"/", none, false},                          // 16
      {kPath, longQuery, false},
  };
  for (const auto &c : cases) {
    LogCapture log;
    Response response = client.doGet(c.path.c_str(), c.query, none);
    EXPECT_EQ(log.lines(), c.sent ? Lines{} : Lines{kCannotWrite}) << c.path.size();
    EXPECT_EQ(response.valid() ? std::string(response.body()).substr(0, c.path.size() + 15) : "-",
              c.sent ? "GET " + c.path + " HTTP/1.0\r\n" : "-");
  }
  EXPECT_FALSE(client.doGet(nullptr, none, none).valid());
}

// Error statuses are valid answers; bodies of any size are read whole;
// each answer of a reused client stands alone.
TEST(Client, AnswersOfEveryStatusAndSize) {
  RenderServer empty({"--body-size", "0"});
  Response response = Client("localhost", empty.port()).doGet(kPath, NameValueCollection(), NameValueCollection());
  EXPECT_STREQ(response.valid() ? response.body() : "(invalid)", "");
  RenderServer server({"--body-size", std::to_string(1024 * 1024)});
  Client client("localhost", server.port());
  for (const char *path : {kPath, "/other.html", kPath}) {
    response = client.doGet(path, NameValueCollection(), NameValueCollection());
    ASSERT_TRUE(response.valid()) << path;
    EXPECT_STREQ(response.statusText(), path == kPath ? "OK" : "Not Found");
    EXPECT_EQ(response.body(),
              path == kPath ? test::bodyPattern(1024 * 1024) : "<html><body>Not Found</body></html>\n");
  }
  EXPECT_STREQ(response.headers().find("Content-Length")->value(), "1048576");
}

// Every way the server can fail the client ends in an invalid response,
// within the deadline, with its cause in the log.  (A close and garbage
// without a header end: e2e faults RenderingServerClosesAtOnce, ...SendsGarbage;
// the parse failures themselves: http_response_test.cc; a listener that
// never accepts: socket_test.cc and the deadline test below.)
TEST(Client, EachMisbehaviourEndsInAnInvalidResponseInTime) {
  Client::Limits limits;
  limits.requestTimeoutMs = 800;
  const struct {
    std::vector<std::string> serverArgs;
    Lines lines;
  } cases[] = {
      // A byte now and then does not stretch the deadline.
      {{"--mode", "trickle"}, {executeLine("Request timed out after 800 ms"), executeLine("Error reading response")}},
      {{"--mode", "bad-header"}, {kParseResponse}},
      {{"--mode", "nul"}, {executeLine("Bytes read are different from string length"), kParseHeader, kParseResponse}},
      {{"--mode", "reset"}, {executeLine("Error reading response")}},
      {{"--mode", "endless"},
       {executeLine("Response larger than 2097152 bytes"), executeLine("Error reading response")}},
  };
  for (const auto &c : cases) {
    // Wine (8.0) gives a reset connection's recv 0, an orderly end, where Linux
    // and Windows give the reset as an error.
    if (c.serverArgs.back() == "reset" && test::underWine()) continue;
    RenderServer server(c.serverArgs);
    Client client("127.0.0.1", server.port());
    client.setLimits(limits);
    LogCapture log;
    const auto start = std::chrono::steady_clock::now();
    Response response = client.doGet(kPath, NameValueCollection(), NameValueCollection());
    const long long elapsed = msSince(start);
    const std::string mode = c.serverArgs.back();
    EXPECT_FALSE(response.valid()) << mode;
    EXPECT_EQ(response.statusCode(), -1) << mode;
    EXPECT_EQ(log.lines(), c.lines) << mode;
    EXPECT_LT(elapsed, limits.requestTimeoutMs + 1500) << mode;
  }
}

TEST(Client, RequestDeadlineAlsoBoundsTheConnect) {
  RenderServer server({"--mode", "never-accept"});
  Client client("127.0.0.1", server.port());
  Client::Limits limits;
  limits.requestTimeoutMs = 400;  // shorter than the connect time-out
  client.setLimits(limits);
  LogCapture log;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.doGet(kPath, NameValueCollection(), NameValueCollection()).valid());
  EXPECT_GE(msSince(start), 350);
  EXPECT_LT(msSince(start), 2500);
  // The attempt gets what the deadline leaves: 400 ms less the resolver's time.
  const Lines lines = log.lines();
  const std::string prefix = "W RYX (ryx::TCPSocket::getClientSocket): Timed out after ";
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
  const int ms = atoi(lines[0].c_str() + prefix.size());
  EXPECT_TRUE(ms >= 300 && ms <= 400) << lines[0];
  EXPECT_EQ(lines[2], executeLine("Cannot connect to server"));
}

}  // namespace
}  // namespace ryx::http
