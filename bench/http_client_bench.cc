// SPDX-License-Identifier: MIT
// GET /index.html from ryx-render-server on loopback, with ryx::http::Client
// and with libcurl's easy interface side by side: same server program, same
// bodies (100 B, 64 KiB, 1 MiB), one connection per request for both.
// RyxClient and Curl reuse one client (one easy handle) for every request;
// the *Fresh pair makes a new one per request, as the rendering server
// check does.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "net/http_client.h"
#include "test_support.h"

namespace {

// One server per body size, started on first use and ended at exit.
uint16_t serverPort(size_t bodySize) {
  static std::map<size_t, std::pair<std::unique_ptr<ryx::test::Child>, uint16_t>> servers;
  auto found = servers.find(bodySize);
  if (found != servers.end()) return found->second.second;
  auto process = std::make_unique<ryx::test::Child>(
      std::vector<std::string>{RYX_RENDER_SERVER, "--port", "0", "--body-size", std::to_string(bodySize)});
  std::string line;
  if (!process->readLine(&line, 5000)) {
    fprintf(stderr, "ryx-render-server did not start\n");
    exit(1);
  }
  const uint16_t port = static_cast<uint16_t>(atoi(line.c_str()));
  servers[bodySize] = {std::move(process), port};
  return port;
}

void RyxClientFresh(benchmark::State &state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const uint16_t port = serverPort(size);
  const ryx::NameValueCollection none;
  for (auto _ : state) {
    ryx::http::Client client("127.0.0.1", port);
    ryx::http::Response response = client.doGet("/index.html", none, none);
    if (!response.valid() || strlen(response.body()) != size) {
      state.SkipWithError("request failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void RyxClient(benchmark::State &state) {
  const size_t size = static_cast<size_t>(state.range(0));
  ryx::http::Client client("127.0.0.1", serverPort(size));
  const ryx::NameValueCollection none;
  {
    ryx::http::Response check = client.doGet("/index.html", none, none);
    if (!check.valid() || check.statusCode() != 200 || strlen(check.body()) != size) {
      state.SkipWithError("unexpected answer");
      return;
    }
  }
  for (auto _ : state) {
    ryx::http::Response response = client.doGet("/index.html", none, none);
    if (!response.valid()) {
      state.SkipWithError("request failed");
      break;
    }
    benchmark::DoNotOptimize(response.body());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

size_t appendBody(char *data, size_t size, size_t count, void *user) {
  static_cast<std::string *>(user)->append(data, size * count);
  return size * count;
}

void Curl(benchmark::State &state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const std::string url = "http://127.0.0.1:" + std::to_string(serverPort(size)) + "/index.html";
  CURL *curl = curl_easy_init();
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (curl_easy_perform(curl) != CURLE_OK || body.size() != size) {
    state.SkipWithError("unexpected answer");
    curl_easy_cleanup(curl);
    return;
  }
  for (auto _ : state) {
    body.clear();
    long code = 0;
    if (curl_easy_perform(curl) != CURLE_OK || curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK ||
        code != 200) {
      state.SkipWithError("request failed");
      break;
    }
    benchmark::DoNotOptimize(body.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  curl_easy_cleanup(curl);
}

void CurlFresh(benchmark::State &state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const std::string url = "http://127.0.0.1:" + std::to_string(serverPort(size)) + "/index.html";
  for (auto _ : state) {
    CURL *curl = curl_easy_init();
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    const bool ok = curl_easy_perform(curl) == CURLE_OK && body.size() == size;
    curl_easy_cleanup(curl);
    if (!ok) {
      state.SkipWithError("request failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

BENCHMARK(RyxClient)->Arg(100)->Arg(64 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Curl)->Arg(100)->Arg(64 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(RyxClientFresh)->Arg(100)->Arg(64 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(CurlFresh)->Arg(100)->Arg(64 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
