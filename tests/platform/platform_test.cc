// SPDX-License-Identifier: MIT
// The platform library: the library loader on the sample library built
// beside this test, the owner of loopback sockets of this process (another
// user's sockets are the whole-program tests': they need a second uid), and
// the named pipe back-end against a pipe server of the test's own (on
// Windows a pipe instance of CreateNamedPipeA); on POSIX also the session.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>

#include "platform/posix/pipe_folder.h"
#include "platform/session.h"
#define closesocket close
typedef int SOCKET;
const SOCKET INVALID_SOCKET = -1;
#endif

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "platform/dynamic_library.h"
#include "platform/named_pipe.h"
#include "platform/peer_user.h"
#include "test_support.h"

namespace ryx::platform {
namespace {

// SAMPLE_DIR holds the sample library built beside this test (on POSIX
// also as sample-dll.dll).  The system's own OpenGL library where no
// folder has one, and a missing GRID library: the state tests.
#ifdef _WIN32
const char kSeparator = ';';
const char kWithExtension[] = "sample.dll";
#else
const char kSeparator = ':';
const char kWithExtension[] = "sample-dll.dll";
#endif

bool loadsSample(const char *name) {
  Library *library = loadLibrary(name);
  if (library == nullptr) return false;
  auto fn = reinterpret_cast<int (*)()>(findSymbol(library, "ryxSampleExport"));
  EXPECT_EQ(fn != nullptr ? fn() : -1, 42);
  freeLibrary(library);
  return true;
}

TEST(DynamicLibrary, NamesAreSearchedOnTheLibraryPathThenInTheSystemsPlaces) {
  test::TempDir empty;
  const std::string firstEmpty = empty.path() + kSeparator + kSeparator + SAMPLE_DIR;
  test::ScopedEnv systemDir("RYX_SYSTEM_DIR", empty.path().c_str());
  const std::tuple<const char *, const char *, bool> cases[] = {
      // name, RYX_LIBRARY_PATH (null: unset), found
      {"sample", firstEmpty.c_str(), true},  // a bare name gets the suffix
      {kWithExtension, SAMPLE_DIR, true},    // a name with an extension is taken as given
      {"sample", nullptr, false},            // neither beside the program nor in the system folder
  };
  for (const auto &[name, libraryPath, found] : cases) {
    test::ScopedEnv path("RYX_LIBRARY_PATH", libraryPath);
    EXPECT_EQ(loadsSample(name), found) << name << " " << (libraryPath ? libraryPath : "(unset)");
  }
#ifndef _WIN32
  test::ScopedEnv sampleIsSystem("RYX_SYSTEM_DIR", SAMPLE_DIR);
  EXPECT_TRUE(loadsSample("sample"));
#endif
}

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

  auto peerOfServed = [&] { return connectionPeerUser(endpointOf(served, false), endpointOf(served, true)); };
  const PeerUser peer = peerOfServed(), listening = listenerUser(port);
  closesocket(client);
#ifndef _WIN32
  EXPECT_EQ(peerOfServed().kind, PeerUser::Kind::kNone);  // the client let go first: its socket lingers unowned
#endif
  closesocket(served);
  closesocket(listener);
  EXPECT_EQ(listenerUser(port).kind, PeerUser::Kind::kNone);  // nothing listens any more
  if (peer.kind == PeerUser::Kind::kUnknown && listening.kind == PeerUser::Kind::kUnknown)
    GTEST_SKIP() << "this system's TCP table names no owning processes: " << peer.reason;
  EXPECT_EQ(peer.kind, PeerUser::Kind::kSame) << peer.reason;
  EXPECT_EQ(listening.kind, PeerUser::Kind::kSame) << listening.reason;
}

using std::chrono::milliseconds;
using std::chrono::steady_clock;

using Io = std::pair<PipeIo, uint32_t>;  // a call's result and its byte count

PipeDeadline in(int ms) { return steady_clock::now() + milliseconds(ms); }

class PipeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    closePipe(pipe_);
    closeServer();
#ifndef _WIN32
    close(listener_);
#endif
  }
  // Each call starts from a count it never leaves, so a count left unset shows.
  Io clientRead(bool whole, uint32_t size, int ms) {
    uint32_t got = 12345;
    return {(whole ? readPipe : readPipeSome)(pipe_, buffer_, size, &got, in(ms)), got};
  }
  Io clientWrite(const std::string &data, int ms) {
    uint32_t done = 12345;
    return {writePipe(pipe_, data.data(), static_cast<uint32_t>(data.size()), &done, in(ms)), done};
  }
