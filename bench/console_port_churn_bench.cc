// SPDX-License-Identifier: MIT
// Console-port churn: short-lived application connections (connect, the
// application handshake with its zero byte, an update, close) against a
// running ryxconfig instance, beside a minimal GSocketService that reads the
// same bytes, in one run.
//
// A connection's work is done when the server has closed its side: the
// client sends everything, shuts its writing half and waits for the end of
// the stream.  ryxconfig closes an application's connection only after it
// has read the handshake and the update, listed the application, seen its
// end and released it; the minimal service closes after reading to the end.
// So each connection is counted only once the server has finished with it,
// on both sides alike.  `window` connections are kept in flight at once
// (1: one after the other, the latency; 16: the server's throughput).
// Each iteration is a batch of kBatch connections; items_per_second is the
// rate.  At the end the servers' own counts are checked against what was
// sent, and the ratio ryxconfig / minimal of each window is printed.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "session.h"

namespace {

using ryx::bench::cpuNanoseconds;
using ryx::bench::median;
using ryx::test::Child;
using ryx::test::connectLoopback;
using ryx::test::Session;
using ryx::test::SessionOptions;

constexpr int kBatch = 50;
// Batches per run: 10,000 connections, about half a second.
constexpr int kIterations = 200;
constexpr int kBatchDeadlineMs = 20000;
constexpr const char kAppName[] = "bench-app";

std::string message() {
  std::string m("RVN Dashboard Thread\n");
  m.push_back('\0');
  m += std::string("<Update>\n<AppName>") + kAppName + "</AppName>\n<RenderingServer>rs</RenderingServer>\n</Update>\n";
  return m;
}

// The client sends its end first, so each connection leaves its client
// side in TIME_WAIT for a minute.  From one source address, at these rates,
// that fills loopback's 28,000 local ports within seconds, and every later
// connect() searches them for one to reuse: that search, not the server,
// became the measure, and varied with how many connections the runs before
// had left behind.  So the connections come from 127.0.0.2 to 127.0.0.65 in
// turn (all of 127/8 is loopback), each with a port space of its own.
constexpr int kSourceAddresses = 64;

int connectFromNextSource(int port) {
  static uint32_t next = 0;
  next = (next + 1) % kSourceAddresses;
  return connectLoopback(port, INADDR_LOOPBACK + 1 + next);
}

// Runs `count` connections with at most `window` in flight; false (with
// the reason) when one fails or the batch takes longer than the deadline.
bool churn(int port, int count, int window, std::string *why) {
  static const std::string bytes = message();
  std::vector<pollfd> flight;
  int started = 0, finished = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBatchDeadlineMs);
  while (finished < count) {
    while (static_cast<int>(flight.size()) < window && started < count) {
      int fd = connectFromNextSource(port);
      if (fd < 0) return *why = std::string("connect: ") + strerror(errno), false;
      if (send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
        close(fd);
        return *why = "short send", false;
      }
      shutdown(fd, SHUT_WR);
      flight.push_back({fd, POLLIN, 0});
      ++started;
    }
    int ready = poll(flight.data(), flight.size(), 1000);
    if (ready < 0) return *why = "poll failed", false;
    if (std::chrono::steady_clock::now() > deadline) return *why = "server did not keep up", false;
    for (size_t i = 0; i < flight.size();) {
      if (flight[i].revents == 0) {
        ++i;
        continue;
      }
      char c;
      ssize_t n = recv(flight[i].fd, &c, 1, 0);
      close(flight[i].fd);
      if (n != 0) return *why = n > 0 ? "server sent data" : std::string("recv: ") + strerror(errno), false;
      flight[i] = flight.back();
      flight.pop_back();
      ++finished;
    }
  }
  return true;
}

int64_t sent(const std::string &server, bool add = false, int64_t count = 0) {
  static std::map<std::string, int64_t> totals;
  if (add) totals[server] += count;
  return totals[server];
}

