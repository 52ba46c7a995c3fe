// The product's safety rules, watched on a simulated world. Whenever a keyboard holds a mapping
// the program wrote that is not the keyboard's own, a sound record naming its true original
// is saved; every other value the program writes is the true original; it never writes over a
// value somebody else set unless that value is the original it records; it deletes no record
// while its own mapping is still on the keyboard; and while keypad handling is disabled it
// only ever takes its own mapping off. The rules state these facts from the world alone (see
// program_facts.h), free of any test framework, so that the randomized simulation, the fuzz
// targets and the scenario fixtures (safety_monitor.h) share them.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/plist.h"
#include "platform/sim/world.h"
#include "tests/support/program_facts.h"

namespace padwarden::testing {

using TrueOriginals = std::map<std::string, std::optional<plist::Value>>;

class SafetyRules {
 public:
  // `trueOriginal` maps keyboard names to the mapping the keyboard would have without the
  // program (kept up to date by the caller); the rules read it as writes happen. Installs the
  // world's mapping-write and preferences-save observers.
  SafetyRules(sim::World& world, const TrueOriginals& trueOriginal);

  // What the observers saw since the last call, then the saved records of every keyboard now.
  // Empty when every rule holds.
  std::vector<std::string> takeViolations();

  // The record saved for the keyboard's current registry ID, or none.
  std::optional<plist::Value> storedLease(const std::string& name) const {
    return saved_record(world_, name);
  }
  // Whether the keyboard's event service holds a value the program wrote (and nobody changed
  // since) that is not the keyboard's own.
  bool holdsProgramsChange(const std::string& name) const;
  // Whether the running program has keypad handling switched off, as it last stored it.
  bool handlingDisabled() const;

 private:
  void observe(const sim::MappingWrite& write);
  void saved(const plist::Dictionary& before);
  void stored(std::string_view key, const std::optional<plist::Value>& value);
  std::optional<plist::Value> original(const std::string& name) const;
  bool isProgramsOwn(const std::string& name, const std::optional<plist::Value>& value) const;

  sim::World& world_;
  const TrueOriginals& trueOriginal_;
  // The value the program last wrote to each event service (by registry ID), until somebody
  // else writes there.
  std::map<uint64_t, std::optional<plist::Value>> programWrote_;
  std::vector<std::string> violations_;
};

}  // namespace padwarden::testing
