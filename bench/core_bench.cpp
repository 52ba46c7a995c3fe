// Per-report cost of the Num Lock core: the state update and the boot-report parser run for
// every input report, the descriptor walk for every candidate device at each discovery.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <iterator>

#include "core/keyboard_report.h"
#include "core/numlock_state.h"

namespace {

// The HID 1.11 boot keyboard descriptor (63 bytes).
constexpr uint8_t kBootDescriptor[] = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0};
static_assert(sizeof(kBootDescriptor) == 63);

// A typing burst: Num Lock pressed and released, keypad keys with and without Shift.
constexpr numlock_physical_snapshot kSnapshots[] = {
    {true, 0x00, 0x000},  {false, 0x00, 0x000}, {false, 0x00, 0x002}, {false, 0x02, 0x002},
    {false, 0x02, 0x000}, {false, 0x00, 0x000}, {true, 0x00, 0x040},  {false, 0x00, 0x040},
    {false, 0x00, 0x000}, {false, 0x20, 0x000}, {true, 0x20, 0x000},  {false, 0x00, 0x000},
};

void BM_numlock_state_update(benchmark::State& st) {
  numlock_state state;
  numlock_state_init(&state, true, numlock_physical_snapshot{false, 0, 0});
  size_t i = 0;
  for (auto _ : st) {
    benchmark::DoNotOptimize(numlock_state_update(&state, kSnapshots[i]));
    i = (i + 1) % std::size(kSnapshots);
  }
}
BENCHMARK(BM_numlock_state_update);

void BM_numlock_keyboard_parse_boot_report(benchmark::State& st) {
  // Six keys down is the parser's worst case: every keypad usage is compared with every slot.
  const uint8_t report[8] = {0x22, 0x00, 0x5F, 0x53, 0x60, 0x63, 0x04, 0x05};
  uint8_t modifiers = 0;
  bool num_lock_down = false;
  uint32_t keypad_bits = 0;
  for (auto _ : st) {
    benchmark::DoNotOptimize(numlock_keyboard_parse_boot_report(
        report, sizeof(report), 0, &modifiers, &num_lock_down, &keypad_bits));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_numlock_keyboard_parse_boot_report);

void BM_numlock_keyboard_parse_descriptor(benchmark::State& st) {
  numlock_keyboard_info info;
  for (auto _ : st) {
    benchmark::DoNotOptimize(
        numlock_keyboard_parse_descriptor(kBootDescriptor, sizeof(kBootDescriptor), &info));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_numlock_keyboard_parse_descriptor);

}  // namespace
