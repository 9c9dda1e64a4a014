// SPDX-License-Identifier: MIT
// Whole-program runs: a private X server (optionally with a notification
// area), an installation in a temporary folder, the stand-in peers and the
// real ryxconfig, each a Child with its output in the session's logs/.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace ryx::test {

// Every wait of the harness is this many times longer under a sanitizer
// build (the meson.build sets it), where the programs run slower.
#ifndef RYX_E2E_TIME_SCALE
#define RYX_E2E_TIME_SCALE 1
#endif
int scaledMs(int ms);

// Polls every 50 ms until the condition holds; false after timeoutMs (scaled).
bool waitUntil(const std::function<bool()> &condition, int timeoutMs);
size_t occurrences(const std::string &text, const std::string &what);
// Waits until `text` appears in the child's standard error after offset
// `from` (or in its output); false on time-out.
bool waitForErr(const Child &child, const std::string &text, int timeoutMs, size_t from = 0);
bool waitForOut(const Child &child, const std::string &text, int timeoutMs);

inline const char kStatusWindowTitle[] = "^Vezo RYX Server Status$";
// A console-port handshake: the text and its terminating zero byte.
inline std::string handshake(const std::string &text) { return text + std::string(1, '\0'); }

struct SessionOptions {
  bool trayHost = false;            // run an XEmbed notification area (trayer)
  bool ryxd = true, vncExt = true;  // run the stand-in daemon and VNC extension
  std::vector<std::string> ryxdArgs, vncExtArgs;
  bool wrapper = true;      // the OpenGL wrapper stand-in on the library path
  int dockTime = 2;         // ryx_config_dock_time
  bool sessionBus = false;  // a D-Bus session bus of the session's own
  bool sniWatcher = false;  // run the stand-in StatusNotifierWatcher (implies sessionBus)
  // Not 0: every program of the session runs as this numeric uid, which
  // then owns the session's folder.
  uid_t uid = 0;
  int consolePort = 0;  // 0: a free port
};

// argv run as the numeric uid (and gid) through setpriv; argv itself for 0.
std::vector<std::string> asUid(uid_t uid, const std::vector<std::string> &argv);
bool canChangeUid();  // root, with setpriv

class Session {
 public:
  explicit Session(SessionOptions options = {});
  // Stops everything, then fails the running test on a sanitizer's report
  // or a toolkit warning in the session's logs.
  ~Session();

  // What every program of the session gets on top of the test's own
  // environment (the outer variables that would leak into it unset).
  std::vector<std::string> env() const;
  void setEnv(const std::string &name, const std::string &value) { extraEnv_[name] = value; }

  // Starts an instance of ryxconfig; waits for "Started server" unless told not to.
  Child &startInstance(const std::vector<std::string> &args = {}, bool waitForStart = true);
  // Runs ryxconfig to its end (a second start).
  RunResult runClient(const std::vector<std::string> &args, int timeoutMs = 20000);
  // Starts a stand-in 3D application; waits until it has sent its update.
  Child &startApp(const std::vector<std::string> &args);
  // Any program with the session's environment, stopped with the session.
  Child &startPeer(const std::vector<std::string> &argv, const std::string &name);
  // A second start with -quit; the instance's exit status, or -1.
  int quit(int timeoutMs = 5000);

  int consolePort() const { return consolePort_; }
  const std::string &folder() const { return dir_.path(); }
  Child &instance() { return *instance_; }
  // The stand-in StatusNotifierWatcher (waiting until it owns its name); needs sessionBus.
  Child &startSniWatcher();
  void stopSniWatcher() { sniWatcher_.reset(); }
  Child *sniWatcher() { return sniWatcher_.get(); }
  std::string userHive() const { return dir_ / "registry/user.reg"; }
  // The visible windows whose name matches the regular expression.
  std::vector<std::string> findWindows(const std::string &name) const;
  bool waitForWindows(size_t count, const std::string &title = kStatusWindowTitle, int timeoutMs = 6000) const;
  void writeSystemConfig(const std::string &content) { writeFile(dir_ / "root/conf/ryx.conf", content); }
  // What the wrapper stand-in was handed by the Kestrane trigger.
  std::string wrapperRecord() const { return readFile(dir_ / "wrapper-record.txt"); }

 private:
  std::unique_ptr<Child> spawn(const std::vector<std::string> &argv, const std::string &name) const;

  SessionOptions options_;
  TempDir dir_;
  std::string display_;
  int consolePort_ = 0;
  std::map<std::string, std::string> extraEnv_;
  std::unique_ptr<Child> xvfb_, tray_, ryxd_, vncExt_, instance_;
  std::unique_ptr<PrivateBus> bus_;
  std::unique_ptr<Child> sniWatcher_;
  std::vector<std::unique_ptr<Child>> apps_, peers_;
  int runs_ = 0;
};

// A connected socket to port on `to` (127.0.0.1), or -1; from `source`
// when it is not 0 (127/8 addresses in host byte order).
int connectLoopback(int port, uint32_t source = 0, uint32_t to = 0x7f000001);
// Connects, sends bytes, optionally waits, and closes once the instance has
// closed its end (it serves a connection only while it sees the peer).
bool sendRaw(int port, const std::string &bytes, int holdMs = 0);
// A connection that announces an application with that name and
// rendering server and stays open; -1 on failure.
int announceApp(int port, const std::string &name, const std::string &server);

}  // namespace ryx::test
