// SPDX-License-Identifier: MIT
// ryx-3dapp: a stand-in 3D application.  It connects to the console port as
// the OpenGL wrapper of a real application does, sends the application
// handshake and an update naming itself and its rendering server, then stays
// connected until it is killed (or told to leave).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void usage(FILE *out) {
  fputs(
      "Usage: ryx-3dapp [OPTION]...\n"
      "Connects to the console port of the RYX Configuration Utility as a 3D application.\n"
      "\n"
      "  --port N                 console port (default: $RYX_CONSOLE_PORT, else 2000)\n"
      "  --name TEXT              application name sent in <AppName> (a Windows path is fine)\n"
      "  --rendering-server TEXT  rendering server sent in <RenderingServer>\n"
      "  --update KIND            send a malformed update instead: no-tags, no-closing-tag,\n"
      "                           cr-closing (\"</Update>\\r\" as its last line), nothing,\n"
      "                           garbage (4 KiB of random bytes, NULs included, then\n"
      "                           \"</Update>\"), endless (an update that never ends, sent as\n"
      "                           fast as it is read), trickle (one line of an update that\n"
      "                           never ends every 100 ms)\n"
      "  --send-after TEXT        send TEXT after the update\n"
      "  --close-at-once          close right after the handshake\n"
      "  --leave-after SECONDS    close the connection after SECONDS (default: stay until killed)\n"
      "  --help                   this text\n"
      "\n"
      "Prints \"connected\" on standard output once the update is sent.\n",
      out);
}

volatile sig_atomic_t stopping = 0;
void onSignal(int) { stopping = 1; }

bool sendAll(int fd, const std::string &data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Sends one more line of an update that never ends, waiting at most 100 ms
// for room; false once the connection is gone.
bool sendEndlessLine(int fd, unsigned long number) {
  std::string line = "<Line>" + std::to_string(number) + "</Line>\n";
  size_t done = 0;
  while (done < line.size() && !stopping) {
    struct pollfd p = {fd, POLLOUT, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    ssize_t n = send(fd, line.data() + done, line.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  long port = 2000;
  if (const char *env = getenv("RYX_CONSOLE_PORT")) port = strtol(env, nullptr, 10);
  std::string name = "ryx-3dapp", server, updateKind, after;
  bool hasServer = false, closeAtOnce = false;
  long leaveAfter = -1;

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char *option) -> const char * {
      if (i + 1 >= argc) {
        fprintf(stderr, "ryx-3dapp: %s needs a value\n", option);
        exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help") {
      usage(stdout);
      return 0;
    } else if (arg == "--port") {
      port = strtol(value("--port"), nullptr, 10);
    } else if (arg == "--name") {
      name = value("--name");
    } else if (arg == "--rendering-server") {
      server = value("--rendering-server");
      hasServer = true;
    } else if (arg == "--update") {
      updateKind = value("--update");
    } else if (arg == "--send-after") {
      after = value("--send-after");
    } else if (arg == "--close-at-once") {
      closeAtOnce = true;
    } else if (arg == "--leave-after") {
      leaveAfter = strtol(value("--leave-after"), nullptr, 10);
    } else {
      fprintf(stderr, "ryx-3dapp: unknown option %s\n", arg.c_str());
      usage(stderr);
      return 2;
    }
  }
  if (port <= 0 || port > 65535) {
    fprintf(stderr, "ryx-3dapp: bad port %ld\n", port);
    return 2;
  }

  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    fprintf(stderr, "ryx-3dapp: cannot connect to 127.0.0.1:%ld: %s\n", port, strerror(errno));
    return 1;
  }

  std::string message("RVN Dashboard Thread\n", 21);
  message.push_back('\0');
  if (!closeAtOnce) {
    std::string appName = "<AppName>" + name + "</AppName>\n";
    std::string serverLine = hasServer ? "<RenderingServer>" + server + "</RenderingServer>\n" : "";
    if (updateKind.empty())
      message += "<Update>\n" + appName + serverLine + "</Update>\n";
    else if (updateKind == "no-tags")
      message += "<Update>\nnothing of interest\n</Update>\n";
    else if (updateKind == "no-closing-tag")
      message += "<Update>\n<AppName>" + name + "\n<RenderingServer>" + server + "\n</Update>\n";
    else if (updateKind == "cr-closing")
      message += "<Update>\n" + appName + serverLine + "</Update>\r\n";
    else if (updateKind == "garbage") {
      unsigned seed = 12345;  // the same bytes every run
      for (int i = 0; i < 4096; ++i) message.push_back(static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16));
      message += "\n</Update>\n";
    } else if (updateKind == "endless" || updateKind == "trickle")
      message += "<Update>\n" + appName + serverLine;
    else if (updateKind != "nothing") {
      fprintf(stderr, "ryx-3dapp: unknown update kind %s\n", updateKind.c_str());
      return 2;
    }
    message += after;
  }
  if (!sendAll(fd, message)) {
    fprintf(stderr, "ryx-3dapp: cannot send: %s\n", strerror(errno));
    return 1;
  }
  if (closeAtOnce) {
    close(fd);
    return 0;
  }
  printf("connected\n");
  fflush(stdout);

  signal(SIGTERM, onSignal);
  signal(SIGINT, onSignal);
  if (updateKind == "endless" || updateKind == "trickle") {
    for (unsigned long n = 0; !stopping && sendEndlessLine(fd, n); ++n)
      if (updateKind == "trickle") usleep(100000);
    close(fd);
    return 0;
  }
  for (long waited = 0; !stopping && (leaveAfter < 0 || waited < leaveAfter * 10); ++waited) usleep(100000);
  close(fd);
  return 0;
}
