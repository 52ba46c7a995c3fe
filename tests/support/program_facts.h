// What the safety rules know of the program, stated from its promise rather than taken from
// its code: its two keypad mappings as literal tables, and what a recovery record that names a
// keyboard's original must hold. Used by the safety rules and the simulation harness.
#pragma once

#include <optional>
#include <string>

#include "platform/plist.h"
#include "platform/sim/world.h"

namespace padwarden::testing {

// The numeric-mode mapping (Num Lock gives nothing) or the navigation-mode one, entry by entry.
const plist::Value& numeric_mode_mapping();
const plist::Value& navigation_mode_mapping();
// Exactly one of the two: same entries, same order, integer numbers, nothing more.
bool is_program_mapping(const std::optional<plist::Value>& value);

// The same value, kinds counted (an integer never equals a real), except that an absent
// mapping and an empty array stand for each other.
bool stands_for_original(const std::optional<plist::Value>& value,
                         const std::optional<plist::Value>& original);

// The boot as a record names it: seconds, a point, six digits of microseconds.
std::string boot_session_text(const BootTimeValue& boot);

// The recovery record saved for the keyboard's current registry ID, or none.
std::optional<plist::Value> saved_record(sim::World& world, const std::string& keyboard);
std::string record_key(sim::World& world, const std::string& keyboard);
// Why the record cannot bring the keyboard back to `original`: not the five entries, not this
// boot, not this keyboard's device or event service, or another original. Empty when it can.
std::string record_problem(sim::World& world, const std::string& keyboard,
                           const plist::Value& record,
                           const std::optional<plist::Value>& original);

}  // namespace padwarden::testing
