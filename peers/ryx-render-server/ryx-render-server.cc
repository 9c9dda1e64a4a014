// SPDX-License-Identifier: MIT
// ryx-render-server: a stand-in for the external rendering server as far as
// the utility sees it, an HTTP server that answers GET /index.html.  It can
// be told to misbehave in the ways a real server or network can, so that
// the HTTP client's handling of each is tested against real sockets.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: ryx-render-server [OPTION]...\n"
    "Answers GET /index.html over HTTP/1.0, or misbehaves on request.\n"
    "Prints the port it listens on, then a newline, on standard output.\n"
    "\n"
    "  --address ADDR    address to listen on (default 127.0.0.1; ::1 for IPv6)\n"
    "  --port N          port to listen on; 0 (the default) lets the system choose\n"
    "  --status LINE     status line without its CRLF (default \"HTTP/1.0 200 OK\")\n"
    "  --header LINE     one more header line without its CRLF (may be repeated)\n"
    "  --body TEXT       body of the answer\n"
    "  --body-size N     body of N bytes of a repeating pattern instead of --body\n"
    "  --mode MODE       how to answer each connection (default normal):\n"
    "      normal          the answer; other paths than /index.html get 404\n"
    "      echo            a 200 answer whose body is the request as received\n"
    "      silent          read the request, never answer, keep the connection\n"
    "      no-close        answer and keep the connection open\n"
    "      no-empty-line   status line, headers and body with no empty line\n"
    "      bad-header      a header line without a colon\n"
    "      nul             a NUL byte inside a header line\n"
    "      close           read the request and close without a byte\n"
    "      reset           close as soon as the request has arrived, unread\n"
    "                      (the system resets the connection)\n"
    "      trickle         one byte of a head that never ends every 100 ms\n"
    "      endless         a head, then a body without end\n"
    "      raw             only the body bytes, no status line or headers\n"
    "      never-accept    never accept: connections wait in a full backlog\n"
    "  --count N         stop after N connections (default: serve until killed)\n"
    "  --hold-ms N       longest time a kept connection is held (default 60000)\n"
    "  --help            show this text\n";

enum class Mode {
  kNormal,
  kEcho,
  kSilent,
  kNoClose,
  kNoEmptyLine,
  kBadHeader,
  kNul,
  kClose,
  kReset,
  kTrickle,
  kEndless,
  kRaw,
  kNeverAccept,
};

struct ModeName {
  const char *name;
  Mode mode;
};
const ModeName kModes[] = {
    {"normal", Mode::kNormal},
    {"echo", Mode::kEcho},
    {"silent", Mode::kSilent},
    {"no-close", Mode::kNoClose},
    {"no-empty-line", Mode::kNoEmptyLine},
    {"bad-header", Mode::kBadHeader},
    {"nul", Mode::kNul},
    {"close", Mode::kClose},
    {"reset", Mode::kReset},
    {"trickle", Mode::kTrickle},
    {"endless", Mode::kEndless},
    {"raw", Mode::kRaw},
    {"never-accept", Mode::kNeverAccept},
};

struct Options {
  std::string address = "127.0.0.1";
  unsigned port = 0;
  std::string status = "HTTP/1.0 200 OK";
  std::vector<std::string> headers;
  std::string body = "<html><body>RYX rendering server</body></html>\n";
  Mode mode = Mode::kNormal;
  long count = -1;
  int holdMs = 60000;
};

