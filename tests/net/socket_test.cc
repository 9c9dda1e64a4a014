// SPDX-License-Identifier: MIT
#include "net/socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "net/socket_private.h"
#include "log_capture.h"
#include "render_server.h"

namespace ryx {
namespace {

using Lines = std::vector<std::string>;
using test::LogCapture;
using test::RenderServer;

const char kRequest[] = "GET /index.html HTTP/1.0\r\n\r\n";

std::string failedLine(const char *address) {
  return std::string("I RYX (ryx::TCPSocket::getClientSocket): Failed to connect to addr: ") + address;
}

long long millisecondsSince(SocketClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SocketClock::now() - start).count();
}

platform::ResolvedAddress numericAddress(const char *host, uint16_t port) {
  std::vector<platform::ResolvedAddress> list;
  EXPECT_EQ(platform::resolveAddresses(host, std::to_string(port).c_str(), 0, platform::kAddressFamilyUnspecified,
                                       platform::kSocketStream, 0, &list),
            0);
  return list.empty() ? platform::ResolvedAddress() : list.front();
}

// receive() gathers chunks of 512 bytes; the one-shot calls take what it
// read ahead (the third round).
TEST(Socket, ReceiveGathersChunksOf512Bytes) {
  for (int round : {0, 1, 2}) {
    const bool withDeadline = round == 1;
    RenderServer server({"--mode", "raw", "--body-size", "700"});
    LogCapture log;
    std::unique_ptr<TCPSocket> socket = TCPSocket::getClientSocket("127.0.0.1", server.port());
    ASSERT_NE(socket, nullptr);
    EXPECT_EQ(socket->type(), kSocketTypeTcp4);
    if (withDeadline) socket->setDeadline(SocketClock::now() + std::chrono::seconds(10));
    ASSERT_EQ(round == 2 ? socket->sendOnce(kRequest, strlen(kRequest)) : socket->sendAll(kRequest, strlen(kRequest)),
              static_cast<int64_t>(strlen(kRequest)));
    char buffer[kReceiveChunk], more[4096];
    std::string received;
    std::vector<int64_t> counts;
    for (int i = 0; i < 3; ++i) {
      int64_t n = round == 2 && i == 1 ? socket->receiveOnce(more, sizeof more) : socket->receive(buffer);
      counts.push_back(n);
      if (n > 0) received.append(round == 2 && i == 1 ? more : buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(counts, (std::vector<int64_t>{512, 188, 0})) << "round " << round;
    EXPECT_EQ(received, test::bodyPattern(700));
    socket->close();
    EXPECT_EQ(socket->handle(), platform::kInvalidSocket);
    EXPECT_EQ(log.lines(), Lines{});
  }
}

TEST(Socket, InvalidHandleFailsEveryCallButEmptySend) {
  Socket socket(platform::kInvalidSocket, kSocketTypeTcp4);
  char buffer[kReceiveChunk];
  // An empty send makes no call, so it cannot fail.
  EXPECT_EQ((std::vector<int64_t>{socket.sendAll("x", 0), socket.sendAll("x", 1), socket.receive(buffer),
                                  socket.sendOnce("x", 1), socket.receiveOnce(buffer, sizeof buffer),
                                  socket.setBlocking(), socket.connect(Socket::Address())}),
            (std::vector<int64_t>{0, -1, -1, -1, -1, false, false}));
}

// Addresses of no IP family are skipped without a word; one that fails is
// logged and the next tried.
TEST(TCPSocket, TriesEachAddressUntilOneConnects) {
  RenderServer server({}, "::1");
  platform::ResolvedAddress local;
  local.family = AF_UNIX;
  local.socketType = SOCK_STREAM;
  std::vector<platform::ResolvedAddress> addresses = {local, numericAddress("127.0.0.1", server.port()),
                                                      numericAddress("::1", server.port())};
  LogCapture log;
  std::unique_ptr<TCPSocket> socket = detail::connectFirst(addresses, 1000, SocketClock::time_point::max());
  ASSERT_NE(socket, nullptr);
  EXPECT_EQ(socket->type(), kSocketTypeTcp6);
  EXPECT_EQ(log.lines(), Lines{failedLine("127.0.0.1")});
  socket->close();
}

// An unknown host logs the resolver's text; nothing listening, or a
// listener that never accepts (after the connect time-out), gives none.
// (A receive's deadline: the HTTP client's silent-server rows.)
TEST(TCPSocket, FailedConnectsGiveNoneAndSayWhy) {
  std::vector<platform::ResolvedAddress> none;
  const int resolver =
      platform::resolveAddresses("no-such-host.invalid", "2007", AI_ADDRCONFIG, platform::kAddressFamilyUnspecified,
                                 platform::kSocketStream, 0, &none);
  ASSERT_NE(resolver, 0);
  char resolverText[256];
  platform::resolverErrorText(resolver, resolverText, sizeof resolverText);
  RenderServer neverAccepts({"--mode", "never-accept"});
  const struct {
    const char *host;
    uint16_t port;
    long long atLeastMs;
    Lines lines;
  } cases[] = {
      {"no-such-host.invalid",
       2007,
       0,
       {std::string("W RYX (ryx::TCPSocket::getClientSocket): Failed to get address for host no-such-host.invalid "
                    "and port 2007: ") +
        resolverText}},
      {"127.0.0.1", test::unusedPort(), 0, {failedLine("127.0.0.1")}},
      {"127.0.0.1",
       neverAccepts.port(),
       300,  // never early: the wait is rounded up
       {"W RYX (ryx::TCPSocket::getClientSocket): Timed out after 300 ms connecting to addr: 127.0.0.1",
        failedLine("127.0.0.1")}},
  };
  for (const auto &c : cases) {
    LogCapture log;
    const SocketClock::time_point start = SocketClock::now();
    EXPECT_EQ(TCPSocket::getClientSocket(c.host, c.port, 300), nullptr) << c.host;
    EXPECT_GE(millisecondsSince(start), c.atLeastMs);
    EXPECT_LT(millisecondsSince(start), 3000);
    EXPECT_EQ(log.lines(), c.lines);
  }
}

// A listener that never accepts: the connection completes in its backlog
// and the data piles up until the buffers are full.
TEST(Socket, SendAllGivesUpAtTheDeadlineWhenNobodyReads) {
#ifdef _WIN32
  WSADATA winsock;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &winsock), 0);
#endif
  auto listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
  std::unique_ptr<TCPSocket> socket = TCPSocket::getClientSocket("127.0.0.1", ntohs(address.sin_port));
  ASSERT_NE(socket, nullptr);
  socket->setDeadline(SocketClock::now() + std::chrono::milliseconds(300));
  std::vector<char> data(64 * 1024 * 1024, 'x');
  EXPECT_EQ(socket->sendAll(data.data(), data.size()), -1);
  EXPECT_TRUE(socket->timedOut());
  socket->close();
#ifdef _WIN32
  closesocket(listener);
  WSACleanup();
#else
  close(listener);
#endif
}

TEST(SocketAddress, RendersNumericHostText) {
  auto text = [](const char *host, size_t length) {
    return std::string(Socket::Address(numericAddress(host, 80).address.bytes, length).toString().get());
  };
  EXPECT_EQ(text("127.0.0.1", sizeof(sockaddr_in)) + " " + text("::1", sizeof(sockaddr_in6)), "127.0.0.1 ::1");
  LogCapture log;
  EXPECT_EQ(Socket::Address().toString(), nullptr);
  EXPECT_EQ(log.lines(), Lines{"W RYX (ryx::Socket::Address::toString): Failed to convert socket address to string"});
}

}  // namespace
}  // namespace ryx
