// What other programs put where Padwarden looks, for the simulation's newer mixes: mappings
// that resemble the program's own or a keyboard's (equal to them, beginning like them,
// differing in one entry, floating-point copies) and recovery records another boot, keyboard
// or version left in the store. Used by the randomized simulation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/plist.h"
#include "platform/sim/world.h"

namespace padwarden::simulation {

inline constexpr uint8_t kLookalikeCount = 16;
// Values 14 and 15 are equal to the program's numeric and navigation mappings.
bool lookalike_equals_programs(uint8_t which);
// One of kLookalikeCount values; `original` (what the service would hold without the
// program) is the model of the floating-point copy of an original.
plist::Value lookalike_mapping(uint8_t which,
                                              const std::optional<plist::Value>& original);

// A record for the keyboard under its key that no run of the program may restore from: made in
// another boot, for another device or event service, of another version, or holding a
// floating-point original. None when the keyboard is not plugged.
std::optional<plist::Value> foreign_record(sim::World& world, const std::string& keyboard,
                                           uint8_t which);

// Whether another program's write to a service just before this call (its name and detail)
// is one a careful program can still see before it writes that service, even when the read
// after it fails. `service` names it as call details do ("kb1 service 0 "); `trace` holds the
// calls made before this one.
bool careful_program_can_see(const std::vector<sim::Call>& trace, const std::string& service,
                             std::string_view op, const std::string& detail);

}  // namespace padwarden::simulation
