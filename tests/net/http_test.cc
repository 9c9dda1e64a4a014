// SPDX-License-Identifier: MIT
// Parsing an answer, the name/value pairs of headers and queries, and
// sockets and the HTTP client against the stand-in rendering server on
// loopback.
#include "net/http_client.h"
#include "net/http_response.h"
#include "net/name_value.h"
#include "net/socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/socket_private.h"
#include "log_capture.h"
#include "render_server.h"

namespace ryx {
namespace {

using Lines = std::vector<std::string>;
using http::Client;
using http::Response;
using test::LogCapture;
using test::RenderServer;

// The logger goes to a file before the first test.
class LoggerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { test::routeLogger("info"); }
};
const ::testing::Environment *const loggerEnvironment = ::testing::AddGlobalTestEnvironment(new LoggerEnvironment);

const char kInvalid[] = "W RYX (ryx::http::Response::Response): Invalid HTTP response";
const char kParseResponse[] = "W RYX (ryx::http::Response::Response): Cannot parse HTTP response";
const char kParseHeader[] = "W RYX (ryx::http::Response::parseResponse): Cannot parse HTTP header";
const char kInvalidItem[] = "W RYX (ryx::NameValueCollection::add): Trying to add an invalid item";

// The whole answer in one line: "valid code [text] name=value|... [body]".
std::string shown(const Response &r) {
  std::string text = std::to_string(r.valid()) + " " + std::to_string(r.statusCode()) + " [" +
                     (r.statusText() != nullptr ? r.statusText() : "null") + "] ";
  for (size_t i = 0; i < r.headers().size(); ++i)
    text += (i > 0 ? "|" : "") + std::string(r.headers().at(i).name()) + "=" + r.headers().at(i).value();
  return text + " [" + (r.body() != nullptr ? r.body() : "null") + "]";
}

TEST(Response, ParsesStatusHeadersAndBody) {
  const struct {
    std::string text, shown;
  } cases[] = {
      // Only the one blank line is skipped.
      {"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nX-Two:  spaced \r\n\r\n<html>\r\n\r\nrest</html>",
       "1 200 [OK] Content-Type=text/html|X-Two= spaced  [<html>\r\n\r\nrest</html>]"},
      // The value starts two characters after the colon, the first colon.
      {"HTTP/1.0 200 OK\r\nName:\r\nN2:xyz\r\nN3: a: b\r\n\r\nbody", "1 200 [OK] Name=|N2=yz|N3=a: b [body]"},
      // The status text starts at offset 13; the code has three digits at most.
      {"HTTP/1.1 500 Internal Server Error\r\n\r\n", "1 500 [Internal Server Error]  []"},
      {"HTTP/2.0 9999 X\r\n\r\n", "1 999 [ X]  []"},
  };
  for (const auto &c : cases) {
    LogCapture log;
    EXPECT_EQ(shown(Response(c.text.c_str())), c.shown);
    EXPECT_EQ(log.lines(), Lines{}) << c.text;
  }
}

TEST(Response, FailuresLeaveItEmptyAndLogTheirCause) {
  const Lines parse = {kParseResponse};
  const struct {
    const char *text;
    Lines lines;
  } cases[] = {
      {nullptr, {kInvalid}},
      {"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n<html></html>", {kParseHeader, kParseResponse}},  // no empty line
      {"HTTP/1.0 200 OK\r\nBroken\r\nLater: x\r\n\r\n", parse},  // the colon is on a later line
      {"HTTP/1.0 200 OK\r\nA: 1\r\nBroken\r\n\r\nx: y", parse},  // the body's colon does not count
      {"http/1.0 200 OK\r\n\r\n", parse},
  };
  const std::string empty = "0 -1 [null]  [null]";
  EXPECT_EQ(shown(Response()), empty);
  for (const auto &c : cases) {
    LogCapture log;
    EXPECT_EQ(shown(Response(c.text)), empty) << (c.text != nullptr ? c.text : "(null)");
    EXPECT_EQ(log.lines(), c.lines) << (c.text != nullptr ? c.text : "(null)");
  }
}

TEST(Response, HeaderWithoutNameIsDroppedWithWarningAndCopiesStandAlone) {
  LogCapture log;
  Response copy;
  {
    Response r("HTTP/1.0 301 Moved\r\n: x\r\nLocation: /x\r\n\r\nbody");
    EXPECT_EQ(log.lines(), Lines{kInvalidItem});
    copy = r;
    EXPECT_EQ(shown(Response(r)), "1 301 [Moved] Location=/x [body]");
  }
  EXPECT_EQ(shown(copy), "1 301 [Moved] Location=/x [body]");
  EXPECT_STREQ(copy.headers().htmlheader(), "Location: /x\r\n");
}

// Letters, digits and -._~ stay; every other byte is lower-case hex (a
// space, '+': the request line's case below).
TEST(UrlEncode, EncodesEachByteByItsClass) {
  EXPECT_STREQ(CString(http::urlEncode("AZaz09-._~+&=%?#\x01\x7f\x80\xff\r\n")).get(),
               "AZaz09-._~%2b%26%3d%25%3f%23%01%7f%80%ff%0d%0a");
  EXPECT_EQ(http::urlEncode(nullptr), nullptr);
}

// Each change renders anew; copies stand alone.
TEST(NameValueItem, RendersAgainAfterEachChangeAndCopiesStandAlone) {
  NameValueItem item("a key", "x/y");
  std::string shown = std::string(item.urlencode()) + "|" + item.htmlheader();
  item.setValue(nullptr);
  NameValueItem copy(item);
  item.setValue("2");
  shown += std::string("|") + item.urlencode() + "|" + item.htmlheader() + "|" + copy.urlencode();
  copy = item;
  item.setValue("3");
  EXPECT_EQ(shown + "|" + copy.urlencode(), "a+key=x%2fy|a key: x/y\r\n|a+key=2|a key: 2\r\n|a+key=|a+key=2");
}

// Replacing keeps the first place (names compare exactly), each add drops
// what was rendered before, invalid items are refused; copies stand alone.
TEST(NameValueCollection, ReplacementKeepsTheFirstPlaceInvalidItemsAreRefused) {
  NameValueCollection collection;
  collection.add(NameValueItem("a", "1"));
  collection.add(NameValueItem("b", "2"));
  std::string shown = collection.urlencode();
  collection.add(NameValueItem("a", "3"));
  collection.add(NameValueItem("A", "4"));
  collection.add(NameValueItem("", "x"));
  NameValueCollection copy(collection);
  shown += std::string("|") + collection.urlencode() + "|" + collection.htmlheader();
  collection.clear();
  shown += std::string("|") + collection.urlencode() + "|" + copy.urlencode();
  EXPECT_EQ(shown, "a=1&b=2|a=3&b=2&A=4|a: 3\r\nb: 2\r\nA: 4\r\n||a=3&b=2&A=4");
}

std::string failedLine(const char *address) {
  return std::string("I RYX (ryx::TCPSocket::getClientSocket): Failed to connect to addr: ") + address;
}

// The bytes the stand-in sends for --body-size N.
std::string bodyPattern(size_t size) {
  static const char kPattern[] = "0123456789abcdefghijklmnopqrstuvwxyz\n";
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = kPattern[i % (sizeof kPattern - 1)];
  return text;
}

long long millisecondsSince(SocketClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SocketClock::now() - start).count();
}

