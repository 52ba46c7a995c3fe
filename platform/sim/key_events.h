// What key presses become: the 8-byte boot input report the keyboard sends, and the key
// events a user gets once the event service has applied its "UserKeyMapping". Used by the
// Machine; the TypedLog is read by tests ("Keypad 8 gave Up Arrow").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/plist.h"

namespace padwarden::sim {

// Keys held on one keyboard: the modifier bits (0xE0..0xE7) and the other keys in the order
// they went down.
struct HeldKeys {
  uint8_t modifiers = 0;
  std::vector<uint8_t> keys;

  static bool isModifier(uint8_t usage) { return usage >= 0xE0 && usage <= 0xE7; }
  // False when nothing changed (the key was already down, or was not).
  bool press(uint8_t usage);
  bool release(uint8_t usage);
};

// The boot input report for the held keys: [report ID,] modifiers, 0, six key slots; with
// more than six keys held every slot is ErrorRollOver (0x01).
std::vector<uint8_t> boot_input_report(const HeldKeys& held, uint8_t reportID);

// What the service makes of one key: swallowed, or the page and usage it produces.
struct MappedKey {
  bool swallowed = false;
  uint32_t usagePage = 0;
  uint32_t usage = 0;
  friend bool operator==(const MappedKey&, const MappedKey&) = default;
};
// Looks the key up by its source (page << 32 | usage) in the mapping; a destination of 0
// swallows it. An absent or malformed mapping (not an array of dictionaries with integer
// sources and destinations) maps nothing. With repeated sources the last entry wins.
MappedKey apply_user_key_mapping(const std::optional<plist::Value>& mapping, uint32_t usagePage,
                                 uint32_t usage);

struct TypedKey {
  std::string keyboard;
  uint32_t usagePage = 0;
  uint32_t usage = 0;
  bool down = false;
  friend bool operator==(const TypedKey&, const TypedKey&) = default;
};

// "Up", "KP8", "LeftControl", "A"... for the keyboard page; "page:usage" in hex otherwise.
std::string usage_name(uint32_t usagePage, uint32_t usage);

// The key events the user got, in order.
class TypedLog {
 public:
  void record(TypedKey key) { keys_.push_back(std::move(key)); }
  const std::vector<TypedKey>& keys() const { return keys_; }
  void clear() { keys_.clear(); }
  // One keyboard's events as "+Up -Up" (down, up).
  std::string render(std::string_view keyboard) const;
  // Every event as "kb1:+Up kb2:-KP8".
  std::string render() const;

 private:
  std::vector<TypedKey> keys_;
};

}  // namespace padwarden::sim
