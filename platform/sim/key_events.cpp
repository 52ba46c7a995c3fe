#include "platform/sim/key_events.h"

#include <algorithm>
#include <cstdio>

#include "platform/hid.h"

namespace padwarden::sim {

bool HeldKeys::press(uint8_t usage) {
  if (isModifier(usage)) {
    const auto bit = static_cast<uint8_t>(1u << (usage - 0xE0));
    if (modifiers & bit) return false;
    modifiers |= bit;
    return true;
  }
  if (std::find(keys.begin(), keys.end(), usage) != keys.end()) return false;
  keys.push_back(usage);
  return true;
}

bool HeldKeys::release(uint8_t usage) {
  if (isModifier(usage)) {
    const auto bit = static_cast<uint8_t>(1u << (usage - 0xE0));
    if (!(modifiers & bit)) return false;
    modifiers &= static_cast<uint8_t>(~bit);
    return true;
  }
  auto it = std::find(keys.begin(), keys.end(), usage);
  if (it == keys.end()) return false;
  keys.erase(it);
  return true;
}

std::vector<uint8_t> boot_input_report(const HeldKeys& held, uint8_t reportID) {
  constexpr size_t kSlots = 6;
  constexpr uint8_t kErrorRollOver = 0x01;
  std::vector<uint8_t> report;
  if (reportID != 0) report.push_back(reportID);
  report.push_back(held.modifiers);
  report.push_back(0);
  for (size_t slot = 0; slot < kSlots; ++slot) {
    if (held.keys.size() > kSlots) {
      report.push_back(kErrorRollOver);
    } else {
      report.push_back(slot < held.keys.size() ? held.keys[slot] : 0);
    }
  }
  return report;
}

namespace {

// The entries as (source, destination) pairs, or none when the mapping is malformed.
std::optional<std::vector<std::pair<int64_t, int64_t>>> mapping_entries(
    const plist::Value& mapping) {
  const plist::Array* array = mapping.asArray();
  if (!array) return std::nullopt;
  std::vector<std::pair<int64_t, int64_t>> entries;
  for (const plist::Value& item : *array) {
    const plist::Value* src = item.find(kIOHIDKeyboardModifierMappingSrcKey);
    const plist::Value* dst = item.find(kIOHIDKeyboardModifierMappingDstKey);
    if (!src || !dst || !src->isNumber() || !dst->isNumber()) return std::nullopt;
    const std::optional<int64_t> from = src->asInt64();
    const std::optional<int64_t> to = dst->asInt64();
    if (!from || !to) return std::nullopt;
    entries.emplace_back(*from, *to);
  }
  return entries;
}

}  // namespace

MappedKey apply_user_key_mapping(const std::optional<plist::Value>& mapping, uint32_t usagePage,
                                 uint32_t usage) {
  MappedKey key{false, usagePage, usage};
  if (!mapping) return key;
  const auto entries = mapping_entries(*mapping);
  if (!entries) return key;
  const int64_t source = static_cast<int64_t>(static_cast<uint64_t>(usagePage) << 32 | usage);
  for (const auto& [from, to] : *entries) {
    if (from != source) continue;
    if (to == 0) {
      key = MappedKey{true, 0, 0};
    } else {
      const auto bits = static_cast<uint64_t>(to);
      key = MappedKey{false, static_cast<uint32_t>(bits >> 32),
                      static_cast<uint32_t>(bits & 0xFFFFFFFF)};
    }
  }
  return key;
}

namespace {

const char* keyboard_page_name(uint32_t usage) {
  static const char* const kSpecial[] = {
      "Return", "Escape", "Backspace", "Tab", "Space",  // 0x28..0x2C
  };
  static const char* const kNavigation[] = {
      "Insert", "Home", "PageUp", "DeleteForward", "End", "PageDown", "Right",
      "Left",   "Down", "Up",     "NumLock",  // 0x49..0x53
  };
  static const char* const kModifiers[] = {
      "LeftControl",  "LeftShift",  "LeftAlt",  "LeftGUI",
      "RightControl", "RightShift", "RightAlt", "RightGUI",  // 0xE0..0xE7
  };
  if (usage >= 0x28 && usage <= 0x2C) return kSpecial[usage - 0x28];
  if (usage == 0x39) return "CapsLock";
  if (usage >= 0x49 && usage <= 0x53) return kNavigation[usage - 0x49];
  if (usage >= 0xE0 && usage <= 0xE7) return kModifiers[usage - 0xE0];
  return nullptr;
}

}  // namespace

std::string usage_name(uint32_t usagePage, uint32_t usage) {
  char text[32];
  if (usagePage == 0x07) {
    if (usage >= 0x04 && usage <= 0x1D) return std::string(1, static_cast<char>('A' + usage - 4));
    if (usage >= 0x1E && usage <= 0x26)
      return std::string(1, static_cast<char>('1' + usage - 0x1E));
    if (usage == 0x27) return "0";
    if (usage >= 0x59 && usage <= 0x61) {
      return "KP" + std::string(1, static_cast<char>('1' + usage - 0x59));
    }
    if (usage == 0x62) return "KP0";
    if (usage == 0x63) return "KP.";
    if (const char* name = keyboard_page_name(usage)) return name;
  }
  std::snprintf(text, sizeof text, "%x:%x", usagePage, usage);
  return text;
}

std::string TypedLog::render(std::string_view keyboard) const {
  std::string out;
  for (const TypedKey& key : keys_) {
    if (key.keyboard != keyboard) continue;
    if (!out.empty()) out += ' ';
    out += key.down ? '+' : '-';
    out += usage_name(key.usagePage, key.usage);
  }
  return out;
}

std::string TypedLog::render() const {
  std::string out;
  for (const TypedKey& key : keys_) {
    if (!out.empty()) out += ' ';
    out += key.keyboard + ':' + (key.down ? '+' : '-') + usage_name(key.usagePage, key.usage);
  }
  return out;
}

}  // namespace padwarden::sim
