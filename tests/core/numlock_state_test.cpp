// The logical Num Lock state machine: edge-triggered toggle, Shift inverting the keypad, and a
// keypad mode that is committed only while no keypad key is held.
#include "core/numlock_state.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <random>

namespace {

// Result bits spelled out here rather than taken from the header, so that a wrong constant
// there fails these tests instead of agreeing with them.
constexpr uint64_t kToggled = uint64_t{1} << 0;
constexpr uint64_t kCommitted = uint64_t{1} << 1;
constexpr uint64_t kLogicalOnBit = uint64_t{1} << 32;
constexpr uint64_t kEffectiveBit = uint64_t{1} << 40;
constexpr uint64_t kKnownBits = kToggled | kCommitted | kLogicalOnBit | kEffectiveBit;

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
  EXPECT_EQ(got.logical_on, want.logical_on);
  EXPECT_EQ(got.num_lock_down, want.num_lock_down);
  EXPECT_EQ(got.shift_held, want.shift_held);
  EXPECT_EQ(got.effective_numeric_mode, want.effective_numeric_mode);
  EXPECT_EQ(got.applied_numeric_mode, want.applied_numeric_mode);
  EXPECT_EQ(got.mapped_keys_down, want.mapped_keys_down);
}

TEST(NumlockStateTest, SnapshotIsOneWordWithFixedOffsets) {
  EXPECT_EQ(sizeof(numlock_physical_snapshot), 8u);
  EXPECT_EQ(offsetof(numlock_physical_snapshot, num_lock_down), 0u);
  EXPECT_EQ(offsetof(numlock_physical_snapshot, modifiers), 1u);
  EXPECT_EQ(offsetof(numlock_physical_snapshot, mapped_keys_down), 4u);
}

TEST(NumlockStateTest, WorkedSequence) {
  struct Step {
    numlock_physical_snapshot snapshot;
    bool logical_on, shift_held, effective, applied;
    uint64_t result;
    bool deferred;
  };
  // clang-format off
  const Step steps[] = {
      // Num Lock, modifiers, keypad   logical shift effective applied  result  deferred
      {{true, 0x00, 0x000},            0, 0, 0, 0, kToggled | kCommitted,                   0},
      {{true, 0x00, 0x000},            0, 0, 0, 0, 0,                                       0},
      {{false, 0x00, 0x000},           0, 0, 0, 0, 0,                                       0},
      {{false, 0x00, kKeypad8},        0, 0, 0, 0, 0,                                       0},
      {{false, kLeftShift, kKeypad8},  0, 1, 1, 0, kEffectiveBit,                           1},
      {{false, kLeftShift, 0x000},     0, 1, 1, 1, kCommitted | kEffectiveBit,              0},
      {{false, 0x00, 0x000},           0, 0, 0, 0, kCommitted,                              0},
      {{true, 0x00, kKeypad1},         1, 0, 1, 0, kToggled | kLogicalOnBit | kEffectiveBit, 1},
      {{false, 0x00, kKeypad1},        1, 0, 1, 0, kLogicalOnBit | kEffectiveBit,           1},
      {{false, 0x00, 0x000},           1, 0, 1, 1, kCommitted | kLogicalOnBit | kEffectiveBit, 0},
      {{false, kRightShift, 0x000},    1, 1, 0, 0, kCommitted | kLogicalOnBit,              0},
      {{true, kRightShift, 0x000},     0, 1, 1, 1, kToggled | kCommitted | kEffectiveBit,   0},
  };
  // clang-format on

  numlock_state s;
  numlock_state_init(&s, true, {false, 0x00, 0x000});
  ExpectRecord(s, {true, false, false, true, true, 0});
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(testing::Message() << "step " << i);
    const Step& step = steps[i];
    EXPECT_EQ(numlock_state_update(&s, step.snapshot), step.result);
    ExpectRecord(s, {step.logical_on, step.snapshot.num_lock_down, step.shift_held, step.effective,
                     step.applied, step.snapshot.mapped_keys_down});
    EXPECT_EQ(numlock_state_mapping_deferred(&s), step.deferred);
    ExpectConsistent(s);
  }
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
      {"Num Lock released",
       {0, 1, 0, 0, 0, 0}, {false, 0, 0}, {0, 0, 0, 0, 0, 0}, 0},
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
    const uint64_t result = numlock_state_update(&s, t.snapshot);
    EXPECT_EQ(result, t.flags | (t.after.logical_on ? kLogicalOnBit : 0) |
                          (t.after.effective_numeric_mode ? kEffectiveBit : 0));
    ExpectRecord(s, t.after);
    ExpectConsistent(s);
  }
}

