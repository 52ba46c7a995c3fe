// The journeys whose every platform call the crash and fault tests visit: first install, mode
// switch, disable, quit, permission loss, unplug, and recovery at launch after a crash. Each
// is a setup and the journey proper, played on a Rig: the whole application on a simulated
// world with one keyboard "kb1" that has a mapping of its own.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/padwarden_app_delegate.h"
#include "platform/sim/world.h"
#include "tests/support/safety_rules.h"

namespace padwarden::testing {

class Rig {
 public:
  Rig();
  ~Rig();

  void launch();
  bool running() { return world.process() != nullptr; }
  void tap(uint8_t usage);
  void click(const std::string& titlePrefix);
  std::shared_ptr<KeyboardController> controller();

  // Brings the program back as a user would after whatever happened: faults off, the keyboard
  // plugged in (again) and permission granted, a launch when nothing runs, a report with no
  // key held, then time for retries. With `keepCrashPoint` a crash point set before stays, so
  // that the recovery itself can be cut short.
  void recover(bool keepCrashPoint = false);
  // Where the keyboard must be once recovered: its own mapping and no record, or (handling
  // enabled) the program's mapping for its mode under a sound record. Empty when it is so.
  std::vector<std::string> settledProblems();

  sim::World world;
  TrueOriginals trueOriginal;
  SafetyRules rules{world, trueOriginal};

 private:
  std::weak_ptr<PadwardenAppDelegate> delegate_;
};

struct Journey {
  const char* name;
  std::function<void(Rig&)> setup;
  std::function<void(Rig&)> journey;
};

const std::vector<Journey>& journeys();

// Test output names a journey rather than dumping its bytes.
inline void PrintTo(const Journey& journey, std::ostream* out) { *out << journey.name; }

// kb1's own mapping: Caps Lock gives Left Control.
plist::Value kb1_own_mapping();

}  // namespace padwarden::testing
