#include "session/key_mapping.h"

#include <iterator>

#include "core/keyboard_report.h"
#include "platform/hid.h"

namespace padwarden {

namespace {

int64_t source_of(uint8_t usage) { return kKeyboardPageKey | usage; }
int64_t destination_of(uint8_t usage) { return usage == 0 ? 0 : kKeyboardPageKey | usage; }

bool append_entry(CoreFoundation& cf, plist::Array& mapping, int64_t src, int64_t dst) {
  std::optional<plist::Dictionary> entry = cf.CFDictionaryCreateMutable();
  if (!entry) return false;
  std::optional<plist::Value> source = cf.CFNumberCreateSInt64(src);
  if (!source) return false;
  std::optional<plist::Value> destination = cf.CFNumberCreateSInt64(dst);
  if (!destination) return false;
  entry->emplace(kIOHIDKeyboardModifierMappingSrcKey, std::move(*source));
  entry->emplace(kIOHIDKeyboardModifierMappingDstKey, std::move(*destination));
  mapping.emplace_back(std::move(*entry));
  return true;
}

// One entry of the program's mappings: exactly Src and Dst, both integers of these values. A
// floating-point copy is somebody else's value (the program writes integers), though the
// platform's equality would take it for the same.
bool entry_is(const plist::Value& entry, int64_t src, int64_t dst) {
  const plist::Dictionary* dictionary = entry.asDictionary();
  if (!dictionary || dictionary->size() != 2) return false;
  const plist::Value* source = entry.find(kIOHIDKeyboardModifierMappingSrcKey);
  const plist::Value* destination = entry.find(kIOHIDKeyboardModifierMappingDstKey);
  return source && destination && !source->isFloat() && !destination->isFloat() &&
         *source == plist::Value(src) && *destination == plist::Value(dst);
}

}  // namespace

namespace {

// Allocation that always succeeds, for program_mapping.
class PlainObjects final : public CoreFoundation {
 public:
  std::optional<plist::Array> CFArrayCreateMutable() override { return plist::Array{}; }
  std::optional<plist::Dictionary> CFDictionaryCreateMutable() override {
    return plist::Dictionary{};
  }
  std::optional<plist::Value> CFNumberCreateSInt32(int32_t value) override { return value; }
  std::optional<plist::Value> CFNumberCreateSInt64(int64_t value) override { return value; }
  std::optional<std::string> CFStringCreateWithCString(const char* utf8) override {
    return std::string(utf8);
  }
  bool malloc(std::size_t) override { return true; }
};

}  // namespace

plist::Value program_mapping(bool numericMode) {
  PlainObjects objects;
  return *create_mapping(objects, numericMode);
}

std::optional<plist::Value> create_mapping(CoreFoundation& cf, bool numericMode) {
  std::optional<plist::Array> mapping = cf.CFArrayCreateMutable();
  if (!mapping) return std::nullopt;
  if (!append_entry(cf, *mapping, source_of(kNumLockUsage), 0)) return std::nullopt;
  if (!numericMode) {
    for (const numlock_navigation_mapping& row : kNavigationMappings) {
      if (!append_entry(cf, *mapping, source_of(row.keypad_usage),
                        destination_of(row.navigation_usage))) {
        return std::nullopt;
      }
    }
  }
  return plist::Value(std::move(*mapping));
}

bool mapping_is_ours(const std::optional<plist::Value>& value) {
  if (!value) return false;
  const plist::Array* entries = value->asArray();
  if (!entries) return false;
  constexpr size_t kNavigationSize = 1 + std::size(kNavigationMappings);
  if (entries->size() != 1 && entries->size() != kNavigationSize) return false;
  if (!entry_is((*entries)[0], source_of(kNumLockUsage), 0)) return false;
  for (size_t i = 1; i < entries->size(); ++i) {
    const numlock_navigation_mapping& row = kNavigationMappings[i - 1];
    if (!entry_is((*entries)[i], source_of(row.keypad_usage),
                  destination_of(row.navigation_usage))) {
      return false;
    }
  }
  return true;
}

bool mapping_array_is_well_formed(const std::optional<plist::Value>& value) {
  if (!value) return false;
  const plist::Array* entries = value->asArray();
  if (!entries) return false;
  for (const plist::Value& entry : *entries) {
    if (!entry.isDictionary()) return false;
    for (const char* key :
         {kIOHIDKeyboardModifierMappingSrcKey, kIOHIDKeyboardModifierMappingDstKey}) {
      const plist::Value* number = entry.find(key);
      if (!number || !number->isNumber() || number->isFloat() || !number->asInt64()) {
        return false;
      }
    }
  }
  return true;
}

bool mapping_matches_normalized_original(const std::optional<plist::Value>& value,
                                         const std::optional<plist::Value>& original) {
  if (!original) return false;
  const plist::Array* originalEntries = original->asArray();
  if (originalEntries && originalEntries->empty()) {
    if (!value) return true;
    const plist::Array* entries = value->asArray();
    return entries && entries->empty();
  }
  return value && value->isArray() && *value == *original;
}

std::optional<plist::Value> copy_normalized_mapping(CoreFoundation& cf,
                                                    const std::optional<plist::Value>& value) {
  if (!value) {
    std::optional<plist::Array> empty = cf.CFArrayCreateMutable();
    if (!empty) return std::nullopt;
    return plist::Value(std::move(*empty));
  }
  if (mapping_array_is_well_formed(value)) return value;
  return std::nullopt;
}

}  // namespace padwarden
