// SPDX-License-Identifier: MIT
// What a local peer can and cannot do to the real instance: the console port
// is reachable on 127.0.0.1 alone, the user's registry hive and the pipe
// folder are private, and nothing sent to the console port makes the
// instance write a file, start a program or open a window.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "session.h"

namespace ryx::test {
namespace {

using namespace std::chrono_literals;

std::string handshake(const std::string &text) { return text + std::string(1, '\0'); }

// A socket address of this machine with the console port, and its text.
struct Target {
  sockaddr_storage address = {};
  socklen_t length = 0;
  std::string text;
};

Target target(const sockaddr *address, int port) {
  Target t;
  char text[INET6_ADDRSTRLEN] = "";
  if (address->sa_family == AF_INET) {
    sockaddr_in in = *reinterpret_cast<const sockaddr_in *>(address);
    in.sin_port = htons(static_cast<uint16_t>(port));
    memcpy(&t.address, &in, sizeof in);
    t.length = sizeof in;
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
  } else {
    sockaddr_in6 in6 = *reinterpret_cast<const sockaddr_in6 *>(address);
    in6.sin6_port = htons(static_cast<uint16_t>(port));
    memcpy(&t.address, &in6, sizeof in6);
    t.length = sizeof in6;
    inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
  }
  t.text = text;
  return t;
}

// The errno of a connection attempt (0 when it was accepted).
int connectError(const Target &t) {
  int fd = socket(t.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval limit = {2, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  int rc = connect(fd, reinterpret_cast<const sockaddr *>(&t.address), t.length);
  int error = rc == 0 ? 0 : errno;
  close(fd);
  return error;
}

// Local addresses of the listening sockets on `port`, from /proc/net/tcp
// and tcp6 ("0100007F" is 127.0.0.1).
std::vector<std::string> listeningAddresses(int port) {
  std::vector<std::string> found;
  char wanted[8];
  snprintf(wanted, sizeof wanted, "%04X", port);
  for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::istringstream in(readFile(table));
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      size_t colon = local.rfind(':');
      if (state == "0A" && colon != std::string::npos && local.substr(colon + 1) == wanted)
        found.push_back(local.substr(0, colon));
    }
  }
  return found;
}

TEST(RyxconfigSecurity, TheConsolePortListensOnLoopbackOnly) {
  Session session;
  Process &instance = session.startInstance();
  ASSERT_TRUE(instance.running());
  EXPECT_EQ(listeningAddresses(session.consolePort()), std::vector<std::string>{"0100007F"});

  // Every other address of this machine, and two that always exist: a
  // second loopback address (Linux routes all of 127/8 to lo) and ::1.
  std::vector<Target> others;
  ifaddrs *list = nullptr;
  ASSERT_EQ(getifaddrs(&list), 0);
  for (ifaddrs *a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || (a->ifa_flags & IFF_LOOPBACK) != 0) continue;
    if (a->ifa_addr->sa_family == AF_INET || a->ifa_addr->sa_family == AF_INET6)
      others.push_back(target(a->ifa_addr, session.consolePort()));
  }
  freeifaddrs(list);
  std::cout << "addresses of other interfaces: " << others.size() << "\n";
  sockaddr_in alias = {};
  alias.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.2", &alias.sin_addr);
  others.push_back(target(reinterpret_cast<sockaddr *>(&alias), session.consolePort()));
  sockaddr_in6 six = {};
  six.sin6_family = AF_INET6;
  six.sin6_addr = in6addr_loopback;
  others.push_back(target(reinterpret_cast<sockaddr *>(&six), session.consolePort()));

