// The logical Num Lock state machine: edge-triggered toggle, Shift inversion, and a keypad
// mode that is committed only while no keypad key is held.
#include "core/numlock_state.h"

namespace {

bool shift_in(uint8_t modifiers) { return (modifiers & kShiftModifierMask) != 0; }

}  // namespace

void numlock_state_init(numlock_state* state, bool logical_on, numlock_physical_snapshot first) {
  state->logical_on = logical_on;
  // A Num Lock key already down here is recorded as down, so holding it across an
  // attachment is not a press; only its next press is.
  state->num_lock_down = first.num_lock_down;
  state->shift_held = shift_in(first.modifiers);
  state->effective_numeric_mode = state->logical_on != state->shift_held;
  state->applied_numeric_mode = state->effective_numeric_mode;
  state->mapped_keys_down = first.mapped_keys_down;
}

uint64_t numlock_state_update(numlock_state* state, numlock_physical_snapshot next) {
  const bool pressed = next.num_lock_down && !state->num_lock_down;

  state->num_lock_down = next.num_lock_down;
  state->shift_held = shift_in(next.modifiers);
  state->mapped_keys_down = next.mapped_keys_down;
  if (pressed) {
    state->logical_on = !state->logical_on;
  }
  state->effective_numeric_mode = state->logical_on != state->shift_held;

  uint64_t flags = pressed ? kNumLockToggled : 0;
  // Changing the mapping under a held keypad key would turn its release into a different
  // key than its press, so the commit waits for a report with the keypad free.
  if (state->mapped_keys_down == 0 &&
      state->applied_numeric_mode != state->effective_numeric_mode) {
    state->applied_numeric_mode = state->effective_numeric_mode;
    flags |= kAppliedModeChanged;
  }
  flags |= static_cast<uint64_t>(state->logical_on) << kResultLogicalOnShift;
  flags |= static_cast<uint64_t>(state->effective_numeric_mode) << kResultEffectiveNumericShift;
  return flags;
}

bool numlock_state_logical_on(const numlock_state* state) { return state->logical_on; }

bool numlock_state_shift_held(const numlock_state* state) { return state->shift_held; }

bool numlock_state_effective_numeric_mode(const numlock_state* state) {
  return state->effective_numeric_mode;
}

bool numlock_state_mapping_deferred(const numlock_state* state) {
  return state->mapped_keys_down != 0 &&
         state->applied_numeric_mode != state->effective_numeric_mode;
}