// Reading a request is bounded in time and size: a client that sends
// nothing, or without end, does not hold the server.
constexpr int kRequestTimeoutMs = 2000;
constexpr size_t kMaxRequest = 16 * 1024;

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool sendAll(int fd, const char *data, size_t length) {
  while (length > 0) {
    ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool sendText(int fd, const std::string &text) { return sendAll(fd, text.data(), text.size()); }

// Reads (or, with peek, waits for without reading) the request head up to
// its empty line; false when it does not come in time or in size.
bool readRequest(int fd, std::string *request, bool peek) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kRequestTimeoutMs);
  std::vector<char> buffer(kMaxRequest);
  size_t have = 0;
  for (;;) {
    struct pollfd p = {fd, POLLIN, 0};
    int rc = poll(&p, 1, msLeft(deadline));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return false;
    ssize_t n = recv(fd, buffer.data() + (peek ? 0 : have), buffer.size() - (peek ? 0 : have), peek ? MSG_PEEK : 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    have = peek ? static_cast<size_t>(n) : have + static_cast<size_t>(n);
    request->assign(buffer.data(), have);
    if (request->find("\r\n\r\n") != std::string::npos) return true;
    if (have == buffer.size()) return false;
    // A peek sees the same bytes again until more arrive.
    if (peek) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Keeps the connection until the client closes it or the hold time ends.
void hold(int fd, int holdMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(holdMs);
  char sink[4096];
  for (;;) {
    struct pollfd p = {fd, POLLIN, 0};
    int rc = poll(&p, 1, msLeft(deadline));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return;
    if (recv(fd, sink, sizeof sink, 0) <= 0) return;
  }
}

std::string head(const Options &o, size_t contentLength) {
  std::string text = o.status + "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(contentLength) +
                     "\r\nConnection: close\r\n";
  for (const std::string &h : o.headers) text += h + "\r\n";
  return text;
}

void serve(int fd, const Options &o, const std::string &answer) {
  std::string request;
  switch (o.mode) {
    case Mode::kNeverAccept: break;
    case Mode::kReset:
      // Unread data at close makes the system send a reset.
      readRequest(fd, &request, true);
      break;
    case Mode::kClose: readRequest(fd, &request, false); break;
    case Mode::kSilent:
      if (readRequest(fd, &request, false)) hold(fd, o.holdMs);
      break;
    case Mode::kNoClose:
      if (readRequest(fd, &request, false) && sendText(fd, answer)) hold(fd, o.holdMs);
      break;
    case Mode::kTrickle: {
      if (!readRequest(fd, &request, false)) break;
      const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(o.holdMs);
      std::string start = o.status + "\r\nX-Trickle: ";
      if (!sendText(fd, start)) break;
      while (Clock::now() < deadline && sendText(fd, "a")) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      break;
    }
    case Mode::kEndless: {
      if (!readRequest(fd, &request, false)) break;
      const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(o.holdMs);
      std::string chunk(64 * 1024, 'x');
      if (!sendText(fd, o.status + "\r\nContent-Type: text/html\r\n\r\n")) break;
      while (Clock::now() < deadline && sendText(fd, chunk)) {
      }
      break;
    }
    case Mode::kEcho:
      if (readRequest(fd, &request, false)) sendText(fd, head(o, request.size()) + "\r\n" + request);
      break;
    case Mode::kNormal:
      if (!readRequest(fd, &request, false)) break;
      if (request.compare(0, 21, "GET /index.html HTTP/") == 0) {
        sendText(fd, answer);
      } else {
        static const char kNotFound[] = "<html><body>Not Found</body></html>\n";
        std::string notFound = "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
                               std::to_string(strlen(kNotFound)) + "\r\n\r\n" + kNotFound;
        sendText(fd, notFound);
      }
      break;
    case Mode::kNoEmptyLine:
    case Mode::kBadHeader:
    case Mode::kNul:
    case Mode::kRaw:
      if (readRequest(fd, &request, false)) sendText(fd, answer);
      break;
  }
  close(fd);
}

// The bytes sent for the modes whose answer is fixed.
std::string makeAnswer(const Options &o) {
  switch (o.mode) {
    case Mode::kRaw: return o.body;
    case Mode::kNoEmptyLine: return head(o, o.body.size()) + o.body;
    case Mode::kBadHeader: return head(o, o.body.size()) + "Content-Language en\r\n\r\n" + o.body;
    case Mode::kNul: return head(o, o.body.size()) + std::string("X-Nul: a\0b\r\n\r\n", 14) + o.body;
    default: return head(o, o.body.size()) + "\r\n" + o.body;
  }
}

bool isHolding(Mode mode) {
  return mode == Mode::kSilent || mode == Mode::kNoClose || mode == Mode::kTrickle || mode == Mode::kEndless;
}

bool parseNumber(const char *text, long min, long max, long *value) {
  char *end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
  *value = v;
  return true;
}

int usageError(const char *message, const char *arg) {
  fprintf(stderr, "ryx-render-server: %s: %s\nTry 'ryx-render-server --help'.\n", message, arg);
  return 2;
}

// Connects to the listener until a connect does not complete: the backlog
// is then full and every later client waits in its connect.
void fillBacklog(const sockaddr_storage &address, socklen_t length, std::vector<int> *fillers) {
  for (int i = 0; i < 64; ++i) {
    int fd = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    fillers->push_back(fd);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0) continue;
    if (errno != EINPROGRESS) return;
    struct pollfd p = {fd, POLLOUT, 0};
    if (poll(&p, 1, 200) == 0) return;  // this one waits: the backlog is full
  }
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  long size = -1;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help") {
      fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) return usageError("missing value or unknown option", argv[i]);
    const char *value = argv[++i];
    long number = 0;
    if (arg == "--address") {
      o.address = value;
    } else if (arg == "--port") {
      if (!parseNumber(value, 0, 65535, &number)) return usageError("bad port", value);
      o.port = static_cast<unsigned>(number);
    } else if (arg == "--status") {
      o.status = value;
    } else if (arg == "--header") {
      o.headers.push_back(value);
    } else if (arg == "--body") {
      o.body = value;
    } else if (arg == "--body-size") {
      if (!parseNumber(value, 0, 1L << 30, &size)) return usageError("bad size", value);
    } else if (arg == "--mode") {
      bool known = false;
      for (const ModeName &m : kModes)
        if (strcmp(m.name, value) == 0) o.mode = m.mode, known = true;
      if (!known) return usageError("unknown mode", value);
    } else if (arg == "--count") {
      if (!parseNumber(value, 1, 1L << 40, &o.count)) return usageError("bad count", value);
    } else if (arg == "--hold-ms") {
      if (!parseNumber(value, 0, 24L * 3600 * 1000, &number)) return usageError("bad time", value);
      o.holdMs = static_cast<int>(number);
    } else {
      return usageError("unknown option", argv[i - 1]);
    }
  }
  if (size >= 0) {
    static const char kPattern[] = "0123456789abcdefghijklmnopqrstuvwxyz\n";
    o.body.resize(static_cast<size_t>(size));
    for (size_t i = 0; i < o.body.size(); ++i) o.body[i] = kPattern[i % (sizeof kPattern - 1)];
  }
  signal(SIGPIPE, SIG_IGN);

  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo *ai = nullptr;
  int rc = getaddrinfo(o.address.c_str(), std::to_string(o.port).c_str(), &hints, &ai);
  if (rc != 0) return usageError("bad address", o.address.c_str());
  int listener = socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  if (listener < 0 || setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(listener, ai->ai_addr, ai->ai_addrlen) != 0 ||
      listen(listener, o.mode == Mode::kNeverAccept ? 0 : 64) != 0) {
    fprintf(stderr, "ryx-render-server: cannot listen on %s port %u: %s\n", o.address.c_str(), o.port, strerror(errno));
    return 1;
  }
  freeaddrinfo(ai);
  sockaddr_storage bound;
  socklen_t boundLength = sizeof bound;
  getsockname(listener, reinterpret_cast<sockaddr *>(&bound), &boundLength);
  const unsigned port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                                          : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);

  std::vector<int> fillers;
  if (o.mode == Mode::kNeverAccept) fillBacklog(bound, boundLength, &fillers);
  printf("%u\n", port);
  fflush(stdout);

  if (o.mode == Mode::kNeverAccept) {
    for (;;) pause();
  }

  const std::string answer = makeAnswer(o);
  for (long served = 0; o.count < 0 || served < o.count; ++served) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      perror("ryx-render-server: accept");
      return 1;
    }
    // Kept connections get a thread of their own so that the next client
    // is served meanwhile; the others are answered at once.
    if (isHolding(o.mode)) {
      std::thread(serve, fd, o, answer).detach();
    } else {
      serve(fd, o, answer);
    }
  }
  // Let connections still held finish their answers.
  if (isHolding(o.mode)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return 0;
}
