// The whole program under a fuzzed story: the input is read as a sequence of events (three
// bytes each: what happens, and two choices) played against the application on the simulated
// world, with the safety rules and the menu's consistency as the oracle after every event,
// then the healing phase. Any broken rule aborts with its description.
#include <cstdio>
#include <cstdlib>

#include "tests/simulation/simulation.h"

namespace {

// Longer stories add little that shorter ones miss, and keep each run fast.
constexpr size_t kMaxEvents = 400;

[[noreturn]] void broken(size_t event, const std::string& what) {
  std::fprintf(stderr, "rule broken at event %zu: %s\n", event, what.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace padwarden::simulation;
  std::vector<Event> events = events_from_bytes(data, size);
  if (events.size() > kMaxEvents) events.resize(kMaxEvents);
  Simulation simulation;
  for (size_t n = 0; n < events.size(); ++n) {
    if (std::optional<std::string> problem = simulation.play(events[n])) broken(n + 1, *problem);
    simulation.traceHash();
  }
  if (std::optional<std::string> problem = simulation.heal()) broken(events.size() + 1, *problem);
  return 0;
}
