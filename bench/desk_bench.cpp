// The desk's memory over a day of virtual time: one keyboard, Padwarden running, then 24 hours
// of its timers (a discovery pass every 1.5 s, the 5-second reconcile). Reports the process's
// peak resident set afterwards (max_rss_kB), which must stay under 10 MB.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "desk/desk.h"

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
    Desk desk(DeskSettings{folder, false, nullptr}, out);
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

}  // namespace
