// The two safety rules of the product, watched on a simulated world: whenever a keyboard holds
// one of the program's mappings, a sound lease naming its true original is saved; and the
// program never writes over a mapping that somebody else set. Used by every scenario fixture.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/plist.h"
#include "platform/sim/world.h"

namespace padwarden::testing {

class SafetyMonitor {
 public:
  // `trueOriginal` maps keyboard names to the mapping the keyboard would have without the
  // program (kept up to date by the fixture); the monitor reads it as writes happen.
  SafetyMonitor(sim::World& world,
                const std::map<std::string, std::optional<plist::Value>>& trueOriginal);

  // Reports (as test failures) what the write observer saw since the last check, then checks
  // the saved leases of every keyboard now.
  void check();

  // The lease saved for the keyboard's current registry ID, or none.
  std::optional<plist::Value> storedLease(const std::string& name) const;

 private:
  void observe(const sim::MappingWrite& write);

  sim::World& world_;
  const std::map<std::string, std::optional<plist::Value>>& trueOriginal_;
  std::vector<std::string> violations_;
};

}  // namespace padwarden::testing
