#include "tests/simulation/other_programs.h"

#include <cinttypes>
#include <cstdio>

#include "platform/hid.h"
#include "tests/support/program_facts.h"

namespace padwarden::simulation {

namespace {

using testing::mapping_entry;

// The same mapping with every integer number made floating point.
plist::Value as_reals(const plist::Value& value) {
  if (const plist::Array* items = value.asArray()) {
    plist::Array copy;
    for (const plist::Value& item : *items) copy.push_back(as_reals(item));
    return copy;
  }
  if (const plist::Dictionary* fields = value.asDictionary()) {
    plist::Dictionary copy;
    for (const auto& [key, field] : *fields) copy.emplace(key, as_reals(field));
    return copy;
  }
  if (value.kind() == plist::Kind::Integer) return static_cast<double>(*value.asInt64());
  return value;
}

std::string hex16(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

}  // namespace

bool lookalike_equals_programs(uint8_t which) { return which % kLookalikeCount >= 14; }

plist::Value lookalike_mapping(uint8_t which, const std::optional<plist::Value>& original) {
  const plist::Value& numeric = testing::numeric_mode_mapping();
  const plist::Value& navigation = testing::navigation_mode_mapping();
  // The mapping with `edit` made to its entries.
  auto edited = [](const plist::Value& mapping, auto edit) {
    plist::Array list = *mapping.asArray();
    edit(list);
    return plist::Value(list);
  };
  const plist::Value userKey = mapping_entry(0x700000039, 0x7000000E0);
  switch (which % kLookalikeCount) {
    // Older mixes removed the mapping here, which no program on a Mac can do: it clears it.
    case 0:
    case 1: return plist::Value(plist::Array{});
    case 2: return plist::Value(plist::Array{userKey});
    case 3: return plist::Value(plist::Array{mapping_entry(0x700000004, 0x700000005)});
    case 4:  // the numeric mapping, then a key of the user's
      return edited(numeric, [&](plist::Array& list) { list.push_back(userKey); });
    case 5:  // the navigation mapping's first six entries
      return edited(navigation,
                    [](plist::Array& list) { list.erase(list.begin() + 6, list.end()); });
    case 6:  // the navigation mapping and one entry more
      return edited(navigation, [&](plist::Array& list) { list.push_back(userKey); });
    case 7:  // Keypad 5 gives the page's usage 0 rather than no usage
      return edited(navigation,
                    [](plist::Array& list) { list[5] = mapping_entry(0x70000005D, 0x700000000); });
    case 8: return plist::Value(plist::Array{mapping_entry(0x700000053, 1)});
    case 9:  // the numeric entry carrying a key more
      return plist::Value(
          plist::Array{plist::Dictionary{{kIOHIDKeyboardModifierMappingSrcKey, 0x700000053},
                                         {kIOHIDKeyboardModifierMappingDstKey, 0},
                                         {"HIDKeyboardModifierMappingNote", "keypad"}}});
    case 10: return as_reals(numeric);
    case 11: return as_reals(navigation);
    case 12:
      return original && original->isArray() && !original->asArray()->empty() ? as_reals(*original)
                                                                              : as_reals(numeric);
    case 13:  // two entries of the navigation mapping in each other's place
      return edited(navigation, [](plist::Array& list) { std::swap(list[1], list[2]); });
    case 14: return numeric;
    default: return navigation;
  }
}

std::optional<plist::Value> foreign_record(sim::World& world, const std::string& keyboard,
                                           uint8_t which) {
  const std::optional<uint64_t> device = world.deviceRegistryID(keyboard);
  const std::optional<uint64_t> service = world.serviceRegistryID(keyboard);
  if (!device || !service) return std::nullopt;
  BootTimeValue earlier = world.bootTime();
  earlier.tv_sec -= 3600;
  const plist::Value original = plist::Array{mapping_entry(0x700000004, 0x700000005)};
  plist::Dictionary record{{"Version", 1},
                           {"BootSession", testing::boot_session_text(world.bootTime())},
                           {"DeviceRegistryID", hex16(*device)},
                           {"ServiceRegistryID", hex16(*service)},
                           {"OriginalMapping", original}};
  switch (which % 6) {
    case 0: record.insert_or_assign("BootSession", testing::boot_session_text(earlier)); break;
    case 1: record.insert_or_assign("DeviceRegistryID", hex16(*device + 0x100)); break;
    case 2: record.insert_or_assign("ServiceRegistryID", hex16(*service + 0x100)); break;
    case 3: record.insert_or_assign("Version", 2); break;
    case 4: record.insert_or_assign("Version", 1.0); break;
    default: record.insert_or_assign("OriginalMapping", as_reals(original)); break;
  }
  return plist::Value(record);
}

bool careful_program_can_see(const std::vector<sim::Call>& trace, const std::string& service,
                             std::string_view op, const std::string& detail) {
  // Between a program's last look and its write no program can see another's write. A look
  // is a read of the service's mapping, with the read of another of its properties that tells
  // an absent mapping from a failed read, and a few calls (making the value to write) may
  // come between the look and the write: the write waits until the service's write is past
  // and none of its properties was read in the last three calls.
  auto touches = [&service](std::string_view name, const std::string& about) {
    return about.starts_with(service) &&
           (name == "IOHIDServiceClientCopyProperty" || name == "IOHIDServiceClientSetProperty");
  };
  if (touches(op, detail) &&
      !(op == "IOHIDServiceClientCopyProperty" && detail.ends_with(kIOHIDUserKeyMappingKey))) {
    return false;
  }
  for (size_t back = 1; back <= 3 && back <= trace.size(); ++back) {
    const sim::Call& call = trace[trace.size() - back];
    if (call.op == "IOHIDServiceClientCopyProperty" && touches(call.op, call.detail)) return false;
  }
  return true;
}

}  // namespace padwarden::simulation
