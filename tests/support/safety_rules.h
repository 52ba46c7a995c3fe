// The product's safety rules, watched on a simulated world: whenever a keyboard holds one of
// the program's mappings, a sound lease naming its true original is saved; the program never
// writes over a mapping that somebody else set; and it never deletes a lease while its mapping
// is still on the keyboard. Free of any test framework, so that the randomized simulation and
// the fuzz targets use the same rules as the scenario fixtures (see safety_monitor.h).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/plist.h"
#include "platform/sim/world.h"

namespace padwarden::testing {

using TrueOriginals = std::map<std::string, std::optional<plist::Value>>;

class SafetyRules {
 public:
  // `trueOriginal` maps keyboard names to the mapping the keyboard would have without the
  // program (kept up to date by the caller); the rules read it as writes happen. Installs the
  // world's mapping-write and preferences-save observers.
  SafetyRules(sim::World& world, const TrueOriginals& trueOriginal);

  // What the observers saw since the last call, then the saved leases of every keyboard now.
  // Empty when every rule holds.
  std::vector<std::string> takeViolations();

  // The lease saved for the keyboard's current registry ID, or none.
  std::optional<plist::Value> storedLease(const std::string& name) const;

 private:
  void observe(const sim::MappingWrite& write);
  void saved(const plist::Dictionary& before);

  sim::World& world_;
  const TrueOriginals& trueOriginal_;
  std::vector<std::string> violations_;
};

// Whether a keyboard's mapping stands for its original: the same value, an absent value and an
// empty array counting as the same.
bool stands_for_original(const std::optional<plist::Value>& value,
                         const std::optional<plist::Value>& original);

}  // namespace padwarden::testing
