// SPDX-License-Identifier: MIT
// The one copy of a getaddrinfo result into the platform's records, for
// both back-ends (each includes its own system's resolver header first).
#pragma once

#include <cstring>
#include <vector>

#include "platform/socket.h"

namespace ryx::platform {

template <typename AddrInfo>
void appendResolved(const AddrInfo *list, std::vector<ResolvedAddress> *results) {
  for (const AddrInfo *ai = list; ai != nullptr; ai = ai->ai_next) {
    ResolvedAddress entry;
    entry.family = ai->ai_family;
    entry.socketType = ai->ai_socktype;
    entry.protocol = ai->ai_protocol;
    size_t length = ai->ai_addrlen < sizeof entry.address.bytes ? ai->ai_addrlen : sizeof entry.address.bytes;
    memcpy(entry.address.bytes, ai->ai_addr, length);
    entry.length = static_cast<uint32_t>(length);
    results->push_back(entry);
  }
}

}  // namespace ryx::platform
