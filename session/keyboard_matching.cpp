#include "session/keyboard_matching.h"

#include <cstdio>

#include "core/keyboard_report.h"

namespace padwarden {

bool add_number(CoreFoundation& cf, plist::Dictionary& dictionary, const char* key, int32_t value) {
  std::optional<plist::Value> number = cf.CFNumberCreateSInt32(value);
  if (!number) return false;
  dictionary.insert_or_assign(key, std::move(*number));
  return true;
}

std::optional<plist::Dictionary> create_keyboard_matching(CoreFoundation& cf) {
  std::optional<plist::Dictionary> matching = cf.CFDictionaryCreateMutable();
  if (!matching) return std::nullopt;
  if (!add_number(cf, *matching, kIOHIDDeviceUsagePageKey, 1) ||
      !add_number(cf, *matching, kIOHIDDeviceUsageKey, 6)) {
    return std::nullopt;
  }
  return matching;
}

bool string_property_equals(const std::optional<plist::Value>& value, std::string_view expected) {
  if (!value) return false;
  const std::string* text = value->asString();
  return text && *text == expected;
}

bool number_property_equals(const std::optional<plist::Value>& value, int64_t expected) {
  if (!value || !value->isNumber()) return false;
  const std::optional<int64_t> number = value->asInt64();
  return number && *number == expected;
}

bool is_supported_transport(const std::optional<plist::Value>& transport) {
  return string_property_equals(transport, "USB") ||
         string_property_equals(transport, "Bluetooth") ||
         string_property_equals(transport, "BluetoothLowEnergy");
}

namespace {

// Absent, a false boolean, or a number other than 1; any other type counts as built in.
bool not_built_in(const std::optional<plist::Value>& value) {
  if (!value) return true;
  if (const std::optional<bool> flag = value->asBoolean()) return !*flag;
  if (value->isNumber()) return !number_property_equals(value, 1);
  return false;
}

// Only a true boolean or the number 1 marks a virtual device; other types are ignored.
bool not_virtual(const std::optional<plist::Value>& value) {
  if (!value) return true;
  if (const std::optional<bool> flag = value->asBoolean()) return !*flag;
  return !number_property_equals(value, 1);
}

}  // namespace

bool device_is_supported_keyboard(HIDServices& hid, const IOHIDDeviceRef& device) {
  if (!is_supported_transport(hid.IOHIDDeviceGetProperty(device, "Transport"))) return false;
  if (!not_built_in(hid.IOHIDDeviceGetProperty(device, "Built-In"))) return false;
  if (!not_virtual(hid.IOHIDDeviceGetProperty(device, "HIDVirtualDevice"))) return false;
  const std::optional<plist::Value> descriptor =
      hid.IOHIDDeviceGetProperty(device, "ReportDescriptor");
  if (!descriptor) return false;
  const plist::Data* bytes = descriptor->asData();
  if (!bytes) return false;
  numlock_keyboard_info info{};
  return numlock_keyboard_parse_descriptor(bytes->data(), bytes->size(), &info);
}

std::string registry_id_string(uint64_t entryID) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(entryID));
  return text;
}

std::optional<std::string> device_registry_id_string(HIDServices& hid,
                                                     const IOHIDDeviceRef& device) {
  if (!device) return std::nullopt;
  const io_service_t service = hid.IOHIDDeviceGetService(device);
  if (!service) return std::nullopt;
  uint64_t entryID = 0;
  if (hid.IORegistryEntryGetRegistryEntryID(service, &entryID) != kIOReturnSuccess) {
    return std::nullopt;
  }
  return registry_id_string(entryID);
}

}  // namespace padwarden
