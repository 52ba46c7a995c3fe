// A stand-in program for the world's tests: one HID manager whose callbacks are recorded, and
// the registry walk a program does to tie an event service to a device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/sim/world.h"

namespace padwarden::sim::testing {

inline plist::Dictionary keyboard_matching() {
  return {{kIOHIDDeviceUsagePageKey, 1}, {kIOHIDDeviceUsageKey, 6}};
}

struct ManagerProbe {
  struct DeviceEvent {
    bool matched;  // false: removed
    void* sender;
    IOHIDDeviceRef device;
  };
  struct Report {
    IOReturn result;
    void* sender;
    uint32_t reportID;
    std::vector<uint8_t> bytes;
  };

  explicit ManagerProbe(HIDServices& services) : hid(services) {
    manager = hid.IOHIDManagerCreate(kIOHIDOptionsTypeNone);
  }

  // Matching, callbacks, schedule and open, as a program starts a manager.
  IOReturn start(const plist::Dictionary& matching = keyboard_matching()) {
    hid.IOHIDManagerSetDeviceMatching(manager, &matching);
    hid.IOHIDManagerRegisterDeviceMatchingCallback(manager, &onMatched, this);
    hid.IOHIDManagerRegisterDeviceRemovalCallback(manager, &onRemoved, this);
    hid.IOHIDManagerRegisterInputReportCallback(manager, &onReport, this);
    hid.IOHIDManagerScheduleWithRunLoop(manager);
    return hid.IOHIDManagerOpen(manager, kIOHIDOptionsTypeNone);
  }

  std::vector<IOHIDDeviceRef> devices() {
    auto set = hid.IOHIDManagerCopyDevices(manager);
    return set ? *set : std::vector<IOHIDDeviceRef>{};
  }

  static void onMatched(void* context, IOReturn, void* sender, IOHIDDeviceRef device) {
    static_cast<ManagerProbe*>(context)->events.push_back({true, sender, std::move(device)});
  }
  static void onRemoved(void* context, IOReturn, void* sender, IOHIDDeviceRef device) {
    static_cast<ManagerProbe*>(context)->events.push_back({false, sender, std::move(device)});
  }
  static void onReport(void* context, IOReturn result, void* sender, IOHIDReportType,
                       uint32_t reportID, const uint8_t* report, int64_t length) {
    static_cast<ManagerProbe*>(context)->reports.push_back(
        {result, sender, reportID, std::vector<uint8_t>(report, report + length)});
  }

  HIDServices& hid;
  IOHIDManagerRef manager;
  std::vector<DeviceEvent> events;
  std::vector<Report> reports;
};

// True when the service's registry entry is the device's IOService or lies below it: the
// entry found by the service's ID, then its IOService-plane ancestors.
inline bool service_belongs_to_device(HIDServices& hid, const IOHIDServiceClientRef& service,
                                      const IOHIDDeviceRef& device) {
  const io_service_t deviceService = hid.IOHIDDeviceGetService(device);
  const auto id = hid.IOHIDServiceClientGetRegistryID(service);
  if (!deviceService || !id || !id->asInt64()) return false;
  const io_service_t entry = hid.IOServiceGetMatchingService(
      hid.IORegistryEntryIDMatching(static_cast<uint64_t>(*id->asInt64())));
  if (!entry) return false;
  if (hid.IOObjectIsEqualTo(entry, deviceService)) return true;
  io_iterator_t iterator;
  if (hid.IORegistryEntryCreateIterator(entry, kIOServicePlane,
                                        kIORegistryIterateRecursively | kIORegistryIterateParents,
                                        &iterator) != kIOReturnSuccess) {
    return false;
  }
  while (io_registry_entry_t parent = hid.IOIteratorNext(iterator)) {
    if (hid.IOObjectIsEqualTo(parent, deviceService)) return true;
  }
  return false;
}

}  // namespace padwarden::sim::testing
