// The desk over a day of virtual time: one keyboard, Padwarden running with its mapping on, then
// 24 hours of its timers (a discovery pass every 1.5 s, the 5-second reconcile). Reports the
// process's peak resident set afterwards (max_rss_kB), which must stay under 10 MB, and, on the
// durable store the terminal uses, how often the preferences file was written in that idle day
// (file_writes_per_idle_day), which should be none: nothing changes.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "desk/desk.h"
#include "platform/posix/file_preferences.h"

namespace {

using padwarden::desk::Desk;
using padwarden::desk::DeskSettings;

void BM_desk_day_of_virtual_time(benchmark::State& state) {
  std::string folder = std::filesystem::temp_directory_path().string() + "/desk-bench-XXXXXX";
  if (!mkdtemp(folder.data())) {
    state.SkipWithError("no temporary folder");
    return;
  }
  for (auto _ : state) {
    std::ostringstream out;
    Desk desk(DeskSettings{folder, false, nullptr, {}}, out);
    for (const char* line : {"plug kb1", "launch", "tap kb1 a", "wait 86400"}) {
      desk.execute(line);
    }
    benchmark::DoNotOptimize(desk.world().recorder().callCount());
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
#ifdef __APPLE__
  const double maxRssKB = static_cast<double>(usage.ru_maxrss) / 1024;  // bytes there
#else
  const double maxRssKB = static_cast<double>(usage.ru_maxrss);
#endif
  state.counters["max_rss_kB"] = maxRssKB;
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}
BENCHMARK(BM_desk_day_of_virtual_time)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_desk_idle_day_on_the_durable_store(benchmark::State& state) {
  std::string folder = std::filesystem::temp_directory_path().string() + "/desk-bench-XXXXXX";
  if (!mkdtemp(folder.data())) {
    state.SkipWithError("no temporary folder");
    return;
  }
  // The store lives in $XDG_CONFIG_HOME/Padwarden, a folder of the benchmark's own.
  const std::string config = folder + "/config";
  std::filesystem::create_directories(config + "/Padwarden");
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  uint64_t writes = 0;
  for (auto _ : state) {
    // Each day on a machine of its own: no record left by the day before.
    std::filesystem::remove(config + "/Padwarden/preferences.plist");
    std::ostringstream out;
    Desk desk(DeskSettings{folder, true, nullptr, {}}, out);
    for (const char* line : {"plug kb1", "launch", "tap kb1 a", "wait 10"}) desk.execute(line);
    const uint64_t before = padwarden::FilePreferences::filesWritten();
    desk.execute("wait 86400");
    writes += padwarden::FilePreferences::filesWritten() - before;
  }
  state.counters["file_writes_per_idle_day"] =
      static_cast<double>(writes) / static_cast<double>(state.iterations());
  unsetenv("XDG_CONFIG_HOME");
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}
BENCHMARK(BM_desk_idle_day_on_the_durable_store)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
