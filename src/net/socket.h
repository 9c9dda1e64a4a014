// SPDX-License-Identifier: MIT
// TCP client sockets: resolve a host and port, connect trying each address
// in turn, write a buffer completely, read in chunks of up to 512 bytes,
// and render a socket address as text for log lines.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/cstring.h"
#include "platform/socket.h"

namespace ryx {

// A receive gathers up to this many bytes; its buffer must hold as many.
constexpr size_t kReceiveChunk = 512;

// What one call to the system may read ahead of the caller.  Chunks of 512
// bytes are what receive hands out, not what it asks the system for: one
// system call per 512 bytes costs more than the rest of a large answer.
constexpr size_t kReadAhead = 64 * 1024;

// Socket types: TCP over IPv4 and over IPv6.
constexpr int kSocketTypeTcp4 = 0;
constexpr int kSocketTypeTcp6 = 4;

// How long one connect attempt may take before the next address is tried.
// The system's own limit is minutes; the callers run on the user
// interface's thread.
constexpr int kConnectTimeoutMs = 5000;

using SocketClock = std::chrono::steady_clock;

class Socket {
 public:
  class Address {
   public:
    Address();  // empty: length 0
    Address(const void *storage, uint32_t length);

    // The numeric host text ("127.0.0.1", "::1"), or null (with a warning).
    CString toString() const;

    platform::SocketAddressStorage storage{};
    uint32_t length = 0;
  };

  Socket(platform::SocketHandle handle, int type);
  // Owners call close() first; a handle still open here is closed so that
  // none leaks.
  virtual ~Socket();
  Socket(const Socket &) = delete;
  Socket &operator=(const Socket &) = delete;

  platform::SocketHandle handle() const { return handle_; }
  int type() const { return type_; }

  // Writes all `length` bytes; returns `length`, or -1 on error.  With
  // `more`, the next bytes follow at once and may leave in the same packet.
  int64_t sendAll(const void *bytes, size_t length, bool more = false);
  // Gathers up to kReceiveChunk bytes at `buffer`; their number, 0 at the
  // end of the stream, -1 on error.
  int64_t receive(char *buffer);
  // One send or recv call: the byte count, 0 when the call would block,
  // -1 on any other failure or for an invalid handle.  receiveOnce first
  // hands out what receive has read ahead.
  int64_t sendOnce(const void *bytes, size_t length);
  int64_t receiveOnce(void *buffer, size_t length);

  void close();
  // Connects; timeoutMs < 0 waits as long as the system does.
  bool connect(const Address &address, int timeoutMs = -1);
  // Puts the socket in blocking mode; false for an invalid handle.
  bool setBlocking();

  // Reads ahead into the caller's `buffer` of `size` bytes (kept alive
  // while the socket reads) rather than into one of its own, so that a
  // caller making many requests reuses one buffer.  Only before reading.
  void lendReadAhead(char *buffer, size_t size);

  // From now on sendAll and receive give up (with -1, and timedOut() true)
  // once `deadline` has passed, instead of waiting on the peer for good.
  void setDeadline(SocketClock::time_point deadline);
  bool timedOut() const { return timedOut_; }

 private:
  // Waits for the socket until the deadline: false (timedOut_ set when the
  // time ran out) when the caller should give up.
  bool waitUntilDeadline(platform::SocketWait what);

  platform::SocketHandle handle_;
  int type_;
  // Bytes read from the system and not yet handed out are
  // ahead_[aheadBegin_, aheadEnd_); ahead_ is ownAhead_ or the caller's.
  CString ownAhead_;
  char *ahead_ = nullptr;
  size_t aheadSize_ = 0;
  size_t aheadBegin_ = 0;
  size_t aheadEnd_ = 0;
  bool peerClosed_ = false;  // the system said end of stream; it will not say otherwise
  bool hasDeadline_ = false;
  bool timedOut_ = false;
  SocketClock::time_point deadline_{};
};

class TCPSocket : public Socket {
 public:
  using Socket::Socket;

  // Resolves `host` and `port` and connects to the first address that
  // accepts, each attempt bounded by connectTimeoutMs (< 0: the system's
  // limit) and all of them by `deadline`.  Null when none connects.
  static std::unique_ptr<TCPSocket> getClientSocket(const char *host, uint16_t port,
                                                    int connectTimeoutMs = kConnectTimeoutMs,
                                                    SocketClock::time_point deadline = SocketClock::time_point::max());
};

}  // namespace ryx
