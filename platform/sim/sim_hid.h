// One program process's HID and registry services on the simulated machine: its HID managers
// and their callbacks (delivered as work items on the process's run loop), device handles,
// LED writes, the event system's service clients, registry lookups and the Input Monitoring
// check. Owned by a sim::Process; the World forwards plugs, unplugs and reports to it.
//
// Every call opens a CallScope named as the operation, so it is traced and can be made to
// fail; a failing call fails as the platform's would (none, false, or the rule's code). A
// property write may also land and still answer false (FaultRule::lands), or answer true and
// be lost (FaultRule::lie).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/sim/call_recorder.h"
#include "platform/sim/keyboard.h"
#include "platform/sim/machine.h"
#include "platform/sim/virtual_run_loop.h"

namespace padwarden::sim {

class SimManager;
class SimDevice;

class SimHID final : public HIDServices {
 public:
  SimHID(Machine& machine, ProcessLink& link, VirtualRunLoop& runLoop);
  SimHID(const SimHID&) = delete;
  SimHID& operator=(const SimHID&) = delete;

  IOHIDManagerRef IOHIDManagerCreate(IOOptionBits options) override;
  void IOHIDManagerSetDeviceMatching(const IOHIDManagerRef& manager,
                                     const plist::Dictionary* matching) override;
  void IOHIDManagerRegisterDeviceMatchingCallback(const IOHIDManagerRef& manager,
                                                  IOHIDDeviceCallback callback,
                                                  void* context) override;
  void IOHIDManagerRegisterDeviceRemovalCallback(const IOHIDManagerRef& manager,
                                                 IOHIDDeviceCallback callback,
                                                 void* context) override;
  void IOHIDManagerRegisterInputReportCallback(const IOHIDManagerRef& manager,
                                               IOHIDReportCallback callback,
                                               void* context) override;
  void IOHIDManagerScheduleWithRunLoop(const IOHIDManagerRef& manager) override;
  void IOHIDManagerUnscheduleFromRunLoop(const IOHIDManagerRef& manager) override;
  IOReturn IOHIDManagerOpen(const IOHIDManagerRef& manager, IOOptionBits options) override;
  IOReturn IOHIDManagerClose(const IOHIDManagerRef& manager, IOOptionBits options) override;
  std::optional<std::vector<IOHIDDeviceRef>> IOHIDManagerCopyDevices(
      const IOHIDManagerRef& manager) override;

  std::optional<plist::Value> IOHIDDeviceGetProperty(const IOHIDDeviceRef& device,
                                                     std::string_view key) override;
  io_service_t IOHIDDeviceGetService(const IOHIDDeviceRef& device) override;
  IOReturn IOHIDDeviceOpen(const IOHIDDeviceRef& device, IOOptionBits options) override;
  IOReturn IOHIDDeviceClose(const IOHIDDeviceRef& device, IOOptionBits options) override;
  std::optional<std::vector<IOHIDElementRef>> IOHIDDeviceCopyMatchingElements(
      const IOHIDDeviceRef& device, const plist::Dictionary* matching,
      IOOptionBits options) override;
  int64_t IOHIDElementGetLogicalMin(const IOHIDElementRef& element) override;
  int64_t IOHIDElementGetLogicalMax(const IOHIDElementRef& element) override;
  IOHIDValueRef IOHIDValueCreateWithIntegerValue(const IOHIDElementRef& element, uint64_t timeStamp,
                                                 int64_t value) override;
  IOReturn IOHIDDeviceSetValue(const IOHIDDeviceRef& device, const IOHIDElementRef& element,
                               const IOHIDValueRef& value) override;

  IOHIDEventSystemClientRef IOHIDEventSystemClientCreateSimpleClient() override;
  std::optional<std::vector<IOHIDServiceClientRef>> IOHIDEventSystemClientCopyServices(
      const IOHIDEventSystemClientRef& client) override;
  bool IOHIDServiceClientConformsTo(const IOHIDServiceClientRef& service, uint32_t usagePage,
                                    uint32_t usage) override;
  std::optional<plist::Value> IOHIDServiceClientCopyProperty(const IOHIDServiceClientRef& service,
                                                             std::string_view key) override;
  bool IOHIDServiceClientSetProperty(const IOHIDServiceClientRef& service, std::string_view key,
                                     const plist::Value& value) override;
  std::optional<plist::Value> IOHIDServiceClientGetRegistryID(
      const IOHIDServiceClientRef& service) override;

  IOReturn IORegistryEntryGetRegistryEntryID(const io_registry_entry_t& entry,
                                             uint64_t* entryID) override;
  std::optional<plist::Dictionary> IORegistryEntryIDMatching(uint64_t entryID) override;
  io_service_t IOServiceGetMatchingService(std::optional<plist::Dictionary> matching) override;
  IOReturn IORegistryEntryCreateIterator(const io_registry_entry_t& entry, const char* plane,
                                         IOOptionBits options, io_iterator_t* iterator) override;
  io_registry_entry_t IOIteratorNext(const io_iterator_t& iterator) override;
  bool IOObjectIsEqualTo(const io_object_t& a, const io_object_t& b) override;

  IOHIDAccessType IOHIDCheckAccess(IOHIDRequestType request) override;
  bool IOHIDRequestAccess(IOHIDRequestType request) override;

  // What the hardware does while this process runs (called by the World).
  void devicePlugged(const DeviceInstanceRef& device);
  void deviceUnplugged(const DeviceInstanceRef& device);
  void inputReport(const DeviceInstanceRef& device, const std::vector<uint8_t>& report);
  // The process died: its managers forget their callbacks and nothing reaches them again.
  void processDied();
  // How many managers the world keeps track of (those released and dropped excluded).
  size_t trackedManagers() const { return managers_.size(); }

 private:
  // Brings the manager's device set in line with the plugged devices and its matching.
  void syncMembers(SimManager& manager);
  // The manager just became (or stays) open and scheduled: announce what it has not yet.
  void announce(const std::shared_ptr<SimManager>& manager);
  void queueDeviceCallback(const std::shared_ptr<SimManager>& manager,
                           std::shared_ptr<SimDevice> handle, bool matched);
  std::vector<std::shared_ptr<SimManager>> liveManagers();
  // A manager opened (or open) opens a member's handle; the answer for that device.
  IOReturn openHandle(SimDevice& handle);

  Machine& machine_;
  ProcessLink& link_;
  VirtualRunLoop& runLoop_;
  std::vector<std::weak_ptr<SimManager>> managers_;  // in creation order
  uint64_t managersMade_ = 0;
};

}  // namespace padwarden::sim
