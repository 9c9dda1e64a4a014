// SPDX-License-Identifier: MIT
#include "net/http_response.h"

#include <gtest/gtest.h>

#include <string>

#include "net_test_support.h"

namespace ryx::http {
namespace {

using test::LogCapture;
using test::Lines;

const char kParseResponse[] = "W RYX (ryx::http::Response::Response): Cannot parse HTTP response";
const char kParseHeader[] = "W RYX (ryx::http::Response::parseResponse): Cannot parse HTTP header";

void expectEmpty(const Response &r) {
  EXPECT_FALSE(r.valid());
  EXPECT_EQ(r.body(), nullptr);
  EXPECT_EQ(r.statusCode(), -1);
  EXPECT_EQ(r.statusText(), nullptr);
  EXPECT_TRUE(r.headers().empty());
}

TEST(Response, ParsesStatusHeadersAndBody) {
  LogCapture log;
  Response r("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nX-Two:  spaced \r\n\r\n<html>\r\n\r\nrest</html>");
  EXPECT_EQ(log.lines(), Lines{});
  ASSERT_TRUE(r.valid());
  EXPECT_EQ(r.statusCode(), 200);
  EXPECT_STREQ(r.statusText(), "OK");
  EXPECT_STREQ(r.body(), "<html>\r\n\r\nrest</html>");
  ASSERT_EQ(r.headers().size(), 2u);
  EXPECT_STREQ(r.headers().at(0).name(), "Content-Type");
  EXPECT_STREQ(r.headers().at(0).value(), "text/html");
  EXPECT_STREQ(r.headers().at(1).value(), " spaced ");  // only the one blank is skipped
}

TEST(Response, RepeatedHeaderKeepsLastValueInFirstPlace) {
  Response r("HTTP/1.0 200 OK\r\nA: 1\r\nB: 2\r\nA: 3\r\n\r\n");
  ASSERT_TRUE(r.valid());
  ASSERT_EQ(r.headers().size(), 2u);
  EXPECT_STREQ(r.headers().at(0).name(), "A");
  EXPECT_STREQ(r.headers().at(0).value(), "3");
}

struct HeaderCase {
  const char *line;  // one header line, without its CRLF
  const char *name;
  const char *value;
};

TEST(Response, HeaderValueStartsTwoCharactersAfterTheColon) {
  const HeaderCase cases[] = {
      {"Name:x", "Name", ""},  // one character after the colon, no blank
      {"Name:", "Name", ""},   // the colon ends the line
      {"Name: ", "Name", ""},
      {"Name:xyz", "Name", "yz"},
      {"Name: a: b", "Name", "a: b"},
      {"Na me : v", "Na me ", "v"},
  };
  for (const HeaderCase &c : cases) {
    std::string text = std::string("HTTP/1.0 200 OK\r\n") + c.line + "\r\n\r\nbody";
    LogCapture log;
    Response r(text.c_str());
    EXPECT_EQ(log.lines(), Lines{}) << c.line;
    ASSERT_TRUE(r.valid()) << c.line;
    ASSERT_EQ(r.headers().size(), 1u) << c.line;
    EXPECT_STREQ(r.headers().at(0).name(), c.name) << c.line;
    EXPECT_STREQ(r.headers().at(0).value(), c.value) << c.line;
    EXPECT_STREQ(r.body(), "body");
  }
}

struct StatusCase {
  const char *statusLine;
  int code;
  const char *text;
};

TEST(Response, StatusTextFromOffsetThirteen) {
  const StatusCase cases[] = {
      {"HTTP/1.1 500 Internal Server Error", 500, "Internal Server Error"},
      {"HTTP/1.1 404 Not Found", 404, "Not Found"},
      {"HTTP/1.0 200", 200, ""},  // shorter than 13 characters: no text
      {"HTTP/1.0 200 ", 200, ""},
      {"HTTP/1.0 200 O", 200, "O"},
      {"HTTP/1.0 20 OK", 20, "K"},  // the text is cut by position, not by the code
      {"HTTP/2.0 9999 X", 999, " X"},  // three digits at most; the fourth is not skipped
  };
  for (const StatusCase &c : cases) {
    std::string text = std::string(c.statusLine) + "\r\n\r\n";
    Response r(text.c_str());
    ASSERT_TRUE(r.valid()) << c.statusLine;
    EXPECT_EQ(r.statusCode(), c.code) << c.statusLine;
    EXPECT_STREQ(r.statusText(), c.text) << c.statusLine;
    EXPECT_STREQ(r.body(), "");
    EXPECT_TRUE(r.headers().empty());
  }
}

struct FailureCase {
  const char *text;
  Lines lines;
};

TEST(Response, FailuresLeaveItEmptyAndLogTheirCause) {
  const Lines parse = {kParseResponse};
  const Lines header = {kParseHeader, kParseResponse};
  const FailureCase cases[] = {
      {"", {"W RYX (ryx::http::Response::Response): Invalid HTTP response"}},
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
  for (const FailureCase &c : cases) {
    LogCapture log;
    Response r(c.text);
    EXPECT_EQ(log.lines(), c.lines) << c.text;
    expectEmpty(r);
  }
}

TEST(Response, NoTextIsInvalid) {
  LogCapture log;
  Response r(nullptr);
  EXPECT_EQ(log.lines(), Lines{"W RYX (ryx::http::Response::Response): Invalid HTTP response"});
  expectEmpty(r);
  expectEmpty(Response());
}

TEST(Response, HeaderWithoutNameIsDroppedWithWarning) {
  LogCapture log;
  Response r("HTTP/1.0 200 OK\r\n: x\r\nA: 1\r\n\r\n");
  EXPECT_EQ(log.lines(), Lines{"W RYX (ryx::NameValueCollection::add): Trying to add an invalid item"});
  ASSERT_TRUE(r.valid());
  ASSERT_EQ(r.headers().size(), 1u);
  EXPECT_STREQ(r.headers().at(0).name(), "A");
}

TEST(Response, CopiesAreIndependent) {
  Response copy;
  {
    Response r("HTTP/1.0 301 Moved\r\nLocation: /x\r\n\r\nbody");
    copy = r;
    Response second(r);
    EXPECT_STREQ(second.headers().find("Location")->value(), "/x");
  }
  ASSERT_TRUE(copy.valid());
  EXPECT_EQ(copy.statusCode(), 301);
  EXPECT_STREQ(copy.statusText(), "Moved");
  EXPECT_STREQ(copy.body(), "body");
  EXPECT_STREQ(copy.headers().htmlheader(), "Location: /x\r\n");
}

}  // namespace
}  // namespace ryx::http
