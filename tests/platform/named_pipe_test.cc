// SPDX-License-Identifier: MIT
// The named pipe back-end: reads and writes against a pipe server of the
// test's own (a listening socket in a private pipe folder; on Windows a
// pipe instance made with CreateNamedPipeA), and on POSIX where pipes live
// and which names map to them.
#include "platform/named_pipe.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>

#include "platform/posix/pipe_folder.h"
#endif

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "test_support.h"

namespace ryx::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

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
#ifdef _WIN32
  // Opens the pipe as a client of a new pipe instance.
  void connectBoth(PipeAccess access = PipeAccess::kReadWrite) {
    server_ = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                               4096, 4096, 0, nullptr);
    ASSERT_NE(server_, INVALID_HANDLE_VALUE);
    pipe_ = openPipe(name_.c_str(), access, in(2000));
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
  void connectBoth(PipeAccess access = PipeAccess::kReadWrite) {
    pipe_ = openPipe(name_.c_str(), access, in(2000));
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
};

#ifndef _WIN32
TEST(PipeFolder, FollowsTheEnvironment) {
  const struct {
    const char *pipeDir, *runtimeDir;  // "" counts as unset
    std::string expected;
  } cases[] = {
      {"/x/pipes", "/run/user/5", "/x/pipes"},
      {"", "/run/user/5", "/run/user/5/ryx-pipes"},
      {nullptr, "", "/tmp/ryx-pipes-" + std::to_string(getuid())},
  };
  for (const auto &c : cases) {
    test::ScopedEnv a("RYX_PIPE_DIR", c.pipeDir), b("XDG_RUNTIME_DIR", c.runtimeDir);
    EXPECT_EQ(c.expected, pipes::folder()) << (c.pipeDir ? c.pipeDir : "(unset)");
  }
}

TEST(PipeFolder, MapsPipeNamesToSockets) {
  test::ScopedEnv dir("RYX_PIPE_DIR", "/p");
  struct Case {
    const char *name;
    const char *path;  // null: not a pipe name
  } cases[] = {
      {"\\\\.\\pipe\\VNC_Visualization_Ext_Session-3", "/p/VNC_Visualization_Ext_Session-3"},
      {"\\\\.\\PIPE\\x", "/p/x"},
      {"\\\\.\\pipe\\", nullptr},
      {"\\\\.\\pipe\\..", nullptr},
      {"\\\\.\\pipe\\a/b", nullptr},
      {"\\\\.\\pipe\\a\\b", nullptr},
      {"VNC_Visualization_Ext_Session-3", nullptr},
  };
  for (const Case &c : cases) {
    std::string path;
    EXPECT_EQ(c.path != nullptr, pipes::socketPath(c.name, &path)) << c.name;
    if (c.path != nullptr) {
      EXPECT_EQ(c.path, path);
    }
  }
  std::string path;
  EXPECT_FALSE(pipes::socketPath(("\\\\.\\pipe\\" + std::string(120, 'n')).c_str(), &path))
      << "longer than a socket path";
}

TEST_F(PipeTest, OpensOnlyAPipeThatIsServedInAPrivateFolderAndClosesIt) {
  EXPECT_EQ(nullptr, openPipe("\\\\.\\pipe\\no-such-pipe", PipeAccess::kReadWrite, in(2000)));
  EXPECT_EQ(nullptr, openPipe("test-pipe", PipeAccess::kReadWrite, in(2000)));
  chmod(folder_.c_str(), 0777);
  EXPECT_EQ(nullptr, openPipe("\\\\.\\pipe\\test-pipe", PipeAccess::kReadWrite, in(2000)));
  chmod(folder_.c_str(), 0700);
  connectBoth();
  closePipe(pipe_);
  pipe_ = nullptr;
  pollfd ready = {server_, POLLIN, 0};
  ASSERT_EQ(1, poll(&ready, 1, 2000)) << "closing the pipe ends the server's stream";
  char byte;
  EXPECT_EQ(0, serverRead(&byte, 1));
}

#else
TEST(NamedPipe, OpensOnlyPipesAServerOffersAndKnowsItsSession) {
  EXPECT_EQ(openPipe("\\\\.\\pipe\\ryx-test-nobody-serves-this", PipeAccess::kRead, in(200)), nullptr);
  EXPECT_EQ(openPipe("C:\\windows\\win.ini", PipeAccess::kRead, in(200)), nullptr);
  uint32_t session = 0xffffffffu;
  EXPECT_TRUE(processSessionId(GetCurrentProcessId(), &session));
  EXPECT_NE(session, 0xffffffffu);
}
#endif

