// SPDX-License-Identifier: MIT
// Parsing a 1 MB configuration file with ryx::IniFile, beside GLib's
// GKeyFile on the same file, in one run.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/ini_file.h"

namespace {

// A file of about 1 MB: sections of settings lines, with comments.
const std::string &sampleFile() {
  static std::string path;
  if (!path.empty()) return path;
  char pattern[] = "/tmp/ryx-bench-ini-XXXXXX";
  int fd = mkstemp(pattern);
  path = pattern;
  std::string text;
  int section = 0;
  while (text.size() < 1024 * 1024) {
    text += "# settings of group " + std::to_string(section) + "\n[Section" + std::to_string(section) + "]\n";
    for (int i = 0; i < 40; ++i)
      text += "key_" + std::to_string(i) + " = value number " + std::to_string(i * section) + "\n";
    ++section;
  }
  if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) abort();
  close(fd);
  return path;
}

void BM_IniFile(benchmark::State &state) {
  const std::string &path = sampleFile();
  for (auto _ : state) {
    ryx::IniFile file(path.c_str());
    if (!file.load()) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(file.getValue("Section7", "key_3"));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024 * 1024);
}
BENCHMARK(BM_IniFile)->Unit(benchmark::kMillisecond);

void BM_GKeyFile(benchmark::State &state) {
  const std::string &path = sampleFile();
  for (auto _ : state) {
    GKeyFile *file = g_key_file_new();
    if (!g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_NONE, nullptr)) state.SkipWithError("parse failed");
    char *value = g_key_file_get_value(file, "Section7", "key_3", nullptr);
    benchmark::DoNotOptimize(value);
    g_free(value);
    g_key_file_free(file);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024 * 1024);
}
BENCHMARK(BM_GKeyFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
