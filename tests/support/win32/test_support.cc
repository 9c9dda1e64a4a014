// SPDX-License-Identifier: MIT
// The Windows side of test_support.h: folders, environment, runProgram,
// and Child for the Linux stand-in peers under Wine.
// PrivateBus has no counterpart here; the tests that need it are POSIX
// builds only.
#include "test_support.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>

namespace ryx::test {

TempDir::TempDir() {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  // Process id and a counter name the folder; one that exists is passed over.
  static unsigned counter = 0;
  while (!error) {
    path_ = (base / ("ryx-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter))).string();
    if (std::filesystem::create_directory(path_, error)) return;
  }
  abort();
}

TempDir::~TempDir() {
  std::error_code error;
  if (getenv("RYX_TEST_KEEP") == nullptr) std::filesystem::remove_all(path_, error);
}

void setEnvironment(const char *name, const char *value) {
  // _putenv_s keeps the C runtime's copy (getenv) and the process's own in step; "" removes.
  _putenv_s(name, value != nullptr ? value : "");
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
  ScopedEnv env;  // a child inherits the environment
  env.set(extraEnv);
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

namespace {

// A Windows path as the Unix side sees it; empty outside Wine, whose
// kernel32 alone exports the conversion.
std::string unixPath(const std::string &path) {
  using Convert = char *(CDECL *)(const wchar_t *);
  static const auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
  if (convert == nullptr) return "";
  std::wstring wide(path.begin(), path.end());
  char *converted = convert(wide.c_str());
  if (converted == nullptr) return "";
  std::string result(converted);
  HeapFree(GetProcessHeap(), 0, converted);
  return result;
}

std::string shellQuoted(const std::string &arg) {
  std::string out = "'";
  for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

// The stand-in peers are the Linux programs themselves.  Wine starts a Unix
// program that CreateProcess names on its Z: drive but hands it none of
// our handles, so sh writes the program's pid, output and exit status to
// files here and ends it on stop(); `timeout` ends one whose test died first.
Child::Child(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv, const std::string &logBase)
    : logBase_(logBase) {
  static TempDir folder;
  static unsigned counter = 0;
  const std::string base = folder / ("child-" + std::to_string(++counter));
  const std::string unixBase = unixPath(base);
  outFile_ = logBase.empty() ? base + ".out" : logBase + ".out";
  const std::string unixOut = unixPath(outFile_), unixErr = logBase.empty() ? "" : unixPath(logBase + ".err");
  if (unixBase.empty() || unixOut.empty() || (!logBase.empty() && unixErr.empty()) || argv.empty()) return;
  std::string command = "timeout 300";
  for (const std::string &arg : argv) command += " " + shellQuoted(arg);
  ScopedEnv env;  // a child inherits the environment
  env.set(extraEnv);
  // Each file is written whole under another name, then renamed.
  const std::string pid = shellQuoted(unixBase + ".pid"), status = shellQuoted(unixBase + ".status");
  std::string script = command + " > " + shellQuoted(unixOut) + " 2>" +
                       (logBase.empty() ? std::string("&1") : " " + shellQuoted(unixErr)) +
                       " < /dev/null & echo $! > " + pid + ".new && mv " + pid + ".new " + pid +
                       "; wait $!; echo $? > " + status + ".new && mv " + status + ".new " + status;
  std::string commandLine = "Z:\\bin\\sh -c " + (quoted)(script);  // not std::quoted
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int waited = 0; waited < 5000 && pid_ <= 0; waited += 10) {
    pid_ = atoi(readFile(base + ".pid").c_str());
    if (pid_ <= 0) Sleep(10);
  }
  statusFile_ = base + ".status";
  out_ = 0;  // here: how much of that file has been read
}

Child::~Child() { stop(); }

bool Child::readLine(std::string *line, int timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    size_t end = buffered_.find('\n');
    if (end != std::string::npos) {
      *line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return true;
    }
    // Read afresh each time: the C runtime's descriptor stays at its end of
    // file once it has met it, even while the peer goes on writing.
    std::string output = pid_ > 0 ? readFile(outFile_) : std::string();
    if (output.size() > static_cast<size_t>(out_)) {
      buffered_.append(output, static_cast<size_t>(out_), std::string::npos);
      out_ = static_cast<int>(output.size());
      continue;
    }
    if (pid_ <= 0 || GetTickCount64() >= deadline) return false;
    Sleep(10);  // a file has no readiness to wait for
  }
}

int Child::wait(int timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs > 0 ? timeoutMs : 0);
  while (pid_ > 0) {
    if (fileExists(statusFile_)) {
      status_ = atoi(readFile(statusFile_).c_str());
      pid_ = -1;
    } else if (GetTickCount64() >= deadline) {
      return -1;
    } else {
      Sleep(10);
    }
  }
  return status_;
}

int Child::stop() {
  if (pid_ <= 0) return -1;
  // SIGTERM, then SIGKILL after 5 s.
  const std::string pid = std::to_string(pid_);
  runProgram({"Z:\\bin\\sh", "-c",
              "kill " + pid + " 2>/dev/null || exit 0; for i in $(seq 50); do kill -0 " + pid +
                  " 2>/dev/null || exit 0; sleep 0.1; done; kill -9 " + pid});
  return wait(5000);
}

}  // namespace ryx::test