platform::ResolvedAddress numericAddress(const char *host, uint16_t port) {
  std::vector<platform::ResolvedAddress> list;
  EXPECT_EQ(platform::resolveAddresses(host, std::to_string(port).c_str(), 0, platform::kAddressFamilyUnspecified,
                                       platform::kSocketStream, 0, &list),
            0);
  return list.empty() ? platform::ResolvedAddress() : list.front();
}

// Addresses of no IP family are skipped without a word; one that fails is
// logged and the next tried.
TEST(TCPSocket, TriesEachAddressUntilOneConnects) {
  RenderServer server({}, "::1");
  platform::ResolvedAddress local;
  local.family = AF_UNIX;
  local.socketType = SOCK_STREAM;
  std::vector<platform::ResolvedAddress> addresses = {local, numericAddress("127.0.0.1", server.port()),
                                                      numericAddress("::1", server.port())};
  LogCapture log;
  std::unique_ptr<TCPSocket> socket = detail::connectFirst(addresses, 1000, SocketClock::time_point::max());
  ASSERT_NE(socket, nullptr);
  EXPECT_EQ(socket->type(), kSocketTypeTcp6);
  EXPECT_EQ(log.lines(), Lines{failedLine("127.0.0.1")});
  socket->close();
}

// An unknown host logs the resolver's text.  (A listener that never
// accepts: the client's deadline test; one that refuses: the address walk.)
TEST(TCPSocket, AnUnknownHostGivesNoneAndSaysWhy) {
  std::vector<platform::ResolvedAddress> none;
  const int resolver =
      platform::resolveAddresses("no-such-host.invalid", "2007", AI_ADDRCONFIG, platform::kAddressFamilyUnspecified,
                                 platform::kSocketStream, 0, &none);
  ASSERT_NE(resolver, 0);
  char resolverText[256];
  platform::resolverErrorText(resolver, resolverText, sizeof resolverText);
  LogCapture log;
  EXPECT_EQ(TCPSocket::getClientSocket("no-such-host.invalid", 2007, 300), nullptr);
  EXPECT_EQ(log.lines(), Lines{std::string("W RYX (ryx::TCPSocket::getClientSocket): Failed to get address for host "
                                           "no-such-host.invalid and port 2007: ") +
                               resolverText});
}

