// MacHID: the HID event system's service clients (with "UserKeyMapping"), registry entries,
// their IOService-plane ancestry, and the Input Monitoring check and request.
#include "platform/macos/mac_hid.h"
#include "platform/macos/mac_hid_objects.h"
#include "platform/macos/plist_cf.h"

namespace padwarden::macos {

namespace {

::io_object_t registry_object(const io_object_t& handle) {
  auto* r = mac_object<MacRegistryObject>(handle);
  return r ? r->object.get() : 0;
}

}  // namespace

IOHIDEventSystemClientRef MacHID::IOHIDEventSystemClientCreateSimpleClient() {
  CFRef<::IOHIDEventSystemClientRef> client = CFRef<::IOHIDEventSystemClientRef>::adopt(
      ::IOHIDEventSystemClientCreateSimpleClient(kCFAllocatorDefault));
  if (!client) return nullptr;
  return std::make_shared<MacEventClient>(std::move(client));
}

std::optional<std::vector<IOHIDServiceClientRef>> MacHID::IOHIDEventSystemClientCopyServices(
    const IOHIDEventSystemClientRef& client) {
  auto* c = mac_object<MacEventClient>(client);
  if (!c) return std::nullopt;
  const CFRef<CFArrayRef> services =
      CFRef<CFArrayRef>::adopt(::IOHIDEventSystemClientCopyServices(c->ref.get()));
  if (!services) return std::nullopt;
  std::vector<IOHIDServiceClientRef> out;
  for (CFIndex i = 0; i < CFArrayGetCount(services.get()); ++i) {
    auto service = static_cast<::IOHIDServiceClientRef>(
        const_cast<void*>(CFArrayGetValueAtIndex(services.get(), i)));
    out.push_back(std::make_shared<MacServiceClient>(client, service));
  }
  return out;
}

bool MacHID::IOHIDServiceClientConformsTo(const IOHIDServiceClientRef& service, uint32_t usagePage,
                                          uint32_t usage) {
  auto* s = mac_object<MacServiceClient>(service);
  return s && ::IOHIDServiceClientConformsTo(s->ref.get(), usagePage, usage);
}

std::optional<plist::Value> MacHID::IOHIDServiceClientCopyProperty(
    const IOHIDServiceClientRef& service, std::string_view key) {
  auto* s = mac_object<MacServiceClient>(service);
  const CFRef<CFStringRef> name = cf_string(key);
  if (!s || !name) return std::nullopt;
  const CFRef<CFTypeRef> value =
      CFRef<CFTypeRef>::adopt(::IOHIDServiceClientCopyProperty(s->ref.get(), name.get()));
  return plist_from_cf(value.get());
}

bool MacHID::IOHIDServiceClientSetProperty(const IOHIDServiceClientRef& service,
                                           std::string_view key, const plist::Value& value) {
  auto* s = mac_object<MacServiceClient>(service);
  const CFRef<CFStringRef> name = cf_string(key);
  const CFRef<CFTypeRef> converted = cf_from_plist(value);
  // A value that could not be made is refused here; the service never sees a null value.
  if (!s || !name || !converted) return false;
  return ::IOHIDServiceClientSetProperty(s->ref.get(), name.get(), converted.get());
}

std::optional<plist::Value> MacHID::IOHIDServiceClientGetRegistryID(
    const IOHIDServiceClientRef& service) {
  auto* s = mac_object<MacServiceClient>(service);
  if (!s) return std::nullopt;
  return plist_from_cf(::IOHIDServiceClientGetRegistryID(s->ref.get()));
}

IOReturn MacHID::IORegistryEntryGetRegistryEntryID(const io_registry_entry_t& entry,
                                                   uint64_t* entryID) {
  const ::io_object_t object = registry_object(entry);
  if (!object || !entryID) return kIOReturnBadArgument;
  return ::IORegistryEntryGetRegistryEntryID(object, entryID);
}

std::optional<plist::Dictionary> MacHID::IORegistryEntryIDMatching(uint64_t entryID) {
  const CFRef<CFMutableDictionaryRef> matching =
      CFRef<CFMutableDictionaryRef>::adopt(::IORegistryEntryIDMatching(entryID));
  if (!matching) return std::nullopt;
  const std::optional<plist::Value> value = plist_from_cf(matching.get());
  if (!value || !value->asDictionary()) return std::nullopt;
  return *value->asDictionary();
}

io_service_t MacHID::IOServiceGetMatchingService(std::optional<plist::Dictionary> matching) {
  if (!matching) return nullptr;
  const CFRef<CFDictionaryRef> dictionary = cf_from_plist(*matching);
  if (!dictionary) return nullptr;
  // The call consumes one reference to the dictionary.
  CFRetain(dictionary.get());
  IOObject service =
      IOObject::adopt(::IOServiceGetMatchingService(kIOMainPortDefault, dictionary.get()));
  if (!service) return nullptr;
  return std::make_shared<MacRegistryObject>(std::move(service));
}

IOReturn MacHID::IORegistryEntryCreateIterator(const io_registry_entry_t& entry, const char* plane,
                                               IOOptionBits options, io_iterator_t* iterator) {
  const ::io_object_t object = registry_object(entry);
  if (!object || !plane || !iterator) return kIOReturnBadArgument;
  ::io_iterator_t made = 0;
  const IOReturn result = ::IORegistryEntryCreateIterator(object, plane, options, &made);
  if (result != kIOReturnSuccess) return result;
  *iterator = std::make_shared<MacRegistryObject>(IOObject::adopt(made));
  return kIOReturnSuccess;
}

io_registry_entry_t MacHID::IOIteratorNext(const io_iterator_t& iterator) {
  const ::io_object_t object = registry_object(iterator);
  if (!object) return nullptr;
  IOObject next = IOObject::adopt(::IOIteratorNext(object));
  if (!next) return nullptr;
  return std::make_shared<MacRegistryObject>(std::move(next));
}

bool MacHID::IOObjectIsEqualTo(const io_object_t& a, const io_object_t& b) {
  const ::io_object_t first = registry_object(a);
  const ::io_object_t second = registry_object(b);
  if (first && second) return ::IOObjectIsEqualTo(first, second);
  return a == b;
}

IOHIDAccessType MacHID::IOHIDCheckAccess(IOHIDRequestType request) {
  return ::IOHIDCheckAccess(request);
}

bool MacHID::IOHIDRequestAccess(IOHIDRequestType request) { return ::IOHIDRequestAccess(request); }

}  // namespace padwarden::macos
