// SPDX-License-Identifier: MIT
// The owner of loopback sockets of this process; another user's sockets are
// the whole-program tests' (they need a second uid).
#include "platform/peer_user.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using ryx::platform::Endpoint;
using ryx::platform::PeerUser;

Endpoint endpointOf(int fd, bool peer) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (peer)
    getpeername(fd, reinterpret_cast<sockaddr *>(&address), &size);
  else
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
  return Endpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

TEST(PeerUser, OwnSocketsAreOursAndClosedOnesAreNobodys) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  const uint16_t port = endpointOf(listener, false).port;
  int client = socket(AF_INET, SOCK_STREAM, 0);
  address.sin_port = htons(port);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  int served = accept(listener, nullptr, nullptr);
  ASSERT_GE(served, 0);

  PeerUser peer = ryx::platform::connectionPeerUser(endpointOf(served, false), endpointOf(served, true));
  EXPECT_EQ(peer.kind, PeerUser::Kind::kSame) << peer.reason;
  EXPECT_EQ(ryx::platform::listenerUser(port).kind, PeerUser::Kind::kSame);

  // The client lets go first: its socket lingers without an owner.
  close(client);
  peer = ryx::platform::connectionPeerUser(endpointOf(served, false), endpointOf(served, true));
  EXPECT_EQ(peer.kind, PeerUser::Kind::kNone) << peer.reason;

  close(served);
  close(listener);
  EXPECT_EQ(ryx::platform::listenerUser(port).kind, PeerUser::Kind::kNone);
}

}  // namespace