const char kPath[] = "/index.html";
const char kExecute[] = "W RYX (ryx::http::Client::execute): ";
const char kCannotWrite[] = "W RYX (ryx::http::Client::doGet): Cannot write first line";

std::string executeLine(const char *message) { return kExecute + std::string(message); }

TEST(Client, HostHeaderCarriesPortUnlessItIs80) {
  EXPECT_STREQ(Client("render.example", 80).hostHeader(), "render.example");
  EXPECT_STREQ(Client("render.example", 8080).hostHeader(), "render.example: 8080");
}

// The request line, three headers (the caller's replace only those) and
// the empty line; parameters go in the request line.
TEST(Client, GetSendsRequestLineThreeHeadersAndEmptyLine) {
  RenderServer server({"--mode", "echo"});
  Client client("127.0.0.1", server.port());
  char host[32];
  snprintf(host, sizeof host, "127.0.0.1:%5u", server.port());
  LogCapture log;
  Response response = client.doGet(kPath, NameValueCollection(), NameValueCollection());
  EXPECT_EQ(log.lines(), Lines{});
  ASSERT_TRUE(response.valid());
  EXPECT_EQ(response.statusCode(), 200);
  EXPECT_EQ(response.body(), std::string("GET /index.html HTTP/1.0\r\nUser-Agent: ") + http::defaultUserAgent() +
                                 "\r\nAccept: */*\r\nHost: " + host + "\r\n\r\n");

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
      {kPath, longQuery, false},
  };
  for (const auto &c : cases) {
    LogCapture log;
    Response response = client.doGet(c.path.c_str(), c.query, none);
    EXPECT_EQ(log.lines(), c.sent ? Lines{} : Lines{kCannotWrite}) << c.path.size();
    EXPECT_EQ(response.valid() ? std::string(response.body()).substr(0, c.path.size() + 15) : "-",
              c.sent ? "GET " + c.path + " HTTP/1.0\r\n" : "-");
  }
}

// Error statuses are valid answers; a large body is read whole; each
// answer of a reused client stands alone.
TEST(Client, AnswersOfEveryStatusAndSize) {
  RenderServer server({"--body-size", std::to_string(1024 * 1024)});
  Client client("localhost", server.port());
  Response response;
  for (const char *path : {kPath, "/other.html", kPath}) {
    response = client.doGet(path, NameValueCollection(), NameValueCollection());
    ASSERT_TRUE(response.valid()) << path;
    EXPECT_STREQ(response.statusText(), path == kPath ? "OK" : "Not Found");
    EXPECT_EQ(response.body(), path == kPath ? bodyPattern(1024 * 1024) : "<html><body>Not Found</body></html>\n");
  }
  EXPECT_STREQ(response.headers().find("Content-Length")->value(), "1048576");
}

// Every way the server can fail the client ends in an invalid response,
// within the deadline, with its cause in the log.  (A close and an answer
// without a header end: rendering_server_check_test.cc; the parse failures
// themselves: the Response cases above; a listener that never accepts: the
// connect cases above and the deadline test below.)
TEST(Client, EachMisbehaviourEndsInAnInvalidResponseInTime) {
  Client::Limits limits;
  limits.requestTimeoutMs = 800;
  const struct {
    std::vector<std::string> serverArgs;
    Lines lines;
  } cases[] = {
      // A byte now and then does not stretch the deadline.
      {{"--mode", "trickle"}, {executeLine("Request timed out after 800 ms"), executeLine("Error reading response")}},
      {{"--mode", "nul"}, {executeLine("Bytes read are different from string length"), kParseHeader, kParseResponse}},
      {{"--mode", "endless"},
       {executeLine("Response larger than 2097152 bytes"), executeLine("Error reading response")}},
  };
  for (const auto &c : cases) {
    RenderServer server(c.serverArgs);
    Client client("127.0.0.1", server.port());
    client.setLimits(limits);
    LogCapture log;
    const auto start = SocketClock::now();
    Response response = client.doGet(kPath, NameValueCollection(), NameValueCollection());
    const long long elapsed = millisecondsSince(start);
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
  const auto start = SocketClock::now();
  EXPECT_FALSE(client.doGet(kPath, NameValueCollection(), NameValueCollection()).valid());
  EXPECT_GE(millisecondsSince(start), 350);
  EXPECT_LT(millisecondsSince(start), 2500);
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
}  // namespace ryx
