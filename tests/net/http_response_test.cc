// SPDX-License-Identifier: MIT
// Parsing an answer, and the name/value pairs of headers and queries.
#include "net/http_response.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/name_value.h"
#include "log_capture.h"

namespace ryx {
namespace {

using http::Response;
using Lines = std::vector<std::string>;
using test::LogCapture;

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
      {"HTTP/1.0 200 OK\r\nA: 1\r\nB: 2\r\nA: 3\r\n\r\n", "1 200 [OK] A=3|B=2 []"},  // the last value, first place
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
// space, '+': the request line's case in http_client_test.cc).
TEST(UrlEncode, EncodesEachByteByItsClass) {
  EXPECT_STREQ(CString(http::urlEncode("AZaz09-._~+&=%?#\x01\x7f\x80\xff\r\n")).get(),
               "AZaz09-._~%2b%26%3d%25%3f%23%01%7f%80%ff%0d%0a");
  EXPECT_EQ(http::urlEncode(nullptr), nullptr);
}

// Each change renders anew; copies stand alone; without a name an item
// holds nothing.
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
  for (const char *name : {static_cast<const char *>(nullptr), ""}) {
    NameValueItem none(name, "value");
    EXPECT_TRUE(!none.isValid() && !none.name() && !none.value() && !none.urlencode() && !none.htmlheader());
  }
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
  LogCapture log;
  collection.add(NameValueItem("", "x"));
  EXPECT_EQ(log.lines(), Lines{kInvalidItem});
  NameValueCollection copy(collection);
  shown += std::string("|") + collection.urlencode() + "|" + collection.htmlheader();
  collection.clear();
  shown += std::string("|") + collection.urlencode() + "|" + copy.urlencode();
  EXPECT_EQ(shown, "a=1&b=2|a=3&b=2&A=4|a: 3\r\nb: 2\r\nA: 4\r\n||a=3&b=2&A=4");
}

}  // namespace
}  // namespace ryx