// A server's first connections are slower than the rest (its heap and
// caches are cold; a fresh instance is still settling after docking), and
// the first run against each server would carry that alone.  So each gets
// this many connections before its first run, outside every measure.
constexpr int kWarmUpConnections = 5000;

// (They count among what the server is checked against at the end.)
void warmUp(const std::string &server, int port) {
  std::string why;
  if (port <= 0) return;
  if (churn(port, kWarmUpConnections, 16, &why))
    sent(server, true, kWarmUpConnections);
  else
    fprintf(stderr, "%s warm-up: %s\n", server.c_str(), why.c_str());
}

// ryxconfig as the session's instance, with the stand-in daemon and
// extension and a notification area (its icon docks), run once per flavour.
struct Instance {
  std::unique_ptr<Session> session;
  bool debugLog;
};

Instance &instance(bool debugLog) {
  static std::map<bool, Instance> instances;
  Instance &entry = instances[debugLog];
  if (entry.session) return entry;
  SessionOptions options;
  options.trayHost = true;
  entry.session = std::make_unique<Session>(options);
  entry.debugLog = debugLog;
  // Without G_MESSAGES_DEBUG, as in a user's session; debug and info
  // lines are dropped.  The other flavour writes every line to a file.
  if (!debugLog) entry.session->setEnv("G_MESSAGES_DEBUG", "none");
  entry.session->startInstance({}, false);
  // Ready once the console port accepts (a peer that closes at once is
  // dropped without a word); then let the instance dock and settle.
  for (int i = 0; i < 300; ++i) {
    int fd = connectLoopback(entry.session->consolePort());
    if (fd >= 0) {
      close(fd);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));
  warmUp(debugLog ? "ryxconfig-debug-log" : "ryxconfig", entry.session->consolePort());
  return entry;
}

struct Minimal {
  std::unique_ptr<ryx::test::TempDir> dir;
  std::unique_ptr<Child> process;
  int port = 0;
};

Minimal &minimal() {
  static Minimal m;
  if (m.process) return m;
  m.dir = std::make_unique<ryx::test::TempDir>();
  m.process = std::make_unique<Child>(std::vector<std::string>{MINIMAL_SOCKET_SERVICE}, std::vector<std::string>{},
                                      *m.dir / "minimal");
  if (ryx::test::waitForOut(*m.process, "listening on", 5000)) {
    std::string out = m.process->out();
    m.port = atoi(out.c_str() + out.find("listening on ") + strlen("listening on "));
    warmUp("minimal", m.port);
  }
  return m;
}

std::map<std::string, std::vector<double>> &rates() {
  static std::map<std::string, std::vector<double>> r;
  return r;
}

std::map<std::string, std::vector<double>> &cpuPerConnection() {
  static std::map<std::string, std::vector<double>> c;
  return c;
}

void runChurn(benchmark::State &state, const std::string &server, int port, pid_t pid) {
  const int window = static_cast<int>(state.range(0));
  if (port <= 0) {
    state.SkipWithError("server did not start");
    return;
  }
  std::string why;
  int64_t batches = 0;
  const int64_t cpuStart = cpuNanoseconds(pid);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (!churn(port, kBatch, window, &why)) {
      state.SkipWithError(why.c_str());
      break;
    }
    ++batches;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  sent(server, true, batches * kBatch);
  state.SetItemsProcessed(batches * kBatch);
  rates()[server + "/" + std::to_string(window)].push_back(static_cast<double>(batches * kBatch) / seconds);
  const int64_t cpuEnd = cpuNanoseconds(pid);
  if (cpuStart >= 0 && cpuEnd >= cpuStart && batches > 0) {
    const double us = static_cast<double>(cpuEnd - cpuStart) / 1000.0 / static_cast<double>(batches * kBatch);
    state.counters["server_cpu_us"] = us;
    cpuPerConnection()[server + "/" + std::to_string(window)].push_back(us);
  }
}

