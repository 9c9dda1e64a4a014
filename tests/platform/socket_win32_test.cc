// SPDX-License-Identifier: MIT
// The Winsock back-end and the TCP table's owners on loopback, with a
// listener of the test's own.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "platform/peer_user.h"
#include "platform/socket.h"

namespace ryx::platform {
namespace {

Endpoint endpointOf(SOCKET s, bool peer) {
  sockaddr_in address{};
  int size = sizeof address;
  if (peer)
    getpeername(s, reinterpret_cast<sockaddr *>(&address), &size);
  else
    getsockname(s, reinterpret_cast<sockaddr *>(&address), &size);
  return Endpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

class SocketWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    // Resolving starts Winsock for the process, as the network code does.
    ASSERT_EQ(resolveAddresses("127.0.0.1", "0", 0, kAddressFamilyInet, kSocketStream, 0, &loopback_), 0);
    ASSERT_EQ(loopback_.size(), 1u);
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(bind(listener_, reinterpret_cast<const sockaddr *>(loopback_[0].address.bytes), loopback_[0].length), 0);
    ASSERT_EQ(listen(listener_, 4), 0);
    port_ = endpointOf(listener_, false).port;
    reinterpret_cast<sockaddr_in *>(loopback_[0].address.bytes)->sin_port = htons(port_);
  }
  void TearDown() override {
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
  }

  std::vector<ResolvedAddress> loopback_;
  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
};

TEST_F(SocketWin32, ConnectsSendsAndReceivesWithinTheirBounds) {
  SocketHandle client = openSocket(kAddressFamilyInet, kSocketStream, 0);
  ASSERT_NE(client, kInvalidSocket);
  ASSERT_EQ(connectSocket(client, loopback_[0].address, loopback_[0].length, 5000), SocketError::kNone);
  SOCKET served = accept(listener_, nullptr, nullptr);
  ASSERT_NE(served, INVALID_SOCKET);

  char buffer[16];
  SocketError error = SocketError::kNone;
  EXPECT_EQ(socketReceive(client, buffer, sizeof buffer, true, &error), -1);  // nothing sent yet
  EXPECT_EQ(error, SocketError::kWouldBlock);
  EXPECT_EQ(waitSocket(client, SocketWait::kRead, 50), SocketError::kTimedOut);

  EXPECT_EQ(send(served, "ping", 4, 0), 4);
  EXPECT_EQ(waitSocket(client, SocketWait::kRead, 2000), SocketError::kNone);
  EXPECT_EQ(socketReceive(client, buffer, sizeof buffer, false, &error), 4);
  EXPECT_EQ(socketSend(client, "pong", 4, true, false, &error), 4);
  EXPECT_EQ(recv(served, buffer, sizeof buffer, 0), 4);
  EXPECT_EQ(std::memcmp(buffer, "pong", 4), 0);

  closesocket(served);
  EXPECT_EQ(socketReceive(client, buffer, sizeof buffer, false, &error), 0);  // the peer closed
  closeSocket(client);
}

TEST_F(SocketWin32, AConnectToAClosedPortFailsAsOther) {
  closesocket(listener_);
  listener_ = INVALID_SOCKET;
  SocketHandle client = openSocket(kAddressFamilyInet, kSocketStream, 0);
  EXPECT_EQ(connectSocket(client, loopback_[0].address, loopback_[0].length, 5000), SocketError::kOther);
  closeSocket(client);
}

TEST_F(SocketWin32, OwnSocketsAreOursAndClosedOnesAreNobodys) {
  SocketHandle client = openSocket(kAddressFamilyInet, kSocketStream, 0);
  ASSERT_EQ(connectSocket(client, loopback_[0].address, loopback_[0].length, 5000), SocketError::kNone);
  SOCKET served = accept(listener_, nullptr, nullptr);
  ASSERT_NE(served, INVALID_SOCKET);
  PeerUser peer = connectionPeerUser(endpointOf(served, false), endpointOf(served, true));
  PeerUser listening = listenerUser(port_);
  closeSocket(client);
  closesocket(served);
  closesocket(listener_);
  listener_ = INVALID_SOCKET;
  EXPECT_EQ(listenerUser(port_).kind, PeerUser::Kind::kNone);  // nothing listens any more
  if (peer.kind == PeerUser::Kind::kUnknown && listening.kind == PeerUser::Kind::kUnknown)
    GTEST_SKIP() << "this system's TCP table names no owning processes: " << peer.reason;
  EXPECT_EQ(peer.kind, PeerUser::Kind::kSame) << peer.reason;
  EXPECT_EQ(listening.kind, PeerUser::Kind::kSame) << listening.reason;
}

}  // namespace
}  // namespace ryx::platform
