// SPDX-License-Identifier: MIT
#include "session.h"

// The tests build this file with GoogleTest, so that a sanitizer's finding
// fails the running test; the benchmarks build it without and only print.
#ifdef RYX_SESSION_GTEST
#include <gtest/gtest.h>
#endif

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

extern char **environ;

namespace ryx::test {

namespace {

// Variables of the outer environment that would leak into a session.
bool isSessionVariable(const std::string &name) {
  // clang-format off
  static const char *const prefixes[] = {"RYX_", "RVN_", "SVN_", "XDG_", "DISPLAY", "WAYLAND_DISPLAY", "HOME",
      "G_MESSAGES_DEBUG", "DBUS_SESSION_BUS_ADDRESS", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"};
  // clang-format on
  for (const char *p : prefixes)
    if (name.rfind(p, 0) == 0) return true;
  return false;
}

// A stack frame of ours: its source file is below src/ or peers/ (paths are
// relative to the build folder, or absolute).
bool ownFrame(const std::string &line) {
  if (line.find(" #") == std::string::npos && line.rfind("#", 0) != 0) return false;
#ifdef RYX_SOURCE_ROOT
  const std::string root = RYX_SOURCE_ROOT;
#else
  const std::string root = "/";  // matches any absolute path's src/ or peers/
#endif
  for (const std::string &folder : {std::string("../src/"), std::string("../peers/"), root + "/src/", root + "/peers/"})
    if (line.find(" " + folder) != std::string::npos) return true;
  return false;
}

// What the session's programs reported on our own code: every memory
// error and undefined behaviour, every leak that lsan.supp did not take
// with a frame of ours (src/ or peers/), and every GTK, GDK or GLib
// critical or warning line of our programs.
std::string reportsOnOurCode(const TempDir &dir) {
  // GLib's default handler writes "(PROGRAM:PID): DOMAIN-LEVEL **: ...".
  static const char *const kDomains[] = {"Gtk", "Gdk", "GdkPixbuf", "GLib", "GLib-GObject", "GLib-GIO"};
  std::string findings;
  for (const std::string &name : listFolder(dir / "logs")) {
    const std::string text = readFile(dir / ("logs/" + name));
    bool asan = name.rfind("asan.", 0) == 0, ubsan = name.rfind("ubsan.", 0) == 0;
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".err") == 0) {
      if (name.rfind("trayer", 0) == 0 || name.rfind("panel", 0) == 0) continue;  // only our own programs
      for (const std::string &line : splitLines(text))
        for (const char *domain : kDomains)
          for (const char *level : {"-CRITICAL **", "-WARNING **"})
            if (line.find(std::string("): ") + domain + level) != std::string::npos)
              findings += name + ": " + line + "\n";
    } else if (ubsan || (asan && text.find("ERROR: AddressSanitizer") != std::string::npos)) {
      findings += "== " + name + "\n" + text;
    } else if (asan) {
      // A LeakSanitizer report: blocks "Direct leak of ..." / "Indirect
      // leak of ..." each followed by its stack and an empty line.
      std::string block;
      bool ours = false;
      auto flush = [&] {
        if (ours) findings += "== " + name + "\n" + block + "\n";
        block.clear();
        ours = false;
      };
      for (const std::string &line : splitLines(text)) {
        if (line.find("leak of ") != std::string::npos) flush();
        block += line + "\n";
        ours = ours || ownFrame(line);
      }
      flush();
    }
  }
  return findings;
}

}  // namespace

int scaledMs(int ms) { return ms * RYX_E2E_TIME_SCALE; }

bool waitUntil(const std::function<bool()> &condition, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaledMs(timeoutMs));
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

