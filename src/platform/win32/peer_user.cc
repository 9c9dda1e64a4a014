// SPDX-License-Identifier: MIT
// The owner of a loopback TCP socket: the process the system's TCP table
// names for it, then the user of that process's token.
#include "platform/peer_user.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <memory>
#include <vector>

namespace ryx::platform {

namespace {

PeerUser unknown(const std::string &reason) { return PeerUser{PeerUser::Kind::kUnknown, {}, reason}; }

std::string describe(DWORD code) { return "system error " + std::to_string(code); }

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The token user of a process, as a SID copied into `sid`.
DWORD processUser(DWORD pid, std::vector<BYTE> *sid) {
  Handle process(pid == GetCurrentProcessId() ? nullptr : OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  HANDLE processHandle = pid == GetCurrentProcessId() ? GetCurrentProcess() : process.get();
  if (processHandle == nullptr) return GetLastError();
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(processHandle, TOKEN_QUERY, &rawToken)) return GetLastError();
  Handle token(rawToken);
  DWORD size = 0;
  GetTokenInformation(rawToken, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size > 0 ? size : 1);
  if (!GetTokenInformation(rawToken, TokenUser, buffer.data(), size, &size)) return GetLastError();
  PSID user = reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid;
  sid->assign(static_cast<BYTE *>(user), static_cast<BYTE *>(user) + GetLengthSid(user));
  return ERROR_SUCCESS;
}

std::string accountName(PSID sid) {
  char name[256], domain[256];
  DWORD nameSize = sizeof name, domainSize = sizeof domain;
  SID_NAME_USE use;
  if (!LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) return "an unnamed account";
  return domainSize > 0 ? std::string(domain) + "\\" + name : std::string(name);
}

PeerUser ownerOf(DWORD pid, DWORD state) {
  // Rows of sockets no program holds any longer (TIME-WAIT and the other
  // closing states) name process 0.  A listening or connected one always
  // has its process on Windows; a system that leaves it out (Wine does)
  // cannot tell.
  if (pid == 0 && state != MIB_TCP_STATE_LISTEN && state != MIB_TCP_STATE_ESTAB)
    return PeerUser{PeerUser::Kind::kNone, {}, "the socket is already closed"};
  if (pid == 0) return unknown("the system's TCP table names no process for the socket");
  std::vector<BYTE> theirs, ours;
  if (DWORD code = processUser(pid, &theirs)) return unknown(describe(code));
  if (DWORD code = processUser(GetCurrentProcessId(), &ours)) return unknown(describe(code));
  if (EqualSid(theirs.data(), ours.data())) return PeerUser{PeerUser::Kind::kSame, {}, {}};
  return PeerUser{PeerUser::Kind::kOther, accountName(theirs.data()), {}};
}

// The system's TCP table of one address family, with owning processes.
DWORD tcpTable(ULONG family, TCP_TABLE_CLASS kind, std::vector<BYTE> *table) {
  for (int attempt = 0; attempt < 4; ++attempt) {  // the table may grow between calls
    DWORD size = static_cast<DWORD>(table->size());
    DWORD rc = GetExtendedTcpTable(table->empty() ? nullptr : table->data(), &size, FALSE, family, kind, 0);
    if (rc == NO_ERROR) return rc;
    if (rc != ERROR_INSUFFICIENT_BUFFER) return rc;
    table->resize(size + 4096);
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

uint16_t portOf(DWORD networkPort) { return ntohs(static_cast<u_short>(networkPort)); }

}  // namespace

PeerUser connectionPeerUser(const Endpoint &local, const Endpoint &remote) {
  std::vector<BYTE> buffer;
  if (DWORD code = tcpTable(AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, &buffer)) return unknown(describe(code));
  const auto *table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID &row = table->table[i];
    // The peer's socket: its local end is our remote end, and back.
    if (ntohl(row.dwLocalAddr) == remote.address && portOf(row.dwLocalPort) == remote.port &&
        ntohl(row.dwRemoteAddr) == local.address && portOf(row.dwRemotePort) == local.port)
      return ownerOf(row.dwOwningPid, row.dwState);
  }
  return PeerUser{PeerUser::Kind::kNone, {}, "the socket is gone"};
}

PeerUser listenerUser(uint16_t port) {
  std::vector<BYTE> buffer;
  if (DWORD code = tcpTable(AF_INET, TCP_TABLE_OWNER_PID_LISTENER, &buffer)) return unknown(describe(code));
  const auto *table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID &row = table->table[i];
    uint32_t address = ntohl(row.dwLocalAddr);
    if (portOf(row.dwLocalPort) == port && (address == INADDR_LOOPBACK || address == INADDR_ANY))
      return ownerOf(row.dwOwningPid, row.dwState);
  }
  std::vector<BYTE> buffer6;
  if (DWORD code = tcpTable(AF_INET6, TCP_TABLE_OWNER_PID_LISTENER, &buffer6)) return unknown(describe(code));
  const auto *table6 = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID *>(buffer6.data());
  static const UCHAR kAny[16] = {};
  for (DWORD i = 0; i < table6->dwNumEntries; ++i) {
    const MIB_TCP6ROW_OWNER_PID &row = table6->table[i];
    if (portOf(row.dwLocalPort) == port && memcmp(row.ucLocalAddr, kAny, sizeof kAny) == 0)
      return ownerOf(row.dwOwningPid, row.dwState);
  }
  return PeerUser{PeerUser::Kind::kNone, {}, {}};
}

}  // namespace ryx::platform
