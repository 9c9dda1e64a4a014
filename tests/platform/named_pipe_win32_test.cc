// SPDX-License-Identifier: MIT
// The pipe client against a server made with CreateNamedPipeA in a thread
// of the test.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/named_pipe.h"

namespace ryx::platform {
namespace {

using namespace std::chrono_literals;

PipeDeadline in(std::chrono::milliseconds ms) { return std::chrono::steady_clock::now() + ms; }

// One pipe instance; `serve` runs on the connected server end in a thread.
class PipeServer {
 public:
  explicit PipeServer(std::function<void(HANDLE)> serve) {
    static std::atomic<int> counter{0};
    name_ = "\\\\.\\pipe\\ryx-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    handle_ = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                               4096, 4096, 0, nullptr);
    thread_ = std::thread([this, serve] {
      if (ConnectNamedPipe(handle_, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) serve(handle_);
    });
  }
  ~PipeServer() {
    done_ = true;
    // A server still waiting for its client gets one, so that its thread ends.
    if (Pipe *wake = openPipe(name_.c_str(), PipeAccess::kRead, in(100ms))) closePipe(wake);
    thread_.join();
    CloseHandle(handle_);
  }
  const char *name() const { return name_.c_str(); }
  bool done() const { return done_; }

 private:
  std::string name_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

void writeAll(HANDLE handle, const std::string &text) {
  DWORD written = 0;
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

TEST(NamedPipeWin32, ExchangesBytesUntilTheServerCloses) {
  PipeServer server([](HANDLE end) {
    char request[5];
    DWORD got = 0;
    if (ReadFile(end, request, sizeof request, &got, nullptr) && got == 5) writeAll(end, "world!");
    FlushFileBuffers(end);
    DisconnectNamedPipe(end);
  });
  Pipe *pipe = openPipe(server.name(), PipeAccess::kReadWrite, in(2000ms));
  ASSERT_NE(pipe, nullptr);
  uint32_t moved = 0;
  EXPECT_EQ(writePipe(pipe, "hello", 5, &moved, in(2000ms)), PipeIo::kOk);
  EXPECT_EQ(moved, 5u);
  char answer[16] = {};
  EXPECT_EQ(readPipe(pipe, answer, sizeof answer, &moved, in(2000ms)), PipeIo::kOk);  // short: the server closed
  EXPECT_EQ(std::string(answer, moved), "world!");
  closePipe(pipe);
}

TEST(NamedPipeWin32, ASilentServerEndsReadsAtTheDeadline) {
  PipeServer server([&](HANDLE) {
    while (!server.done()) Sleep(10);
  });
  Pipe *pipe = openPipe(server.name(), PipeAccess::kRead, in(2000ms));
  ASSERT_NE(pipe, nullptr);
  char buffer[4];
  uint32_t moved = 1;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(readPipeSome(pipe, buffer, sizeof buffer, &moved, in(200ms)), PipeIo::kTimedOut);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(moved, 0u);
  EXPECT_GE(took, 190ms);
  EXPECT_LT(took, 2000ms);
  EXPECT_EQ(writePipe(pipe, "x", 1, &moved, in(200ms)), PipeIo::kFailed);  // opened for reading only
  closePipe(pipe);
}

TEST(NamedPipeWin32, OpensOnlyPipesAServerOffers) {
  EXPECT_EQ(openPipe("\\\\.\\pipe\\ryx-test-nobody-serves-this", PipeAccess::kRead, in(200ms)), nullptr);
  EXPECT_EQ(openPipe("C:\\windows\\win.ini", PipeAccess::kRead, in(200ms)), nullptr);
  uint32_t session = 0xffffffffu;
  EXPECT_TRUE(processSessionId(GetCurrentProcessId(), &session));
  EXPECT_NE(session, 0xffffffffu);
}

}  // namespace
}  // namespace ryx::platform
