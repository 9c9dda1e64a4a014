// SPDX-License-Identifier: MIT
// TCP client sockets as the network library needs them: the resolver,
// opening and connecting (optionally with a time-out), one-shot send and
// receive, readiness waits and numeric address text.  A failed call is
// turned into a SocketError here, once, so that "would block" and
// "interrupted" mean the same on every back-end; callers never look at
// errno or WSAGetLastError themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ryx::platform {

// A socket handle: a file descriptor here, a SOCKET on Windows.
using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// Address families, socket type and resolver flag with the host's own
// values (AF_INET6 is 10 here, not 23).
extern const int kAddressFamilyUnspecified;
extern const int kAddressFamilyInet;
extern const int kAddressFamilyInet6;
extern const int kSocketStream;
extern const int kResolveAddressConfig;

// A socket address as the resolver returns it (a sockaddr_storage).
constexpr size_t kSocketAddressSize = 128;
struct SocketAddressStorage {
  alignas(8) unsigned char bytes[kSocketAddressSize];
};

struct ResolvedAddress {
  int family = 0;
  int socketType = 0;
  int protocol = 0;
  SocketAddressStorage address{};
  uint32_t length = 0;
};

enum class SocketError {
  kNone,
  kWouldBlock,   // a no-wait call found nothing to do
  kInterrupted,  // a signal cut the call short; try again
  kTimedOut,     // the time given ran out
  kOther,
};

// getaddrinfo with the given hints.  Returns 0 and the results in the
// resolver's order, or the resolver's error code.  The resolver has its own
// time-outs (those of the system's name service); they bound this call.
int resolveAddresses(const char *host, const char *service, int flags, int family, int socketType, int protocol,
                     std::vector<ResolvedAddress> *results);

// The resolver's text for one of its error codes, cut to fit `size` bytes.
void resolverErrorText(int code, char *buffer, size_t size);

// A new socket, or kInvalidSocket.
SocketHandle openSocket(int family, int socketType, int protocol);

// Connects.  With timeoutMs < 0 the call waits as long as the system does;
// otherwise it gives up with kTimedOut after timeoutMs milliseconds.  The
// socket is left in blocking mode either way.  kNone on success.
SocketError connectSocket(SocketHandle handle, const SocketAddressStorage &address, uint32_t length, int timeoutMs);

bool setSocketBlocking(SocketHandle handle, bool blocking);

// One send or recv call.  With noWait the call returns kWouldBlock instead
// of waiting, whatever the socket's mode.  With more, the caller says more
// bytes follow at once, and the system may hold these back to send them
// together (where it cannot, the flag does nothing).  Sending to a peer
// that has gone is an error result, never a signal.  The byte count, or -1
// with *error set.
int64_t socketSend(SocketHandle handle, const void *bytes, size_t length, bool noWait, bool more, SocketError *error);
int64_t socketReceive(SocketHandle handle, void *buffer, size_t length, bool noWait, SocketError *error);

// Waits up to timeoutMs (>= 0) for the socket to become readable (or
// writable).  kNone when ready (also for a peer that closed or failed:
// the next call tells), kTimedOut, kInterrupted or kOther.
enum class SocketWait { kRead, kWrite };
SocketError waitSocket(SocketHandle handle, SocketWait what, int timeoutMs);

void closeSocket(SocketHandle handle);

// The numeric host text of an address (getnameinfo with NI_NUMERICHOST),
// given the size of the storage to read.  False when the system cannot.
bool numericHostText(const SocketAddressStorage &address, uint32_t length, char *host, size_t hostSize);

}  // namespace ryx::platform
