// SPDX-License-Identifier: MIT
// Which user a loopback TCP socket of this machine belongs to: the console
// port serves only its own user, on a server where every user's session
// shares 127.0.0.1.
#pragma once

#include <cstdint>
#include <string>

namespace ryx::platform {

struct PeerUser {
  enum class Kind {
    kSame,     // the socket belongs to this process's user
    kOther,    // to another user, named in `user`
    kNone,     // there is no such socket, or it is closed: nobody owns it
    kUnknown,  // the question could not be answered, for `reason`
  };
  Kind kind = Kind::kUnknown;
  std::string user;    // the other user as people read it (a uid here)
  std::string reason;  // why it could not be told, or why nobody owns it
};

// IPv4 endpoints in host byte order.
struct Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
};

// The owner of the other end of a loopback connection this process holds
// (`local` is our end, `remote` the peer's).  A peer whose socket is
// already closed (its program let go of it) is kNone, never a user.
//
// POSIX: the kernel's socket diagnostics (NETLINK_SOCK_DIAG), the uid of
// the socket whose local end is `remote`; every exchange is bounded.
PeerUser connectionPeerUser(const Endpoint &local, const Endpoint &remote);

// The owner of the socket listening on `port` where a connect to 127.0.0.1
// arrives (bound to 127.0.0.1, to any IPv4 address, or to any IPv6 address);
// kNone when nothing listens there.
PeerUser listenerUser(uint16_t port);

}  // namespace ryx::platform
