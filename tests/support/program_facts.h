// What the safety rules know of the program, stated from its promise rather than taken from
// its code: its two keypad mappings as literal tables, and what a recovery record that names a
// keyboard's original must hold. Used by the safety rules and the simulation harness.
#pragma once

#include <optional>
#include <string>

#include "platform/plist.h"
#include "platform/sim/world.h"

namespace padwarden::testing {

// One entry of a key mapping, Src and Dst as integers.
plist::Value mapping_entry(int64_t source, int64_t destination);

// The numeric-mode mapping (Num Lock gives nothing) or the navigation-mode one, entry by entry.
const plist::Value& numeric_mode_mapping();
const plist::Value& navigation_mode_mapping();
const plist::Value& mode_mapping(bool numericMode);
// Exactly one of the two: same entries, same order, integer numbers, nothing more.
bool is_program_mapping(const std::optional<plist::Value>& value);

// The same value, kinds counted (an integer never equals a real); none equals only none.
bool identical(const std::optional<plist::Value>& a, const std::optional<plist::Value>& b);

// Whether the value gives the keyboard back its original exactly: the same value, kinds
// counted, except that a keyboard that had no mapping may get an empty array (no program can
// remove a property). An empty array is never given back as no mapping.
bool stands_for_original(const std::optional<plist::Value>& value,
                         const std::optional<plist::Value>& original);

// The boot as a record names it: seconds, a point, six digits of microseconds.
std::string boot_session_text(const BootTimeValue& boot);

// The recovery record saved for the keyboard's current registry ID, or none.
std::optional<plist::Value> saved_record(sim::World& world, const std::string& keyboard);
// The preference key of the keyboard's record under its current registry ID (empty when it is
// not plugged in).
std::string record_key(const sim::World& world, const std::string& keyboard);
// Why the record cannot bring the keyboard's `service`-th event service back to `original`:
// not the five entries, not this boot, not this keyboard's device or that event service, or
// another original. Empty when it can.
std::string record_problem(sim::World& world, const std::string& keyboard,
                           const plist::Value& record, const std::optional<plist::Value>& original,
                           size_t service = 0);

}  // namespace padwarden::testing
