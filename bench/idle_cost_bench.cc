// SPDX-License-Identifier: MIT
// Idle cost: what a running ryxconfig instance costs a session that leaves
// it alone — CPU time and resident memory over a quiet minute, with 10
// applications connected and 8 viewers on the extension, its icon docked
// and its window closed — beside a minimal program with a GtkStatusIcon
// and a 2-second timer, in the same session (same X server and
// notification area) over the same minute.
//
// CPU time is the scheduler's account of each process (/proc/PID/schedstat,
// all threads); memory is VmRSS at the end of the minute, and the part of
// it mapped from the OpenGL driver's files (the trigger window keeps a GL
// context; on a machine without a GPU that is Mesa's software rasteriser
// with LLVM).  The length of the quiet time is RYX_BENCH_IDLE_SECONDS
// (default 60).
//
// Busy check: the same instance with 100 applications and 64 viewers and
// its status window open, over 10 periods of the 2-second check: the CPU
// time it used per period, as a share of the period.  That is everything
// the instance did — the check, the extension round trips it makes (one
// per viewer), and the redraws that follow — an upper bound of the check's
// duty cycle.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "session.h"

namespace {

using ryx::bench::cpuNanoseconds;
using ryx::test::Child;
using ryx::test::Session;
using ryx::test::SessionOptions;

constexpr int kApps = 10;
constexpr int kViewers = 8;
constexpr int kSettleSeconds = 5;

long residentKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return atol(line.c_str() + 6);
  return -1;
}

struct Result {
  double cpuMs[2] = {0, 0};
  long rssKiB[2] = {0, 0};
  long driverKiB = 0;
  int seconds = 0;
  bool ok = false;
  double busyCpuMsPerPeriod = -1;
} result;

std::vector<std::string> viewerArgs(int count) {
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i)
    args.push_back("--viewer=" + std::to_string(100 + i) + ":" + (i % 3 ? "1" : "0") + ":viewer-" + std::to_string(i));
  return args;
}

void linkImages(Session &session) {
  // The installed images, so that the icons draw the real picture.
  mkdir((session.folder() + "/root/share").c_str(), 0700);
  mkdir((session.folder() + "/root/share/ryx").c_str(), 0700);
  symlink(RYX_IMAGES_DIR, (session.folder() + "/root/share/ryx/images").c_str());
  session.setEnv("G_MESSAGES_DEBUG", "none");  // as in a user's session
}

void IdleCost(benchmark::State &state) {
  const char *length = getenv("RYX_BENCH_IDLE_SECONDS");
  const int seconds = length != nullptr && atoi(length) > 0 ? atoi(length) : 60;
  SessionOptions options;
  options.trayHost = true;
  options.vncExtArgs = viewerArgs(kViewers);
  Session session(options);
  linkImages(session);

  for (auto _ : state) {
    Child &instance = session.startInstance({"-nowin"}, false);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int i = 0; i < kApps; ++i) session.startApp({"--name", "C:\\Apps\\app" + std::to_string(i) + ".exe"});
    Child minimal({MINIMAL_STATUS_ICON, RYX_IMAGES_DIR "/ryx_status_icon.png"}, session.env(),
                  session.folder() + "/logs/minimal");
    std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));

    const pid_t pids[2] = {instance.pid(), minimal.pid()};
    int64_t start[2], end[2];
    for (int i = 0; i < 2; ++i) start[i] = cpuNanoseconds(pids[i]);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (int i = 0; i < 2; ++i) {
      end[i] = cpuNanoseconds(pids[i]);
      result.cpuMs[i] = static_cast<double>(end[i] - start[i]) / 1e6;
      result.rssKiB[i] = residentKiB(pids[i]);
    }
    result.driverKiB = ryx::bench::glDriverMemory(pids[0]).rss;
    result.seconds = seconds;
    result.ok = instance.running() && minimal.running() && start[0] >= 0 && start[1] >= 0 && end[0] >= start[0] &&
                end[1] >= start[1];
    if (!result.ok) state.SkipWithError("a program ended or could not be measured");
    state.counters["ryxconfig_cpu_ms"] = result.cpuMs[0];
    state.counters["minimal_cpu_ms"] = result.cpuMs[1];
    state.counters["ryxconfig_rss_kib"] = static_cast<double>(result.rssKiB[0]);
    state.counters["minimal_rss_kib"] = static_cast<double>(result.rssKiB[1]);
    session.runClient({"-quit"});
    instance.wait(10000);
    minimal.stop();
  }
}

void BusyCheck(benchmark::State &state) {
  constexpr int kBusyApps = 100, kBusyViewers = 64, kPeriods = 10;
  SessionOptions options;
  options.trayHost = true;
  options.vncExtArgs = viewerArgs(kBusyViewers);
  Session session(options);
  linkImages(session);
  for (auto _ : state) {
    Child &instance = session.startInstance({"-nowin"}, false);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int i = 0; i < kBusyApps; ++i) session.startApp({"--name", "app" + std::to_string(i)});
    session.runClient({});  // opens the status window
    std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
    const int64_t start = cpuNanoseconds(instance.pid());
    std::this_thread::sleep_for(std::chrono::seconds(2 * kPeriods));
    const int64_t end = cpuNanoseconds(instance.pid());
    if (!instance.running() || start < 0 || end < start) {
      state.SkipWithError("the instance ended or could not be measured");
      break;
    }
    result.busyCpuMsPerPeriod = static_cast<double>(end - start) / 1e6 / kPeriods;
    state.counters["cpu_ms_per_period"] = result.busyCpuMsPerPeriod;
    session.runClient({"-quit"});
    instance.wait(10000);
  }
}

}  // namespace

BENCHMARK(IdleCost)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BusyCheck)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (result.busyCpuMsPerPeriod >= 0)
    printf(
        "\nbusy check (100 applications, 64 viewers, window open): %.2f ms CPU per 2 s period, %.3f %% "
        "(goal < 0.5 %%)\n",
        result.busyCpuMsPerPeriod, result.busyCpuMsPerPeriod / 2000.0 * 100.0);
  if (!result.ok) return result.busyCpuMsPerPeriod >= 0 ? 0 : 1;
  printf("\nidle for %d s with %d applications and %d viewers:\n", result.seconds, kApps, kViewers);
  printf("  cpu    ryxconfig %8.1f ms, minimal status icon %8.1f ms, ratio %.2f (goal <= 1.50)\n", result.cpuMs[0],
         result.cpuMs[1], result.cpuMs[1] > 0 ? result.cpuMs[0] / result.cpuMs[1] : 0.0);
  printf("  memory ryxconfig %8ld KiB, minimal status icon %8ld KiB, ratio %.2f (goal <= 1.30)\n", result.rssKiB[0],
         result.rssKiB[1], result.rssKiB[1] > 0 ? static_cast<double>(result.rssKiB[0]) / result.rssKiB[1] : 0.0);
  const long own = result.rssKiB[0] - result.driverKiB;
  printf("  memory ryxconfig without the OpenGL driver's %ld KiB: %ld KiB, ratio %.2f\n", result.driverKiB, own,
         result.rssKiB[1] > 0 ? static_cast<double>(own) / result.rssKiB[1] : 0.0);
  return 0;
}
