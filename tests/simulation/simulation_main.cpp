// The randomized simulation, run from the command line: a range of seeds, each a run of random
// events followed by healing. A failure names its seed and event, which replay exactly.
//   padwarden_simulation [--seeds N] [--first-seed S] [--events M] [--mix X] [--verbose]
//                        [--calls-from E] [--hashes]
// --calls-from prints every platform call made from event E on, to see what went wrong;
// --hashes prints each seed's trace hash, to check that a mix still replays as it did.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <string>

#include "tests/simulation/simulation.h"

namespace {

bool number_argument(int argc, char** argv, int& i, const char* name, uint64_t& value) {
  if (std::strcmp(argv[i], name) != 0 || i + 1 >= argc) return false;
  char* end = nullptr;
  value = std::strtoull(argv[++i], &end, 10);
  return *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  using namespace padwarden::simulation;
  uint64_t seeds = 1, firstSeed = 1, events = 10000, mix = kLatestMix, callsFrom = 0;
  bool verbose = false, hashes = false;
  for (int i = 1; i < argc; ++i) {
    if (number_argument(argc, argv, i, "--seeds", seeds) ||
        number_argument(argc, argv, i, "--first-seed", firstSeed) ||
        number_argument(argc, argv, i, "--events", events) ||
        number_argument(argc, argv, i, "--mix", mix) ||
        number_argument(argc, argv, i, "--calls-from", callsFrom)) {
      continue;
    }
    if (std::strcmp(argv[i], "--verbose") == 0 || std::strcmp(argv[i], "--hashes") == 0) {
      (argv[i][2] == 'v' ? verbose : hashes) = true;
      continue;
    }
    std::cerr << "usage: padwarden_simulation [--seeds N] [--first-seed S] [--events M] "
                 "[--mix X] [--verbose] [--calls-from E] [--hashes]\n";
    return 2;
  }

  const auto started = std::chrono::steady_clock::now();
  uint64_t played = 0, launches = 0;
  for (uint64_t seed = firstSeed; seed < firstSeed + seeds; ++seed) {
    Simulation simulation(static_cast<int>(mix));
    Random random(seed, static_cast<int>(mix));
    std::deque<std::string> recent;
    for (uint64_t n = 1; n <= events; ++n) {
      const Event event = random_event(random);
      recent.push_back(describe(event));
      if (recent.size() > 25) recent.pop_front();
      if (verbose) std::cout << n << ": " << describe(event) << "\n";
      const std::optional<std::string> problem = simulation.play(event);
      if (callsFrom && n >= callsFrom) {
        for (const padwarden::sim::Call& call : simulation.world().recorder().trace()) {
          std::cout << "    " << call.op << " " << call.detail << (call.failed ? " FAILED" : "")
                    << "\n";
        }
      }
      simulation.traceHash();
      ++played;
      if (problem) {
        std::cerr << "seed " << seed << ", event " << n << " (" << describe(event)
                  << "): " << *problem << "\nlast events:";
        for (const std::string& line : recent) std::cerr << " [" << line << "]";
        std::cerr << "\nreplay: padwarden_simulation --first-seed " << seed << " --events " << n
                  << " --mix " << mix << " --verbose\n";
        return 1;
      }
    }
    if (const std::optional<std::string> problem = simulation.heal()) {
      std::cerr << "seed " << seed << ", healing after " << events << " events: " << *problem
                << "\nreplay: padwarden_simulation --first-seed " << seed << " --events " << events
                << " --mix " << mix << " --verbose\n";
      return 1;
    }
    launches += simulation.launches();
    if (hashes) std::cout << "seed " << seed << " hash " << simulation.traceHash() << "\n";
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cout << "simulation: " << seeds << " seeds, " << played << " events, " << launches
            << " launches, all healed, in " << seconds << " s\n";
  return 0;
}
