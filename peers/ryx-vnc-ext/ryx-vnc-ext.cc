// SPDX-License-Identifier: MIT
// ryx-vnc-ext: a stand-in for the VNC server's visualization extension.
// It serves the session pipe (and, unless --old, the notification pipe) of
// one session in the user's pipe folder and answers "GetViewerList",
// "GetViewerInfo" and "TrackWindow" from a viewer list, or misbehaves on
// request.  See --help.
#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/pipe_folder.h"

namespace {

constexpr uint32_t kMaxRequestPayload = 16u * 1024u * 1024u;  // larger requests close the pipe
constexpr int kReplyTimeoutMs = 5000;                         // a client that does not read its reply is dropped
constexpr int kSlowReplyMs = 2500;                            // fault "slow": longer than a client's 2 s pipe deadline

const char kSummary[] =
    "Serves the VNC visualization extension's pipes of one session in the pipe\n"
    "folder ($RYX_PIPE_DIR, else $XDG_RUNTIME_DIR/ryx-pipes, else\n"
    "/tmp/ryx-pipes-UID): \"VNC_Visualization_Ext_Session-ID\" and, unless --old,\n"
    "\"VNC_Visualization_Ext_Notify-ID\", where ID is the session number or\n"
    "\"Console\" (the default).  Once both listen it prints one line\n"
    "\"ryx-vnc-ext serving PATH...\" on standard output.  SIGTERM or SIGINT ends it\n"
    "and removes the pipes.";

const char kDescription[] =
    "Viewers: --viewer ID:RVN:NAME, ID a decimal 64-bit id, RVN the flag byte sent\n"
    "(1 = supports RVN; any value 0-255) optionally followed by \",SECOND\" for\n"
    "the second flag byte, NAME up to 255 bytes.\n"
    "\n"
    "Changing the list while it runs: with --viewers-file FILE the list is read\n"
    "from FILE (one ID:RVN:NAME per line, '#' comments) at every GetViewerList\n"
    "and GetViewerInfo request, whenever FILE exists; write it to a temporary\n"
    "name and rename it into place.  Otherwise the --viewer list is used.\n"
    "\n"
    "Record: with --record FILE one line is appended per event:\n"
    "  connect PIPENAME\n"
    "  GetViewerList\n"
    "  GetViewerInfo id=ID\n"
    "  TrackWindow window=ID p=P flag=F n=N bytes=TOTAL data=HEX\n"
    "(P the frame's payload length, F the byte after the window id, N the data\n"
    "length field, TOTAL the request's size in bytes).  TrackWindow is accepted\n"
    "(status byte 1) when P = N + 13 and F = 1, refused (0) otherwise.\n"
    "\n"
    "Faults (--fault, may be repeated):\n"
    "  wrong-name       GetViewerList and GetViewerInfo replies carry each other's name\n"
    "  short-reply      list and info replies hold one payload byte less than P says;\n"
    "                   the pipe stays open\n"
    "  oversized        list and info replies say P = 4294967295 and send no payload\n"
    "  extra-bytes      the list payload ends in 4 bytes past the last whole id\n"
    "  short-name       info payloads give a name length 5 above the name sent\n"
    "  tiny-info        info payloads are 2 bytes (flags only)\n"
    "  track-refuse     TrackWindow is answered 0\n"
    "  track-two-bytes  TrackWindow is answered 01 01\n"
    "  silent           requests are read and never answered\n"
    "  close-mid-reply  the first half of each reply is sent, then the pipe is closed\n"
    "                   (TrackWindow: closed without an answer)\n"
    "  slow             every reply is sent whole, 2.5 s late (the whole stand-in waits)\n"
    "Unknown viewer ids get an empty info reply (P = 0); unknown commands close the pipe.";

const std::set<std::string> kFaults = {"wrong-name", "short-reply",     "oversized",    "extra-bytes",
                                       "short-name", "tiny-info",       "track-refuse", "track-two-bytes",
                                       "silent",     "close-mid-reply", "slow"};

struct Viewer {
  uint64_t id = 0;
  uint8_t rvn = 0;
  uint8_t second = 0;
  std::string name;
};

struct Client {
  int fd;
  bool session;  // false: the notification pipe, whose bytes are ignored
  std::string pipeName;
  std::vector<uint8_t> input;
};

struct Options {
  std::string sessionName = "Console";
  bool old = false;
  std::vector<Viewer> viewers;
  std::string viewersFile;
  std::string recordFile;
  std::set<std::string> faults;
  bool has(const char *fault) const { return faults.count(fault) != 0; }
};

bool parseViewer(const std::string &text, Viewer *viewer) {
  size_t first = text.find(':');
  size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  if (second == std::string::npos || first == 0) return false;
  std::string id = text.substr(0, first), flags = text.substr(first + 1, second - first - 1);
  char *end = nullptr;
  errno = 0;
  viewer->id = strtoull(id.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || id[0] == '-') return false;
  unsigned rvn = 0, secondFlag = 0;
  int consumed = 0;
  if (sscanf(flags.c_str(), "%u%n,%u%n", &rvn, &consumed, &secondFlag, &consumed) < 1 ||
      static_cast<size_t>(consumed) != flags.size() || rvn > 255 || secondFlag > 255)
    return false;
  viewer->rvn = static_cast<uint8_t>(rvn);
  viewer->second = static_cast<uint8_t>(secondFlag);
  viewer->name = text.substr(second + 1);
  return viewer->name.size() <= 255;
}

// The list from the control file when there is one, else from the command line.
std::vector<Viewer> currentViewers(const Options &options) {
  if (options.viewersFile.empty()) return options.viewers;
  std::ifstream in(options.viewersFile);
  if (!in) return options.viewers;
  std::vector<Viewer> viewers;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    Viewer viewer;
    if (!parseViewer(line, &viewer)) {
      fprintf(stderr, "ryx-vnc-ext: %s: bad viewer line \"%s\"\n", options.viewersFile.c_str(), line.c_str());
      continue;
    }
    viewers.push_back(viewer);
  }
  return viewers;
}

