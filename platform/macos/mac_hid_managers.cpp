// MacHID: HID managers, their device sets, and the callbacks IOKit delivers on the main run
// loop, translated to the program's handles.
#include <dispatch/dispatch.h>

#include "platform/macos/mac_hid.h"
#include "platform/macos/mac_hid_objects.h"
#include "platform/macos/plist_cf.h"

namespace padwarden::macos {

namespace {

// Holds a manager until the current callback has returned to IOKit: a program that drops
// its last reference inside a callback must not tear the IOKit manager down under it.
void release_after_callback(std::shared_ptr<MacManager> manager) {
  dispatch_async_f(dispatch_get_main_queue(), new std::shared_ptr<MacManager>(std::move(manager)),
                   [](void* held) { delete static_cast<std::shared_ptr<MacManager>*>(held); });
}

void device_matched(void* context, ::IOReturn result, void*, ::IOHIDDeviceRef device) {
  auto* manager = static_cast<MacManager*>(context);
  if (!manager->delivering() || !manager->matched || !device) return;
  std::shared_ptr<MacManager> keep = manager->shared_from_this();
  const IOHIDDeviceRef handle = manager->hid.deviceHandle(device);
  manager->matched(manager->matchedContext, result, static_cast<HIDManager*>(manager), handle);
  release_after_callback(std::move(keep));
}

void device_removed(void* context, ::IOReturn result, void*, ::IOHIDDeviceRef device) {
  auto* manager = static_cast<MacManager*>(context);
  if (!manager->delivering() || !manager->removed || !device) return;
  std::shared_ptr<MacManager> keep = manager->shared_from_this();
  const IOHIDDeviceRef handle = manager->hid.deviceHandle(device);
  manager->removed(manager->removedContext, result, static_cast<HIDManager*>(manager), handle);
  release_after_callback(std::move(keep));
}

// The manager's report callback names the device that sent the report as its sender.
void input_report(void* context, ::IOReturn result, void* sender, ::IOHIDReportType type,
                  uint32_t reportID, uint8_t* report, CFIndex reportLength) {
  auto* manager = static_cast<MacManager*>(context);
  if (!manager->delivering() || !manager->report) return;
  if (!sender || CFGetTypeID(sender) != IOHIDDeviceGetTypeID()) return;
  std::shared_ptr<MacManager> keep = manager->shared_from_this();
  const IOHIDDeviceRef handle = manager->hid.deviceHandle(sender);
  manager->report(manager->reportContext, result, static_cast<HIDDevice*>(handle.get()), type,
                  reportID, report, static_cast<int64_t>(reportLength));
  release_after_callback(std::move(keep));
}

}  // namespace

MacManager::~MacManager() {
  ::IOHIDManagerRegisterDeviceMatchingCallback(ref.get(), nullptr, nullptr);
  ::IOHIDManagerRegisterDeviceRemovalCallback(ref.get(), nullptr, nullptr);
  ::IOHIDManagerRegisterInputReportCallback(ref.get(), nullptr, nullptr);
  if (open) ::IOHIDManagerClose(ref.get(), kIOHIDOptionsTypeNone);
  if (scheduled) {
    ::IOHIDManagerUnscheduleFromRunLoop(ref.get(), CFRunLoopGetMain(), kCFRunLoopDefaultMode);
  }
}

MacHID::MacHID() = default;
MacHID::~MacHID() = default;

IOHIDDeviceRef MacHID::deviceHandle(const void* platformDevice) {
  std::erase_if(devices_, [](const auto& entry) { return entry.second.expired(); });
  std::weak_ptr<MacDevice>& known = devices_[platformDevice];
  if (std::shared_ptr<MacDevice> live = known.lock()) return live;
  // The handle retains the device, so its address names no other device while it lives.
  auto handle =
      std::make_shared<MacDevice>(static_cast<::IOHIDDeviceRef>(const_cast<void*>(platformDevice)));
  known = handle;
  return handle;
}

IOHIDManagerRef MacHID::IOHIDManagerCreate(IOOptionBits options) {
  CFRef<::IOHIDManagerRef> manager =
      CFRef<::IOHIDManagerRef>::adopt(::IOHIDManagerCreate(kCFAllocatorDefault, options));
  if (!manager) return nullptr;
  return std::make_shared<MacManager>(*this, std::move(manager));
}

void MacHID::IOHIDManagerSetDeviceMatching(const IOHIDManagerRef& manager,
                                           const plist::Dictionary* matching) {
  auto* m = mac_object<MacManager>(manager);
  if (!m) return;
  if (!matching) {
    m->matchingRefused = false;
    ::IOHIDManagerSetDeviceMatching(m->ref.get(), nullptr);
    return;
  }
  const CFRef<CFDictionaryRef> dictionary = cf_from_plist(*matching);
  // Without the dictionary the manager is left matching nothing; none would mean every device.
  m->matchingRefused = !dictionary;
  if (dictionary) ::IOHIDManagerSetDeviceMatching(m->ref.get(), dictionary.get());
}

void MacHID::IOHIDManagerRegisterDeviceMatchingCallback(const IOHIDManagerRef& manager,
                                                        IOHIDDeviceCallback callback,
                                                        void* context) {
  auto* m = mac_object<MacManager>(manager);
  if (!m) return;
  m->matched = callback;
  m->matchedContext = context;
  ::IOHIDManagerRegisterDeviceMatchingCallback(m->ref.get(), callback ? device_matched : nullptr,
                                               callback ? m : nullptr);
}

void MacHID::IOHIDManagerRegisterDeviceRemovalCallback(const IOHIDManagerRef& manager,
                                                       IOHIDDeviceCallback callback,
                                                       void* context) {
  auto* m = mac_object<MacManager>(manager);
  if (!m) return;
  m->removed = callback;
  m->removedContext = context;
  ::IOHIDManagerRegisterDeviceRemovalCallback(m->ref.get(), callback ? device_removed : nullptr,
                                              callback ? m : nullptr);
}

void MacHID::IOHIDManagerRegisterInputReportCallback(const IOHIDManagerRef& manager,
                                                     IOHIDReportCallback callback, void* context) {
  auto* m = mac_object<MacManager>(manager);
  if (!m) return;
  m->report = callback;
  m->reportContext = context;
  ::IOHIDManagerRegisterInputReportCallback(m->ref.get(), callback ? input_report : nullptr,
                                            callback ? m : nullptr);
}

void MacHID::IOHIDManagerScheduleWithRunLoop(const IOHIDManagerRef& manager) {
  auto* m = mac_object<MacManager>(manager);
  if (!m || m->scheduled) return;
  ::IOHIDManagerScheduleWithRunLoop(m->ref.get(), CFRunLoopGetMain(), kCFRunLoopDefaultMode);
  m->scheduled = true;
}

void MacHID::IOHIDManagerUnscheduleFromRunLoop(const IOHIDManagerRef& manager) {
  auto* m = mac_object<MacManager>(manager);
  if (!m || !m->scheduled) return;
  m->scheduled = false;
  ::IOHIDManagerUnscheduleFromRunLoop(m->ref.get(), CFRunLoopGetMain(), kCFRunLoopDefaultMode);
}

IOReturn MacHID::IOHIDManagerOpen(const IOHIDManagerRef& manager, IOOptionBits options) {
  auto* m = mac_object<MacManager>(manager);
  if (!m) return kIOReturnBadArgument;
  const IOReturn result = ::IOHIDManagerOpen(m->ref.get(), options);
  // Refused outright (no permission): not open. Any other answer leaves the manager open
  // with the devices it could open, as the platform does.
  m->open = result != kIOReturnNotPermitted;
  return result;
}

IOReturn MacHID::IOHIDManagerClose(const IOHIDManagerRef& manager, IOOptionBits options) {
  auto* m = mac_object<MacManager>(manager);
  if (!m) return kIOReturnBadArgument;
  m->open = false;
  return ::IOHIDManagerClose(m->ref.get(), options);
}

std::optional<std::vector<IOHIDDeviceRef>> MacHID::IOHIDManagerCopyDevices(
    const IOHIDManagerRef& manager) {
  auto* m = mac_object<MacManager>(manager);
  if (!m || m->matchingRefused) return std::nullopt;
  const CFRef<CFSetRef> set = CFRef<CFSetRef>::adopt(::IOHIDManagerCopyDevices(m->ref.get()));
  if (!set || CFSetGetCount(set.get()) == 0) return std::nullopt;
  std::vector<const void*> members(static_cast<size_t>(CFSetGetCount(set.get())));
  CFSetGetValues(set.get(), members.data());
  std::vector<IOHIDDeviceRef> devices;
  for (const void* device : members) devices.push_back(deviceHandle(device));
  return devices;
}

}  // namespace padwarden::macos
