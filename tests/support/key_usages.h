// Keyboard/Keypad page usages the stories press, shared by the test beds and the simulation.
#pragma once

#include <cstdint>

namespace padwarden::testing {

inline constexpr uint8_t kLetterA = 0x04;
inline constexpr uint8_t kCapsLock = 0x39;
inline constexpr uint8_t kNumLock = 0x53;
inline constexpr uint8_t kKeypad4 = 0x5C;
inline constexpr uint8_t kKeypad5 = 0x5D;
inline constexpr uint8_t kKeypad8 = 0x60;
inline constexpr uint8_t kLeftShift = 0xE1;

}  // namespace padwarden::testing