void record(const Options &options, const std::string &line) {
  if (options.recordFile.empty()) return;
  int fd = open(options.recordFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  std::string text = line + "\n";
  ssize_t ignored = write(fd, text.data(), text.size());
  (void)ignored;
  close(fd);
}

void putU32(std::vector<uint8_t> *out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (24 - 8 * i)));
}

void putU64(std::vector<uint8_t> *out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<uint8_t>(value >> (56 - 8 * i)));
}

uint32_t getU32(const uint8_t *at) {
  return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 | static_cast<uint32_t>(at[2]) << 8 |
         at[3];
}

uint64_t getU64(const uint8_t *at) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = value << 8 | at[i];
  return value;
}

// Sends all bytes or gives up after the reply time-out.
bool sendAll(int fd, const std::vector<uint8_t> &bytes, size_t count) {
  size_t sent = 0;
  while (sent < count) {
    ssize_t n = send(fd, bytes.data() + sent, count - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      struct pollfd p = {fd, POLLOUT, 0};
      if (poll(&p, 1, kReplyTimeoutMs) <= 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

class Server {
 public:
  explicit Server(Options options) : options_(std::move(options)) {}

  bool listenAll() {
    std::string error;
    if (!ryx::platform::pipes::prepareFolder(&error)) {
      fprintf(stderr, "ryx-vnc-ext: pipe folder %s\n", error.c_str());
      return false;
    }
    std::vector<std::string> names = {"VNC_Visualization_Ext_Session-" + options_.sessionName};
    if (!options_.old) names.push_back("VNC_Visualization_Ext_Notify-" + options_.sessionName);
    for (const std::string &name : names)
      if (!listenOn(name)) return false;
    return true;
  }

  // Serves until SIGTERM or SIGINT; returns the exit status.
  int run() {
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    int signals = signalfd(-1, &mask, SFD_CLOEXEC);
    if (signals < 0) {
      perror("ryx-vnc-ext: signalfd");
      return 1;
    }
    std::string line = "ryx-vnc-ext serving";
    for (const auto &l : listeners_) line += " " + l.second.second;
    printf("%s\n", line.c_str());
    fflush(stdout);

    for (;;) {
      std::vector<struct pollfd> polls;
      polls.push_back({signals, POLLIN, 0});
      for (const auto &l : listeners_) polls.push_back({l.first, POLLIN, 0});
      for (const Client &c : clients_) polls.push_back({c.fd, POLLIN, 0});
      if (poll(polls.data(), polls.size(), -1) < 0) {
        if (errno == EINTR) continue;
        perror("ryx-vnc-ext: poll");
        break;
      }
      if (polls[0].revents != 0) break;
      size_t at = 1;
      for (const auto &l : listeners_) {
        if (polls[at++].revents != 0) accept(l.first, l.second.first);
      }
      // Clients added above are not in this round's poll set.
      std::vector<int> ready;
      for (; at < polls.size(); ++at)
        if (polls[at].revents != 0) ready.push_back(polls[at].fd);
      for (int fd : ready) serve(fd);
    }
    close(signals);
    shutdown();
    return 0;
  }

  void shutdown() {
    for (const Client &c : clients_) close(c.fd);
    clients_.clear();
    for (const auto &l : listeners_) {
      close(l.first);
      unlink(l.second.second.c_str());
    }
    listeners_.clear();
  }

 private:
  bool listenOn(const std::string &name) {
    std::string path;
    if (!ryx::platform::pipes::socketPath(("\\\\.\\pipe\\" + name).c_str(), &path)) {
      fprintf(stderr, "ryx-vnc-ext: no socket path for %s\n", name.c_str());
      return false;
    }
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);

    // A socket left by an extension that died is replaced; a live one is not.
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(probe, reinterpret_cast<struct sockaddr *>(&address), sizeof address) == 0) {
      close(probe);
      fprintf(stderr, "ryx-vnc-ext: %s is already served\n", path.c_str());
      return false;
    }
    close(probe);
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(path.c_str());

    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
      fprintf(stderr, "ryx-vnc-ext: cannot serve %s: %s\n", path.c_str(), strerror(errno));
      if (fd >= 0) close(fd);
      return false;
    }
    bool session = name.find("_Session-") != std::string::npos;
    listeners_[fd] = {session, path};
    pipeNames_[fd] = name;
    return true;
  }

  void accept(int listener, bool session) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    clients_.push_back(Client{fd, session, pipeNames_[listener], {}});
    record(options_, "connect " + pipeNames_[listener]);
  }

  Client *find(int fd) {
    for (Client &c : clients_)
      if (c.fd == fd) return &c;
    return nullptr;
  }

  void drop(int fd) {
    close(fd);
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
      if (it->fd == fd) {
        clients_.erase(it);
        return;
      }
    }
  }

  void serve(int fd) {
    Client *client = find(fd);
    if (client == nullptr) return;
    uint8_t buffer[65536];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR && errno != EWOULDBLOCK)) {
      drop(fd);
      return;
    }
    if (n < 0 || !client->session) return;  // the notification pipe carries nothing
    client->input.insert(client->input.end(), buffer, buffer + n);

    // Whole request frames: L, name, P, payload.
    for (;;) {
      std::vector<uint8_t> &in = client->input;
      if (in.empty()) return;
      size_t nameLength = in[0];
      if (in.size() < 5 + nameLength) return;
      uint32_t payloadLength = getU32(in.data() + 1 + nameLength);
      if (payloadLength > kMaxRequestPayload) {
        drop(fd);
        return;
      }
      size_t total = 5 + nameLength + payloadLength;
      if (in.size() < total) return;
      std::string name(reinterpret_cast<const char *>(in.data() + 1), nameLength);
      std::vector<uint8_t> payload(in.begin() + 5 + nameLength, in.begin() + total);
      in.erase(in.begin(), in.begin() + total);
      if (!answer(fd, name, payload, total)) {
        drop(fd);
        return;
      }
    }
  }

  // Handles one request; false closes the pipe.
  bool answer(int fd, const std::string &name, const std::vector<uint8_t> &payload, size_t requestSize) {
    if (name == "GetViewerList") {
      record(options_, "GetViewerList");
      std::vector<uint8_t> body;
      for (const Viewer &v : currentViewers(options_)) putU64(&body, v.id);
      if (options_.has("extra-bytes")) body.insert(body.end(), {0xee, 0xee, 0xee, 0xee});
      return reply(fd, options_.has("wrong-name") ? "GetViewerInfo" : "GetViewerList", body);
    }
    if (name == "GetViewerInfo") {
      uint64_t id = payload.size() >= 8 ? getU64(payload.data()) : 0;
      record(options_, "GetViewerInfo id=" + std::to_string(id));
      std::vector<uint8_t> body;
      for (const Viewer &v : currentViewers(options_)) {
        if (v.id != id) continue;
        body = {v.rvn, v.second, static_cast<uint8_t>(v.name.size())};
        if (options_.has("short-name")) body[2] = static_cast<uint8_t>(std::min<size_t>(v.name.size() + 5, 255));
        body.insert(body.end(), v.name.begin(), v.name.end());
        if (options_.has("tiny-info")) body.resize(2);
        break;
      }
      return reply(fd, options_.has("wrong-name") ? "GetViewerList" : "GetViewerInfo", body);
    }
    if (name == "TrackWindow") return trackWindow(fd, payload, requestSize);
    fprintf(stderr, "ryx-vnc-ext: unknown command \"%s\"\n", name.c_str());
    return false;
  }

  bool trackWindow(int fd, const std::vector<uint8_t> &payload, size_t requestSize) {
    bool valid = payload.size() >= 13;
    uint64_t window = valid ? getU64(payload.data()) : 0;
    unsigned flag = valid ? payload[8] : 0;
    uint32_t n = valid ? getU32(payload.data() + 9) : 0;
    valid = valid && flag == 1 && n == payload.size() - 13;
    std::string hex;
    for (size_t i = 13; i < payload.size(); ++i) {
      char two[3];
      snprintf(two, sizeof two, "%02x", payload[i]);
      hex += two;
    }
    char line[160];
    snprintf(line, sizeof line, "TrackWindow window=%" PRIu64 " p=%zu flag=%u n=%u bytes=%zu data=", window,
             payload.size(), flag, n, requestSize);
    record(options_, line + hex);

    if (options_.has("silent")) return true;
    if (options_.has("close-mid-reply")) return false;
    lateIfSlow();
    std::vector<uint8_t> status = {static_cast<uint8_t>(valid && !options_.has("track-refuse") ? 1 : 0)};
    if (options_.has("track-two-bytes")) status = {1, 1};
    return sendAll(fd, status, status.size());
  }

  // Sends a reply frame, or misbehaves as told.  False closes the pipe.
  bool reply(int fd, const char *name, const std::vector<uint8_t> &body) {
    if (options_.has("silent")) return true;
    lateIfSlow();
    std::vector<uint8_t> frame;
    frame.push_back(static_cast<uint8_t>(strlen(name)));
    frame.insert(frame.end(), name, name + strlen(name));
    if (options_.has("oversized")) {
      putU32(&frame, 0xffffffffu);
      return sendAll(fd, frame, frame.size());
    }
    if (options_.has("short-reply")) {
      putU32(&frame, static_cast<uint32_t>(body.size() + 1));
      frame.insert(frame.end(), body.begin(), body.end());
      return sendAll(fd, frame, frame.size());
    }
    putU32(&frame, static_cast<uint32_t>(body.size()));
    frame.insert(frame.end(), body.begin(), body.end());
    if (options_.has("close-mid-reply")) {
      sendAll(fd, frame, std::max<size_t>(1, frame.size() / 2));
      return false;
    }
    return sendAll(fd, frame, frame.size());
  }

  void lateIfSlow() const {
    if (options_.has("slow")) g_usleep(kSlowReplyMs * G_TIME_SPAN_MILLISECOND);
  }

  Options options_;
  std::map<int, std::pair<bool, std::string>> listeners_;  // fd -> (session pipe?, path)
  std::map<int, std::string> pipeNames_;
  std::vector<Client> clients_;
};

}  // namespace

