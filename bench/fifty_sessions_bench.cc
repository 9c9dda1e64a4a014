// SPDX-License-Identifier: MIT
// Fifty sessions on one machine: as many desktop sessions side by side as
// a visualization server holds, each of its own numeric uid (run through
// setpriv, no account needed) with its own X server and notification area
// (trayer), stand-in daemon, extension with 4 viewers, 2 applications and
// ryxconfig -nowin on the session's console port; beside them, in the same
// run, as many minimal GtkStatusIcon programs with a 2-second timer, each
// also of its own uid with its own X server and notification area.
//
// Measured:
// - cross-talk: what every instance lists, read from its own log (the
//   applications it took, the viewer list it holds) and from its status
//   window, opened by a click on its icon (the rows the window lists):
//   each must be exactly its own session's;
// - memory: PSS and USS (private clean + dirty) of each program from
//   /proc/PID/smaps_rollup; one more session costs the system its USS, so
//   the medians of the USS are the marginal cost compared; the part in the
//   OpenGL driver's files is shown apart;
// - CPU: utime + stime (/proc/PID/stat) of all instances and of all
//   minimal programs over the same idle time, and the scheduler's account
//   (/proc/PID/schedstat) beside it, which is not rounded to clock ticks;
// - start: the time from an instance's start to its "Status icon shown"
//   line and to its icon docked in the session's notification area, for
//   the first and the last session (the minimal programs' docking beside).
//
// RYX_BENCH_SESSIONS (default 50) and RYX_BENCH_IDLE_SECONDS (default 60)
// make a shorter run.  Needs root (for the uids).  Every process of the
// uids this benchmark uses is killed, and their X servers' files removed,
// at the start and at the end, and by `bench-fifty-sessions --sweep` alone
// (scripts/bench runs it after the benchmark, whatever became of it).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "session.h"

namespace {

using ryx::bench::median;
using ryx::bench::Memory;
using ryx::test::Child;
using ryx::test::RunResult;
using ryx::test::Session;
using ryx::test::SessionOptions;
using ryx::test::waitUntil;
using Clock = std::chrono::steady_clock;

constexpr uid_t kFirstUid = 61001;         // the sessions' uids, one after the other
constexpr uid_t kFirstMinimalUid = 62001;  // the minimal programs'
constexpr int kViewers = 4;
constexpr int kApps = 2;
constexpr int kSettleSeconds = 5;
constexpr int kMaxSessions = 999;

int envInt(const char *name, int fallback) {
  const char *value = getenv(name);
  return value != nullptr && atoi(value) > 0 ? atoi(value) : fallback;
}

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The console port a session of this uid is given: the installation's
// profile script, sourced as that uid as a login shell does.  0 when it
// gave none.
int consolePortOf(uid_t uid) {
  RunResult port = ryx::test::runProgram(
      ryx::test::asUid(uid, {"/bin/sh", "-c", ". '" RYX_CONSOLE_PORT_SCRIPT "' && echo \"$RYX_CONSOLE_PORT\""}),
      {"RYX_CONSOLE_PORT"});
  return port.status == 0 ? atoi(port.out.c_str()) : 0;
}

std::string prefix(uid_t uid) { return "u" + std::to_string(uid); }
std::string appName(uid_t uid, int i) { return prefix(uid) + "-app" + std::to_string(i) + ".exe"; }
std::string viewerName(uid_t uid, int i) { return prefix(uid) + "-viewer" + std::to_string(i); }

// Kills every process whose real uid is in [first, first + count) and
// removes the files their X servers leave when killed.
void sweep(uid_t first, int count) {
  auto ours = [&](uid_t uid) { return uid >= first && uid < first + static_cast<uid_t>(count); };
  for (int round = 0; round < 2; ++round) {
    DIR *proc = opendir("/proc");
    if (proc == nullptr) return;
    while (dirent *entry = readdir(proc)) {
      char *end = nullptr;
      long pid = strtol(entry->d_name, &end, 10);
      if (*end != '\0' || pid <= 0) continue;
      struct stat info;
      if (stat(("/proc/" + std::string(entry->d_name)).c_str(), &info) == 0 && ours(info.st_uid))
        kill(static_cast<pid_t>(pid), SIGKILL);
    }
    closedir(proc);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  for (const char *folder : {"/tmp", "/tmp/.X11-unix"}) {
    for (const std::string &name : ryx::test::listFolder(folder)) {
      std::string path = std::string(folder) + "/" + name;
      struct stat info;
      bool xFile = name.rfind(".X", 0) == 0 || name.rfind("X", 0) == 0;
      if (xFile && lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode) && ours(info.st_uid)) unlink(path.c_str());
    }
  }
}

void sweepAll() {
  sweep(kFirstUid, kMaxSessions);
  sweep(kFirstMinimalUid, kMaxSessions);
}

// The id of the window of a program with that WM_CLASS name that the
// session's notification area (trayer's panel) holds, or "".
std::string trayHolds(const Session &session, const std::string &className) {
  RunResult tree = ryx::test::runProgram({"/usr/bin/xwininfo", "-root", "-tree"}, session.env());
  size_t panelIndent = std::string::npos;
  for (const std::string &line : ryx::test::splitLines(tree.out)) {
    size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos) continue;
    if (line.find("(\"panel\" \"trayer\")") != std::string::npos) {
      panelIndent = indent;
      continue;
    }
    if (panelIndent == std::string::npos || line.compare(indent, 2, "0x") != 0) continue;
    if (indent <= panelIndent) {
      panelIndent = std::string::npos;
      continue;
    }
    if (line.find("(\"" + className + "\"") != std::string::npos)
      return line.substr(indent, line.find(' ', indent) - indent);
  }
  return "";
}

