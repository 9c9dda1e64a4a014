// SPDX-License-Identifier: MIT
// The owner of loopback sockets of this process; another user's sockets are
// the whole-program tests' (they need a second uid).
#include "platform/peer_user.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#define closesocket close
typedef int SOCKET;
const SOCKET INVALID_SOCKET = -1;
#endif

namespace {

using ryx::platform::Endpoint;
using ryx::platform::PeerUser;

Endpoint endpointOf(SOCKET fd, bool peer) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  (peer ? getpeername : getsockname)(fd, reinterpret_cast<sockaddr *>(&address), &size);
  return Endpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

TEST(PeerUser, OwnSocketsAreOursAndClosedOnesAreNobodys) {
#ifdef _WIN32
  WSADATA winsock;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &winsock), 0);
#endif
  SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  const uint16_t port = endpointOf(listener, false).port;
  SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
  address.sin_port = htons(port);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  SOCKET served = accept(listener, nullptr, nullptr);
  ASSERT_NE(served, INVALID_SOCKET);

  auto peerOfServed = [&] {
    return ryx::platform::connectionPeerUser(endpointOf(served, false), endpointOf(served, true));
  };
  const PeerUser peer = peerOfServed(), listening = ryx::platform::listenerUser(port);
  closesocket(client);
#ifndef _WIN32
  EXPECT_EQ(peerOfServed().kind, PeerUser::Kind::kNone);  // the client let go first: its socket lingers unowned
#endif
  closesocket(served);
  closesocket(listener);
  EXPECT_EQ(ryx::platform::listenerUser(port).kind, PeerUser::Kind::kNone);  // nothing listens any more
  if (peer.kind == PeerUser::Kind::kUnknown && listening.kind == PeerUser::Kind::kUnknown)
    GTEST_SKIP() << "this system's TCP table names no owning processes: " << peer.reason;
  EXPECT_EQ(peer.kind, PeerUser::Kind::kSame) << peer.reason;
  EXPECT_EQ(listening.kind, PeerUser::Kind::kSame) << listening.reason;
}

}  // namespace
