// The logical Num Lock state machine of one keyboard; the keyboard session embeds the record
// and feeds it one snapshot per valid boot input report.
#pragma once

#include <cstdint>

// One keyboard's logical Num Lock and keypad mode. The session reads and writes these
// fields directly as well as through the functions below.
struct numlock_state {
  bool logical_on;
  bool num_lock_down;
  bool shift_held;
  bool effective_numeric_mode;  // always logical_on XOR shift_held
  bool applied_numeric_mode;    // the mode the keypad mapping must reflect
  uint32_t mapped_keys_down;    // bit i: keypad key of kNavigationMappings row i is down
};

// What one boot input report says about the keys that matter here. Laid out so that, read
// as a little-endian 64-bit word, bit 0 is num_lock_down, bits 8-15 the modifiers and bits
// 32-63 the keypad bits.
struct numlock_physical_snapshot {
  bool num_lock_down;
  uint8_t modifiers;
  uint32_t mapped_keys_down;
};
static_assert(sizeof(numlock_physical_snapshot) == 8, "the snapshot is one 64-bit word");

// Result bits of numlock_state_update.
inline constexpr uint64_t kNumLockToggled = 1;
inline constexpr uint64_t kAppliedModeChanged = 2;
inline constexpr unsigned kResultLogicalOnShift = 32;
inline constexpr unsigned kResultEffectiveNumericShift = 40;

// Left Shift (bit 1) and Right Shift (bit 5) of the boot modifier byte.
inline constexpr uint8_t kShiftModifierMask = 0x22;

void numlock_state_init(numlock_state* state, bool logical_on, numlock_physical_snapshot first);
uint64_t numlock_state_update(numlock_state* state, numlock_physical_snapshot next);

bool numlock_state_logical_on(const numlock_state* state);
bool numlock_state_shift_held(const numlock_state* state);
bool numlock_state_effective_numeric_mode(const numlock_state* state);
// True while a mode change waits for the keypad keys to be released.
bool numlock_state_mapping_deferred(const numlock_state* state);
