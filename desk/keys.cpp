#include "desk/keys.h"

#include <array>
#include <cstdio>

namespace padwarden::desk {

namespace {

struct NamedKey {
  std::string_view name;
  uint8_t usage;
  bool pressable;
};

constexpr std::array<NamedKey, 28> kNamedKeys{{
    {"numlock", 0x53, true}, {"kp1", 0x59, true},
    {"kp2", 0x5A, true},     {"kp3", 0x5B, true},
    {"kp4", 0x5C, true},     {"kp5", 0x5D, true},
    {"kp6", 0x5E, true},     {"kp7", 0x5F, true},
    {"kp8", 0x60, true},     {"kp9", 0x61, true},
    {"kp0", 0x62, true},     {"kpdot", 0x63, true},
    {"lctrl", 0xE0, true},   {"lshift", 0xE1, true},
    {"rshift", 0xE5, true},  {"capslock", 0x39, true},
    {"insert", 0x49, false}, {"home", 0x4A, false},
    {"pageup", 0x4B, false}, {"deleteforward", 0x4C, false},
    {"end", 0x4D, false},    {"pagedown", 0x4E, false},
    {"right", 0x4F, false},  {"left", 0x50, false},
    {"down", 0x51, false},   {"up", 0x52, false},
    {"return", 0x28, false}, {"space", 0x2C, false},
}};

constexpr uint8_t kLetterA = 0x04;
constexpr uint32_t kKeyboardPage = 0x07;

}  // namespace

std::optional<uint8_t> key_usage(std::string_view name) {
  if (name.size() == 1 && name[0] >= 'a' && name[0] <= 'z') {
    return static_cast<uint8_t>(kLetterA + (name[0] - 'a'));
  }
  for (const NamedKey& key : kNamedKeys) {
    if (key.pressable && key.name == name) return key.usage;
  }
  return std::nullopt;
}

std::string key_name(uint32_t usagePage, uint32_t usage) {
  if (usagePage == kKeyboardPage) {
    if (usage >= kLetterA && usage < kLetterA + 26) {
      return std::string(1, static_cast<char>('a' + (usage - kLetterA)));
    }
    for (const NamedKey& key : kNamedKeys) {
      if (key.usage == usage) return std::string(key.name);
    }
  }
  char text[32];
  std::snprintf(text, sizeof text, "0x%x:0x%x", usagePage, usage);
  return text;
}

std::string pressable_key_names() {
  std::string names;
  for (const NamedKey& key : kNamedKeys) {
    if (!key.pressable) continue;
    names += std::string(key.name) + " ";
  }
  return names + "a..z";
}

bool is_key_event_name(std::string_view name) {
  if (key_usage(name)) return true;
  for (const NamedKey& key : kNamedKeys) {
    if (key.name == name) return true;
  }
  unsigned page = 0, usage = 0;
  int length = 0;
  const std::string text(name);
  return std::sscanf(text.c_str(), "0x%x:0x%x%n", &page, &usage, &length) == 2 &&
         static_cast<size_t>(length) == text.size() && key_name(page, usage) == text;
}

}  // namespace padwarden::desk
