// SPDX-License-Identifier: MIT
// Winsock 2 back-end of the socket interface.  Winsock is started once, on
// first use, and stays up for the life of the process.
#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

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

bool startWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

// The one place where Winsock's error numbers become SocketError.
SocketError errorFrom(int code) {
  if (code == WSAEWOULDBLOCK || code == WSAEINPROGRESS || code == WSAEALREADY) return SocketError::kWouldBlock;
  if (code == WSAEINTR) return SocketError::kInterrupted;
  if (code == WSAETIMEDOUT) return SocketError::kTimedOut;
  return SocketError::kOther;
}

SocketError lastError() { return errorFrom(WSAGetLastError()); }

SOCKET sock(SocketHandle handle) { return static_cast<SOCKET>(handle); }

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>((left + 999) / 1000) : 0;
}

// Waits for a connect in progress.  select, not WSAPoll: Winsock reports a
// failed connect in the "except" set, which some WSAPoll versions never
// signal.
SocketError finishConnect(SOCKET s, int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    int ms = millisecondsLeft(deadline);
    timeval wait = {ms / 1000, (ms % 1000) * 1000};
    int rc = select(0, nullptr, &writable, &failed, &wait);
    if (rc == 0) {
      if (Clock::now() < deadline) continue;
      return SocketError::kTimedOut;
    }
    if (rc == SOCKET_ERROR) return lastError();
    int pending = 0;
    int size = sizeof pending;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&pending), &size) != 0) return lastError();
    if (pending == 0 && FD_ISSET(s, &failed)) return SocketError::kOther;
    return pending == 0 ? SocketError::kNone : errorFrom(pending);
  }
}

int clampLength(size_t length) { return length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length); }

}  // namespace

int resolveAddresses(const char *host, const char *service, int flags, int family, int socketType, int protocol,
                     std::vector<ResolvedAddress> *results) {
  if (!startWinsock()) return WSANOTINITIALISED;
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
  snprintf(buffer, size, "%s", gai_strerrorA(code));
}

SocketHandle openSocket(int family, int socketType, int protocol) {
  if (!startWinsock()) return kInvalidSocket;
  // Not inherited by child processes, as SOCK_CLOEXEC does elsewhere.
  SOCKET s = WSASocketW(family, socketType, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

SocketError connectSocket(SocketHandle handle, const SocketAddressStorage &address, uint32_t length, int timeoutMs) {
  const SOCKET s = sock(handle);
  const auto *sa = reinterpret_cast<const struct sockaddr *>(address.bytes);
  if (timeoutMs < 0) return connect(s, sa, static_cast<int>(length)) == 0 ? SocketError::kNone : lastError();
  if (!setSocketBlocking(handle, false)) return lastError();
  SocketError result = SocketError::kNone;
  if (connect(s, sa, static_cast<int>(length)) != 0) {
    int code = WSAGetLastError();
    result = code == WSAEWOULDBLOCK ? finishConnect(s, timeoutMs) : errorFrom(code);
  }
  if (!setSocketBlocking(handle, true) && result == SocketError::kNone) result = lastError();
  return result;
}

bool setSocketBlocking(SocketHandle handle, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ioctlsocket(sock(handle), FIONBIO, &nonBlocking) == 0;
}

namespace {

// Winsock has no per-call "don't wait" flag: a no-wait call on a blocking
// socket first asks whether it would wait.
bool wouldWait(SOCKET s, short events) {
  WSAPOLLFD p = {s, events, 0};
  return WSAPoll(&p, 1, 0) == 0;
}

}  // namespace

int64_t socketSend(SocketHandle handle, const void *bytes, size_t length, bool noWait, bool /*more*/,
                   SocketError *error) {
  // Winsock raises no signal for a peer that has gone, and has no way to
  // hold bytes back for more: `more` does nothing here.
  if (noWait && wouldWait(sock(handle), POLLWRNORM)) {
    *error = SocketError::kWouldBlock;
    return -1;
  }
  // A writable socket still blocks a send larger than its free buffer until
  // all of it is taken, so a no-wait send goes out in non-blocking mode and
  // takes what fits.  Sockets are blocking between calls (connect leaves
  // them so, and nothing above makes one non-blocking).
  if (noWait && !setSocketBlocking(handle, false)) {
    *error = lastError();
    return -1;
  }
  int n = send(sock(handle), static_cast<const char *>(bytes), clampLength(length), 0);
  int code = n == SOCKET_ERROR ? WSAGetLastError() : 0;
  if (noWait) setSocketBlocking(handle, true);
  if (n != SOCKET_ERROR) {
    *error = SocketError::kNone;
    return n;
  }
  *error = errorFrom(code);
  return -1;
}

int64_t socketReceive(SocketHandle handle, void *buffer, size_t length, bool noWait, SocketError *error) {
  if (noWait && wouldWait(sock(handle), POLLRDNORM)) {
    *error = SocketError::kWouldBlock;
    return -1;
  }
  int n = recv(sock(handle), static_cast<char *>(buffer), clampLength(length), 0);
  if (n != SOCKET_ERROR) {
    *error = SocketError::kNone;
    return n;
  }
  *error = lastError();
  return -1;
}

SocketError waitSocket(SocketHandle handle, SocketWait what, int timeoutMs) {
  WSAPOLLFD p = {sock(handle), static_cast<short>(what == SocketWait::kRead ? POLLRDNORM : POLLWRNORM), 0};
  int rc = WSAPoll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
  if (rc > 0) return SocketError::kNone;
  if (rc == 0) return SocketError::kTimedOut;
  return lastError();
}

void closeSocket(SocketHandle handle) {
  if (handle != kInvalidSocket) closesocket(sock(handle));
}

bool numericHostText(const SocketAddressStorage &address, uint32_t length, char *host, size_t hostSize) {
  return getnameinfo(reinterpret_cast<const struct sockaddr *>(address.bytes), static_cast<socklen_t>(length), host,
                     static_cast<DWORD>(hostSize), nullptr, 0, NI_NUMERICHOST) == 0;
}

}  // namespace ryx::platform
