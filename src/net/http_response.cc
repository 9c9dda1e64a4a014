// SPDX-License-Identifier: MIT
#include "net/http_response.h"

#include <cstdio>
#include <cstring>

#include "common/logger.h"

namespace ryx::http {

namespace {

// The status text starts here in the head: "HTTP/1.1 200 " is 13 characters.
constexpr size_t kStatusTextOffset = 13;

CString copyRange(const char *from, size_t length) { return copyCString(from, strnlen(from, length)); }

}  // namespace

Response::Response() = default;

Response::Response(const char *text) {
  if (text == nullptr || *text == '\0') {
    RYX_LOG_WARNING("ryx::http::Response::Response", "Invalid HTTP response");
    return;
  }
  if (!parseResponse(text)) {
    clear();
    RYX_LOG_WARNING("ryx::http::Response::Response", "Cannot parse HTTP response");
  }
}

Response::Response(const Response &other)
    : valid_(other.valid_),
      body_(copyCString(other.body_.get())),
      statusCode_(other.statusCode_),
      statusText_(copyCString(other.statusText_.get())),
      headers_(other.headers_) {}

Response &Response::operator=(const Response &other) {
  if (this != &other) {
    valid_ = other.valid_;
    body_ = copyCString(other.body_.get());
    statusCode_ = other.statusCode_;
    statusText_ = copyCString(other.statusText_.get());
    headers_ = other.headers_;
  }
  return *this;
}

Response::~Response() = default;

void Response::clear() {
  valid_ = false;
  body_.reset();
  statusCode_ = -1;
  statusText_.reset();
  headers_.clear();
}

bool Response::parseResponse(const char *text) {
  static const char kFunction[] = "ryx::http::Response::parseResponse";
  const char *headEnd = strstr(text, "\r\n\r\n");
  if (headEnd == nullptr) {
    RYX_LOG_WARNING(kFunction, "Cannot parse HTTP header");
    return false;
  }
  // The head keeps its empty line, so every line in it ends with "\r\n".
  const size_t headLength = static_cast<size_t>(headEnd - text) + 4;
  CString head = copyRange(text, headLength);
  body_ = copyCString(text + headLength);
  if (!head || !body_) {
    RYX_LOG_WARNING(kFunction, "Insufficient memory available");
    return false;
  }

  int major = 0, minor = 0, code = 0;
  if (sscanf(head.get(), "HTTP/%1d.%1d %3d ", &major, &minor, &code) < 3) return false;
  statusCode_ = code;

  const char *h = head.get();
  const char *lineEnd = strstr(h, "\r\n");
  if (lineEnd == nullptr) return false;
  // A status line too short to reach offset 13 ("HTTP/1.0 200") has an
  // empty status text; nothing before offset 13 is taken for it.
  const size_t statusLength = static_cast<size_t>(lineEnd - h);
  statusText_ = statusLength > kStatusTextOffset ? copyRange(h + kStatusTextOffset, statusLength - kStatusTextOffset)
                                                 : copyCString("");

  for (const char *line = lineEnd + 2; strncmp(line, "\r\n", 2) != 0;) {
    const char *end = strstr(line, "\r\n");
    const char *colon = strchr(line, ':');
    if (end == nullptr || colon == nullptr || colon > end) return false;
    // One blank after the colon is taken for granted and skipped.  When the
    // colon ends the line, or only one character follows it, the value is
    // empty: the text two characters on would be past the line.
    const char *valueStart = colon + 2;
    CString name = copyRange(line, static_cast<size_t>(colon - line));
    CString value = valueStart <= end ? copyRange(valueStart, static_cast<size_t>(end - valueStart)) : copyCString("");
    if (!name || !value || !statusText_) {
      RYX_LOG_WARNING(kFunction, "Insufficient memory available");
      return false;
    }
    // A line with nothing before its colon makes an invalid item, which the
    // collection refuses with its own warning; the answer stays usable.
    headers_.add(NameValueItem(name.get(), value.get()));
    line = end + 2;
  }
  valid_ = true;
  return true;
}

}  // namespace ryx::http
