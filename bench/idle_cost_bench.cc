// SPDX-License-Identifier: MIT
// Idle cost: what a running ryxconfig instance costs a session that leaves
// it alone — CPU time and resident memory over a quiet minute, with 10
// applications connected and 8 viewers on the extension, its icon docked
// and its window closed — beside a minimal program with a GtkStatusIcon
// and a 2-second timer, in the same session (same X server and
// notification area) over the same minute.
//
// CPU time is the scheduler's account of each process (/proc/PID/schedstat,
// all threads); memory is VmRSS at the end of the minute.  The length of
// the quiet time is RYX_BENCH_IDLE_SECONDS (default 60).
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

#include "session.h"

namespace {

using ryx::test::Process;
using ryx::test::Session;
using ryx::test::SessionOptions;

constexpr int kApps = 10;
constexpr int kViewers = 8;
constexpr int kSettleSeconds = 5;

int64_t cpuNanoseconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  long long ns = -1;
  in >> ns;
  return in ? ns : -1;
}

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
  int seconds = 0;
  bool ok = false;
} result;

void IdleCost(benchmark::State &state) {
  const char *length = getenv("RYX_BENCH_IDLE_SECONDS");
  const int seconds = length != nullptr && atoi(length) > 0 ? atoi(length) : 60;
  SessionOptions options;
  options.trayHost = true;
  for (int i = 0; i < kViewers; ++i)
    options.vncExtArgs.push_back("--viewer=" + std::to_string(100 + i) + ":" + (i % 3 ? "1" : "0") + ":viewer-" +
                                 std::to_string(i));
  Session session(options);
  // The installed images, so that both icons draw the same picture.
  mkdir((session.folder() + "/root/share").c_str(), 0700);
  mkdir((session.folder() + "/root/share/ryx").c_str(), 0700);
  symlink(RYX_IMAGES_DIR, (session.folder() + "/root/share/ryx/images").c_str());
  session.setEnv("G_MESSAGES_DEBUG", "none");  // as in a user's session

  for (auto _ : state) {
    Process &instance = session.startInstance({"-nowin"}, false);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int i = 0; i < kApps; ++i) session.startApp({"--name", "C:\\Apps\\app" + std::to_string(i) + ".exe"});
    Process minimal;
    minimal.start({MINIMAL_STATUS_ICON, RYX_IMAGES_DIR "/ryx_status_icon.png"}, session.env(),
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

}  // namespace

BENCHMARK(IdleCost)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!result.ok) return 1;
  printf("\nidle for %d s with %d applications and %d viewers:\n", result.seconds, kApps, kViewers);
  printf("  cpu    ryxconfig %8.1f ms, minimal status icon %8.1f ms, ratio %.2f (goal <= 1.50)\n", result.cpuMs[0],
         result.cpuMs[1], result.cpuMs[1] > 0 ? result.cpuMs[0] / result.cpuMs[1] : 0.0);
  printf("  memory ryxconfig %8ld KiB, minimal status icon %8ld KiB, ratio %.2f (goal <= 1.30)\n", result.rssKiB[0],
         result.rssKiB[1], result.rssKiB[1] > 0 ? static_cast<double>(result.rssKiB[0]) / result.rssKiB[1] : 0.0);
  return 0;
}
