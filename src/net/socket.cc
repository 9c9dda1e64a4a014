// SPDX-License-Identifier: MIT
#include "net/socket.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/logger.h"
#include "net/socket_private.h"

namespace ryx {

using platform::SocketError;

namespace {

constexpr size_t kHostTextSize = 1025;

// The resolver's message for the last failed lookup; process-wide, and only
// used on the main thread.
char resolverMessage[1024];

// Milliseconds until `deadline`, rounded up so that a wait never ends just
// short of it; INT_MAX for a deadline that does not come.
int millisecondsUntil(SocketClock::time_point deadline) {
  if (deadline == SocketClock::time_point::max()) return INT_MAX;
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - SocketClock::now()).count();
  if (left <= 0) return 0;
  long long ms = (left + 999) / 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

Socket::Address::Address() = default;

Socket::Address::Address(const void *from, uint32_t fromLength) {
  length = fromLength < sizeof storage.bytes ? fromLength : static_cast<uint32_t>(sizeof storage.bytes);
  if (from != nullptr) memcpy(storage.bytes, from, length);
}

CString Socket::Address::toString() const {
  char host[kHostTextSize];
  if (!platform::numericHostText(storage, sizeof storage.bytes, host, sizeof host)) {
    RYX_LOG_WARNING("ryx::Socket::Address::toString", "Failed to convert socket address to string");
    return nullptr;
  }
  return copyCString(host);
}

Socket::Socket(platform::SocketHandle handle, int type) : handle_(handle), type_(type) {}

Socket::~Socket() { close(); }

void Socket::close() {
  if (handle_ == platform::kInvalidSocket) return;
  platform::closeSocket(handle_);
  handle_ = platform::kInvalidSocket;
}

bool Socket::connect(const Address &address, int timeoutMs) {
  if (handle_ == platform::kInvalidSocket) return false;
  return platform::connectSocket(handle_, address.storage, address.length, timeoutMs) == SocketError::kNone;
}

bool Socket::setBlocking() {
  if (handle_ == platform::kInvalidSocket) return false;
  return platform::setSocketBlocking(handle_, true);
}

void Socket::lendReadAhead(char *buffer, size_t size) {
  if (aheadBegin_ < aheadEnd_ || buffer == nullptr || size == 0) return;  // bytes still waiting there
  ahead_ = buffer;
  aheadSize_ = size;
}

void Socket::setDeadline(SocketClock::time_point deadline) {
  deadline_ = deadline;
  hasDeadline_ = true;
  timedOut_ = false;
}

bool Socket::waitUntilDeadline(platform::SocketWait what) {
  for (;;) {
    int left = millisecondsUntil(deadline_);
    if (left == 0) {
      timedOut_ = true;
      return false;
    }
    SocketError error = platform::waitSocket(handle_, what, left);
    if (error == SocketError::kNone) return true;
    // A wait cut short by a signal or by the poll's own rounding: the
    // clock decides.
    if (error != SocketError::kInterrupted && error != SocketError::kTimedOut) return false;
  }
}

int64_t Socket::sendAll(const void *bytes, size_t length, bool more) {
  const char *data = static_cast<const char *>(bytes);
  size_t sent = 0;
  while (sent < length) {
    if (handle_ == platform::kInvalidSocket) return -1;
    if (hasDeadline_ && millisecondsUntil(deadline_) == 0) {
      timedOut_ = true;
      return -1;
    }
    // With a deadline, calls never wait inside the system: a full send
    // buffer is waited on here, with the time that is left.
    SocketError error = SocketError::kNone;
    int64_t n = platform::socketSend(handle_, data + sent, length - sent, hasDeadline_, more, &error);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (error == SocketError::kWouldBlock) {
      if (hasDeadline_ && !waitUntilDeadline(platform::SocketWait::kWrite)) return -1;
      continue;
    }
    if (error == SocketError::kInterrupted) continue;
    return -1;
  }
  return static_cast<int64_t>(length);
}

int64_t Socket::receive(char *buffer) {
  size_t gathered = 0;
  while (gathered < kReceiveChunk) {
    if (aheadBegin_ < aheadEnd_) {
      const size_t n = std::min(aheadEnd_ - aheadBegin_, kReceiveChunk - gathered);
      memcpy(buffer + gathered, ahead_ + aheadBegin_, n);
      aheadBegin_ += n;
      gathered += n;
      continue;
    }
    if (peerClosed_) break;
    if (handle_ == platform::kInvalidSocket) return -1;
    if (hasDeadline_ && millisecondsUntil(deadline_) == 0) {
      // Also for a peer that keeps the data coming: the deadline is for
      // the whole exchange, not for each wait.
      timedOut_ = true;
      return -1;
    }
    if (ahead_ == nullptr) {
      ownAhead_.reset(static_cast<char *>(malloc(kReadAhead)));
      if (!ownAhead_) return -1;
      lendReadAhead(ownAhead_.get(), kReadAhead);
    }
    SocketError error = SocketError::kNone;
    int64_t n = platform::socketReceive(handle_, ahead_, aheadSize_, hasDeadline_, &error);
    if (n > 0) {
      aheadBegin_ = 0;
      aheadEnd_ = static_cast<size_t>(n);
      continue;
    }
    if (n == 0) {
      peerClosed_ = true;
      break;
    }
    if (error == SocketError::kWouldBlock) {
      // Without a deadline only a non-blocking socket gets here, and what
      // has arrived is the chunk; with one, the chunk is waited for.
      if (!hasDeadline_) break;
      if (!waitUntilDeadline(platform::SocketWait::kRead)) return -1;
      continue;
    }
    if (error == SocketError::kInterrupted) continue;
    return -1;
  }
  return static_cast<int64_t>(gathered);
}

int64_t Socket::sendOnce(const void *bytes, size_t length) {
  if (handle_ == platform::kInvalidSocket) return -1;
  SocketError error = SocketError::kNone;
  int64_t n = platform::socketSend(handle_, bytes, length, false, false, &error);
  if (n >= 0) return n;
  return error == SocketError::kWouldBlock ? 0 : -1;
}

int64_t Socket::receiveOnce(void *buffer, size_t length) {
  if (aheadBegin_ < aheadEnd_) {
    const size_t n = std::min(aheadEnd_ - aheadBegin_, length);
    memcpy(buffer, ahead_ + aheadBegin_, n);
    aheadBegin_ += n;
    return static_cast<int64_t>(n);
  }
  if (peerClosed_) return 0;
  if (handle_ == platform::kInvalidSocket) return -1;
  SocketError error = SocketError::kNone;
  int64_t n = platform::socketReceive(handle_, buffer, length, false, &error);
  if (n >= 0) return n;
  return error == SocketError::kWouldBlock ? 0 : -1;
}

namespace detail {

std::unique_ptr<TCPSocket> connectFirst(const std::vector<platform::ResolvedAddress> &addresses, int connectTimeoutMs,
                                        SocketClock::time_point deadline) {
  static const char kFunction[] = "ryx::TCPSocket::getClientSocket";
  for (const platform::ResolvedAddress &entry : addresses) {
    if (entry.family != platform::kAddressFamilyInet && entry.family != platform::kAddressFamilyInet6) continue;
    platform::SocketHandle handle = platform::openSocket(entry.family, entry.socketType, entry.protocol);
    Socket::Address address(entry.address.bytes, entry.length);
    auto socket = std::make_unique<TCPSocket>(
        handle, entry.family == platform::kAddressFamilyInet ? kSocketTypeTcp4 : kSocketTypeTcp6);

    if (handle != platform::kInvalidSocket) {
      // Each attempt gets the connect time-out, cut to what the caller's
      // deadline leaves.
      int timeoutMs = connectTimeoutMs;
      if (deadline != SocketClock::time_point::max()) {
        int left = millisecondsUntil(deadline);
        if (timeoutMs < 0 || left < timeoutMs) timeoutMs = left;
      }
      SocketError error = platform::connectSocket(handle, address.storage, address.length, timeoutMs);
      if (error == SocketError::kNone) return socket;
      if (error == SocketError::kTimedOut) {
        CString text = address.toString();
        RYX_LOG_WARNING(kFunction, "Timed out after %d ms connecting to addr: %s", timeoutMs,
                        text ? text.get() : "<null>");
      }
    }
    CString text = address.toString();
    RYX_LOG_INFO(kFunction, "Failed to connect to addr: %s", text ? text.get() : "<null>");
    socket->close();
  }
  return nullptr;
}

}  // namespace detail

std::unique_ptr<TCPSocket> TCPSocket::getClientSocket(const char *host, uint16_t port, int connectTimeoutMs,
                                                      SocketClock::time_point deadline) {
  char portText[10];
  snprintf(portText, sizeof portText, "%d", port);
  std::vector<platform::ResolvedAddress> addresses;
  int rc = platform::resolveAddresses(host, portText, platform::kResolveAddressConfig,
                                      platform::kAddressFamilyUnspecified, platform::kSocketStream, 0, &addresses);
  if (rc != 0) {
    platform::resolverErrorText(rc, resolverMessage, sizeof resolverMessage);
    RYX_LOG_WARNING("ryx::TCPSocket::getClientSocket", "Failed to get address for host %s and port %s: %s",
                    host != nullptr ? host : "<null>", portText, resolverMessage);
    return nullptr;
  }
  return detail::connectFirst(addresses, connectTimeoutMs, deadline);
}

}  // namespace ryx
