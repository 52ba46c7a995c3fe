// The product's safety rules, watched on a simulated world, on every event service of every
// keyboard. Whenever a service holds a mapping the program wrote that is not its own, a sound
// record naming that service and its true original is saved; every other value the program
// writes is the service's true original; it never writes over a value somebody else set
// unless that value is the original it records; it deletes no record while its own mapping
// is still on the keyboard; and while keypad handling is disabled it only ever takes its own
// mapping off. The rules state these facts from the world alone (see program_facts.h), free
// of any test framework, so that the randomized simulation, the fuzz targets and the scenario
// fixtures (safety_monitor.h) share them.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/plist.h"
#include "platform/sim/world.h"
#include "tests/support/program_facts.h"

namespace padwarden::testing {

// Keyboard names to the mapping its first event service would have without the program, kept
// up to date by the caller where it knows better than the world (a value the program left
// that a lost record made the keyboard's own). Any other service's true original is what
// another program last wrote there.
using TrueOriginals = std::map<std::string, std::optional<plist::Value>>;

class SafetyRules {
 public:
  // The rules read `trueOriginal` as writes happen. Installs the world's mapping-write and
  // preferences-save observers.
  SafetyRules(sim::World& world, const TrueOriginals& trueOriginal);

  // What the observers saw since the last call, then the saved records of every keyboard now.
  // Empty when every rule holds.
  std::vector<std::string> takeViolations();

  // The record saved for the keyboard's current registry ID, or none.
  std::optional<plist::Value> storedLease(const std::string& name) const {
    return saved_record(world_, name);
  }
  std::optional<plist::Value> trueOriginal(const std::string& name, size_t service = 0) const;
  // Whether a service of the keyboard holds a value the program wrote (and nobody changed
  // since) that is not the service's own.
  bool holdsProgramsChange(const std::string& name) const;
  // Whether the running program has keypad handling switched off, as it last stored it.
  bool handlingDisabled() const;

 private:
  void observe(const sim::MappingWrite& write);
  void saved(const plist::Dictionary& before);
  void stored(std::string_view key, const std::optional<plist::Value>& value);
  bool holdsProgramsChange(const std::string& name, size_t service) const;
  // Whether another program replaced the program's change on a service of the keyboard after
  // the program's last successful read of that service's mapping: the program cannot know yet.
  bool replacedUnseen(const std::string& name) const;
  bool isProgramsOwn(uint64_t serial, const std::optional<plist::Value>& value) const;
  std::string recordProblem(const std::string& name, size_t service) const;

  sim::World& world_;
  const TrueOriginals& trueOriginal_;
  // By service serial: the value the program last wrote, until somebody else writes there;
  // and what another program last wrote (the true original of services past the first).
  std::map<uint64_t, std::optional<plist::Value>> programWrote_;
  std::map<uint64_t, std::optional<plist::Value>> otherWrote_;
  // By service serial: the call count when another program last replaced the program's change.
  std::map<uint64_t, uint64_t> replacedAtCall_;
  std::vector<std::string> violations_;
};

}  // namespace padwarden::testing