// Initialisation sets every field from its arguments alone: the record may hold a previous
// attachment's state. Feeding the same snapshot again reports no toggle and no commit, so a
// Num Lock key already down counts as held, not pressed.
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
      {"Shift held with Num Lock on: navigation from the start",
       true,
       {false, kLeftShift, 0},
       {1, 0, 1, 0, 0, 0}},
      {"Right Shift and a keypad key held",
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
    EXPECT_FALSE(numlock_state_mapping_deferred(&s));

    EXPECT_EQ(numlock_state_update(&s, c.first) & (kToggled | kCommitted), 0u);
    ExpectRecord(s, w);
  }
}

TEST(NumlockStateTest, HeldNumLockAtFirstSnapshotTogglesOnlyOnItsNextPress) {
  numlock_state s;
  numlock_state_init(&s, false, {true, 0, 0});
  EXPECT_EQ(numlock_state_update(&s, {true, 0, 0}), 0u);
  EXPECT_EQ(numlock_state_update(&s, {false, 0, 0}), 0u);
  EXPECT_EQ(numlock_state_update(&s, {true, 0, 0}),
            kToggled | kCommitted | kLogicalOnBit | kEffectiveBit);
}

// Control, Alt and GUI must never shift the keypad: every modifier byte behaves exactly like
// its Shift bits alone, at initialisation and on update.
TEST(NumlockStateTest, OnlyTheShiftBitsOfTheModifierByteMatter) {
  for (unsigned m = 0; m < 256; ++m) {
    SCOPED_TRACE(testing::Message() << "modifiers 0x" << std::hex << m);
    const auto modifiers = static_cast<uint8_t>(m);
    const auto shift_only = static_cast<uint8_t>(m & (kLeftShift | kRightShift));
    for (const bool logical_on : {false, true}) {
      numlock_state a;
      numlock_state b;
      numlock_state_init(&a, logical_on, {false, modifiers, 0});
      numlock_state_init(&b, logical_on, {false, shift_only, 0});
      ExpectRecord(a, b);
      EXPECT_EQ(a.shift_held, shift_only != 0);

      numlock_state_init(&a, logical_on, {false, 0, 0});
      numlock_state_init(&b, logical_on, {false, 0, 0});
      EXPECT_EQ(numlock_state_update(&a, {true, modifiers, 0}),
                numlock_state_update(&b, {true, shift_only, 0}));
      ExpectRecord(a, b);
    }
  }
}

// After a rollback by the session, applied and effective may differ with the keypad free. That
// is not a deferral (nothing waits for a key release); the next update commits it.
TEST(NumlockStateTest, RolledBackModeIsNotDeferredAndCommitsOnNextUpdate) {
  numlock_state s{true, false, false, true, false, 0};
  EXPECT_FALSE(numlock_state_mapping_deferred(&s));
  EXPECT_EQ(numlock_state_update(&s, {false, 0, 0}), kCommitted | kLogicalOnBit | kEffectiveBit);
  EXPECT_TRUE(s.applied_numeric_mode);
  EXPECT_FALSE(numlock_state_mapping_deferred(&s));
}

// A long deterministic run of arbitrary snapshots, checking after each update the rules that
// hold whatever the input: only bits 0, 1, 32 and 40 are ever set and the last two mirror the
// record; a toggle happens exactly on an up-to-down edge; applied changes exactly when bit 1
// is reported, never under a held keypad key, and always catches up once the keypad is free.
TEST(NumlockStateTest, ArbitrarySnapshotsKeepTheRules) {
  std::mt19937 rng(20240601);
  numlock_state s;
  numlock_state_init(&s, false, {false, 0, 0});
  for (int i = 0; i < 20000 && !testing::Test::HasFailure(); ++i) {
    SCOPED_TRACE(testing::Message() << "step " << i);
    const uint32_t r = rng();
    // The keypad is free in half of the reports, so commits are frequent.
    const numlock_physical_snapshot next{(r & 1) != 0, static_cast<uint8_t>(r >> 1),
                                         (r & 0x200) != 0 ? (r >> 10) & 0x7FF : 0};
    const numlock_state before = s;
    const uint64_t result = numlock_state_update(&s, next);

    EXPECT_EQ(result & ~kKnownBits, 0u);
    EXPECT_EQ((result & kLogicalOnBit) != 0, s.logical_on);
    EXPECT_EQ((result & kEffectiveBit) != 0, s.effective_numeric_mode);
    EXPECT_EQ((result & kToggled) != 0, next.num_lock_down && !before.num_lock_down);
    EXPECT_EQ(s.logical_on != before.logical_on, (result & kToggled) != 0);
    EXPECT_EQ(s.applied_numeric_mode != before.applied_numeric_mode, (result & kCommitted) != 0);
    if (next.mapped_keys_down != 0) {
      EXPECT_EQ(s.applied_numeric_mode, before.applied_numeric_mode);
    } else {
      EXPECT_EQ(s.applied_numeric_mode, s.effective_numeric_mode);
    }
    ExpectConsistent(s);
  }
}

}  // namespace
