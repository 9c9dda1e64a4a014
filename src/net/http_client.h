// SPDX-License-Identifier: MIT
// A minimal HTTP/1.0 client: one GET per connection, the answer read until
// the server closes, then parsed whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/cstring.h"
#include "net/http_response.h"
#include "net/name_value.h"
#include "net/socket.h"

namespace ryx::http {

// The request runs on the user interface's thread, so it is bounded: each
// connect attempt, the whole request (connect, send and read), and the size
// of the answer.  Past any of them the request fails like any other.
constexpr int kRequestTimeoutMs = 10000;
constexpr size_t kMaxResponseBytes = 2 * 1024 * 1024;  // a 1 MiB body and then some

class Client {
 public:
  struct Limits {
    int connectTimeoutMs = kConnectTimeoutMs;
    int requestTimeoutMs = kRequestTimeoutMs;
    size_t maxResponseBytes = kMaxResponseBytes;
  };

  // `hostHeader` is `host` for port 80, else "%s:%5u" of host and port.
  Client(const char *host, uint16_t port);
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;
  virtual ~Client();

  const char *host() const { return host_.get(); }
  uint16_t port() const { return port_; }
  const char *hostHeader() const { return hostHeader_.get(); }

  // Tests shorten these; the program keeps the defaults.
  void setLimits(const Limits &limits) { limits_ = limits; }
  const Limits &limits() const { return limits_; }

  // GET `path` with the url-encoded `parameters` as query.  The request
  // sends User-Agent, Accept and Host; a caller's header of one of these
  // names replaces its value.  An invalid response on any failure.
  Response doGet(const char *path, const NameValueCollection &parameters, const NameValueCollection &headers);

  // Connects, sends the request line, the header text, the empty line and
  // the content (if any), reads the whole answer and parses it.
  Response execute(const char *requestLine, const char *headerText, const char *content);

 private:
  // Sends the request and reads the answer on a connected socket, giving
  // up at `deadline`; the answer's text (in answer_, until the next
  // request), or null after a logged failure.
  const char *exchange(Socket &socket, SocketClock::time_point deadline, const char *requestLine,
                       const char *headerText, const char *content);
  // Makes room for `wanted` bytes in answer_, doubling up to what the size
  // limit needs; false without memory.
  bool reserveAnswer(size_t wanted);

  CString host_;
  uint16_t port_;
  CString hostHeader_;
  Limits limits_;
  // The answer's buffer and the socket's read-ahead buffer stay with the
  // client from one request to the next: giving a large buffer back to the
  // system after every request and faulting it in again costs more than
  // reading the answer.  The answer buffer grows up to the size limit.
  std::vector<char> answer_;
  CString readAhead_;
};

// The User-Agent sent when the caller gives none.
const char *defaultUserAgent();

}  // namespace ryx::http