// Waits for the line in the program's standard error; ms since start, or -1.
double waitForLine(Child &program, const std::string &line, Clock::time_point start, int timeoutMs) {
  return ryx::test::waitForErr(program, line, timeoutMs) ? msSince(start) : -1;
}

double waitForDock(const Session &session, const std::string &className, Clock::time_point start, int timeoutMs) {
  return waitUntil([&] { return !trayHolds(session, className).empty(); }, timeoutMs) ? msSince(start) : -1;
}

// The installed images, so that the icon draws the real picture; the
// folders are made here, so the session's uid is let through them.
void linkImages(Session &session) {
  for (const char *sub : {"/root/share", "/root/share/ryx"}) mkdir((session.folder() + sub).c_str(), 0755);
  symlink(RYX_IMAGES_DIR, (session.folder() + "/root/share/ryx/images").c_str());
}

struct Ours {
  uid_t uid = 0;
  int port = 0;
  std::unique_ptr<Session> session;
  Child *instance = nullptr;
  double iconMs = -1, dockMs = -1;
  double cpuMs[2] = {-1, -1};
  int64_t cpuNs[2] = {-1, -1};
  Memory memory, driver;
  std::string wrong;  // what it lists that is not its own, or misses; empty when right
};

struct Minimal {
  uid_t uid = 0;
  std::unique_ptr<Session> session;
  Child *program = nullptr;
  double dockMs = -1;
  double cpuMs[2] = {-1, -1};
  int64_t cpuNs[2] = {-1, -1};
  Memory memory, driver;
};

std::unique_ptr<Ours> startOurs(uid_t uid) {
  auto ours = std::make_unique<Ours>();
  ours->uid = uid;
  SessionOptions options;
  options.uid = uid;
  options.consolePort = ours->port = consolePortOf(uid);
  if (ours->port == 0) fprintf(stderr, "no console port for uid %u\n", static_cast<unsigned>(uid));
  options.trayHost = true;
  for (int i = 1; i <= kViewers; ++i)
    options.vncExtArgs.push_back("--viewer=" + std::to_string(uid * 10 + i) + ":" + (i % 2 ? "1" : "0") + ":" +
                                 viewerName(uid, i));
  ours->session = std::make_unique<Session>(options);
  linkImages(*ours->session);
  // Our own debug lines only (the applications and viewers listed).
  ours->session->setEnv("G_MESSAGES_DEBUG", "RYX");
  Clock::time_point start = Clock::now();
  ours->instance = &ours->session->startInstance({"-nowin"}, false);
  ours->iconMs = waitForLine(*ours->instance, "Status icon shown through XEmbed", start, 30000);
  ours->dockMs = waitForDock(*ours->session, "ryxconfig", start, 30000);
  for (int i = 1; i <= kApps; ++i) ours->session->startApp({"--name", "C:\\Apps\\" + appName(uid, i)});
  return ours;
}

