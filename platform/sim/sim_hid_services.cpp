// SimHID: the HID event system's service clients, registry lookups and Input Monitoring.
#include <cstring>
#include <string>

#include "platform/sim/hid_objects.h"
#include "platform/sim/sim_hid.h"

namespace padwarden::sim {

namespace {

// The service behind a client that is still valid, or null.
EventService* live_service(const IOHIDServiceClientRef& service) {
  auto* s = sim_object<SimServiceClient>(service);
  if (!s || !s->valid() || !s->service->present) return nullptr;
  return s->service.get();
}

std::string service_detail(const IOHIDServiceClientRef& service) {
  const auto* s = sim_object<SimServiceClient>(service);
  if (!s) return "service ?";
  return s->service->keyboard + " service " + std::to_string(s->service->index);
}

std::string entry_detail(const io_object_t& object) {
  const auto* e = sim_object<SimRegistryObject>(object);
  return e ? hex_id(e->entry->id) : "?";
}

std::string matching_detail(const std::optional<plist::Dictionary>& matching) {
  if (!matching) return "none";
  auto it = matching->find(kIORegistryEntryIDKey);
  const std::optional<int64_t> id = it == matching->end() ? std::nullopt : it->second.asInt64();
  return id ? hex_id(static_cast<uint64_t>(*id)) : "?";
}

}  // namespace

IOHIDEventSystemClientRef SimHID::IOHIDEventSystemClientCreateSimpleClient() {
  CallScope scope(link_, "IOHIDEventSystemClientCreateSimpleClient");
  if (scope.fails()) return nullptr;
  return std::make_shared<SimEventClient>();
}

std::optional<std::vector<IOHIDServiceClientRef>> SimHID::IOHIDEventSystemClientCopyServices(
    const IOHIDEventSystemClientRef& client) {
  CallScope scope(link_, "IOHIDEventSystemClientCopyServices");
  auto* c = sim_object<SimEventClient>(client);
  if (scope.fails() || !c) return std::nullopt;
  std::vector<IOHIDServiceClientRef> services;
  for (const EventServiceRef& service : machine_.services()) {
    std::shared_ptr<SimServiceClient>& known = c->services[service->serial];
    if (!known) known = std::make_shared<SimServiceClient>(client, service);
    services.push_back(known);
  }
  return services;
}

bool SimHID::IOHIDServiceClientConformsTo(const IOHIDServiceClientRef& service, uint32_t usagePage,
                                          uint32_t usage) {
  CallScope scope(
      link_, "IOHIDServiceClientConformsTo",
      service_detail(service) + " " + std::to_string(usagePage) + "/" + std::to_string(usage));
  const EventService* s = live_service(service);
  if (scope.fails() || !s) return false;
  for (const UsagePair& pair : s->conformsTo) {
    if (pair == UsagePair{usagePage, usage}) return true;
  }
  return false;
}

std::optional<plist::Value> SimHID::IOHIDServiceClientCopyProperty(
    const IOHIDServiceClientRef& service, std::string_view key) {
  CallScope scope(link_, "IOHIDServiceClientCopyProperty",
                  service_detail(service) + " " + std::string(key));
  const EventService* s = live_service(service);
  if (scope.fails() || !s) return std::nullopt;
  return s->property(key);
}

bool SimHID::IOHIDServiceClientSetProperty(const IOHIDServiceClientRef& service,
                                           std::string_view key, const plist::Value& value) {
  CallScope scope(link_, "IOHIDServiceClientSetProperty",
                  service_detail(service) + " " + std::string(key));
  EventService* s = live_service(service);
  if ((scope.fails() && !scope.lands()) || !s) return false;
  // The value crosses to the event system serialized; what cannot be serialized is refused.
  if (!plist::CFPropertyListIsValid(value, plist::Format::Binary)) return false;
  if (scope.lies()) return true;  // accepted, and lost on the way
  if (key == kIOHIDUserKeyMappingKey) {
    machine_.writeMapping(*s, value, MappingWriter::Program);
  } else {
    s->properties.insert_or_assign(std::string(key), value);
  }
  return !scope.lands();
}

std::optional<plist::Value> SimHID::IOHIDServiceClientGetRegistryID(
    const IOHIDServiceClientRef& service) {
  CallScope scope(link_, "IOHIDServiceClientGetRegistryID", service_detail(service));
  const auto* s = sim_object<SimServiceClient>(service);
  // The ID is known to the client even after the service has gone.
  if (scope.fails() || !s || !s->valid()) return std::nullopt;
  return plist::Value(static_cast<int64_t>(s->service->entry->id));
}

IOReturn SimHID::IORegistryEntryGetRegistryEntryID(const io_registry_entry_t& entry,
                                                   uint64_t* entryID) {
  CallScope scope(link_, "IORegistryEntryGetRegistryEntryID", entry_detail(entry));
  if (scope.fails()) return failure_code(scope);
  const auto* e = sim_object<SimRegistryObject>(entry);
  if (!e || !entryID) return kIOReturnBadArgument;
  *entryID = e->entry->id;
  return kIOReturnSuccess;
}

std::optional<plist::Dictionary> SimHID::IORegistryEntryIDMatching(uint64_t entryID) {
  CallScope scope(link_, "IORegistryEntryIDMatching", hex_id(entryID));
  if (scope.fails()) return std::nullopt;
  return plist::Dictionary{{kIORegistryEntryIDKey, plist::Value(static_cast<int64_t>(entryID))}};
}

io_service_t SimHID::IOServiceGetMatchingService(std::optional<plist::Dictionary> matching) {
  CallScope scope(link_, "IOServiceGetMatchingService", matching_detail(matching));
  if (scope.fails() || !matching) return nullptr;
  // Only matching by entry ID is modelled; any other key matches nothing.
  if (matching->size() != 1) return nullptr;
  auto it = matching->find(kIORegistryEntryIDKey);
  if (it == matching->end() || !it->second.isNumber()) return nullptr;
  const std::optional<int64_t> id = it->second.asInt64();
  if (!id) return nullptr;
  RegistryEntryRef entry = machine_.registry.find(static_cast<uint64_t>(*id));
  if (!entry) return nullptr;
  return std::make_shared<SimRegistryObject>(std::move(entry));
}

IOReturn SimHID::IORegistryEntryCreateIterator(const io_registry_entry_t& entry, const char* plane,
                                               IOOptionBits options, io_iterator_t* iterator) {
  CallScope scope(link_, "IORegistryEntryCreateIterator",
                  entry_detail(entry) + " " + (plane ? plane : "(null)") + " options " +
                      std::to_string(options));
  if (scope.fails()) return failure_code(scope);
  const auto* e = sim_object<SimRegistryObject>(entry);
  if (!e || !iterator || !plane || std::strcmp(plane, kIOServicePlane) != 0 ||
      options != (kIORegistryIterateRecursively | kIORegistryIterateParents)) {
    return kIOReturnBadArgument;
  }
  *iterator = std::make_shared<SimRegistryIterator>(Registry::ancestors(e->entry));
  return kIOReturnSuccess;
}

io_registry_entry_t SimHID::IOIteratorNext(const io_iterator_t& iterator) {
  CallScope scope(link_, "IOIteratorNext");
  auto* it = sim_object<SimRegistryIterator>(iterator);
  if (scope.fails() || !it || it->next >= it->entries.size()) return nullptr;
  RegistryEntryRef entry = it->entries[it->next++];
  // An entry that left the registry meanwhile ends the iteration, as an invalidated iterator.
  if (!entry->registered) {
    it->next = it->entries.size();
    return nullptr;
  }
  return std::make_shared<SimRegistryObject>(std::move(entry));
}

bool SimHID::IOObjectIsEqualTo(const io_object_t& a, const io_object_t& b) {
  CallScope scope(link_, "IOObjectIsEqualTo", entry_detail(a) + " " + entry_detail(b), false);
  if (scope.dead()) return false;
  const auto* ea = sim_object<SimRegistryObject>(a);
  const auto* eb = sim_object<SimRegistryObject>(b);
  if (ea && eb) return ea->entry == eb->entry;
  return a == b;
}

IOHIDAccessType SimHID::IOHIDCheckAccess(IOHIDRequestType request) {
  CallScope scope(link_, "IOHIDCheckAccess", "request " + std::to_string(request));
  if (scope.fails() || request != kIOHIDRequestTypeListenEvent) return kIOHIDAccessTypeDenied;
  switch (machine_.permission) {
    case InputMonitoring::Granted: return kIOHIDAccessTypeGranted;
    case InputMonitoring::Denied: return kIOHIDAccessTypeDenied;
    case InputMonitoring::UnknownGrantedOnRequest:
    case InputMonitoring::UnknownDeniedOnRequest: return kIOHIDAccessTypeUnknown;
  }
  return kIOHIDAccessTypeDenied;
}

bool SimHID::IOHIDRequestAccess(IOHIDRequestType request) {
  CallScope scope(link_, "IOHIDRequestAccess", "request " + std::to_string(request));
  if (scope.fails() || request != kIOHIDRequestTypeListenEvent) return false;
  // Only an undecided permission asks the user; a decided one just answers.
  if (machine_.permission == InputMonitoring::UnknownGrantedOnRequest) {
    machine_.permission = InputMonitoring::Granted;
  } else if (machine_.permission == InputMonitoring::UnknownDeniedOnRequest) {
    machine_.permission = InputMonitoring::Denied;
  }
  return machine_.permitted();
}

}  // namespace padwarden::sim
