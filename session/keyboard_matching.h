// Which HID devices are supported keyboards, and how they are named in the registry. Shared by
// the keyboard session (its own enumeration) and the controller's discovery, so that both
// apply one filter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core_foundation.h"
#include "platform/hid.h"
#include "platform/plist.h"

namespace padwarden {

// Stores a signed 32-bit number under the key; false when the number cannot be made.
bool add_number(CoreFoundation& cf, plist::Dictionary& dictionary, const char* key, int32_t value);

// {"DeviceUsagePage": 1, "DeviceUsage": 6}: every keyboard. None when it cannot be built.
std::optional<plist::Dictionary> create_keyboard_matching(CoreFoundation& cf);

// Present, a string, and equal to the expected text.
bool string_property_equals(const std::optional<plist::Value>& value, std::string_view expected);
// Present, a number with an exact signed 64-bit value, and equal to the expected one.
bool number_property_equals(const std::optional<plist::Value>& value, int64_t expected);
// "USB", "Bluetooth" or "BluetoothLowEnergy", compared exactly.
bool is_supported_transport(const std::optional<plist::Value>& transport);

// The supported-keyboard filter, tested in order: transport, not built in, not virtual, and a
// report descriptor the core accepts.
bool device_is_supported_keyboard(HIDServices& hid, const IOHIDDeviceRef& device);

// A registry entry ID as sixteen lower-case hexadecimal digits.
std::string registry_id_string(uint64_t entryID);
// The registry-ID string of the device's IOService, or none when either lookup fails.
std::optional<std::string> device_registry_id_string(HIDServices& hid,
                                                     const IOHIDDeviceRef& device);

}  // namespace padwarden