void Ryxconfig(benchmark::State &state) {
  Session &session = *instance(false).session;
  runChurn(state, "ryxconfig", session.consolePort(), session.instance().pid());
}

void RyxconfigDebugLog(benchmark::State &state) {
  Session &session = *instance(true).session;
  runChurn(state, "ryxconfig-debug-log", session.consolePort(), session.instance().pid());
}

void MinimalService(benchmark::State &state) {
  Minimal &m = minimal();
  runChurn(state, "minimal", m.port, m.process->pid());
}

size_t countOf(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// The servers' own account of the run; false when it does not match.
bool verify() {
  bool ok = true;
  std::string listed = std::string("A new connected application: ") + kAppName;
  for (bool debugLog : {false, true}) {
    const int64_t count = sent(debugLog ? "ryxconfig-debug-log" : "ryxconfig");
    if (count == 0) continue;
    Instance &entry = instance(debugLog);
    Child &process = entry.session->instance();
    const bool alive = process.running();
    std::string err = process.err();
    size_t warnings = countOf(err, "WRONG HANDSHAKE") + countOf(err, "Wrong read") + countOf(err, "Stopped reading");
    printf("ryxconfig%s: %lld connections sent, instance %s, %zu read warnings", debugLog ? " (debug log)" : "",
           static_cast<long long>(count), alive ? "running" : "GONE", warnings);
    bool good = alive && warnings == 0;
    if (debugLog) {
      size_t seen = countOf(err, listed);
      printf(", %zu listed", seen);
      good = good && seen == static_cast<size_t>(count);
    }
    printf(" -> %s\n", good ? "ok" : "MISMATCH");
    ok = ok && good;
  }
  if (const int64_t count = sent("minimal"); count > 0) {
    Minimal &m = minimal();
    m.process->stop();
    std::string out = m.process->out();
    unsigned long long connections = 0, bytes = 0;
    size_t at = out.find("connections ");
    if (at != std::string::npos) sscanf(out.c_str() + at, "connections %llu bytes %llu", &connections, &bytes);
    bool good = connections == static_cast<unsigned long long>(count) && bytes == connections * message().size();
    printf("minimal service: %lld connections sent, %llu ended, %llu bytes -> %s\n", static_cast<long long>(count),
           connections, bytes, good ? "ok" : "MISMATCH");
    ok = ok && good;
  }
  return ok;
}

}  // namespace

// Interleaved so that a change in the machine's load falls on both sides:
// scripts/bench runs each of these ten times in random order and the
// figures below are the medians of those runs.
BENCHMARK(Ryxconfig)->ArgName("window")->Arg(1)->Arg(16)->Iterations(kIterations)->UseRealTime();
BENCHMARK(MinimalService)->ArgName("window")->Arg(1)->Arg(16)->Iterations(kIterations)->UseRealTime();
BENCHMARK(RyxconfigDebugLog)->ArgName("window")->Arg(1)->Arg(16)->Iterations(kIterations)->UseRealTime();

int main(int argc, char **argv) {
  signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printf("\nmedian connections per second (runs of %d connections each):\n", kBatch * kIterations);
  for (const char *window : {"1", "16"}) {
    double base = median(rates()[std::string("minimal/") + window]);
    for (const char *server : {"ryxconfig", "ryxconfig-debug-log", "minimal"}) {
      std::vector<double> &v = rates()[std::string(server) + "/" + window];
      if (v.empty()) continue;
      double r = median(v);
      printf("  window %-2s %-20s %8.0f/s  server CPU %5.1f us/connection", window, server, r,
             median(cpuPerConnection()[std::string(server) + "/" + window]));
      if (base > 0 && std::string(server) != "minimal") printf("  ratio to minimal %.2f (goal >= 0.80)", r / base);
      printf("\n");
    }
  }
  return verify() ? 0 : 1;
}
