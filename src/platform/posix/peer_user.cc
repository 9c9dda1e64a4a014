// SPDX-License-Identifier: MIT
#include "platform/peer_user.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace ryx::platform {

namespace {

// The kernel answers at once; this bounds a receive that never ends.
constexpr int kReceiveTimeoutMs = 1000;
// A dump of listening sockets fits in a few of these; more is no answer.
constexpr int kMostReplies = 4096;

PeerUser unknown(const std::string &reason) { return PeerUser{PeerUser::Kind::kUnknown, {}, reason}; }

PeerUser ownerOf(const inet_diag_msg &message) {
  // An orphaned socket (closed by its program, or in TIME-WAIT) has no
  // inode and shows uid 0: it says nothing about who made it.
  if (message.idiag_inode == 0) return PeerUser{PeerUser::Kind::kNone, {}, "the socket is already closed"};
  if (message.idiag_uid == geteuid()) return PeerUser{PeerUser::Kind::kSame, {}, {}};
  return PeerUser{PeerUser::Kind::kOther, "uid " + std::to_string(message.idiag_uid), {}};
}

class DiagSocket {
 public:
  DiagSocket() : fd_(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {
    if (fd_ < 0) return;
    timeval timeout{kReceiveTimeoutMs / 1000, (kReceiveTimeoutMs % 1000) * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~DiagSocket() {
    if (fd_ >= 0) close(fd_);
  }
  DiagSocket(const DiagSocket &) = delete;
  DiagSocket &operator=(const DiagSocket &) = delete;

  int error() const { return fd_ < 0 ? errno : 0; }

  // Sends `request`, then hands each inet_diag_msg of the answer to
  // `visit` until the answer ends or `visit` returns false.  Returns 0, or
  // the errno the kernel or the socket gave.
  int exchange(inet_diag_req_v2 request, uint16_t flags, const std::function<bool(const inet_diag_msg &)> &visit) {
    struct {
      nlmsghdr header;
      inet_diag_req_v2 body;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | flags;
    message.body = request;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd_, &message, sizeof message, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0)
      return errno;
    alignas(nlmsghdr) char buffer[16384];
    for (int replies = 0; replies < kMostReplies;) {
      ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got < 0) return errno == EAGAIN ? ETIMEDOUT : errno;
      int left = static_cast<int>(got);
      for (auto *header = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(header, left);
           header = NLMSG_NEXT(header, left), ++replies) {
        if (header->nlmsg_type == NLMSG_DONE) return 0;
        if (header->nlmsg_type == NLMSG_ERROR) {
          int code = -static_cast<const nlmsgerr *>(NLMSG_DATA(header))->error;
          return code;
        }
        if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY) continue;
        if (!visit(*static_cast<const inet_diag_msg *>(NLMSG_DATA(header)))) return 0;
        if ((header->nlmsg_flags & NLM_F_MULTI) == 0) return 0;  // an exact lookup answers once
      }
    }
    return E2BIG;
  }

 private:
  int fd_;
};

std::string describe(int code) { return std::string("socket diagnostics: ") + strerror(code); }

}  // namespace

PeerUser connectionPeerUser(const Endpoint &local, const Endpoint &remote) {
  DiagSocket diag;
  if (int code = diag.error()) return unknown(describe(code));
  // The peer's socket: its local end is our remote one.
  inet_diag_req_v2 request{};
  request.sdiag_family = AF_INET;
  request.sdiag_protocol = IPPROTO_TCP;
  request.idiag_states = ~0u;
  request.id.idiag_sport = htons(remote.port);
  request.id.idiag_dport = htons(local.port);
  request.id.idiag_src[0] = htonl(remote.address);
  request.id.idiag_dst[0] = htonl(local.address);
  request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  PeerUser found{PeerUser::Kind::kNone, {}, "the socket is gone"};
  int code = diag.exchange(request, 0, [&](const inet_diag_msg &message) {
    found = ownerOf(message);
    return false;
  });
  if (code == ENOENT) return PeerUser{PeerUser::Kind::kNone, {}, "the socket is gone"};
  if (code != 0) return unknown(describe(code));
  return found;
}

PeerUser listenerUser(uint16_t port) {
  DiagSocket diag;
  if (int code = diag.error()) return unknown(describe(code));
  PeerUser found{PeerUser::Kind::kNone, {}, {}};
  for (int family : {AF_INET, AF_INET6}) {
    inet_diag_req_v2 request{};
    request.sdiag_family = static_cast<uint8_t>(family);
    request.sdiag_protocol = IPPROTO_TCP;
    request.idiag_states = 1u << TCP_LISTEN;
    int code = diag.exchange(request, NLM_F_DUMP, [&](const inet_diag_msg &message) {
      if (ntohs(message.id.idiag_sport) != port) return true;
      // Where a connect to 127.0.0.1 lands: 127.0.0.1 itself, any IPv4
      // address, or any IPv6 address (which takes IPv4 too).
      const uint32_t *address = message.id.idiag_src;
      bool reaches = family == AF_INET ? (ntohl(address[0]) == INADDR_LOOPBACK || address[0] == 0)
                                       : (address[0] == 0 && address[1] == 0 && address[2] == 0 && address[3] == 0);
      if (!reaches) return true;
      found = ownerOf(message);
      return false;
    });
    if (code != 0) return unknown(describe(code));
    if (found.kind != PeerUser::Kind::kNone) break;
  }
  return found;
}

}  // namespace ryx::platform
