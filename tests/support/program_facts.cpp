#include "tests/support/program_facts.h"

#include <cinttypes>
#include <cstdio>

namespace padwarden::testing {

plist::Value mapping_entry(int64_t source, int64_t destination) {
  return plist::Dictionary{{"HIDKeyboardModifierMappingSrc", source},
                           {"HIDKeyboardModifierMappingDst", destination}};
}

namespace {

// Kind-exact equality: the platform's own equality lets an integer equal a real.
bool same(const plist::Value& a, const plist::Value& b) {
  if (a.kind() != b.kind()) return false;
  if (const plist::Array* left = a.asArray()) {
    const plist::Array& right = *b.asArray();
    if (left->size() != right.size()) return false;
    for (size_t i = 0; i < left->size(); ++i) {
      if (!same((*left)[i], right[i])) return false;
    }
    return true;
  }
  if (const plist::Dictionary* left = a.asDictionary()) {
    const plist::Dictionary& right = *b.asDictionary();
    if (left->size() != right.size()) return false;
    for (const auto& [key, value] : *left) {
      const plist::Value* other = b.find(key);
      if (!other || !same(value, *other)) return false;
    }
    return true;
  }
  return a == b;
}

bool is_empty_array(const plist::Value& value) {
  return value.isArray() && value.asArray()->empty();
}

std::string hex16(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

bool string_is(const plist::Value& record, const char* key, const std::string& wanted) {
  const plist::Value* value = record.find(key);
  return value && value->asString() && *value->asString() == wanted;
}

}  // namespace

const plist::Value& numeric_mode_mapping() {
  static const plist::Value mapping = plist::Array{mapping_entry(0x700000053, 0)};
  return mapping;
}

const plist::Value& navigation_mode_mapping() {
  static const plist::Value mapping = plist::Array{
      mapping_entry(0x700000053, 0),           mapping_entry(0x70000005F, 0x70000004A),
      mapping_entry(0x700000060, 0x700000052), mapping_entry(0x700000061, 0x70000004B),
      mapping_entry(0x70000005C, 0x700000050), mapping_entry(0x70000005D, 0),
      mapping_entry(0x70000005E, 0x70000004F), mapping_entry(0x700000059, 0x70000004D),
      mapping_entry(0x70000005A, 0x700000051), mapping_entry(0x70000005B, 0x70000004E),
      mapping_entry(0x700000062, 0x700000049), mapping_entry(0x700000063, 0x70000004C)};
  return mapping;
}

const plist::Value& mode_mapping(bool numericMode) {
  return numericMode ? numeric_mode_mapping() : navigation_mode_mapping();
}

bool is_program_mapping(const std::optional<plist::Value>& value) {
  return value && (same(*value, numeric_mode_mapping()) || same(*value, navigation_mode_mapping()));
}

bool identical(const std::optional<plist::Value>& a, const std::optional<plist::Value>& b) {
  if (!a || !b) return !a && !b;
  return same(*a, *b);
}

bool stands_for_original(const std::optional<plist::Value>& value,
                         const std::optional<plist::Value>& original) {
  if (!original) return !value || is_empty_array(*value);
  return identical(value, original);
}

std::string boot_session_text(const BootTimeValue& boot) {
  char text[48];
  std::snprintf(text, sizeof text, "%" PRId64 ".%06d", boot.tv_sec, boot.tv_usec);
  return text;
}

std::string record_key(const sim::World& world, const std::string& keyboard) {
  const std::optional<uint64_t> id = world.deviceRegistryID(keyboard);
  return id ? "MappingLease." + hex16(*id) : std::string();
}

std::optional<plist::Value> saved_record(sim::World& world, const std::string& keyboard) {
  const std::string key = record_key(world, keyboard);
  if (key.empty()) return std::nullopt;
  const plist::Dictionary& values = world.disk().values;
  auto it = values.find(key);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

std::string record_problem(sim::World& world, const std::string& keyboard,
                           const plist::Value& record, const std::optional<plist::Value>& original,
                           size_t serviceIndex) {
  const plist::Dictionary* entries = record.asDictionary();
  const plist::Value* version = record.find("Version");
  const plist::Value* recorded = record.find("OriginalMapping");
  if (!entries || entries->size() != 5 || !version || version->kind() != plist::Kind::Integer ||
      version->asInt64() != 1 || !recorded || !recorded->isArray()) {
    return "not a recovery record";
  }
  if (!string_is(record, "BootSession", boot_session_text(world.bootTime()))) {
    return "another boot's record";
  }
  const std::optional<uint64_t> device = world.deviceRegistryID(keyboard);
  const std::optional<uint64_t> service = world.serviceRegistryID(keyboard, serviceIndex);
  if (!device || !string_is(record, "DeviceRegistryID", hex16(*device))) {
    return "another device's record";
  }
  if (!service || !string_is(record, "ServiceRegistryID", hex16(*service))) {
    return "another event service's record";
  }
  if (!stands_for_original(*recorded, original)) return "a record of another original";
  return "";
}

}  // namespace padwarden::testing
