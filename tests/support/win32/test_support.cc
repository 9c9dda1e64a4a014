// SPDX-License-Identifier: MIT
// The Windows side of test_support.h: folders, environment, captured
// streams and runProgram.  Programs in the background (Child, PrivateBus)
// have no counterpart here; the tests that need them are POSIX builds only.
#include "test_support.h"

#include <winsock2.h>
#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace ryx::test {

TempDir::TempDir() {
  std::error_code error;
  std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) abort();
  // Process id and a counter name the folder; CreateDirectoryA refuses one that exists.
  static unsigned counter = 0;
  for (;;) {
    std::string name = "ryx-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) + "-" +
                       std::to_string(GetTickCount64() % 100000);
    std::string candidate = (base / name).string();
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) abort();
  }
}

TempDir::~TempDir() {
  std::error_code error;
  if (getenv("RYX_TEST_KEEP") == nullptr) std::filesystem::remove_all(path_, error);
}

void setEnvironment(const char *name, const char *value) {
  // _putenv_s keeps the C runtime's copy (getenv) and the process's own in step; "" removes.
  _putenv_s(name, value != nullptr ? value : "");
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
  const char *old = getenv(name);
  hadValue_ = old != nullptr;
  if (hadValue_) oldValue_ = old;
  setEnvironment(name, value);
}

ScopedEnv::~ScopedEnv() { setEnvironment(name_.c_str(), hadValue_ ? oldValue_.c_str() : nullptr); }

CaptureFd::CaptureFd(int fd) : fd_(fd) {
  static TempDir folder;
  static unsigned counter = 0;
  file_ = folder / ("capture-" + std::to_string(++counter));
  FILE *file = fopen(file_.c_str(), "wb");
  if (file == nullptr) abort();
  fflush(fd == 1 ? stdout : stderr);
  saved_ = _dup(fd);
  _dup2(_fileno(file), fd);
  fclose(file);
}

std::string CaptureFd::finish() {
  if (saved_ < 0) return readFile(file_);
  fflush(fd_ == 1 ? stdout : stderr);
  _dup2(saved_, fd_);
  _close(saved_);
  saved_ = -1;
  return readFile(file_);
}

CaptureFd::~CaptureFd() {
  finish();
  DeleteFileA(file_.c_str());
}

uint16_t unusedPort() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  uint16_t port = 0;
  if (s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  if (s != INVALID_SOCKET) closesocket(s);
  WSACleanup();
  return port;
}

namespace {

// One argument as the C runtime's command-line parser reads it back.
std::string quoted(const std::string &arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

HANDLE inheritableFile(const std::string &path, bool writing) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(writing ? path.c_str() : "NUL", writing ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, writing ? CREATE_ALWAYS : OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

RunResult runProgram(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv) {
  RunResult result;
  TempDir dir;
  std::string outFile = dir / "out", errFile = dir / "err";
  // The child inherits the environment, so extraEnv is applied around the start.
  std::vector<std::unique_ptr<ScopedEnv>> env;
  for (const std::string &entry : extraEnv) {
    size_t equals = entry.find('=');
    std::string name = entry.substr(0, equals);
    env.push_back(std::make_unique<ScopedEnv>(
        name.c_str(), equals == std::string::npos ? nullptr : entry.c_str() + equals + 1));
  }
  std::string commandLine;
  for (const std::string &arg : argv) commandLine += (commandLine.empty() ? "" : " ") + quoted(arg);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inheritableFile("", false);
  startup.hStdOutput = inheritableFile(outFile, true);
  startup.hStdError = inheritableFile(errFile, true);
  PROCESS_INFORMATION process = {};
  if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    result.status = static_cast<int>(status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) CloseHandle(handle);
  result.out = readTextFile(outFile);
  result.err = readTextFile(errFile);
  return result;
}

}  // namespace ryx::test
