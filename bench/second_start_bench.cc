// SPDX-License-Identifier: MIT
// Second-start hand-off: the time from the start of `ryxconfig -quit` to its
// exit, when it finds an instance running (the extension stand-in present,
// so the probe answers at once), beside a program that only runs gtk_init
// and exits, with the same environment and display.
//
// `-quit` ends the instance, so each iteration starts a new one first, out
// of the timed part: it waits for "Started server" and a settling time, so
// the instance is idle when the second start begins.  In each iteration the
// baseline runs first, beside the same idle instance, so that a change in
// the machine's load falls on both.  Beside the wall time, each program's
// own CPU time (user and system, from wait4) is recorded: it is what the
// program costs whatever else the machine does.  Both programs get the session's
// environment without G_MESSAGES_DEBUG (as in a user's session); the
// instance keeps it, so its log shows every "Quit application".
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "session.h"

namespace {

using ryx::bench::median;
using ryx::test::Child;
using ryx::test::Session;
using ryx::test::SessionOptions;

constexpr int kIterations = 20;
constexpr int kSettleMs = 500;

Session &session() {
  static std::unique_ptr<Session> s;
  if (!s) {
    SessionOptions options;
    options.trayHost = true;
    s = std::make_unique<Session>(options);
  }
  return *s;
}

std::vector<std::string> clientEnv() {
  std::vector<std::string> env;
  for (const std::string &e : session().env())
    if (e.rfind("G_MESSAGES_DEBUG=", 0) != 0) env.push_back(e);
  return env;
}

// Starts argv with its output in `log` and waits for its exit; the exit
// status, or -1, and the child's CPU time in cpuMs.  wait4 blocks, so the
// exit is seen at once.
int runToExit(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &log,
              double *cpuMs) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char *> args, envp;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  struct rusage usage = {};
  if (wait4(pid, &status, 0, &usage) != pid) return -1;
  *cpuMs =
      (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool startInstance() {
  Child &p = session().startInstance();
  if (!p.running() || p.err().find("Started server") == std::string::npos) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
  return true;
}

std::map<std::string, std::vector<double>> &times() {
  static std::map<std::string, std::vector<double>> t;
  return t;
}

// Runs argv to its end and records its wall and CPU time under `name`;
// false when it failed.
bool timed(const std::string &name, const std::vector<std::string> &argv, const std::string &log) {
  static const std::vector<std::string> env = clientEnv();
  double cpuMs = 0;
  const auto start = std::chrono::steady_clock::now();
  int status = runToExit(argv, env, log, &cpuMs);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (status != 0) return false;
  times()[name].push_back(ms);
  times()[name + " cpu"].push_back(cpuMs);
  return true;
}

void HandOff(benchmark::State &state) {
  const std::string logs = session().folder() + "/logs/";
  for (auto _ : state) {
    if (!startInstance()) {
      state.SkipWithError("the instance did not start");
      break;
    }
    if (!timed("gtk_init only", {GTK_INIT_ONLY, "-quit"}, logs + "bench-gtk-init")) {
      state.SkipWithError("gtk_init program failed");
      break;
    }
    bool handed = timed("ryxconfig -quit", {RYXCONFIG_EXE, "-quit"}, logs + "bench-quit");
    Child &instance = session().instance();
    int ended = instance.wait(10000);
    bool quit = instance.err().find("Quit application") != std::string::npos;
    if (!handed || ended != 0 || !quit) {
      state.SkipWithError("-quit did not end the instance cleanly");
      break;
    }
  }
}

}  // namespace

BENCHMARK(HandOff)->Iterations(kIterations)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv) {
  signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printf("\nmedian of %d single runs:\n", kIterations);
  for (const char *what : {"", " cpu"}) {
    double quit = median(times()[std::string("ryxconfig -quit") + what]);
    double base = median(times()[std::string("gtk_init only") + what]);
    printf("  %-5s ryxconfig -quit %6.1f ms, gtk_init only %6.1f ms", *what ? "cpu" : "wall", quit, base);
    if (quit > 0 && base > 0) printf(", ratio %.2f (goal <= 1.20)", quit / base);
    printf("\n");
  }
  return 0;
}