  for (const Target &t : others) {
    std::cout << "connecting to " << t.text << "\n";
    EXPECT_EQ(connectError(t), ECONNREFUSED) << t.text;
  }
  int fd = connectLoopback(session.consolePort());  // while 127.0.0.1 answers
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
  EXPECT_EQ(session.quit(5000), 0);
}

mode_t modeOf(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(RyxconfigSecurity, TheRegistryHiveAndThePipeFolderArePrivate) {
  SessionOptions options;
  options.vncExt = false;
  Session session(options);
  const std::string registry = session.folder() + "/private/registry", pipes = session.folder() + "/run/pipes";
  session.setEnv("RYX_REGISTRY_DIR", registry);  // neither exists yet
  session.setEnv("RYX_PIPE_DIR", pipes);

  Process &extension = session.startPeer({RYX_VNC_EXT_EXE, "--console"}, "vnc-ext");
  ASSERT_TRUE(extension.waitForOut("ryx-vnc-ext serving", 5000));
  EXPECT_EQ(modeOf(pipes), 0700u);
  EXPECT_EQ(modeOf(session.folder() + "/run"), 0700u);

  // A pipe folder that others may write to is not trusted: no extension.
  ASSERT_EQ(chmod(pipes.c_str(), 0777), 0);
  Process &instance = session.startInstance();
  ASSERT_TRUE(instance.running());
  EXPECT_NE(instance.err().find("No RVN extension"), std::string::npos);

  // The first periodic check writes the user's switch into a new hive.
  for (int i = 0; i < scaledMs(50) && !fileExists(registry + "/user.reg"); ++i) std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(fileExists(registry + "/user.reg"));
  EXPECT_EQ(modeOf(registry + "/user.reg"), 0600u);
  EXPECT_EQ(modeOf(registry), 0700u);
  EXPECT_EQ(session.quit(5000), 0);
}

// Every file below `folder` (but logs/) with its size and change time.
void listFiles(const std::string &folder, const std::string &relative, std::map<std::string, std::string> *files) {
  for (const std::string &name : listFolder(folder + relative)) {
    std::string path = relative + "/" + name;
    if (path == "/logs") continue;
    struct stat st;
    if (lstat((folder + path).c_str(), &st) != 0) continue;
    (*files)[path] = std::to_string(st.st_size) + "@" + std::to_string(st.st_mtim.tv_sec) + "." +
                     std::to_string(st.st_mtim.tv_nsec);
    if (S_ISDIR(st.st_mode)) listFiles(folder, path, files);
  }
}

std::set<std::string> children(pid_t pid) {
  std::set<std::string> found;
  std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const std::string &task : listFolder(tasks)) {
    std::istringstream in(readFile(tasks + "/" + task + "/children"));
    std::string child;
    while (in >> child) found.insert(child);
  }
  return found;
}

size_t occurrences(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(RyxconfigSecurity, AConsolePortPeerCannotMakeTheInstanceActBeyondItsOwnWindow) {
  SessionOptions options;
  options.dockTime = 0;  // the standalone window lists the applications
  Session session(options);
  Process &instance = session.startInstance();
  ASSERT_TRUE(instance.running());
  // Settled: the window is up, the trigger handed its data over, the
  // switch is in the hive.
  ASSERT_TRUE(instance.waitForErr("Creating standalone dialog", 5000));
  for (int i = 0; i < scaledMs(50) && readFile(session.folder() + "/wrapper-record.txt").empty(); ++i)
    std::this_thread::sleep_for(100ms);
  std::this_thread::sleep_for(2500ms);
  std::map<std::string, std::string> filesBefore;
  listFiles(session.folder(), "", &filesBefore);
  ASSERT_TRUE(filesBefore.count("/registry/user.reg"));
  const std::set<std::string> childrenBefore = children(instance.pid());
  const std::vector<std::string> windowsBefore = session.topLevelWindows();
  ASSERT_FALSE(windowsBefore.empty());

  // Every command byte but "quit".
  for (int byte = 0; byte < 256; ++byte) {
    if (byte == 2) continue;
    ASSERT_TRUE(sendRaw(session.consolePort(), handshake("RYX Command UI\n") + char(byte))) << byte;
  }
  // Updates that would do harm if anything ran, opened or formatted them.
  const std::string folder = session.folder();
  const std::vector<std::string> hostile = {
      "$(touch " + folder + "/pwned)", "`touch " + folder + "/pwned`", "; touch " + folder + "/pwned",
      "|touch " + folder + "/pwned", "../../../../../../" + folder + "/pwned", "file://" + folder + "/pwned",
      "%s%s%s%s%n%n%n", "<b>bold</b><span foreground='red'>", "<a href=\"file:///etc/passwd\">x</a>",
      "\\\\server\\share\\evil.exe", std::string(8000, 'A'), "\x1b]0;title\x07\x1b[2J"};
  std::vector<int> held;
  for (const std::string &h : hostile) {
    int fd = connectLoopback(session.consolePort());
    ASSERT_GE(fd, 0);
    std::string update = handshake("RVN Dashboard Thread\n") + "<Update>\n<AppName>" + h +
                         "</AppName>\n<RenderingServer>" + h + "</RenderingServer>\n</Update>\n";
    send(fd, update.data(), update.size(), MSG_NOSIGNAL);
    held.push_back(fd);  // listed in the window while connected
  }
  // Each command byte was read and acted on: 0 and 3 to 255 are refused.
  for (int i = 0; i < scaledMs(100) && occurrences(instance.err(), "Command not supported") < 254; ++i)
    std::this_thread::sleep_for(100ms);
  EXPECT_EQ(occurrences(instance.err(), "Command not supported"), 254u);
  EXPECT_TRUE(instance.waitForErr("A new connected application: evil.exe", 5000));
  std::this_thread::sleep_for(2500ms);  // a periodic check with all of it listed

  std::map<std::string, std::string> filesAfter;
  listFiles(session.folder(), "", &filesAfter);
  EXPECT_EQ(filesAfter, filesBefore);
  EXPECT_EQ(children(instance.pid()), childrenBefore);
  EXPECT_EQ(session.topLevelWindows(), windowsBefore);
  EXPECT_TRUE(instance.running());
  for (int fd : held) close(fd);
  EXPECT_EQ(session.quit(5000), 0);
}

}  // namespace
}  // namespace ryx::test
