// SPDX-License-Identifier: MIT
// A parsed HTTP answer: status code and text, headers in their order, body.
#pragma once

#include "common/cstring.h"
#include "net/name_value.h"

namespace ryx::http {

class Response {
 public:
  // An empty response: not valid, no body, status code -1, no status text,
  // no headers.
  Response();
  // Parses the whole answer `text` (up to its first NUL).  A failure leaves
  // the response empty and is logged.
  explicit Response(const char *text);
  Response(const Response &other);
  Response &operator=(const Response &other);
  Response(Response &&) noexcept = default;
  Response &operator=(Response &&) noexcept = default;
  virtual ~Response();

  // True only when the answer was parsed completely; callers test this only.
  bool valid() const { return valid_; }
  const char *body() const { return body_.get(); }
  int statusCode() const { return statusCode_; }
  const char *statusText() const { return statusText_.get(); }
  const NameValueCollection &headers() const { return headers_; }

 private:
  bool parseResponse(const char *text);
  void clear();

  bool valid_ = false;
  CString body_;
  int statusCode_ = -1;
  CString statusText_;
  NameValueCollection headers_;
};

}  // namespace ryx::http
