// SPDX-License-Identifier: MIT
// Named pipes as Unix domain stream sockets in the user's pipe folder
// (see pipe_folder.h); the session id from the login session.
#include "platform/named_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/pipe_folder.h"

namespace ryx::platform {

struct Pipe {
  int fd;
  PipeAccess access;
};

namespace pipes {

std::string folder() {
  const char *moved = getenv("RYX_PIPE_DIR");
  if (moved != nullptr && *moved != '\0') return moved;
  const char *runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/ryx-pipes";
  return "/tmp/ryx-pipes-" + std::to_string(static_cast<unsigned long>(getuid()));
}

bool socketPath(const char *name, std::string *path) {
  static const char kPrefix[] = "\\\\.\\pipe\\";  // \\.\pipe\ .
  const size_t prefixLength = sizeof kPrefix - 1;
  if (name == nullptr || strncasecmp(name, kPrefix, prefixLength) != 0) return false;
  std::string rest(name + prefixLength);
  if (rest.empty() || rest == "." || rest == ".." || rest.find_first_of("/\\") != std::string::npos) return false;
  std::string full = folder() + "/" + rest;
  if (full.size() >= sizeof(sockaddr_un{}.sun_path)) return false;
  *path = full;
  return true;
}

bool folderIsSafe(const std::string &path, std::string *error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    *error = path + ": " + strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = path + ": not a folder";
    return false;
  }
  if (st.st_uid != getuid()) {
    *error = path + ": owned by another user";
    return false;
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    *error = path + ": writable by others";
    return false;
  }
  return true;
}

bool prepareFolder(std::string *error) {
  std::string path = folder();
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    std::string parent = path.substr(0, slash);
    if (mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = parent + ": " + strerror(errno);
      return false;
    }
  }
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = path + ": " + strerror(errno);
    return false;
  }
  return folderIsSafe(path, error);
}

}  // namespace pipes

namespace {

// Milliseconds left until the deadline, rounded up, never negative.
int remainingMs(PipeDeadline deadline) {
  auto left = deadline - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 1000000 ? 1000000 : static_cast<int>(ms);
}

// Waits for `events` on fd.  1 ready, 0 deadline passed, -1 error.
int waitFor(int fd, short events, PipeDeadline deadline) {
  for (;;) {
    int ms = remainingMs(deadline);
    if (ms == 0) return 0;
    struct pollfd p = {fd, events, 0};
    int rc = poll(&p, 1, ms);
    if (rc > 0) return 1;
    if (rc < 0 && errno != EINTR) return -1;
  }
}

}  // namespace

Pipe *openPipe(const char *name, PipeAccess access, PipeDeadline deadline) {
  std::string path;
  if (!pipes::socketPath(name, &path)) {
    errno = EINVAL;
    return nullptr;
  }
  std::string error;
  if (!pipes::folderIsSafe(path.substr(0, path.rfind('/')), &error)) {
    errno = EACCES;
    return nullptr;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;

  // A blocking connect to a Unix socket waits while the server's backlog
  // is full; the send time-out bounds that wait by the deadline.
  int ms = remainingMs(deadline);
  struct timeval tv = {ms / 1000, (ms % 1000) * 1000};
  if (ms == 0) tv.tv_usec = 1000;
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (connect(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return nullptr;
  }
  struct timeval none = {0, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return new Pipe{fd, access};
}

void closePipe(Pipe *pipe) {
  if (pipe == nullptr) return;
  close(pipe->fd);
  delete pipe;
}

PipeIo writePipe(Pipe *pipe, const void *data, uint32_t size, uint32_t *written, PipeDeadline deadline) {
  *written = 0;
  if (pipe == nullptr || pipe->access != PipeAccess::kReadWrite) {
    errno = EBADF;
    return PipeIo::kFailed;
  }
  const char *bytes = static_cast<const char *>(data);
  while (*written < size) {
    ssize_t n = send(pipe->fd, bytes + *written, size - *written, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      *written += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      int ready = waitFor(pipe->fd, POLLOUT, deadline);
      if (ready == 0) return PipeIo::kTimedOut;
      if (ready < 0) return PipeIo::kFailed;
      continue;
    }
    return PipeIo::kFailed;
  }
  return PipeIo::kOk;
}

PipeIo readPipe(Pipe *pipe, void *buffer, uint32_t size, uint32_t *read, PipeDeadline deadline) {
  *read = 0;
  if (pipe == nullptr) {
    errno = EBADF;
    return PipeIo::kFailed;
  }
  char *bytes = static_cast<char *>(buffer);
  while (*read < size) {
    ssize_t n = recv(pipe->fd, bytes + *read, size - *read, MSG_DONTWAIT);
    if (n > 0) {
      *read += static_cast<uint32_t>(n);
      continue;
    }
    if (n == 0) return PipeIo::kOk;  // the server closed: a short read
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      int ready = waitFor(pipe->fd, POLLIN, deadline);
      if (ready == 0) return PipeIo::kTimedOut;
      if (ready < 0) return PipeIo::kFailed;
      continue;
    }
    return PipeIo::kFailed;
  }
  return PipeIo::kOk;
}

PipeIo readPipeSome(Pipe *pipe, void *buffer, uint32_t size, uint32_t *read, PipeDeadline deadline) {
  *read = 0;
  if (pipe == nullptr) {
    errno = EBADF;
    return PipeIo::kFailed;
  }
  if (size == 0) return PipeIo::kOk;
  for (;;) {
    ssize_t n = recv(pipe->fd, buffer, size, MSG_DONTWAIT);
    if (n >= 0) {
      *read = static_cast<uint32_t>(n);
      return PipeIo::kOk;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return PipeIo::kFailed;
    int ready = waitFor(pipe->fd, POLLIN, deadline);
    if (ready == 0) return PipeIo::kTimedOut;
    if (ready < 0) return PipeIo::kFailed;
  }
}

namespace {

// A whole decimal number that fits 32 bits.
bool parseSessionNumber(const char *text, uint32_t *value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char *end = nullptr;
  errno = 0;
  unsigned long long number = strtoull(text, &end, 10);
  if (errno != 0 || number > 0xffffffffull) return false;
  while (*end == '\n') ++end;
  if (*end != '\0') return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

}  // namespace

// The login session, in this order:
// 1. for this process, XDG_SESSION_ID when it is a number: the session id
//    the login manager (systemd-logind through pam_systemd) gave the
//    desktop session we run in, which the VNC server of that session sees
//    as well;
// 2. /proc/PID/sessionid, the kernel's audit session of the process, set
//    at login by pam_loginuid; logind names its sessions after it where
//    auditing is on, so it normally equals the number above.  4294967295
//    means the process was not started from a login.
// Session names that are not numbers ("c1" from some display managers)
// give no id.  libsystemd's sd_pid_get_session() would answer the same
// name, so the program does not link it.
bool processSessionId(uint32_t processId, uint32_t *session) {
  uint32_t id = 0;
  if (processId == static_cast<uint32_t>(getpid()) && parseSessionNumber(getenv("XDG_SESSION_ID"), &id)) {
    *session = id;
    return true;
  }
  char path[64];
  snprintf(path, sizeof path, "/proc/%u/sessionid", processId);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[32];
  ssize_t n = ::read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return false;
  text[n] = '\0';
  if (!parseSessionNumber(text, &id) || id == 0xffffffffu) return false;
  *session = id;
  return true;
}

void clearLastError() { errno = 0; }

}  // namespace ryx::platform
