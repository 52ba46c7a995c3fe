// The HID and registry services the program uses: HID managers, devices, elements and
// values, the HID event system's service clients (with their "UserKeyMapping"), registry
// entries and their IOService-plane ancestry, and the Input Monitoring access check.
// Called by the session and the controller; implemented by platform/sim and platform/macos.
// Operations carry the platform's names (and its constants, see hid_names.h) so that
// callers read like it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid_names.h"
#include "platform/plist.h"

namespace padwarden {

// Handles. Each backend derives its own objects from these; a handle is a shared reference,
// "the same handle" is the same object, and dropping the last reference releases it.
class HIDManager {
 public:
  virtual ~HIDManager() = default;
};
class HIDDevice {
 public:
  virtual ~HIDDevice() = default;
};
class HIDElement {
 public:
  virtual ~HIDElement() = default;
};
class HIDValue {
 public:
  virtual ~HIDValue() = default;
};
class HIDEventSystemClient {
 public:
  virtual ~HIDEventSystemClient() = default;
};
// A service client is valid only while the event-system client it came from lives.
class HIDServiceClient {
 public:
  virtual ~HIDServiceClient() = default;
};
class RegistryObject {
 public:
  virtual ~RegistryObject() = default;
};

using IOHIDManagerRef = std::shared_ptr<HIDManager>;
using IOHIDDeviceRef = std::shared_ptr<HIDDevice>;
using IOHIDElementRef = std::shared_ptr<HIDElement>;
using IOHIDValueRef = std::shared_ptr<HIDValue>;
using IOHIDEventSystemClientRef = std::shared_ptr<HIDEventSystemClient>;
using IOHIDServiceClientRef = std::shared_ptr<HIDServiceClient>;
// Registry entries and iterators; none (a null reference) stands for the platform's 0.
using io_object_t = std::shared_ptr<RegistryObject>;
using io_registry_entry_t = io_object_t;
using io_service_t = io_object_t;
using io_iterator_t = io_object_t;

// Device added or removed. The sender is the manager; the device is the one concerned.
using IOHIDDeviceCallback = void (*)(void* context, IOReturn result, void* sender,
                                     IOHIDDeviceRef device);
// One input report. The sender is the device that sent it (compare with .get()).
using IOHIDReportCallback = void (*)(void* context, IOReturn result, void* sender,
                                     IOHIDReportType type, uint32_t reportID, const uint8_t* report,
                                     int64_t reportLength);

// All calls are made on the main thread. A call that creates or copies hands the caller its
// own reference.
class HIDServices {
 public:
  virtual ~HIDServices() = default;

  // HID managers. Callbacks arrive on the main run loop while the manager is scheduled and
  // open, and never after it is unscheduled or closed.
  virtual IOHIDManagerRef IOHIDManagerCreate(IOOptionBits options) = 0;
  virtual void IOHIDManagerSetDeviceMatching(const IOHIDManagerRef& manager,
                                             const plist::Dictionary* matching) = 0;
  virtual void IOHIDManagerRegisterDeviceMatchingCallback(const IOHIDManagerRef& manager,
                                                          IOHIDDeviceCallback callback,
                                                          void* context) = 0;
  virtual void IOHIDManagerRegisterDeviceRemovalCallback(const IOHIDManagerRef& manager,
                                                         IOHIDDeviceCallback callback,
                                                         void* context) = 0;
  virtual void IOHIDManagerRegisterInputReportCallback(const IOHIDManagerRef& manager,
                                                       IOHIDReportCallback callback,
                                                       void* context) = 0;
  // On the main run loop, in its default mode.
  virtual void IOHIDManagerScheduleWithRunLoop(const IOHIDManagerRef& manager) = 0;
  virtual void IOHIDManagerUnscheduleFromRunLoop(const IOHIDManagerRef& manager) = 0;
  virtual IOReturn IOHIDManagerOpen(const IOHIDManagerRef& manager, IOOptionBits options) = 0;
  virtual IOReturn IOHIDManagerClose(const IOHIDManagerRef& manager, IOOptionBits options) = 0;
  // The matching devices present now, in the set's order; none when the set is empty or
  // cannot be made.
  virtual std::optional<std::vector<IOHIDDeviceRef>> IOHIDManagerCopyDevices(
      const IOHIDManagerRef& manager) = 0;