std::unique_ptr<Minimal> startMinimal(uid_t uid) {
  auto minimal = std::make_unique<Minimal>();
  minimal->uid = uid;
  SessionOptions options;
  options.uid = uid;
  options.trayHost = true;
  options.ryxd = options.vncExt = options.wrapper = false;
  minimal->session = std::make_unique<Session>(options);
  minimal->session->setEnv("G_MESSAGES_DEBUG", "RYX");
  Clock::time_point start = Clock::now();
  minimal->program =
      &minimal->session->startPeer({MINIMAL_STATUS_ICON, RYX_IMAGES_DIR "/ryx_status_icon.png"}, "minimal");
  minimal->dockMs = waitForDock(*minimal->session, "minimal-status-icon", start, 30000);
  return minimal;
}

// The text after `marker` on each line of `log` that has it.
std::vector<std::string> after(const std::string &log, const std::string &marker) {
  std::vector<std::string> found;
  for (const std::string &line : ryx::test::splitLines(log)) {
    size_t at = line.find(marker);
    if (at != std::string::npos) found.push_back(line.substr(at + marker.size()));
  }
  return found;
}

// The same for the last run of consecutive lines with `marker`: the rows
// one refresh of the window listed.
std::vector<std::string> lastRun(const std::string &log, const std::string &marker) {
  std::vector<std::string> run;
  bool inRun = false;
  for (const std::string &line : ryx::test::splitLines(log)) {
    size_t at = line.find(marker);
    if (at == std::string::npos) {
      inRun = false;
      continue;
    }
    if (!inRun) run.clear();
    inRun = true;
    run.push_back(line.substr(at + marker.size()));
  }
  return run;
}

// The names in a "Viewers listed: N: name (id ...); name (id ...)" line.
std::multiset<std::string> viewerNames(const std::string &listed) {
  std::multiset<std::string> names;
  size_t at = listed.find(": ");
  if (at == std::string::npos) return names;
  std::stringstream items(listed.substr(at + 2));
  std::string item;
  while (std::getline(items, item, ';')) {
    size_t begin = item.find_first_not_of(' ');
    if (begin != std::string::npos) names.insert(item.substr(begin, item.find(" (") - begin));
  }
  return names;
}

std::string join(const std::multiset<std::string> &names) {
  std::string text;
  for (const std::string &name : names) text += (text.empty() ? "" : ", ") + name;
  return "{" + text + "}";
}

// What the instance lists against what its session has: the applications
// it took (its log), the viewers it holds (its last viewer line), and the
// rows of its status window, opened by a click on its icon.
std::string checkListing(Ours &ours) {
  std::multiset<std::string> apps, viewers;
  for (int i = 1; i <= kApps; ++i) apps.insert(appName(ours.uid, i));
  for (int i = 1; i <= kViewers; ++i) viewers.insert(viewerName(ours.uid, i));
  std::string wrong;
  const std::string log = ours.instance->err();
  std::vector<std::string> taken = after(log, "A new connected application: ");
  std::multiset<std::string> takenSet(taken.begin(), taken.end());
  if (takenSet != apps) wrong += " took " + join(takenSet) + " for " + join(apps) + ";";
  std::vector<std::string> listed = after(log, "Viewers listed: ");
  std::multiset<std::string> listedSet = listed.empty() ? std::multiset<std::string>{} : viewerNames(listed.back());
  if (listedSet != viewers) wrong += " viewers " + join(listedSet) + " for " + join(viewers) + ";";
  const size_t refused = ryx::test::occurrences(log, "Console connection from ");
  if (refused != 0) wrong += " " + std::to_string(refused) + " connections of another user;";

  // The window fills its list of applications as it is made.
  std::string icon = trayHolds(*ours.session, "ryxconfig");
  const size_t from = log.size();
  ryx::test::runProgram({"/usr/bin/xdotool", "mousemove", "--window", icon, "4", "4", "click", "1"},
                        ours.session->env());
  if (icon.empty() || !ours.session->waitForWindows(1, ryx::test::kStatusWindowTitle, 10000)) {
    wrong += " its status window did not open;";
    return wrong;
  }
  waitUntil([&] { return ryx::test::occurrences(ours.instance->err().substr(from), "app name: ") >= apps.size(); },
            3000);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // a refresh under way ends
  std::vector<std::string> rows = lastRun(ours.instance->err().substr(from), "app name: ");
  std::multiset<std::string> rowSet(rows.begin(), rows.end());
  if (rowSet != apps) wrong += " window rows " + join(rowSet) + " for " + join(apps) + ";";
  return wrong;
}

