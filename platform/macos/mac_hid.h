// HIDServices on IOKit: HID managers and their callbacks on the main run loop, devices,
// elements and values, the HID event system's service clients, registry entries and the
// Input Monitoring check. Created once by the macOS main and handed to the controller.
#pragma once

#include <map>
#include <memory>

#include "platform/hid.h"

namespace padwarden::macos {

class MacDevice;

class MacHID final : public HIDServices {
 public:
  MacHID();
  ~MacHID() override;

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

  // The one live handle of a platform device (a fresh one when none lives): reports name
  // their sender by the platform's device, and the session compares it with its handle.
  IOHIDDeviceRef deviceHandle(const void* platformDevice);

 private:
  std::map<const void*, std::weak_ptr<MacDevice>> devices_;
};

}  // namespace padwarden::macos
