// MacHID: device properties, opening and closing, the LED element and the values written to it.
#include "platform/macos/mac_hid.h"
#include "platform/macos/mac_hid_objects.h"
#include "platform/macos/plist_cf.h"

namespace padwarden::macos {

std::optional<plist::Value> MacHID::IOHIDDeviceGetProperty(const IOHIDDeviceRef& device,
                                                           std::string_view key) {
  auto* d = mac_object<MacDevice>(device);
  const CFRef<CFStringRef> name = cf_string(key);
  if (!d || !name) return std::nullopt;
  return plist_from_cf(::IOHIDDeviceGetProperty(d->ref.get(), name.get()));
}

io_service_t MacHID::IOHIDDeviceGetService(const IOHIDDeviceRef& device) {
  auto* d = mac_object<MacDevice>(device);
  if (!d) return nullptr;
  const ::io_service_t service = ::IOHIDDeviceGetService(d->ref.get());
  if (!service) return nullptr;
  return std::make_shared<MacRegistryObject>(IOObject::retain(service));
}

IOReturn MacHID::IOHIDDeviceOpen(const IOHIDDeviceRef& device, IOOptionBits options) {
  auto* d = mac_object<MacDevice>(device);
  if (!d) return kIOReturnBadArgument;
  return ::IOHIDDeviceOpen(d->ref.get(), options);
}

IOReturn MacHID::IOHIDDeviceClose(const IOHIDDeviceRef& device, IOOptionBits options) {
  auto* d = mac_object<MacDevice>(device);
  if (!d) return kIOReturnBadArgument;
  return ::IOHIDDeviceClose(d->ref.get(), options);
}

std::optional<std::vector<IOHIDElementRef>> MacHID::IOHIDDeviceCopyMatchingElements(
    const IOHIDDeviceRef& device, const plist::Dictionary* matching, IOOptionBits options) {
  auto* d = mac_object<MacDevice>(device);
  if (!d) return std::nullopt;
  CFRef<CFDictionaryRef> dictionary;
  if (matching) {
    dictionary = cf_from_plist(*matching);
    // A dictionary that could not be made answers nothing rather than every element.
    if (!dictionary) return std::nullopt;
  }
  const CFRef<CFArrayRef> elements = CFRef<CFArrayRef>::adopt(
      ::IOHIDDeviceCopyMatchingElements(d->ref.get(), dictionary.get(), options));
  if (!elements) return std::nullopt;
  std::vector<IOHIDElementRef> out;
  for (CFIndex i = 0; i < CFArrayGetCount(elements.get()); ++i) {
    auto element = static_cast<::IOHIDElementRef>(
        const_cast<void*>(CFArrayGetValueAtIndex(elements.get(), i)));
    out.push_back(std::make_shared<MacElement>(element));
  }
  return out;
}

int64_t MacHID::IOHIDElementGetLogicalMin(const IOHIDElementRef& element) {
  auto* e = mac_object<MacElement>(element);
  return e ? ::IOHIDElementGetLogicalMin(e->ref.get()) : 0;
}

int64_t MacHID::IOHIDElementGetLogicalMax(const IOHIDElementRef& element) {
  auto* e = mac_object<MacElement>(element);
  return e ? ::IOHIDElementGetLogicalMax(e->ref.get()) : 0;
}

// The time stamp is mach_absolute_time's, in timebase ticks, passed through unchanged.
IOHIDValueRef MacHID::IOHIDValueCreateWithIntegerValue(const IOHIDElementRef& element,
                                                       uint64_t timeStamp, int64_t value) {
  auto* e = mac_object<MacElement>(element);
  if (!e) return nullptr;
  CFRef<::IOHIDValueRef> made = CFRef<::IOHIDValueRef>::adopt(::IOHIDValueCreateWithIntegerValue(
      kCFAllocatorDefault, e->ref.get(), timeStamp, static_cast<CFIndex>(value)));
  if (!made) return nullptr;
  return std::make_shared<MacValue>(std::move(made));
}

IOReturn MacHID::IOHIDDeviceSetValue(const IOHIDDeviceRef& device, const IOHIDElementRef& element,
                                     const IOHIDValueRef& value) {
  auto* d = mac_object<MacDevice>(device);
  auto* e = mac_object<MacElement>(element);
  auto* v = mac_object<MacValue>(value);
  if (!d || !e || !v) return kIOReturnBadArgument;
  return ::IOHIDDeviceSetValue(d->ref.get(), e->ref.get(), v->ref.get());
}

}  // namespace padwarden::macos