#ifdef _WIN32
  // Opens the pipe as a client of a new pipe instance.
  void connectBoth() {
    server_ = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                               4096, 4096, 0, nullptr);
    ASSERT_NE(server_, INVALID_HANDLE_VALUE);
    pipe_ = openPipe(name_.c_str(), PipeAccess::kReadWrite, in(2000));
    ASSERT_NE(nullptr, pipe_);
    ASSERT_TRUE(ConnectNamedPipe(server_, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED);
  }
  int serverWrite(const char *data, size_t size) {
    DWORD done = 0;
    return WriteFile(server_, data, static_cast<DWORD>(size), &done, nullptr) ? static_cast<int>(done) : -1;
  }
  int serverRead(char *data, size_t size) {
    DWORD done = 0;
    return ReadFile(server_, data, static_cast<DWORD>(size), &done, nullptr) ? static_cast<int>(done) : -1;
  }
  void closeServer() {
    if (server_ != INVALID_HANDLE_VALUE) CloseHandle(server_);
    server_ = INVALID_HANDLE_VALUE;
  }

  const std::string name_ = "\\\\.\\pipe\\ryx-test-" + std::to_string(GetCurrentProcessId());
  HANDLE server_ = INVALID_HANDLE_VALUE;
#else
  void SetUp() override {
    ASSERT_EQ(0, mkdir(folder_.c_str(), 0700));
    listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::string path = folder_ + "/test-pipe";
    strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(0, bind(listener_, reinterpret_cast<struct sockaddr *>(&address), sizeof address));
    ASSERT_EQ(0, listen(listener_, 4));
  }
  // Opens the pipe as a client and accepts it as the server.
  void connectBoth() {
    pipe_ = openPipe(name_.c_str(), PipeAccess::kReadWrite, in(2000));
    ASSERT_NE(nullptr, pipe_);
    server_ = accept(listener_, nullptr, nullptr);
    ASSERT_GE(server_, 0);
  }
  int serverWrite(const char *data, size_t size) { return static_cast<int>(write(server_, data, size)); }
  int serverRead(char *data, size_t size) { return static_cast<int>(read(server_, data, size)); }
  void closeServer() {
    if (server_ >= 0) close(server_);
    server_ = -1;
  }

  const std::string name_ = "\\\\.\\pipe\\test-pipe";
  test::TempDir dir_;
  std::string folder_ = dir_ / "pipes";
  test::ScopedEnv pipeDir_{"RYX_PIPE_DIR", folder_.c_str()};
  int listener_ = -1;
  int server_ = -1;
#endif
  Pipe *pipe_ = nullptr;
  char buffer_[8] = {};
};

#ifndef _WIN32
// An empty variable counts as unset.
TEST(PipeFolder, FollowsTheEnvironment) {
  test::ScopedEnv env;
  env.set({"RYX_PIPE_DIR=", "XDG_RUNTIME_DIR=/run/user/5"});
  EXPECT_EQ(pipes::folder(), "/run/user/5/ryx-pipes");
  env.set("RYX_PIPE_DIR", nullptr);
  env.set("XDG_RUNTIME_DIR", "");
  EXPECT_EQ(pipes::folder(), "/tmp/ryx-pipes-" + std::to_string(getuid()));
}

TEST(PipeFolder, MapsPipeNamesToSockets) {
  test::ScopedEnv dir("RYX_PIPE_DIR", "/p");
  const std::pair<std::string, const char *> cases[] = {
      // "-": not a pipe name
      {"\\\\.\\pipe\\VNC_Visualization_Ext_Session-3", "/p/VNC_Visualization_Ext_Session-3"},
      {"\\\\.\\PIPE\\x", "/p/x"},
      {"\\\\.\\pipe\\", "-"},
      {"\\\\.\\pipe\\..", "-"},
      {"\\\\.\\pipe\\a/b", "-"},
      {"VNC_Visualization_Ext_Session-3", "-"},
      {"\\\\.\\pipe\\" + std::string(120, 'n'), "-"},  // longer than a socket path
  };
  for (const auto &[name, expected] : cases) {
    std::string path;
    EXPECT_EQ(pipes::socketPath(name.c_str(), &path) ? path : "-", expected) << name;
  }
}

TEST_F(PipeTest, OpensOnlyAPipeThatIsServedInAPrivateFolderAndClosesIt) {
  EXPECT_EQ(nullptr, openPipe("\\\\.\\pipe\\no-such-pipe", PipeAccess::kReadWrite, in(2000)));
  chmod(folder_.c_str(), 0777);
  EXPECT_EQ(nullptr, openPipe(name_.c_str(), PipeAccess::kReadWrite, in(2000)));
  chmod(folder_.c_str(), 0700);
  connectBoth();
  closePipe(pipe_);
  pipe_ = nullptr;
  pollfd ready = {server_, POLLIN, 0};
  ASSERT_EQ(1, poll(&ready, 1, 2000)) << "closing the pipe ends the server's stream";
  EXPECT_EQ(0, serverRead(buffer_, 1));
}