size_t occurrences(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool waitForErr(const Child &child, const std::string &text, int timeoutMs, size_t from) {
  return waitUntil([&] { return child.err().find(text, from) != std::string::npos; }, timeoutMs);
}

bool waitForOut(const Child &child, const std::string &text, int timeoutMs) {
  return waitUntil([&] { return child.out().find(text) != std::string::npos; }, timeoutMs);
}

int connectLoopback(int port, uint32_t source, uint32_t to) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (source != 0) {
    int one = 1;
    // The local port is then chosen at connect(), for the whole address pair.
    setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    struct sockaddr_in from = {};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(source);
    if (bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0) {
      close(fd);
      return -1;
    }
  }
  struct sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(to);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool sendRaw(int port, const std::string &bytes, int holdMs) {
  int fd = connectLoopback(port);
  if (fd < 0) return false;
  bool ok = bytes.empty() || send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  if (holdMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
  shutdown(fd, SHUT_WR);
  pollfd event{fd, POLLIN, 0};
  char rest[256];
  while (poll(&event, 1, scaledMs(10000)) > 0 && recv(fd, rest, sizeof rest, 0) > 0) {
  }
  close(fd);
  return ok;
}

int announceApp(int port, const std::string &name, const std::string &server) {
  int fd = connectLoopback(port);
  std::string update = handshake("RVN Dashboard Thread\n") + "<Update>\n<AppName>" + name +
                       "</AppName>\n<RenderingServer>" + server + "</RenderingServer>\n</Update>\n";
  if (fd >= 0 && send(fd, update.data(), update.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(update.size())) {
    close(fd);
    return -1;
  }
  return fd;
}

Session::Session(SessionOptions options) : options_(std::move(options)) {
  for (const char *sub :
       {"root", "root/conf", "home", "data", "config", "runtime", "pipes", "registry", "lib", "system", "logs"})
    mkdir((dir_ / sub).c_str(), 0700);
  consolePort_ = options_.consolePort != 0 ? options_.consolePort : unusedPort();
  if (options_.uid != 0) {
    RunResult chown = runProgram(
        {"/bin/chown", "-R", std::to_string(options_.uid) + ":" + std::to_string(options_.uid), dir_.path()});
    if (chown.status != 0) fprintf(stderr, "session: chown failed: %s\n", chown.err.c_str());
  }
  if (options_.wrapper) {
    symlink(RYX_WRAPPER_LIBRARY, (dir_ / "lib/opengl32.so").c_str());
    setEnv("RYX_WRAPPER_RECORD", dir_ / "wrapper-record.txt");
  }
  symlink(RYX_GRID_LIBRARY, (dir_ / "system/NvIFR64.dll").c_str());
  // Xvfb writes its display number to the descriptor given with -displayfd.
  xvfb_ = std::make_unique<Child>(
      asUid(options_.uid, {"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}));
  std::string number;
  if (!xvfb_->readLine(&number, 10000) || number.empty()) return;
  display_ = ":" + number;
  if (options_.trayHost) {
    tray_ = spawn({"/usr/bin/trayer", "--expand", "true", "--widthtype", "request", "--edge", "top"}, "trayer");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the tray takes its selection
  }
  if (options_.sessionBus || options_.sniWatcher) bus_ = std::make_unique<PrivateBus>();
  if (options_.sniWatcher) startSniWatcher();
  if (options_.ryxd) {
    ryxd_ = spawn(concat({RYXD_EXE}, options_.ryxdArgs), "ryxd");
    waitForOut(*ryxd_, "ryxd listening on", 5000);
  }
  if (options_.vncExt) {
    vncExt_ = spawn(concat({RYX_VNC_EXT_EXE, "--console"}, options_.vncExtArgs), "vnc-ext");
    waitUntil([&] { return !listFolder(dir_ / "pipes").empty(); }, 2000);
  }
}

std::unique_ptr<Child> Session::spawn(const std::vector<std::string> &argv, const std::string &name) const {
  return std::make_unique<Child>(asUid(options_.uid, argv), env(), dir_ / ("logs/" + name));
}

Session::~Session() {
  apps_.clear();
  instance_.reset();
  peers_.clear();
  sniWatcher_.reset();
  bus_.reset();
  vncExt_.reset();
  ryxd_.reset();
  tray_.reset();
  xvfb_.reset();
  std::string findings = reportsOnOurCode(dir_);
#ifdef RYX_SESSION_GTEST
  if (!findings.empty()) ADD_FAILURE() << "reports on our own code:\n" << findings;
#else
  if (!findings.empty()) fprintf(stderr, "reports on our own code:\n%s", findings.c_str());
#endif
}

std::vector<std::string> asUid(uid_t uid, const std::vector<std::string> &argv) {
  if (uid == 0) return argv;
  const std::string id = std::to_string(uid);
  return concat({"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"}, argv);
}

bool canChangeUid() { return geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0; }

std::vector<std::string> Session::env() const {
  std::vector<std::string> result;
  for (char **e = environ; *e != nullptr; ++e) {
    std::string name(*e);
    name = name.substr(0, name.find('='));
    if (isSessionVariable(name)) result.push_back(name);  // unset
  }
  // clang-format off
  std::map<std::string, std::string> vars = {
      {"HOME", dir_ / "home"}, {"XDG_DATA_HOME", dir_ / "data"}, {"XDG_CONFIG_HOME", dir_ / "config"},
      {"XDG_RUNTIME_DIR", dir_ / "runtime"}, {"DISPLAY", display_}, {"G_MESSAGES_DEBUG", "all"},
      {"RYX_ROOT", dir_ / "root"}, {"RYX_PIPE_DIR", dir_ / "pipes"}, {"RYX_REGISTRY_DIR", dir_ / "registry"},
      {"RYX_LIBRARY_PATH", dir_ / "lib"}, {"RYX_SYSTEM_DIR", dir_ / "system"}, {"NO_AT_BRIDGE", "1"},
      {"RYX_CONSOLE_PORT", std::to_string(consolePort_)},
      {"RYX_CONFIG_DOCK_TIMEOUT", std::to_string(options_.dockTime)},
      // Under a sanitizer build every program of the session reports into
      // this session's logs; the destructor reads them.  Leaks are reported
      // at a normal exit only, so tests end ryxconfig with -quit.
      // The slow unwinder gives whole stacks through libraries built without
      // frame pointers (GLib, GTK), so a leak is traced back to our caller.
      {"ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0:fast_unwind_on_malloc=0:log_path=" + (dir_ / "logs/asan")},
#ifdef RYX_LSAN_SUPPRESSIONS
      {"LSAN_OPTIONS", "suppressions=" RYX_LSAN_SUPPRESSIONS ":print_suppressions=0"},
#endif
      {"UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1:log_path=" + (dir_ / "logs/ubsan")},
  };
  // clang-format on
  if (bus_ != nullptr) vars["DBUS_SESSION_BUS_ADDRESS"] = bus_->address();
  for (const auto &[name, value] : extraEnv_) vars[name] = value;
  for (const auto &[name, value] : vars) result.push_back(name + "=" + value);
  return result;
}

Child &Session::startInstance(const std::vector<std::string> &args, bool waitForStart) {
  instance_ = spawn(concat({RYXCONFIG_EXE}, args), "instance");
  if (waitForStart) waitForErr(*instance_, "Started server", 15000);
  return *instance_;
}

RunResult Session::runClient(const std::vector<std::string> &args, int timeoutMs) {
  std::unique_ptr<Child> client = spawn(concat({RYXCONFIG_EXE}, args), "client" + std::to_string(runs_++));
  RunResult result;
  result.status = client->wait(scaledMs(timeoutMs));
  result.out = client->out();
  result.err = client->err();
  return result;
}

Child &Session::startSniWatcher() {
  sniWatcher_ = spawn({RYX_SNI_WATCHER_EXE}, "sni-watcher" + std::to_string(runs_++));
  waitForOut(*sniWatcher_, "watcher ready", 5000);
  return *sniWatcher_;
}

Child &Session::startApp(const std::vector<std::string> &args) {
  apps_.push_back(spawn(concat({RYX_3DAPP_EXE, "--port", std::to_string(consolePort_)}, args),
                        "app" + std::to_string(apps_.size() + 1)));
  waitForOut(*apps_.back(), "connected", 5000);
  return *apps_.back();
}

Child &Session::startPeer(const std::vector<std::string> &argv, const std::string &name) {
  return *peers_.emplace_back(spawn(argv, name));
}

std::vector<std::string> Session::findWindows(const std::string &name) const {
  std::vector<std::string> ids;
  RunResult r = runProgram({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", name}, env());
  for (const std::string &line : splitLines(r.out))
    if (!line.empty()) ids.push_back(line);
  return ids;
}

bool Session::waitForWindows(size_t count, const std::string &title, int timeoutMs) const {
  return waitUntil([&] { return findWindows(title).size() == count; }, timeoutMs);
}

int Session::quit(int timeoutMs) {
  RunResult client = runClient({"-quit"});
  if (client.status != 0 || !instance_) return -1;
  return instance_->wait(scaledMs(timeoutMs));
}

}  // namespace ryx::test
