// The seeded, randomized simulation of the whole program: a random mix of what can happen to
// Padwarden (keyboards plugged and unplugged, keys, menu clicks, permission changes, other
// programs' mappings, sleep, crashes, restarts, time, injected faults) played against the
// application on the simulated world, with the safety rules and the menu's consistency checked
// after every event, then a healing phase that must bring every keyboard back to its right
// state. Used by the simulation program, its tests and the whole-system fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/padwarden_app_delegate.h"
#include "platform/sim/world.h"
#include "tests/support/safety_rules.h"

namespace padwarden::simulation {

enum class EventKind : uint8_t {
  Plug,
  Unplug,
  Press,
  Release,
  Tap,
  Click,
  Permission,
  ForeignMapping,
  Sleep,
  Wake,
  Crash,
  Launch,
  Reboot,
  Wait,
  Fault,
  ClearFaults,
  CrashAtCall,
  EventSystemRestart,
  Count,
};

struct Event {
  EventKind kind = EventKind::Wait;
  uint8_t a = 0;  // which keyboard, item, key...
  uint8_t b = 0;  // a second choice (device kind, key, fault mode...)
};

std::string describe(const Event& event);
std::string describe(const std::optional<plist::Value>& value);

// The mix of events, and how a seed starts them. Seeds found under an older mix replay under
// it exactly.
//   1: the first mix.
//   2: other programs also write ill-formed mappings and seize keyboards for themselves, and
//      an injected fault may answer "not permitted" (access withdrawn in the middle of a step).
//   3: a seed is hashed before it starts the stream; before, seed s + 1 played seed s's stream
//      one draw later, so neighbouring seeds played nearly the same events.
//   4: a fault replaces the operation's earlier one, so an operation fails in one run of calls
//      at a time. Runs of several rules interleaved could fail every read of the mapping and
//      no other read: the platform answers that exactly as it answers an absent mapping, and
//      no program can tell them apart.
//   5: other programs also set values equal to one of the program's mappings, where no record
//      stands (there they are the keyboard's own).
//   6: other programs do what real ones can: values that begin like the program's mappings,
//      differ from them in one entry or are floating-point copies of them or of an original;
//      writes and removals on any service of keyboards with several (one whose second service
//      is not the keyboard's, one with two that match it); a write or removal just before any
//      platform call of an operation, the read after it failing at times; records left in the
//      store by another boot, keyboard or version; property writes that land and answer
//      failure, and ones that answer success and are lost. Other programs' mappings come more
//      often.
//   7: the HID event system restarts at times, every service's mapping gone at once (the one
//      way a service that held a mapping comes to hold none).
// In every mix the world does only what a Mac does: other programs set values (an empty array
// where older mixes removed the mapping) and never remove one; a write they could not make
// (a value equal to the program's where a record stands, or where the program has read the
// mapping in the middle of an install) fails no call; and a read that another program's write
// fails is not also failed by a fault rule, so that no look sees the answer of a keyboard
// without a mapping where there is one.
inline constexpr int kLatestMix = 7;

// A small, fully specified generator (the standard distributions differ between libraries,
// and a seed must replay the same run everywhere).
class Random {
 public:
  explicit Random(uint64_t seed, int mix = kLatestMix);
  uint64_t next();
  uint32_t below(uint32_t bound) { return static_cast<uint32_t>(next() % bound); }
  int mix() const { return mix_; }

 private:
  uint64_t state_;
  int mix_;
};

Event random_event(Random& random);
// Events from raw bytes (three a piece), for the fuzz target.
std::vector<Event> events_from_bytes(const uint8_t* data, size_t size);

// Launches Padwarden in the world as its main does, answering its delegate.
std::weak_ptr<PadwardenAppDelegate> launch_padwarden(sim::World& world);

class Simulation {
 public:
  explicit Simulation(int mix = kLatestMix);
  ~Simulation();
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  // Plays one event, runs what is due, and checks every rule. Answers the first broken rule.
  std::optional<std::string> play(const Event& event);
  // Faults off, keys released, permission granted, time passes; then every keyboard must be in
  // its right state, and a quit must hand every keyboard back. Answers what is wrong.
  std::optional<std::string> heal();

  // A hash of every platform call made so far, for checking that a seed replays exactly.
  uint64_t traceHash();
  size_t launches() const { return world_.launches(); }
  // The world and the running program's delegate (or null), for replaying a failure.
  sim::World& world() { return world_; }
  std::shared_ptr<PadwardenAppDelegate> delegate() const { return delegate_.lock(); }

 private:
  void plug(size_t slot, uint8_t choice);
  void foreignMapping(const Event& event);
  void restartEventSystem();
  // Another program writes the value on the keyboard's service, as the rules and healing need
  // to know it; a value equal to one of the program's mappings only where no record stands and
  // the program is not between its capture of the mapping and its record's save (nobody could
  // tell it from the program's own there). False when it writes nothing.
  bool writeForeign(size_t slot, size_t service, const plist::Value& value);
  // Whether the program read the service's mapping since this event began.
  bool programLookedThisEvent(size_t slot, size_t service);
  // The same, just before the nth platform call from now (or the first after it at which a
  // careful program can still see it before it writes).
  void writeForeignAtCall(size_t slot, size_t service, plist::Value value,
                          uint64_t n, bool readFails);
  std::optional<std::string> check();
  std::optional<std::string> checkMenu();
  std::string keyboardName(size_t slot) const;
  bool supported(size_t slot) const;
  // A key on every keyboard plugged in, so that each sends a report (`settleEach`: each handled
  // before the next keyboard's).
  void tapEveryKeyboard(bool settleEach = false);
  // Whether the service holds its own mapping once the program has quit.
  bool handedBack(size_t slot, size_t service) const;

  const int mix_;
  sim::World world_;
  testing::TrueOriginals trueOriginal_;
  testing::SafetyRules rules_{world_, trueOriginal_};
  std::weak_ptr<PadwardenAppDelegate> delegate_;
  // What is known of a keyboard slot: the kind last plugged, the keys held down, whether
  // another party wrote the mapping of the service the program last wrote since it did, and
  // which service that is (a failed read can leave one of two matching services looking like
  // the only one), and whether another program holds the keyboard exclusively.
  struct Slot {
    uint8_t kind = 0;
    std::vector<uint8_t> held;
    bool foreignSinceProgram = false;
    size_t programService = 0;
    bool seized = false;
  };
  std::vector<Slot> slots_;
  // The call count when the current event began.
  uint64_t eventFirstCall_ = 0;
  uint64_t hash_ = 1469598103934665603ull;
};

}  // namespace padwarden::simulation
