// SPDX-License-Identifier: MIT
// BSD sockets back-end of the socket interface.
#include "platform/socket.h"

#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/resolved_list.h"

namespace ryx::platform {

const int kAddressFamilyUnspecified = AF_UNSPEC;
const int kAddressFamilyInet = AF_INET;
const int kAddressFamilyInet6 = AF_INET6;
const int kSocketStream = SOCK_STREAM;
const int kResolveAddressConfig = AI_ADDRCONFIG;

static_assert(sizeof(sockaddr_storage) == kSocketAddressSize, "the storage holds any socket address");

namespace {

// The one place where the system's error numbers become SocketError.
SocketError errorFrom(int code) {
  if (code == EAGAIN || code == EWOULDBLOCK || code == EINPROGRESS) return SocketError::kWouldBlock;
  if (code == EINTR) return SocketError::kInterrupted;
  if (code == ETIMEDOUT) return SocketError::kTimedOut;
  return SocketError::kOther;
}

int fd(SocketHandle handle) { return static_cast<int>(handle); }

using Clock = std::chrono::steady_clock;

// Rounded up, so that a wait does not end just short of the deadline.
int millisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>((left + 999) / 1000) : 0;
}

// Waits for a connect in progress to finish; timeoutMs < 0 waits for good.
SocketError finishConnect(int socket, int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    struct pollfd p = {socket, POLLOUT, 0};
    int rc = poll(&p, 1, timeoutMs < 0 ? -1 : millisecondsLeft(deadline));
    if (rc == 0) {
      if (Clock::now() < deadline) continue;  // woken a little early
      return SocketError::kTimedOut;
    }
    if (rc < 0) {
      if (errno == EINTR) continue;
      return errorFrom(errno);
    }
    int pending = 0;
    socklen_t size = sizeof pending;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &pending, &size) != 0) return errorFrom(errno);
    return pending == 0 ? SocketError::kNone : SocketError::kOther;
  }
}

}  // namespace

int resolveAddresses(const char *host, const char *service, int flags, int family, int socketType, int protocol,
                     std::vector<ResolvedAddress> *results) {
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_flags = flags;
  hints.ai_family = family;
  hints.ai_socktype = socketType;
  hints.ai_protocol = protocol;
  struct addrinfo *list = nullptr;
  int rc = getaddrinfo(host, service, &hints, &list);
  if (rc != 0) return rc;
  appendResolved(list, results);
  freeaddrinfo(list);
  return 0;
}

void resolverErrorText(int code, char *buffer, size_t size) {
  if (size == 0) return;
  snprintf(buffer, size, "%s", gai_strerror(code));
}

SocketHandle openSocket(int family, int socketType, int protocol) {
  int s = socket(family, socketType | SOCK_CLOEXEC, protocol);
  return s < 0 ? kInvalidSocket : s;
}

SocketError connectSocket(SocketHandle handle, const SocketAddressStorage &address, uint32_t length, int timeoutMs) {
  const int s = fd(handle);
  const auto *sa = reinterpret_cast<const struct sockaddr *>(address.bytes);
  if (timeoutMs < 0) {
    if (connect(s, sa, length) == 0) return SocketError::kNone;
    // An interrupted blocking connect goes on in the background.
    return errno == EINTR ? finishConnect(s, -1) : errorFrom(errno);
  }
  if (!setSocketBlocking(handle, false)) return errorFrom(errno);
  SocketError result = SocketError::kNone;
  if (connect(s, sa, length) != 0) {
    result = (errno == EINPROGRESS || errno == EINTR) ? finishConnect(s, timeoutMs) : errorFrom(errno);
  }
  if (!setSocketBlocking(handle, true) && result == SocketError::kNone) result = errorFrom(errno);
  return result;
}

bool setSocketBlocking(SocketHandle handle, bool blocking) {
  int nonBlocking = blocking ? 0 : 1;
  return ioctl(fd(handle), FIONBIO, &nonBlocking) == 0;
}

int64_t socketSend(SocketHandle handle, const void *bytes, size_t length, bool noWait, bool more, SocketError *error) {
  // MSG_NOSIGNAL: a peer that has gone is an EPIPE result, not a SIGPIPE.
  ssize_t n = send(fd(handle), bytes, length, MSG_NOSIGNAL | (noWait ? MSG_DONTWAIT : 0) | (more ? MSG_MORE : 0));
  if (n >= 0) {
    *error = SocketError::kNone;
    return n;
  }
  *error = errorFrom(errno);
  return -1;
}

int64_t socketReceive(SocketHandle handle, void *buffer, size_t length, bool noWait, SocketError *error) {
  ssize_t n = recv(fd(handle), buffer, length, noWait ? MSG_DONTWAIT : 0);
  if (n >= 0) {
    *error = SocketError::kNone;
    return n;
  }
  *error = errorFrom(errno);
  return -1;
}

SocketError waitSocket(SocketHandle handle, SocketWait what, int timeoutMs) {
  struct pollfd p = {fd(handle), static_cast<short>(what == SocketWait::kRead ? POLLIN : POLLOUT), 0};
  int rc = poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
  if (rc > 0) return SocketError::kNone;
  if (rc == 0) return SocketError::kTimedOut;
  return errorFrom(errno);
}

void closeSocket(SocketHandle handle) {
  if (handle != kInvalidSocket) close(fd(handle));
}

bool numericHostText(const SocketAddressStorage &address, uint32_t length, char *host, size_t hostSize) {
  return getnameinfo(reinterpret_cast<const struct sockaddr *>(address.bytes), length, host,
                     static_cast<socklen_t>(hostSize), nullptr, 0, NI_NUMERICHOST) == 0;
}

}  // namespace ryx::platform
