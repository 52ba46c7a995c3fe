// The "UserKeyMapping" values the session reads and writes: the program's two mappings, the
// well-formedness and ownership tests, and normalization. Used by the keypad-mapping and
// mapping-lease code of the keyboard session.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/core_foundation.h"
#include "platform/plist.h"

namespace padwarden {

// (usage page << 32) | usage for the Keyboard/Keypad page.
inline constexpr int64_t kKeyboardPageKey = int64_t{0x7} << 32;

// The numeric-mode mapping (the Num Lock key gives nothing) or the navigation-mode one (the
// same entry, then the keypad keys as navigation keys). None when any allocation fails.
std::optional<plist::Value> create_mapping(CoreFoundation& cf, bool numericMode);
// The same mapping made without the platform's allocator (which never fails here): for those
// who compare a keyboard's value with the program's, such as the desk and the test harness.
plist::Value program_mapping(bool numericMode);

// True when the value is an array equal to either of the program's two mappings. Decided
// from the keypad table without allocating, so that a failed allocation can never make the
// program mistake its own mapping for somebody else's.
bool mapping_is_ours(const std::optional<plist::Value>& value);

// An array of dictionaries each holding integer (not floating) Src and Dst numbers that fit in
// signed 64 bits; other keys may travel along. An absent value is not well formed.
bool mapping_array_is_well_formed(const std::optional<plist::Value>& value);

// Whether the value stands for the original, counting an absent value as empty.
bool mapping_matches_normalized_original(const std::optional<plist::Value>& value,
                                         const std::optional<plist::Value>& original);

// A new empty array for an absent value, the value itself when well formed, none otherwise
// (and none when the empty array cannot be allocated).
std::optional<plist::Value> copy_normalized_mapping(CoreFoundation& cf,
                                                    const std::optional<plist::Value>& value);

}  // namespace padwarden
