// What a simulated HID device is: its properties, report layout, elements, event services and
// whether another program holds it. Written by tests (usually from a ready-made spec) and
// plugged into the World, which builds the device's registry entries from it.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/plist.h"

namespace padwarden::sim {

inline constexpr uint32_t kIOHIDElementTypeInputMisc = 1;
inline constexpr uint32_t kIOHIDElementTypeInputButton = 2;

inline constexpr uint32_t kUsagePageGenericDesktop = 0x01;
inline constexpr uint32_t kUsagePageKeyboard = 0x07;
inline constexpr uint32_t kUsagePageLEDs = 0x08;
inline constexpr uint32_t kUsagePageButton = 0x09;
inline constexpr uint32_t kUsageKeyboard = 0x06;
inline constexpr uint32_t kUsageMouse = 0x02;
inline constexpr uint32_t kUsageNumLockLED = 0x01;
inline constexpr uint32_t kUsageCapsLockLED = 0x02;

struct UsagePair {
  uint32_t page = 0;
  uint32_t usage = 0;
  friend auto operator<=>(const UsagePair&, const UsagePair&) = default;
};

// One element of the device, as element matching sees it.
struct ElementSpec {
  uint32_t type = kIOHIDElementTypeOutput;
  uint32_t usagePage = kUsagePageLEDs;
  uint32_t usage = kUsageNumLockLED;
  int64_t logicalMin = 0;
  int64_t logicalMax = 1;
};
// An LED output element (Num Lock is usage 1, Caps Lock 2, ...), logical 0 to 1.
ElementSpec led_element(uint32_t usage);

// Where an event service's registry entry sits relative to the device's IOService.
enum class ServicePlacement {
  BelowDevice,  // under the device's HID interface, as the platform builds it
  AboveDevice,  // between the device's port and its IOService
  Elsewhere,    // on another branch under the transport controller
};

struct EventServiceSpec {
  ServicePlacement placement = ServicePlacement::BelowDevice;
  // The service copies "Transport", "LocationID", "VendorID", "ProductID", "PrimaryUsagePage"
  // and "PrimaryUsage" from the device; an override replaces one (none: the property is absent)
  // or adds any other property.
  std::map<std::string, std::optional<plist::Value>, std::less<>> overrides;
  // None: conforms to the device's primary usage pair only.
  std::optional<std::vector<UsagePair>> conformsTo;
};

struct KeyboardSpec {
  std::string name;  // how tests refer to the device; not a device property
  // Device properties as IOHIDDeviceGetProperty answers them; a missing key is absent.
  // "PrimaryUsagePage"/"PrimaryUsage" also decide what a manager's usage matching sees.
  plist::Dictionary properties;
  uint8_t reportID = 0;  // not 0: every input report carries this ID byte first
  std::vector<ElementSpec> elements;
  bool heldExclusively = false;  // another program has seized it
  std::vector<EventServiceSpec> services{EventServiceSpec{}};

  KeyboardSpec& set(std::string key, plist::Value value);
  KeyboardSpec& erase(std::string_view key);
  size_t numLockLEDCount() const;
  // Whether it has keys at all (a mouse has none: pressing on it sends no report).
  bool hasKeys() const;
  // Replaces the Num Lock LED output elements with `count` of them, where the first one was.
  KeyboardSpec& withNumLockLEDs(size_t count);
};

// Ready-made devices. Each name gives its own LocationID and serial number.
KeyboardSpec usb_keyboard(std::string name);
KeyboardSpec bluetooth_keyboard(std::string name);
KeyboardSpec builtin_keyboard(std::string name);  // "SPI", "Built-In" true
KeyboardSpec virtual_keyboard(std::string name);  // "HIDVirtualDevice" true
KeyboardSpec report_id_keyboard(std::string name, uint8_t reportID = 1);
KeyboardSpec usb_mouse(std::string name);  // usage page 1, usage 2

// The report descriptors the ready-made devices carry.
const plist::Data& boot_keyboard_descriptor();
plist::Data boot_keyboard_descriptor_with_report_id(uint8_t reportID);
const plist::Data& boot_mouse_descriptor();

}  // namespace padwarden::sim
