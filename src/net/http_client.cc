// SPDX-License-Identifier: MIT
#include "net/http_client.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/logger.h"
#include "net/build_info.h"

namespace ryx::http {

namespace {

constexpr char kExecute[] = "ryx::http::Client::execute";

// The request line is formatted into this many bytes: it must fit in 127
// characters.  A longer one (a long path or query) is refused, not cut.
constexpr size_t kRequestLineSize = 128;
// A formatted line shorter than this is refused as well.
constexpr int kRequestLineMinimum = 17;

// The answer is read into a buffer one chunk larger than what it holds,
// so a whole chunk and the ending NUL always fit.
constexpr size_t kReadSlack = kReceiveChunk + 1;

size_t textLength(const char *text) { return text != nullptr ? strlen(text) : 0; }

}  // namespace

const char *defaultUserAgent() { return "RYX/" RYX_PRODUCT_VERSION " (r" RYX_BUILD_REVISION ") (WIN32, 64bit)"; }

Client::Client(const char *host, uint16_t port) : host_(copyCString(host)), port_(port) {
  if (!host_) return;
  if (port == 80) {
    hostHeader_ = copyCString(host);
    return;
  }
  const size_t size = strlen(host) + 7;  // ":", five digits, NUL
  char *text = static_cast<char *>(malloc(size));
  if (text != nullptr) snprintf(text, size, "%s:%5u", host, static_cast<unsigned>(port));
  hostHeader_.reset(text);
}

Client::~Client() = default;

Response Client::doGet(const char *path, const NameValueCollection &parameters, const NameValueCollection &headers) {
  char requestLine[kRequestLineSize];
  int n = -1;
  if (path != nullptr) {
    if (parameters.empty()) {
      n = snprintf(requestLine, sizeof requestLine, "GET %s HTTP/1.0\r\n", path);
    } else if (const char *query = parameters.urlencode()) {
      n = snprintf(requestLine, sizeof requestLine, "GET %s?%s HTTP/1.0\r\n", path, query);
    }
  }
  // No path, a query that cannot be encoded, a line that does not fit (n is
  // then the length it would have had) or one under the minimum: refused.
  if (n < kRequestLineMinimum || static_cast<size_t>(n) >= sizeof requestLine) {
    RYX_LOG_WARNING("ryx::http::Client::doGet", "Cannot write first line");
    return Response();
  }

  NameValueCollection sent;
  const NameValueItem *userAgent = headers.find("User-Agent");
  sent.add(userAgent != nullptr ? *userAgent : NameValueItem("User-Agent", defaultUserAgent()));
  const NameValueItem *accept = headers.find("Accept");
  sent.add(accept != nullptr ? *accept : NameValueItem("Accept", "*/*"));
  sent.add(NameValueItem("Host", hostHeader_ ? hostHeader_.get() : ""));
  // A caller's header replaces the value of the one of its name; headers of
  // other names are not sent.
  for (size_t i = 0; i < headers.size(); ++i) {
    if (sent.find(headers.at(i).name()) != nullptr) sent.add(headers.at(i));
  }

  // A GET carries no body: the parameters travel in the request line only.
  // Sent again after the empty line without a Content-Length, they would
  // stay unread at the server, and a server that closes a connection with
  // unread data resets it, which can destroy its answer on the way.
  return execute(requestLine, sent.htmlheader(), "");
}

Response Client::execute(const char *requestLine, const char *headerText, const char *content) {
  const SocketClock::time_point deadline = SocketClock::now() + std::chrono::milliseconds(limits_.requestTimeoutMs);
  std::unique_ptr<TCPSocket> socket =
      TCPSocket::getClientSocket(host_.get(), port_, limits_.connectTimeoutMs, deadline);
  if (!socket) {
    RYX_LOG_WARNING(kExecute, "Cannot connect to server");
    return Response();
  }
  const char *text = exchange(*socket, deadline, requestLine, headerText, content);
  socket->close();
  if (text == nullptr) return Response();
  return Response(text);
}

bool Client::reserveAnswer(size_t wanted) {
  if (wanted <= answer_.size()) return true;
  size_t size = std::max(wanted, answer_.size() * 2);
  size = std::min(size, std::max(wanted, limits_.maxResponseBytes + kReadSlack));
  try {
    answer_.reserve(size);  // exactly: the vector's own growth could pass the limit
    answer_.resize(size);
  } catch (const std::bad_alloc &) {
    return false;  // the request fails; no exception leaves the client
  }
  return true;
}

const char *Client::exchange(Socket &socket, SocketClock::time_point deadline, const char *requestLine,
                             const char *headerText, const char *content) {
  if (!socket.setBlocking()) {
    RYX_LOG_WARNING(kExecute, "Invalid socket");
    return nullptr;
  }
  socket.setDeadline(deadline);

  // Each failure is logged with its cause first when the deadline was it.
  auto failed = [&](const char *what) {
    if (socket.timedOut()) RYX_LOG_WARNING(kExecute, "Request timed out after %d ms", limits_.requestTimeoutMs);
    RYX_LOG_WARNING(kExecute, "%s", what);
    return static_cast<const char *>(nullptr);
  };

  // The parts go out as one request: each but the last says more follows,
  // so the server is not woken once per part.
  const size_t contentLength = textLength(content);
  if (socket.sendAll(requestLine, textLength(requestLine), true) < 0)
    return failed("Failed to send first line to the server");
  if (socket.sendAll(headerText, textLength(headerText), true) < 0)
    return failed("Failed to send header to the server");
  if (socket.sendAll("\r\n", 2, contentLength > 0) < 0) return failed("Failed to send empty line to the server");
  if (content != nullptr && socket.sendAll(content, contentLength) != static_cast<int64_t>(contentLength))
    return failed("Failed to send content to the server");

  // Read until the server closes, one chunk of up to 512 bytes at a time,
  // into one buffer grown so that it always has room for one more chunk
  // and the NUL (the bytes read + 513).  It grows by doubling, not by a
  // chunk at a time, and is kept for the next request.
  if (!readAhead_) readAhead_.reset(static_cast<char *>(malloc(kReadAhead)));
  if (readAhead_) socket.lendReadAhead(readAhead_.get(), kReadAhead);
  if (!reserveAnswer(kReadSlack)) return failed("Insufficient memory available");
  size_t read = 0;
  for (;;) {
    int64_t n = socket.receive(answer_.data() + read);
    if (n < 0) return failed("Error reading response");
    if (n == 0) break;
    read += static_cast<size_t>(n);
    if (read > limits_.maxResponseBytes) {
      RYX_LOG_WARNING(kExecute, "Response larger than %zu bytes", limits_.maxResponseBytes);
      return failed("Error reading response");
    }
    if (!reserveAnswer(read + kReadSlack)) return failed("Insufficient memory available");
  }
  answer_[read] = '\0';
  if (strlen(answer_.data()) != read) RYX_LOG_WARNING(kExecute, "Bytes read are different from string length");
  return answer_.data();
}

}  // namespace ryx::http