struct Results {
  int sessions = 0, seconds = 0, wrong = 0, measured = 0;
  std::vector<std::string> wrongText;
  double cpuOurs = 0, cpuMinimal = 0, schedOurs = 0, schedMinimal = 0;
  std::vector<double> pssOurs, ussOurs, pssMinimal, ussMinimal, driverUss, driverPss, driverUssMinimal,
      driverPssMinimal;
  double iconFirst = -1, iconLast = -1, dockFirst = -1, dockLast = -1, minimalDockFirst = -1, minimalDockLast = -1;
  bool ok = false;
} results;

double sum(const std::vector<double> &v) {
  double total = 0;
  for (double x : v) total += x;
  return total;
}

void FiftySessions(benchmark::State &state) {
  const int sessions = std::min(envInt("RYX_BENCH_SESSIONS", 50), kMaxSessions);
  const int seconds = envInt("RYX_BENCH_IDLE_SECONDS", 60);
  if (!ryx::test::canChangeUid() || access("/usr/bin/trayer", X_OK) != 0) {
    state.SkipWithError("needs root, setpriv and trayer");
    return;
  }
  sweepAll();
  for (auto _ : state) {
    std::vector<std::unique_ptr<Ours>> ours;
    std::vector<std::unique_ptr<Minimal>> minimal;
    // One of each in turn, so a growing load falls on both.
    for (int i = 0; i < sessions; ++i) {
      ours.push_back(startOurs(kFirstUid + i));
      minimal.push_back(startMinimal(kFirstMinimalUid + i));
      fprintf(stderr,
              "session %d of %d (uid %u, console port %d): icon line %.0f ms, docked %.0f ms; minimal docked %.0f ms\n",
              i + 1, sessions, static_cast<unsigned>(ours.back()->uid), ours.back()->port, ours.back()->iconMs,
              ours.back()->dockMs, minimal.back()->dockMs);
    }
    // Settled: every instance has taken its applications and listed its viewers.
    for (auto &o : ours)
      waitUntil(
          [&] {
            std::string log = o->instance->err();
            return ryx::test::occurrences(log, "A new connected application: ") >= kApps &&
                   log.find("Viewers listed: ") != std::string::npos;
          },
          10000);
    std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));

    // The clock ticks of /proc/PID/stat, and beside them the scheduler's
    // own account (schedstat, in nanoseconds): a program that wakes for
    // less than a tick is charged a tick only when one falls in its run.
    auto sample = [&](int at) {
      for (auto &o : ours) {
        o->cpuMs[at] = ryx::bench::statCpuMs(o->instance->pid());
        o->cpuNs[at] = ryx::bench::cpuNanoseconds(o->instance->pid());
      }
      for (auto &m : minimal) {
        m->cpuMs[at] = ryx::bench::statCpuMs(m->program->pid());
        m->cpuNs[at] = ryx::bench::cpuNanoseconds(m->program->pid());
      }
    };
    sample(0);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    sample(1);
    for (auto &o : ours) {
      o->memory = ryx::bench::memoryOf(o->instance->pid());
      o->driver = ryx::bench::glDriverMemory(o->instance->pid());
    }
    for (auto &m : minimal) {
      m->memory = ryx::bench::memoryOf(m->program->pid());
      m->driver = ryx::bench::glDriverMemory(m->program->pid());
    }

    bool ok = true;
    results = Results{};
    results.sessions = sessions;
    results.seconds = seconds;
    for (auto &o : ours) {
      ok = ok && o->port != 0 && o->instance->running() && o->cpuMs[0] >= 0 && o->cpuMs[1] >= o->cpuMs[0] &&
           o->cpuNs[0] >= 0 && o->cpuNs[1] >= o->cpuNs[0] && o->memory.uss >= 0;
      results.cpuOurs += o->cpuMs[1] - o->cpuMs[0];
      results.schedOurs += static_cast<double>(o->cpuNs[1] - o->cpuNs[0]) / 1e6;
      results.pssOurs.push_back(o->memory.pss);
      results.ussOurs.push_back(o->memory.uss);
      results.driverPss.push_back(o->driver.pss);
      results.driverUss.push_back(o->driver.uss);
    }
    for (auto &m : minimal) {
      ok = ok && m->program->running() && m->cpuMs[0] >= 0 && m->cpuMs[1] >= m->cpuMs[0] && m->cpuNs[0] >= 0 &&
           m->cpuNs[1] >= m->cpuNs[0] && m->memory.uss >= 0;
      results.cpuMinimal += m->cpuMs[1] - m->cpuMs[0];
      results.schedMinimal += static_cast<double>(m->cpuNs[1] - m->cpuNs[0]) / 1e6;
      results.pssMinimal.push_back(m->memory.pss);
      results.ussMinimal.push_back(m->memory.uss);
      results.driverUssMinimal.push_back(m->driver.uss);
      results.driverPssMinimal.push_back(m->driver.pss);
    }
    // Cross-talk, after the measures: opening the windows costs memory.
    for (auto &o : ours) {
      o->wrong = checkListing(*o);
      results.measured++;
      if (!o->wrong.empty()) {
        results.wrong++;
        results.wrongText.push_back(prefix(o->uid) + ":" + o->wrong);
      }
    }
    results.iconFirst = ours.front()->iconMs;
    results.iconLast = ours.back()->iconMs;
    results.dockFirst = ours.front()->dockMs;
    results.dockLast = ours.back()->dockMs;
    results.minimalDockFirst = minimal.front()->dockMs;
    results.minimalDockLast = minimal.back()->dockMs;
    results.ok = ok && results.iconFirst > 0 && results.iconLast > 0;
    if (!results.ok) state.SkipWithError("a program ended, could not be measured or showed no icon");
    state.counters["wrong"] = results.wrong;
    // The sessions end in reverse order of their start.
    while (!minimal.empty()) minimal.pop_back();
    while (!ours.empty()) ours.pop_back();
  }
  sweepAll();
}

}  // namespace

