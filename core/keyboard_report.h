// Which keyboards are supported (the report-descriptor walk), what a boot input report says,
// and the keypad key table; used by discovery, device attachment, reports and the mapping.
#pragma once

#include <cstdint>

// Filled by numlock_keyboard_parse_descriptor. Callers decide on the verdict alone; the
// record is there for tests and diagnostics.
struct numlock_keyboard_info {
  bool has_keyboard_collection;
  bool boot_input_layout;
  bool has_num_lock_led;
  bool has_boot_fields;
  bool has_key_array;
  bool key_array_covers_keypad;
  uint8_t report_id;
  uint64_t input_report_length;
};

// One keypad key: its Keyboard/Keypad page usage, the navigation key it stands for with
// Num Lock off (0: none), and its bit in numlock_state::mapped_keys_down.
struct numlock_navigation_mapping {
  uint8_t keypad_usage;
  uint8_t navigation_usage;
  uint32_t bit;
};

// Row order fixes each key's bit (1 << row); the boot-report parser relies on the same order.
inline constexpr numlock_navigation_mapping kNavigationMappings[] = {
    {0x5F, 0x4A, 0x001},  // Keypad 7 -> Home
    {0x60, 0x52, 0x002},  // Keypad 8 -> Up Arrow
    {0x61, 0x4B, 0x004},  // Keypad 9 -> Page Up
    {0x5C, 0x50, 0x008},  // Keypad 4 -> Left Arrow
    {0x5D, 0x00, 0x010},  // Keypad 5 -> nothing
    {0x5E, 0x4F, 0x020},  // Keypad 6 -> Right Arrow
    {0x59, 0x4D, 0x040},  // Keypad 1 -> End
    {0x5A, 0x51, 0x080},  // Keypad 2 -> Down Arrow
    {0x5B, 0x4E, 0x100},  // Keypad 3 -> Page Down
    {0x62, 0x49, 0x200},  // Keypad 0 -> Insert
    {0x63, 0x4C, 0x400},  // Keypad . -> Delete Forward
};

// Keyboard/Keypad page usage of Keypad Num Lock and Clear.
inline constexpr uint8_t kNumLockUsage = 0x53;

// True when the descriptor is exactly one boot-compatible keyboard (8-byte boot input report,
// no report IDs) with a Num Lock LED output. Never reads past `length`.
bool numlock_keyboard_parse_descriptor(const uint8_t* descriptor, uint64_t length,
                                       numlock_keyboard_info* info);

// Reads one boot input report (after a leading report-ID byte when report_id is not 0). The
// outputs are written only when it returns true; rollover and error reports return false.
bool numlock_keyboard_parse_boot_report(const uint8_t* report, uint64_t length, uint32_t report_id,
                                        uint8_t* modifiers, bool* num_lock_down,
                                        uint32_t* keypad_bits);
