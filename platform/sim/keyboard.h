// A plugged device as the machine holds it: its registry branch, its HID event services (with
// their properties and "UserKeyMapping"), its element values and the keys held on it. Owned
// by the Machine; SimHID's handles refer to a DeviceInstance and an EventService.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/plist.h"
#include "platform/sim/key_events.h"
#include "platform/sim/keyboard_model.h"
#include "platform/sim/registry.h"

namespace padwarden::sim {

// The last value a program set on an element, with the value's timestamp.
struct ElementWrite {
  int64_t value = 0;
  uint64_t timestamp = 0;
  friend bool operator==(const ElementWrite&, const ElementWrite&) = default;
};

struct EventService {
  std::string keyboard;
  size_t index = 0;     // among the keyboard's services
  uint64_t serial = 0;  // machine-wide, never reused (registry IDs are, after a reboot)
  RegistryEntryRef entry;
  plist::Dictionary properties;  // including "UserKeyMapping" once someone set it
  std::vector<UsagePair> conformsTo;
  bool present = true;

  std::optional<plist::Value> property(std::string_view key) const;
};
using EventServiceRef = std::shared_ptr<EventService>;

// One plugging of a device, from plug until unplug or reboot. A re-plugged keyboard is a new
// instance: managers give it new handles, the registry new IDs.
struct DeviceInstance {
  uint64_t serial = 0;  // machine-wide, never reused
  KeyboardSpec spec;
  bool present = true;
  RegistryEntryRef branch;     // the port entry: removing it removes the device's subtree
  RegistryEntryRef ioService;  // the HID device's IOService
  std::vector<EventServiceRef> services;
  std::vector<std::optional<ElementWrite>> elementWrites;  // one for each of spec.elements

  const std::string& name() const { return spec.name; }
  std::optional<plist::Value> property(std::string_view key) const;
};
using DeviceInstanceRef = std::shared_ptr<DeviceInstance>;

struct Keyboard {
  KeyboardSpec spec;
  DeviceInstanceRef device;  // none while unplugged
  HeldKeys held;
};

// Builds a device's registry branch and its event services under the transport controllers
// (made on first use, one per transport). Serials come from the counters given.
class DeviceBuilder {
 public:
  explicit DeviceBuilder(Registry& registry) : registry_(registry) {}
  DeviceInstanceRef build(const KeyboardSpec& spec, uint64_t deviceSerial,
                          uint64_t& nextServiceSerial);
  // Takes the device's entries (and its services' entries elsewhere) out of the registry.
  void tearDown(DeviceInstance& device);
  // A new boot: the controllers are gone with the old registry.
  void reset() { controllers_.clear(); }

 private:
  RegistryEntryRef controllerFor(const std::string& controllerClass);
  Registry& registry_;
  std::map<std::string, RegistryEntryRef, std::less<>> controllers_;
};

}  // namespace padwarden::sim
