// The native backend's HID handles: each holds its IOKit or CoreFoundation object. Shared by
// the mac_hid_*.cpp files only.
#pragma once

#include <IOKit/hid/IOHIDManager.h>
#include <IOKit/hidsystem/IOHIDEventSystemClient.h>
#include <IOKit/hidsystem/IOHIDServiceClient.h>

#include <memory>

#include "platform/hid.h"
#include "platform/macos/cf_ref.h"

namespace padwarden::macos {

class MacHID;

class MacDevice final : public HIDDevice {
 public:
  explicit MacDevice(::IOHIDDeviceRef device) : ref(CFRef<::IOHIDDeviceRef>::retain(device)) {}
  const CFRef<::IOHIDDeviceRef> ref;
};

class MacElement final : public HIDElement {
 public:
  explicit MacElement(::IOHIDElementRef element) : ref(CFRef<::IOHIDElementRef>::retain(element)) {}
  const CFRef<::IOHIDElementRef> ref;
};

class MacValue final : public HIDValue {
 public:
  explicit MacValue(CFRef<::IOHIDValueRef> value) : ref(std::move(value)) {}
  const CFRef<::IOHIDValueRef> ref;
};

class MacEventClient final : public HIDEventSystemClient {
 public:
  explicit MacEventClient(CFRef<::IOHIDEventSystemClientRef> client) : ref(std::move(client)) {}
  const CFRef<::IOHIDEventSystemClientRef> ref;
};

// Keeps its event-system client alive: a service client is valid only while that lives.
class MacServiceClient final : public HIDServiceClient {
 public:
  MacServiceClient(IOHIDEventSystemClientRef client, ::IOHIDServiceClientRef service)
      : client(std::move(client)), ref(CFRef<::IOHIDServiceClientRef>::retain(service)) {}
  const IOHIDEventSystemClientRef client;
  const CFRef<::IOHIDServiceClientRef> ref;
};

class MacRegistryObject final : public RegistryObject {
 public:
  explicit MacRegistryObject(IOObject object) : object(std::move(object)) {}
  const IOObject object;
};

// A manager and the callbacks registered on it. IOKit is handed this object as the context of
// every callback, so it lives as long as the IOKit manager can call (it unregisters, closes
// and unschedules before it goes), and it passes a call on only while the program has it
// scheduled and open, so nothing arrives after an unschedule or a close.
class MacManager final : public HIDManager, public std::enable_shared_from_this<MacManager> {
 public:
  MacManager(MacHID& hid, CFRef<::IOHIDManagerRef> manager) : hid(hid), ref(std::move(manager)) {}
  ~MacManager() override;

  bool delivering() const { return scheduled && open && !matchingRefused; }

  MacHID& hid;
  const CFRef<::IOHIDManagerRef> ref;
  IOHIDDeviceCallback matched = nullptr;
  void* matchedContext = nullptr;
  IOHIDDeviceCallback removed = nullptr;
  void* removedContext = nullptr;
  IOHIDReportCallback report = nullptr;
  void* reportContext = nullptr;
  bool scheduled = false;
  // Open from the program's IOHIDManagerOpen (whatever it answered) until its close.
  bool open = false;
  // The last matching dictionary could not be made: the manager matches nothing, since
  // passing none would match every HID device.
  bool matchingRefused = false;
};

// The backend object behind a handle of ours, or null for a handle of another backend.
template <typename Object, typename Handle>
Object* mac_object(const std::shared_ptr<Handle>& handle) {
  return dynamic_cast<Object*>(handle.get());
}

}  // namespace padwarden::macos