int main(int argc, char **argv) {
  g_autofree char *session = nullptr;
  gboolean console = FALSE, old = FALSE;
  g_auto(GStrv) viewers = nullptr;
  g_auto(GStrv) faults = nullptr;
  g_autofree char *viewersFile = nullptr, *recordFile = nullptr;
  GOptionEntry entries[] = {
      {"session", 0, 0, G_OPTION_ARG_STRING, &session, "Serve the pipes of session ID", "ID"},
      {"console", 0, 0, G_OPTION_ARG_NONE, &console, "Serve the console session's pipes (the default)", nullptr},
      {"old", 0, 0, G_OPTION_ARG_NONE, &old, "Act as the old extension: no notification pipe", nullptr},
      {"viewer", 0, 0, G_OPTION_ARG_STRING_ARRAY, &viewers, "A connected viewer (repeatable)", "ID:RVN:NAME"},
      {"viewers-file", 0, 0, G_OPTION_ARG_FILENAME, &viewersFile, "Read the viewer list from FILE at every request",
       "FILE"},
      {"record", 0, 0, G_OPTION_ARG_FILENAME, &recordFile, "Append connections and requests to FILE", "FILE"},
      {"fault", 0, 0, G_OPTION_ARG_STRING_ARRAY, &faults, "Misbehave (repeatable; see below)", "NAME"},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
  };
  g_autoptr(GOptionContext) context = g_option_context_new("- stand-in VNC visualization extension");
  g_option_context_set_summary(context, kSummary);
  g_option_context_set_description(context, kDescription);
  g_option_context_add_main_entries(context, entries, nullptr);
  g_autoptr(GError) error = nullptr;
  if (!g_option_context_parse(context, &argc, &argv, &error)) {
    fprintf(stderr, "ryx-vnc-ext: %s\n", error->message);
    return 2;
  }

  Options options;
  if (session != nullptr && console) {
    fprintf(stderr, "ryx-vnc-ext: --session and --console exclude each other\n");
    return 2;
  }
  if (session != nullptr) {
    char *end = nullptr;
    unsigned long id = strtoul(session, &end, 10);
    if (*session < '0' || *session > '9' || *end != '\0' || id > 0xfffffffful) {
      fprintf(stderr, "ryx-vnc-ext: bad session id \"%s\"\n", session);
      return 2;
    }
    options.sessionName = std::to_string(id);
  }
  options.old = old;
  for (char **v = viewers; v != nullptr && *v != nullptr; ++v) {
    Viewer viewer;
    if (!parseViewer(*v, &viewer)) {
      fprintf(stderr, "ryx-vnc-ext: bad viewer \"%s\" (want ID:RVN:NAME)\n", *v);
      return 2;
    }
    options.viewers.push_back(viewer);
  }
  for (char **f = faults; f != nullptr && *f != nullptr; ++f) {
    if (kFaults.count(*f) == 0) {
      fprintf(stderr, "ryx-vnc-ext: unknown fault \"%s\"\n", *f);
      return 2;
    }
    options.faults.insert(*f);
  }
  if (viewersFile != nullptr) options.viewersFile = viewersFile;
  if (recordFile != nullptr) options.recordFile = recordFile;

  // Signals are taken through a signalfd in the poll loop.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  sigprocmask(SIG_BLOCK, &mask, nullptr);

  Server server(std::move(options));
  if (!server.listenAll()) {
    server.shutdown();
    return 1;
  }
  return server.run();
}