  // HID devices and their elements.
  virtual std::optional<plist::Value> IOHIDDeviceGetProperty(const IOHIDDeviceRef& device,
                                                             std::string_view key) = 0;
  virtual io_service_t IOHIDDeviceGetService(const IOHIDDeviceRef& device) = 0;
  virtual IOReturn IOHIDDeviceOpen(const IOHIDDeviceRef& device, IOOptionBits options) = 0;
  virtual IOReturn IOHIDDeviceClose(const IOHIDDeviceRef& device, IOOptionBits options) = 0;
  virtual std::optional<std::vector<IOHIDElementRef>> IOHIDDeviceCopyMatchingElements(
      const IOHIDDeviceRef& device, const plist::Dictionary* matching, IOOptionBits options) = 0;
  virtual int64_t IOHIDElementGetLogicalMin(const IOHIDElementRef& element) = 0;
  virtual int64_t IOHIDElementGetLogicalMax(const IOHIDElementRef& element) = 0;
  virtual IOHIDValueRef IOHIDValueCreateWithIntegerValue(const IOHIDElementRef& element,
                                                         uint64_t timeStamp, int64_t value) = 0;
  virtual IOReturn IOHIDDeviceSetValue(const IOHIDDeviceRef& device, const IOHIDElementRef& element,
                                       const IOHIDValueRef& value) = 0;

  // The HID event system and its services.
  virtual IOHIDEventSystemClientRef IOHIDEventSystemClientCreateSimpleClient() = 0;
  // None when the services cannot be copied; an empty array when there are none.
  virtual std::optional<std::vector<IOHIDServiceClientRef>> IOHIDEventSystemClientCopyServices(
      const IOHIDEventSystemClientRef& client) = 0;
  virtual bool IOHIDServiceClientConformsTo(const IOHIDServiceClientRef& service,
                                            uint32_t usagePage, uint32_t usage) = 0;
  virtual std::optional<plist::Value> IOHIDServiceClientCopyProperty(
      const IOHIDServiceClientRef& service, std::string_view key) = 0;
  // True when the service accepted the value.
  virtual bool IOHIDServiceClientSetProperty(const IOHIDServiceClientRef& service,
                                             std::string_view key, const plist::Value& value) = 0;
  // The service's registry entry ID as a number, or none.
  virtual std::optional<plist::Value> IOHIDServiceClientGetRegistryID(
      const IOHIDServiceClientRef& service) = 0;

  // The registry (the main port is implied).
  virtual IOReturn IORegistryEntryGetRegistryEntryID(const io_registry_entry_t& entry,
                                                     uint64_t* entryID) = 0;
  virtual std::optional<plist::Dictionary> IORegistryEntryIDMatching(uint64_t entryID) = 0;
  // Consumes the matching dictionary; the one matching service, or none.
  virtual io_service_t IOServiceGetMatchingService(std::optional<plist::Dictionary> matching) = 0;
  virtual IOReturn IORegistryEntryCreateIterator(const io_registry_entry_t& entry,
                                                 const char* plane, IOOptionBits options,
                                                 io_iterator_t* iterator) = 0;
  // The next entry, or none at the end.
  virtual io_registry_entry_t IOIteratorNext(const io_iterator_t& iterator) = 0;
  virtual bool IOObjectIsEqualTo(const io_object_t& a, const io_object_t& b) = 0;

  // Input Monitoring.
  virtual IOHIDAccessType IOHIDCheckAccess(IOHIDRequestType request) = 0;
  // Asks the user when the answer is not known yet; true when access is granted.
  virtual bool IOHIDRequestAccess(IOHIDRequestType request) = 0;
};

}  // namespace padwarden