#endif

// readPipe waits for the whole count, readPipeSome takes what arrived;
// both end at the deadline, and short where the server closes.
TEST_F(PipeTest, ReadsWaitForTheirCountUntilTheDeadlineOrTheClose) {
  connectBoth();
  ASSERT_EQ(2, serverWrite("ab", 2));
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(Io(PipeIo::kOk, 2), clientRead(false, 5, 2000));
  ASSERT_EQ(2, serverWrite("ab", 2));
  std::thread later([this] {
    std::this_thread::sleep_for(milliseconds(100));
    ASSERT_EQ(3, serverWrite("cde", 3));
  });
  EXPECT_EQ(Io(PipeIo::kOk, 5), clientRead(true, 5, 2000));
  later.join();
  EXPECT_EQ(std::string(buffer_, 5), "abcde");

  ASSERT_EQ(1, serverWrite("a", 1));
  auto start = steady_clock::now();
  EXPECT_EQ(Io(PipeIo::kTimedOut, 1), clientRead(true, 4, 200));
  EXPECT_GE(steady_clock::now() - start, milliseconds(190));
  EXPECT_EQ(PipeIo::kTimedOut, clientRead(false, 4, 100).first);

  ASSERT_EQ(3, serverWrite("abc", 3));
  closeServer();
  EXPECT_EQ(Io(PipeIo::kOk, 3), clientRead(true, 8, 2000));
  EXPECT_EQ(Io(PipeIo::kOk, 0), clientRead(false, 8, 2000));
}

// A write that the server does not read ends at the deadline.
TEST_F(PipeTest, WritesWholeOrEndAtTheDeadlineAndFailOnABrokenPipe) {
  connectBoth();
  const std::string big(1 << 20, 'x');  // more than a socket buffer holds, read as it comes
  std::string received;
  std::thread reader([&] {
    char chunk[65536];
    for (int n; received.size() < big.size() && (n = serverRead(chunk, sizeof chunk)) > 0;) received.append(chunk, n);
  });
  EXPECT_EQ(Io(PipeIo::kOk, 1u << 20), clientWrite(big, 5000));
  reader.join();
  EXPECT_EQ(big, received);
  const Io blocked = clientWrite(std::string(8 << 20, 'x'), 300);
  EXPECT_EQ(PipeIo::kTimedOut, blocked.first);
  EXPECT_LT(blocked.second, 8u << 20);
  closeServer();
  // The first write after the close may still be taken; a later one fails
  // (and raises no SIGPIPE, which would end the test).
  PipeIo result = PipeIo::kOk;
  for (int i = 0; i < 3 && result == PipeIo::kOk; ++i) result = clientWrite("abc", 2000).first;
  EXPECT_EQ(PipeIo::kFailed, result);
}

#ifndef _WIN32
// The environment's XDG_SESSION_ID where it is a 32-bit number, else the
// kernel's, where there is one (4294967295: none); untouched without either.
TEST(SessionId, ComesFromTheLoginSession) {
  uint32_t kernel = 4294967295u;
  std::ifstream("/proc/self/sessionid") >> kernel;
  auto session = [](const char *variable, uint32_t pid = static_cast<uint32_t>(getpid())) {
    test::ScopedEnv env("XDG_SESSION_ID", variable);
    uint32_t id = 12345;
    return processSessionId(pid, &id) ? std::to_string(id) : "none " + std::to_string(id);
  };
  EXPECT_EQ(session("4294967295"), "4294967295");
  for (const char *invalid : {"4294967296", "7x", "", static_cast<const char *>(nullptr)})
    EXPECT_EQ(session(invalid), kernel != 4294967295u ? std::to_string(kernel) : "none 12345")
        << (invalid ? invalid : "(unset)");
  EXPECT_NE(session("7", 1), "7");  // another process's environment is not ours to read
}

// RYX_REMOTE_SESSION "1" and "0" decide; any other value leaves the answer
// to the login session.
TEST(SessionId, RemoteWhenTheEnvironmentSaysOne) {
  auto remote = [](const char *value) {
    test::ScopedEnv env("RYX_REMOTE_SESSION", value);
    return isRemoteSession();
  };
  const bool fromLogin = remote(nullptr);
  const std::pair<const char *, bool> cases[] = {{"1", true}, {"0", false}, {"", fromLogin}, {"10", fromLogin}};
  for (const auto &[value, expected] : cases) EXPECT_EQ(remote(value), expected) << '"' << value << '"';
}
#endif

}  // namespace
}  // namespace ryx::platform
