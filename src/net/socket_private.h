// SPDX-License-Identifier: MIT
// The address walk of TCPSocket::getClientSocket, on its own so that it can
// be driven with a list of addresses the resolver of the machine would not
// give (an IPv6 and an IPv4 address of one host).
#pragma once

#include <memory>
#include <vector>

#include "net/socket.h"

namespace ryx::detail {

// Tries each IPv4 and IPv6 entry in order; the first that connects is the
// result.  Logs each failed address.
std::unique_ptr<TCPSocket> connectFirst(const std::vector<platform::ResolvedAddress> &addresses, int connectTimeoutMs,
                                        SocketClock::time_point deadline);

}  // namespace ryx::detail
