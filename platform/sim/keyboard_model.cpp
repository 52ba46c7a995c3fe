#include "platform/sim/keyboard_model.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace padwarden::sim {

namespace {

// A boot keyboard: modifier byte, reserved byte, five LEDs padded to a byte, six key codes.
const plist::Data kBootKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0,
};
// Where the Report ID item goes: right after Collection (Application).
constexpr size_t kAfterCollection = 6;

// A boot mouse: three buttons, padding, relative X and Y.
const plist::Data kBootMouse = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
    0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15,
    0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0,
};

// Stable per-name numbers (FNV-1a), so that two ready-made devices differ in location and
// serial without the test choosing them.
uint32_t name_hash(const std::string& name) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
  return hash;
}

std::string format(const char* pattern, uint32_t a, uint32_t b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

std::vector<ElementSpec> keyboard_elements() {
  std::vector<ElementSpec> elements;
  for (uint32_t usage = 0xE0; usage <= 0xE7; ++usage) {
    elements.push_back({kIOHIDElementTypeInputButton, kUsagePageKeyboard, usage, 0, 1});
  }
  elements.push_back({kIOHIDElementTypeInputMisc, kUsagePageKeyboard, 0xFFFFFFFF, 0, 0x65});
  for (uint32_t usage = 1; usage <= 5; ++usage) elements.push_back(led_element(usage));
  return elements;
}

KeyboardSpec base_keyboard(std::string name, const char* transport, int64_t location) {
  KeyboardSpec spec;
  spec.properties = {
      {"Transport", transport},
      {"VendorID", 0x3412},
      {"ProductID", 0x0101},
      {"Product", "Sim Keyboard " + name},
      {"LocationID", location},
      {"PrimaryUsagePage", static_cast<int64_t>(kUsagePageGenericDesktop)},
      {"PrimaryUsage", static_cast<int64_t>(kUsageKeyboard)},
      {"ReportDescriptor", kBootKeyboard},
  };
  spec.elements = keyboard_elements();
  spec.name = std::move(name);
  return spec;
}

}  // namespace

ElementSpec led_element(uint32_t usage) {
  return {kIOHIDElementTypeOutput, kUsagePageLEDs, usage, 0, 1};
}

KeyboardSpec& KeyboardSpec::set(std::string key, plist::Value value) {
  properties.insert_or_assign(std::move(key), std::move(value));
  return *this;
}

KeyboardSpec& KeyboardSpec::erase(std::string_view key) {
  if (auto it = properties.find(key); it != properties.end()) properties.erase(it);
  return *this;
}

namespace {
bool is_num_lock_led(const ElementSpec& e) {
  return e.type == kIOHIDElementTypeOutput && e.usagePage == kUsagePageLEDs &&
         e.usage == kUsageNumLockLED;
}
}  // namespace

size_t KeyboardSpec::numLockLEDCount() const {
  return static_cast<size_t>(std::count_if(elements.begin(), elements.end(), is_num_lock_led));
}

KeyboardSpec& KeyboardSpec::withNumLockLEDs(size_t count) {
  auto first = std::find_if(elements.begin(), elements.end(), is_num_lock_led);
  auto position = static_cast<size_t>(first - elements.begin());
  std::erase_if(elements, is_num_lock_led);
  position = std::min(position, elements.size());
  elements.insert(elements.begin() + static_cast<std::ptrdiff_t>(position), count,
                  led_element(kUsageNumLockLED));
  return *this;
}

KeyboardSpec usb_keyboard(std::string name) {
  const uint32_t hash = name_hash(name);
  KeyboardSpec spec = base_keyboard(name, "USB", 0x14000000 | ((hash & 0xFFF) << 12));
  spec.set("SerialNumber", format("SN%08X", hash));
  return spec;
}

KeyboardSpec bluetooth_keyboard(std::string name) {
  const uint32_t hash = name_hash(name);
  KeyboardSpec spec = base_keyboard(name, "Bluetooth", 0x5A000000 | (hash & 0xFFFFFF));
  spec.set("SerialNumber", format("a4-83-e7-%02x-%02x-00", (hash >> 8) & 0xFF, hash & 0xFF));
  spec.set("PhysicalDeviceUniqueID", format("%08X-0000-4000-8000-0000%08X", hash, ~hash));
  return spec;
}

KeyboardSpec builtin_keyboard(std::string name) {
  KeyboardSpec spec = base_keyboard(std::move(name), "SPI", 0x00000400);
  spec.set("Built-In", true);
  return spec;
}

KeyboardSpec virtual_keyboard(std::string name) {
  KeyboardSpec spec = usb_keyboard(std::move(name));
  spec.set("HIDVirtualDevice", true);
  return spec;
}

KeyboardSpec report_id_keyboard(std::string name, uint8_t reportID) {
  KeyboardSpec spec = usb_keyboard(std::move(name));
  spec.reportID = reportID;
  spec.set("ReportDescriptor", boot_keyboard_descriptor_with_report_id(reportID));
  return spec;
}

bool KeyboardSpec::hasKeys() const {
  auto usage = properties.find("PrimaryUsage");
  return usage == properties.end() || usage->second.asInt64() != int64_t{kUsageMouse};
}

KeyboardSpec usb_mouse(std::string name) {
  const uint32_t hash = name_hash(name);
  KeyboardSpec spec = base_keyboard(name, "USB", 0x14000000 | ((hash & 0xFFF) << 12));
  spec.set("Product", "Sim Mouse " + spec.name);
  spec.set("PrimaryUsage", static_cast<int64_t>(kUsageMouse));
  spec.set("ReportDescriptor", kBootMouse);
  spec.elements.clear();
  for (uint32_t button = 1; button <= 3; ++button) {
    spec.elements.push_back({kIOHIDElementTypeInputButton, kUsagePageButton, button, 0, 1});
  }
  spec.elements.push_back({kIOHIDElementTypeInputMisc, kUsagePageGenericDesktop, 0x30, -127, 127});
  spec.elements.push_back({kIOHIDElementTypeInputMisc, kUsagePageGenericDesktop, 0x31, -127, 127});
  return spec;
}

const plist::Data& boot_keyboard_descriptor() { return kBootKeyboard; }

plist::Data boot_keyboard_descriptor_with_report_id(uint8_t reportID) {
  plist::Data bytes = kBootKeyboard;
  const uint8_t item[] = {0x85, reportID};
  bytes.insert(bytes.begin() + kAfterCollection, std::begin(item), std::end(item));
  return bytes;
}

const plist::Data& boot_mouse_descriptor() { return kBootMouse; }

}  // namespace padwarden::sim