BENCHMARK(FiftySessions)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char **argv) {
  if (argc == 2 && std::string(argv[1]) == "--sweep") {
    sweepAll();
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const Results &r = results;
  if (r.sessions == 0) return 1;
  printf("\n%d sessions of %d applications and %d viewers, beside %d minimal status icons, idle for %d s:\n",
         r.sessions, kApps, kViewers, r.sessions, r.seconds);
  printf("  cross-talk  %d of %d instances list something not their own or miss their own\n", r.wrong, r.measured);
  for (const std::string &text : r.wrongText) printf("    %s\n", text.c_str());
  auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  printf("  pss         ryxconfig median %.0f KiB, total %.0f KiB; minimal median %.0f KiB, total %.0f KiB\n",
         median(r.pssOurs), sum(r.pssOurs), median(r.pssMinimal), sum(r.pssMinimal));
  printf("  uss         ryxconfig median %.0f KiB, total %.0f KiB; minimal median %.0f KiB, total %.0f KiB\n",
         median(r.ussOurs), sum(r.ussOurs), median(r.ussMinimal), sum(r.ussMinimal));
  printf("  marginal    ryxconfig %.0f KiB, minimal status icon %.0f KiB, ratio %.2f (goal <= 1.30)\n",
         median(r.ussOurs), median(r.ussMinimal), ratio(median(r.ussOurs), median(r.ussMinimal)));
  // GTK maps the driver too as it opens the display (to choose GL visuals).
  printf(
      "  gl driver   in its files: ryxconfig uss median %.0f KiB, pss median %.0f KiB; minimal uss median %.0f KiB, "
      "pss median %.0f KiB\n",
      median(r.driverUss), median(r.driverPss), median(r.driverUssMinimal), median(r.driverPssMinimal));
  printf("  outside it  ryxconfig uss median %.0f KiB, minimal %.0f KiB, ratio %.2f\n",
         median(r.ussOurs) - median(r.driverUss), median(r.ussMinimal) - median(r.driverUssMinimal),
         ratio(median(r.ussOurs) - median(r.driverUss), median(r.ussMinimal) - median(r.driverUssMinimal)));
  printf("  cpu         ryxconfig total %.0f ms, minimal status icon total %.0f ms, ratio %.2f (goal <= 1.50)\n",
         r.cpuOurs, r.cpuMinimal, ratio(r.cpuOurs, r.cpuMinimal));
  printf("  schedstat   ryxconfig total %.1f ms, minimal status icon total %.1f ms, ratio %.2f (goal <= 1.50)\n",
         r.schedOurs, r.schedMinimal, ratio(r.schedOurs, r.schedMinimal));
  printf("  icon line   first session %.0f ms, last session %.0f ms, ratio %.2f (goal <= 2.00)\n", r.iconFirst,
         r.iconLast, ratio(r.iconLast, r.iconFirst));
  printf("  docked      first session %.0f ms, last session %.0f ms, ratio %.2f; minimal first %.0f ms, last %.0f ms\n",
         r.dockFirst, r.dockLast, ratio(r.dockLast, r.dockFirst), r.minimalDockFirst, r.minimalDockLast);
  return r.ok ? 0 : 1;
}
