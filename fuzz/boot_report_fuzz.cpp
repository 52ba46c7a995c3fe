// Fuzzes the boot-report parser and the state machine it feeds: a rejected report leaves the
// outputs untouched, an accepted one says exactly what its key slots hold, and a stream of
// reports keeps the state machine's invariants.
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "core/keyboard_report.h"
#include "core/numlock_state.h"

namespace {

void check(bool condition) {
  if (!condition) {
    abort();
  }
}

constexpr uint8_t kSentinelModifiers = 0xA5;
constexpr uint32_t kSentinelBits = 0xDEADBEEF;

struct Parsed {
  bool ok;
  uint8_t modifiers;
  bool num_lock_down;
  uint32_t keypad_bits;
};

Parsed parse(const uint8_t* report, uint64_t length, uint32_t report_id) {
  Parsed p{false, kSentinelModifiers, true, kSentinelBits};
  p.ok = numlock_keyboard_parse_boot_report(report, length, report_id, &p.modifiers,
                                            &p.num_lock_down, &p.keypad_bits);
  return p;
}

// What an accepted report must say, computed independently from the key table.
void check_parsed(const Parsed& p, const uint8_t* report, uint64_t length, uint32_t report_id) {
  if (!p.ok) {
    check(p.modifiers == kSentinelModifiers && p.num_lock_down && p.keypad_bits == kSentinelBits);
    return;
  }
  const uint64_t skip = report_id != 0 ? 1 : 0;
  check(length == 8 + skip);
  check(report_id == 0 || report[0] == static_cast<uint8_t>(report_id));
  const uint8_t* body = report + skip;
  check(p.modifiers == body[0]);
  bool num_lock = false;
  uint32_t bits = 0;
  for (int s = 2; s < 8; ++s) {
    check(body[s] < 0x01 || body[s] > 0x03);
    num_lock = num_lock || body[s] == kNumLockUsage;
    for (const auto& row : kNavigationMappings) {
      if (body[s] == row.keypad_usage) {
        bits |= row.bit;
      }
    }
  }
  check(p.num_lock_down == num_lock);
  check(p.keypad_bits == bits);
}

void check_state(const numlock_state& s) {
  check(s.effective_numeric_mode == (s.logical_on != s.shift_held));
  check(!numlock_state_mapping_deferred(&s) || s.mapped_keys_down != 0);
  check(s.mapped_keys_down <= 0x7FF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  // First byte picks the report ID the caller declares: none, 1, any byte, or one whose low
  // byte differs from its value.
  const uint8_t selector = data[0];
  const uint32_t ids[] = {0, 1, data[1], 0x100u | data[1]};
  const uint32_t report_id = ids[selector % std::size(ids)];
  const std::vector<uint8_t> rest(data + 1, data + size);

  // The whole remainder as one report exercises the length checks.
  const Parsed whole = parse(rest.data(), rest.size(), report_id);
  check_parsed(whole, rest.data(), rest.size(), report_id);
  const Parsed again = parse(rest.data(), rest.size(), report_id);
  check(again.ok == whole.ok && again.modifiers == whole.modifiers &&
        again.num_lock_down == whole.num_lock_down && again.keypad_bits == whole.keypad_bits);

  // The remainder cut into reports of the right length drives one keyboard's state.
  const size_t report_length = report_id != 0 ? 9 : 8;
  numlock_state state{};
  bool initialized = false;
  for (size_t at = 0; at + report_length <= rest.size(); at += report_length) {
    const std::vector<uint8_t> report(rest.begin() + at, rest.begin() + at + report_length);
    const Parsed p = parse(report.data(), report.size(), report_id);
    check_parsed(p, report.data(), report.size(), report_id);
    if (!p.ok) {
      continue;
    }
    const numlock_physical_snapshot snapshot{p.num_lock_down, p.modifiers, p.keypad_bits};
    if (!initialized) {
      numlock_state_init(&state, (selector & 0x80) != 0, snapshot);
      check(state.applied_numeric_mode == state.effective_numeric_mode);
      initialized = true;
    } else {
      const numlock_state before = state;
      const uint64_t result = numlock_state_update(&state, snapshot);
      check((result & ~(kNumLockToggled | kAppliedModeChanged | (1ull << kResultLogicalOnShift) |
                        (1ull << kResultEffectiveNumericShift))) == 0);
      const bool pressed = snapshot.num_lock_down && !before.num_lock_down;
      check(((result & kNumLockToggled) != 0) == pressed);
      check(state.logical_on == (before.logical_on != pressed));
      check(((result >> kResultLogicalOnShift) & 1) == state.logical_on);
      check(((result >> kResultEffectiveNumericShift) & 1) == state.effective_numeric_mode);
      if ((result & kAppliedModeChanged) != 0) {
        check(state.mapped_keys_down == 0 &&
              before.applied_numeric_mode != state.applied_numeric_mode);
      } else if (state.mapped_keys_down != 0) {
        check(state.applied_numeric_mode == before.applied_numeric_mode);
      }
      if (state.mapped_keys_down == 0) {
        check(state.applied_numeric_mode == state.effective_numeric_mode);
      }
    }
    check_state(state);
  }
  return 0;
}
