// SPDX-License-Identifier: MIT
#include "net/http_response.h"

#include <gtest/gtest.h>

#include <string>

#include "net_test_support.h"

namespace ryx::http {
namespace {

using test::LogCapture;
using test::Lines;

const char kInvalid[] = "W RYX (ryx::http::Response::Response): Invalid HTTP response";
const char kParseResponse[] = "W RYX (ryx::http::Response::Response): Cannot parse HTTP response";
const char kParseHeader[] = "W RYX (ryx::http::Response::parseResponse): Cannot parse HTTP header";

// The headers as "name=value|name=value".
std::string headersOf(const Response &r) {
  std::string text;
  for (size_t i = 0; i < r.headers().size(); ++i)
    text += (i > 0 ? "|" : "") + std::string(r.headers().at(i).name()) + "=" + r.headers().at(i).value();
  return text;
}

TEST(Response, ParsesStatusHeadersAndBody) {
  const struct {
    std::string text;
    int code;
    const char *statusText, *headers, *body;
  } cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nX-Two:  spaced \r\n\r\n<html>\r\n\r\nrest</html>", 200, "OK",
       "Content-Type=text/html|X-Two= spaced ", "<html>\r\n\r\nrest</html>"},  // only the one blank is skipped
      {"HTTP/1.0 200 OK\r\nA: 1\r\nB: 2\r\nA: 3\r\n\r\n", 200, "OK", "A=3|B=2", ""},  // the last value, first place
      // The value starts two characters after the colon.
      {"HTTP/1.0 200 OK\r\nName:x\r\n\r\nbody", 200, "OK", "Name=", "body"},
      {"HTTP/1.0 200 OK\r\nName:\r\n\r\nbody", 200, "OK", "Name=", "body"},
      {"HTTP/1.0 200 OK\r\nName:xyz\r\n\r\nbody", 200, "OK", "Name=yz", "body"},
      {"HTTP/1.0 200 OK\r\nName: a: b\r\n\r\nbody", 200, "OK", "Name=a: b", "body"},
      {"HTTP/1.0 200 OK\r\nNa me : v\r\n\r\nbody", 200, "OK", "Na me =v", "body"},
      // The status text starts at offset 13; the code has three digits at most.
      {"HTTP/1.1 500 Internal Server Error\r\n\r\n", 500, "Internal Server Error", "", ""},
      {"HTTP/1.0 200\r\n\r\n", 200, "", "", ""},
      {"HTTP/1.0 200 \r\n\r\n", 200, "", "", ""},
      {"HTTP/1.0 200 O\r\n\r\n", 200, "O", "", ""},
      {"HTTP/1.0 20 OK\r\n\r\n", 20, "K", "", ""},
      {"HTTP/2.0 9999 X\r\n\r\n", 999, " X", "", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    LogCapture log;
    Response r(c.text.c_str());
    EXPECT_EQ(log.lines(), Lines{});
    ASSERT_TRUE(r.valid());
    EXPECT_EQ(r.statusCode(), c.code);
    EXPECT_STREQ(r.statusText(), c.statusText);
    EXPECT_EQ(headersOf(r), c.headers);
    EXPECT_STREQ(r.body(), c.body);
  }
}

TEST(Response, FailuresLeaveItEmptyAndLogTheirCause) {
  const Lines parse = {kParseResponse};
  const Lines header = {kParseHeader, kParseResponse};
  const struct {
    const char *text;
    Lines lines;
  } cases[] = {
      {nullptr, {kInvalid}},
      {"", {kInvalid}},
      {"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n<html></html>", header},  // no empty line
      {"HTTP/1.0 200 OK\n\n", header},
      {"HTTP/1.0 200 OK\r\nContent-Type text/html\r\n\r\n", parse},  // no colon
      {"HTTP/1.0 200 OK\r\nBroken\r\nLater: x\r\n\r\n", parse},      // the colon is on a later line
      {"HTTP/1.0 200 OK\r\nA: 1\r\nBroken\r\n\r\nx: y", parse},      // the body's colon does not count
      {"HTTP/1.0 OK\r\n\r\n", parse},
      {"HTTP/x.0 200 OK\r\n\r\n", parse},
      {"http/1.0 200 OK\r\n\r\n", parse},
      {" HTTP/1.0 200 OK\r\n\r\n", parse},
      {"HTTP/1.0\r\n\r\n", parse},
      {"\r\n\r\n", parse},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
    LogCapture log;
    const Response r(c.text);
    EXPECT_EQ(log.lines(), c.lines);
    const Response none;
    for (const Response *empty : {&r, &none}) {
      EXPECT_FALSE(empty->valid());
      EXPECT_EQ(empty->body(), nullptr);
      EXPECT_EQ(empty->statusCode(), -1);
      EXPECT_EQ(empty->statusText(), nullptr);
      EXPECT_TRUE(empty->headers().empty());
    }
  }
}

TEST(Response, HeaderWithoutNameIsDroppedWithWarningAndCopiesStandAlone) {
  LogCapture log;
  Response copy;
  {
    Response r("HTTP/1.0 301 Moved\r\n: x\r\nLocation: /x\r\n\r\nbody");
    EXPECT_EQ(log.lines(), Lines{"W RYX (ryx::NameValueCollection::add): Trying to add an invalid item"});
    copy = r;
    EXPECT_STREQ(Response(r).headers().find("Location")->value(), "/x");
  }
  ASSERT_TRUE(copy.valid());
  EXPECT_EQ(copy.statusCode(), 301);
  EXPECT_STREQ(copy.statusText(), "Moved");
  EXPECT_STREQ(copy.body(), "body");
  EXPECT_STREQ(copy.headers().htmlheader(), "Location: /x\r\n");
}

}  // namespace
}  // namespace ryx::http
