// The simulated backend's handle objects behind the HID and registry references it hands out.
// Private to SimHID's implementation files.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/plist.h"
#include "platform/sim/call_recorder.h"
#include "platform/sim/keyboard.h"
#include "platform/sim/registry.h"

namespace padwarden::sim {

// One manager's handle for one plugged device. Opening is per handle.
class SimDevice final : public HIDDevice {
 public:
  explicit SimDevice(DeviceInstanceRef d) : device(std::move(d)) {}
  DeviceInstanceRef device;
  bool open = false;
  io_service_t service;                   // what IOHIDDeviceGetService answers, made once
  std::vector<IOHIDElementRef> elements;  // one per element of the device, made once
};

class SimElement final : public HIDElement {
 public:
  SimElement(DeviceInstanceRef d, size_t i) : device(std::move(d)), index(i) {}
  DeviceInstanceRef device;
  size_t index;
  const ElementSpec& spec() const { return device->spec.elements[index]; }
};

class SimValue final : public HIDValue {
 public:
  SimValue(IOHIDElementRef e, uint64_t t, int64_t v)
      : element(std::move(e)), timestamp(t), value(v) {}
  IOHIDElementRef element;
  uint64_t timestamp;
  int64_t value;
};

class SimManager final : public HIDManager {
 public:
  explicit SimManager(uint64_t n) : number(n) {}
  struct DeviceCallback {
    IOHIDDeviceCallback function = nullptr;
    void* context = nullptr;
  };
  // A device in the manager's set: its handle, and whether its matching callback has run.
  struct Member {
    DeviceInstanceRef device;
    std::shared_ptr<SimDevice> handle;
    bool announced = false;
  };

  bool active() const { return open && scheduled; }
  Member* member(const DeviceInstance& device);

  uint64_t number;
  bool matchingSet = false;
  std::optional<plist::Dictionary> matching;  // none: every device
  DeviceCallback matched;
  DeviceCallback removed;
  IOHIDReportCallback report = nullptr;
  void* reportContext = nullptr;
  bool scheduled = false;
  bool open = false;
  // Work queued for the manager carries the epoch it was queued in; leaving the active state
  // (or changing the matching) starts a new epoch, so that nothing queued before runs.
  uint64_t epoch = 0;
  std::vector<Member> members;  // in registration order
};

class SimServiceClient;

class SimEventClient final : public HIDEventSystemClient {
 public:
  // One service client per service for the client's life, keyed by the service's serial.
  std::map<uint64_t, std::shared_ptr<SimServiceClient>> services;
};

class SimServiceClient final : public HIDServiceClient {
 public:
  SimServiceClient(std::weak_ptr<HIDEventSystemClient> c, EventServiceRef s)
      : client(std::move(c)), service(std::move(s)) {}
  std::weak_ptr<HIDEventSystemClient> client;
  EventServiceRef service;
  bool valid() const { return !client.expired(); }
};

class SimRegistryObject final : public RegistryObject {
 public:
  explicit SimRegistryObject(RegistryEntryRef e) : entry(std::move(e)) {}
  RegistryEntryRef entry;
};

class SimRegistryIterator final : public RegistryObject {
 public:
  explicit SimRegistryIterator(std::vector<RegistryEntryRef> e) : entries(std::move(e)) {}
  std::vector<RegistryEntryRef> entries;
  size_t next = 0;
};

// What a failing call that returns a status answers: the rule's code, or a plain error once
// the process is dead.
inline IOReturn failure_code(const CallScope& scope) {
  return scope.dead() ? kIOReturnError : scope.code();
}

// "0x100000123": registry IDs in trace details.
std::string hex_id(uint64_t id);
// The device a handle stands for, in trace details ("kb1", or "?" for a foreign handle).
std::string device_detail(const HIDDevice* device);

template <typename T, typename Ref>
T* sim_object(const Ref& ref) {
  return dynamic_cast<T*>(ref.get());
}

}  // namespace padwarden::sim
