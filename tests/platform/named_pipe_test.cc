// SPDX-License-Identifier: MIT
// The named pipe back-end: where pipes live, which names map to them, and
// reads and writes against a socket the test serves itself.
#include "platform/named_pipe.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "platform/posix/pipe_folder.h"
#include "test_support.h"

namespace ryx::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

PipeDeadline in(int ms) { return steady_clock::now() + milliseconds(ms); }

// A pipe server: a listening socket NAME in a private pipe folder.
class PipeTest : public ::testing::Test {
 protected:
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
  void TearDown() override {
    closePipe(pipe_);
    if (server_ >= 0) close(server_);
    close(listener_);
  }
  // Opens the pipe as a client and accepts it as the server.
  void connectBoth(PipeAccess access = PipeAccess::kReadWrite) {
    pipe_ = openPipe("\\\\.\\pipe\\test-pipe", access, in(2000));
    ASSERT_NE(nullptr, pipe_);
    server_ = accept(listener_, nullptr, nullptr);
    ASSERT_GE(server_, 0);
  }

  test::TempDir dir_;
  std::string folder_ = dir_ / "pipes";
  test::ScopedEnv pipeDir_{"RYX_PIPE_DIR", folder_.c_str()};
  int listener_ = -1;
  int server_ = -1;
  Pipe *pipe_ = nullptr;
};

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

TEST_F(PipeTest, OpensOnlyAPipeThatIsServedInAPrivateFolder) {
  EXPECT_EQ(nullptr, openPipe("\\\\.\\pipe\\no-such-pipe", PipeAccess::kReadWrite, in(2000)));
  EXPECT_EQ(nullptr, openPipe("test-pipe", PipeAccess::kReadWrite, in(2000)));
  chmod(folder_.c_str(), 0777);
  EXPECT_EQ(nullptr, openPipe("\\\\.\\pipe\\test-pipe", PipeAccess::kReadWrite, in(2000)));
  chmod(folder_.c_str(), 0700);
  connectBoth();
}

// readPipe waits for the whole count, readPipeSome takes what arrived;
// both end at the deadline, and short where the server closes.
TEST_F(PipeTest, ReadsWaitForTheirCountUntilTheDeadlineOrTheClose) {
  connectBoth();
  char buffer[8] = {};
  uint32_t got = 0;
  ASSERT_EQ(2, write(server_, "ab", 2));
  usleep(20000);
  EXPECT_EQ(PipeIo::kOk, readPipeSome(pipe_, buffer, 5, &got, in(2000)));
  EXPECT_EQ(2u, got);

  ASSERT_EQ(2, write(server_, "ab", 2));
  std::thread later([this] {
    std::this_thread::sleep_for(milliseconds(100));
    ASSERT_EQ(3, write(server_, "cde", 3));
  });
  EXPECT_EQ(PipeIo::kOk, readPipe(pipe_, buffer, 5, &got, in(2000)));
  later.join();
  EXPECT_EQ(5u, got);
  EXPECT_EQ(0, memcmp(buffer, "abcde", 5));

  ASSERT_EQ(1, write(server_, "a", 1));
  auto start = steady_clock::now();
  EXPECT_EQ(PipeIo::kTimedOut, readPipe(pipe_, buffer, 4, &got, in(200)));
  EXPECT_EQ(1u, got);
  EXPECT_GE(steady_clock::now() - start, milliseconds(190));
  EXPECT_EQ(PipeIo::kTimedOut, readPipeSome(pipe_, buffer, 4, &got, in(100)));

  ASSERT_EQ(3, write(server_, "abc", 3));
  close(server_);
  server_ = -1;
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
    ssize_t n;
    while (received.size() < (1u << 20) && (n = read(server_, chunk, sizeof chunk)) > 0) received.append(chunk, n);
  });
  uint32_t written = 0;
  EXPECT_EQ(PipeIo::kOk, writePipe(pipe_, big.data(), static_cast<uint32_t>(big.size()), &written, in(5000)));
  reader.join();
  EXPECT_EQ(big.size(), written);
  EXPECT_EQ(big, received);

  close(server_);
  server_ = -1;
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
  close(server_);
  connectBoth(PipeAccess::kRead);
  written = 7;
  EXPECT_EQ(PipeIo::kFailed, writePipe(pipe_, "a", 1, &written, in(2000)));
  EXPECT_EQ(0u, written);
}

// The environment's XDG_SESSION_ID where it is a 32-bit number, else the kernel's.
TEST(SessionId, ComesFromTheLoginSession) {
  uint32_t kernel = 4294967295u;  // none
  std::ifstream("/proc/self/sessionid") >> kernel;
  const bool haveKernel = kernel != 4294967295u;
  const struct {
    const char *variable;
    bool found;
    uint32_t id;
  } cases[] = {{"4294967295", true, 4294967295u}, {"4294967296", haveKernel, kernel}, {"7x", haveKernel, kernel},
               {"", haveKernel, kernel}, {nullptr, haveKernel, kernel}};
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

}  // namespace
}  // namespace ryx::platform
