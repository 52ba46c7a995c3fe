// The logical Num Lock state machine: edge-triggered toggle, Shift inverting the keypad, and a
// keypad mode that is committed only while no keypad key is held.
#include "core/numlock_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <tuple>

namespace {

// Spelled out rather than taken from the header, so that a wrong constant there fails here.
constexpr uint64_t kToggled = uint64_t{1} << 0;
constexpr uint64_t kCommitted = uint64_t{1} << 1;
constexpr uint64_t kLogicalOnBit = uint64_t{1} << 32;
constexpr uint64_t kEffectiveBit = uint64_t{1} << 40;
constexpr uint8_t kLeftShift = 0x02;
constexpr uint8_t kRightShift = 0x20;
constexpr uint32_t kKeypad8 = 0x002;
constexpr uint32_t kKeypad1 = 0x040;

// What must hold after every call, whatever came before.
void ExpectConsistent(const numlock_state& s) {
  EXPECT_EQ(s.effective_numeric_mode, s.logical_on != s.shift_held);
  EXPECT_EQ(numlock_state_logical_on(&s), s.logical_on);
  EXPECT_EQ(numlock_state_shift_held(&s), s.shift_held);
  EXPECT_EQ(numlock_state_effective_numeric_mode(&s), s.effective_numeric_mode);
  EXPECT_EQ(numlock_state_mapping_deferred(&s),
            s.mapped_keys_down != 0 && s.applied_numeric_mode != s.effective_numeric_mode);
}

void ExpectRecord(const numlock_state& got, const numlock_state& want) {
  const auto fields = [](const numlock_state& s) {
    return std::tuple(s.logical_on, s.num_lock_down, s.shift_held, s.effective_numeric_mode,
                      s.applied_numeric_mode, s.mapped_keys_down);
  };
  EXPECT_EQ(fields(got), fields(want));
}

// One update from a record as the session may leave it (including applied != effective after
// a rollback), so each kind of event is seen in isolation.
TEST(NumlockStateTest, Transitions) {
  struct Transition {
    const char* event;
    numlock_state before;
    numlock_physical_snapshot snapshot;
    numlock_state after;
    uint64_t flags;  // bits 0 and 1; bits 32 and 40 follow from `after`
  };
  // Records: logical_on, num_lock_down, shift_held, effective, applied, mapped_keys_down.
  // clang-format off
  const Transition table[] = {
      {"Num Lock pressed, keypad free",
       {1, 0, 0, 1, 1, 0}, {true, 0, 0}, {0, 1, 0, 0, 0, 0}, kToggled | kCommitted},
      {"Num Lock pressed with Shift held, keypad free",
       {0, 0, 1, 1, 1, 0}, {true, kLeftShift, 0}, {1, 1, 1, 0, 0, 0}, kToggled | kCommitted},
      {"Num Lock pressed as Shift is released: the effective mode stays put",
       {1, 0, 1, 0, 0, 0}, {true, 0, 0}, {0, 1, 0, 0, 0, 0}, kToggled},
      {"Num Lock pressed while a keypad key is held",
       {1, 0, 0, 1, 1, kKeypad8}, {true, 0, kKeypad8}, {0, 1, 0, 0, 1, kKeypad8}, kToggled},
      {"second press while the keypad key is still held cancels the waiting change",
       {0, 0, 0, 0, 1, kKeypad8}, {true, 0, kKeypad8}, {1, 1, 0, 1, 1, kKeypad8}, kToggled},
      {"Num Lock stays down",
       {0, 1, 0, 0, 0, 0}, {true, 0, 0}, {0, 1, 0, 0, 0, 0}, 0},
      {"Num Lock stays down after a rollback, keypad free",
       {0, 1, 0, 0, 1, 0}, {true, 0, 0}, {0, 1, 0, 0, 0, 0}, kCommitted},
      {"Num Lock released with a keypad key held and a change waiting",
       {0, 1, 0, 0, 1, kKeypad1}, {false, 0, kKeypad1}, {0, 0, 0, 0, 1, kKeypad1}, 0},
      {"Shift pressed, keypad free",
       {1, 0, 0, 1, 1, 0}, {false, kRightShift, 0}, {1, 0, 1, 0, 0, 0}, kCommitted},
      {"Shift released, keypad free",
       {1, 0, 1, 0, 0, 0}, {false, 0, 0}, {1, 0, 0, 1, 1, 0}, kCommitted},
      {"Shift pressed while a keypad key is held",
       {1, 0, 0, 1, 1, kKeypad8}, {false, kLeftShift, kKeypad8}, {1, 0, 1, 0, 1, kKeypad8}, 0},
      {"Left Shift swapped for Right Shift",
       {1, 0, 1, 0, 0, 0}, {false, kRightShift, 0}, {1, 0, 1, 0, 0, 0}, 0},
      {"one keypad key swapped for another with a change waiting",
       {1, 0, 1, 0, 1, kKeypad8}, {false, kLeftShift, kKeypad1}, {1, 0, 1, 0, 1, kKeypad1}, 0},
      {"last keypad key released with a change waiting",
       {1, 0, 1, 0, 1, kKeypad8}, {false, kLeftShift, 0}, {1, 0, 1, 0, 0, 0}, kCommitted},
  };
  // clang-format on
  for (const Transition& t : table) {
    SCOPED_TRACE(t.event);
    numlock_state s = t.before;
    EXPECT_EQ(numlock_state_update(&s, t.snapshot),
              t.flags | (t.after.logical_on ? kLogicalOnBit : 0) |
                  (t.after.effective_numeric_mode ? kEffectiveBit : 0));
    ExpectRecord(s, t.after);
    ExpectConsistent(s);
  }
}

// Initialisation sets every field from its arguments alone: the record may hold a previous
// attachment's state. A Num Lock key already down counts as held, not pressed.
TEST(NumlockStateTest, InitTakesNothingFromThePreviousRecord) {
  struct Case {
    const char* what;
    bool logical_on;
    numlock_physical_snapshot first;
    numlock_state want;
  };
  const Case cases[] = {
      {"nothing down", true, {false, 0, 0}, {1, 0, 0, 1, 1, 0}},
      {"Num Lock down", false, {true, 0, 0}, {0, 1, 0, 0, 0, 0}},
      {"Shift held with Num Lock on", true, {false, kLeftShift, 0}, {1, 0, 1, 0, 0, 0}},
      {"Right Shift and a keypad key",
       false,
       {false, kRightShift, kKeypad1},
       {0, 0, 1, 1, 1, kKeypad1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const numlock_state& w = c.want;
    numlock_state s{!w.logical_on,           !w.num_lock_down,
                    !w.shift_held,           !w.effective_numeric_mode,
                    !w.applied_numeric_mode, ~w.mapped_keys_down};
    numlock_state_init(&s, c.logical_on, c.first);
    ExpectRecord(s, w);
    ExpectConsistent(s);
    EXPECT_EQ(numlock_state_update(&s, c.first) & (kToggled | kCommitted), 0u);
    ExpectRecord(s, w);
  }
}

// A long deterministic run of arbitrary snapshots: only bits 0, 1, 32 and 40 are ever set and
// the last two mirror the record; only the Shift bits of the modifier byte count (Control, Alt
// and GUI must never shift the keypad); a toggle happens exactly on an up-to-down edge; applied
// changes exactly when bit 1 is reported, never under a held keypad key, and catches up once
// the keypad is free.
TEST(NumlockStateTest, ArbitrarySnapshotsKeepTheRules) {
  std::mt19937 rng(20240601);
  numlock_state s;
  numlock_state_init(&s, false, {false, 0, 0});
  for (int i = 0; i < 20000 && !testing::Test::HasFailure(); ++i) {
    SCOPED_TRACE(i);
    const uint32_t r = rng();
    // The keypad is free in half of the reports, so commits are frequent.
    const numlock_physical_snapshot next{(r & 1) != 0, static_cast<uint8_t>(r >> 1),
                                         (r & 0x200) != 0 ? (r >> 10) & 0x7FF : 0};
    const numlock_state before = s;
    const uint64_t result = numlock_state_update(&s, next);
    EXPECT_EQ(result & ~(kToggled | kCommitted | kLogicalOnBit | kEffectiveBit), 0u);
    EXPECT_EQ((result & kLogicalOnBit) != 0, s.logical_on);
    EXPECT_EQ((result & kEffectiveBit) != 0, s.effective_numeric_mode);
    EXPECT_EQ(s.shift_held, (next.modifiers & (kLeftShift | kRightShift)) != 0);
    EXPECT_EQ((result & kToggled) != 0, next.num_lock_down && !before.num_lock_down);
    EXPECT_EQ(s.logical_on != before.logical_on, (result & kToggled) != 0);
    EXPECT_EQ(s.applied_numeric_mode != before.applied_numeric_mode, (result & kCommitted) != 0);
    EXPECT_EQ(s.applied_numeric_mode,
              next.mapped_keys_down != 0 ? before.applied_numeric_mode : s.effective_numeric_mode);
    ExpectConsistent(s);
  }
}

}  // namespace