// readPipe waits for the whole count, readPipeSome takes what arrived;
// both end at the deadline, and short where the server closes.
TEST_F(PipeTest, ReadsWaitForTheirCountUntilTheDeadlineOrTheClose) {
  connectBoth();
  char buffer[8] = {};
  uint32_t got = 0;
  ASSERT_EQ(2, serverWrite("ab", 2));
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(PipeIo::kOk, readPipeSome(pipe_, buffer, 5, &got, in(2000)));
  EXPECT_EQ(2u, got);

  ASSERT_EQ(2, serverWrite("ab", 2));
  std::thread later([this] {
    std::this_thread::sleep_for(milliseconds(100));
    ASSERT_EQ(3, serverWrite("cde", 3));
  });
  EXPECT_EQ(PipeIo::kOk, readPipe(pipe_, buffer, 5, &got, in(2000)));
  later.join();
  EXPECT_EQ(5u, got);
  EXPECT_EQ(0, memcmp(buffer, "abcde", 5));

  ASSERT_EQ(1, serverWrite("a", 1));
  auto start = steady_clock::now();
  EXPECT_EQ(PipeIo::kTimedOut, readPipe(pipe_, buffer, 4, &got, in(200)));
  EXPECT_EQ(1u, got);
  EXPECT_GE(steady_clock::now() - start, milliseconds(190));
  EXPECT_EQ(PipeIo::kTimedOut, readPipeSome(pipe_, buffer, 4, &got, in(100)));

  ASSERT_EQ(3, serverWrite("abc", 3));
  closeServer();
  EXPECT_EQ(PipeIo::kOk, readPipe(pipe_, buffer, 8, &got, in(2000)));
  EXPECT_EQ(3u, got);
  EXPECT_EQ(PipeIo::kOk, readPipeSome(pipe_, buffer, 8, &got, in(2000)));
  EXPECT_EQ(0u, got);
}

TEST_F(PipeTest, WritesWholeAndFailsOnABrokenPipe) {
  connectBoth();
  // More than a socket buffer holds, read by the server as it comes.
  std::string big(1 << 20, 'x');
  std::string received;
  std::thread reader([this, &received] {
    char chunk[65536];
    int n;
    while (received.size() < (1u << 20) && (n = serverRead(chunk, sizeof chunk)) > 0) received.append(chunk, n);
  });
  uint32_t written = 0;
  EXPECT_EQ(PipeIo::kOk, writePipe(pipe_, big.data(), static_cast<uint32_t>(big.size()), &written, in(5000)));
  reader.join();
  EXPECT_EQ(big.size(), written);
  EXPECT_EQ(big, received);

  closeServer();
  // The first write after the close may still be taken; a later one fails
  // (and raises no SIGPIPE, which would end the test).
  PipeIo result = PipeIo::kOk;
  for (int i = 0; i < 3 && result == PipeIo::kOk; ++i) result = writePipe(pipe_, "abc", 3, &written, in(2000));
  EXPECT_EQ(PipeIo::kFailed, result);
}

TEST_F(PipeTest, WriteEndsAtTheDeadlineWhenTheServerDoesNotReadAndNeedsWriteAccess) {
  connectBoth();
  std::string big(8 << 20, 'x');
  uint32_t written = 0;
  EXPECT_EQ(PipeIo::kTimedOut, writePipe(pipe_, big.data(), static_cast<uint32_t>(big.size()), &written, in(300)));
  EXPECT_LT(written, big.size());
  closePipe(pipe_);
  closeServer();
  connectBoth(PipeAccess::kRead);
  written = 7;
  EXPECT_EQ(PipeIo::kFailed, writePipe(pipe_, "a", 1, &written, in(2000)));
  EXPECT_EQ(0u, written);
}

#ifndef _WIN32
// The environment's XDG_SESSION_ID where it is a 32-bit number, else the kernel's.
TEST(SessionId, ComesFromTheLoginSession) {
  uint32_t kernel = 4294967295u;  // none
  std::ifstream("/proc/self/sessionid") >> kernel;
  const bool haveKernel = kernel != 4294967295u;
  const struct {
    const char *variable;
    bool found;
    uint32_t id;
  } cases[] = {{"4294967295", true, 4294967295u},
               {"4294967296", haveKernel, kernel},
               {"7x", haveKernel, kernel},
               {"", haveKernel, kernel},
               {nullptr, haveKernel, kernel}};
  for (const auto &c : cases) {
    test::ScopedEnv env("XDG_SESSION_ID", c.variable);
    uint32_t id = 12345;
    EXPECT_EQ(c.found, processSessionId(static_cast<uint32_t>(getpid()), &id)) << (c.variable ? c.variable : "(unset)");
    EXPECT_EQ(c.found ? c.id : 12345u, id) << "untouched when there is none";
  }
  // Another process's environment is not ours to read.
  test::ScopedEnv env("XDG_SESSION_ID", "7");
  uint32_t id = 12345;
  processSessionId(1, &id);
  EXPECT_NE(7u, id);
}
#endif

}  // namespace
}  // namespace ryx::platform
