#include "platform/sim/keyboard.h"

#include <utility>

namespace padwarden::sim {

namespace {

std::optional<plist::Value> lookup(const plist::Dictionary& properties, std::string_view key) {
  auto it = properties.find(key);
  if (it == properties.end()) return std::nullopt;
  return it->second;
}

// The registry classes of one transport's branch: controller, port chain, HID device.
struct BranchClasses {
  const char* controller;
  std::vector<const char*> ports;
  const char* device;
};

BranchClasses classes_for(const std::optional<plist::Value>& transport) {
  const std::string* name = transport ? transport->asString() : nullptr;
  const std::string t = name ? *name : std::string();
  if (t == "USB")
    return {"XHCIController", {"IOUSBHostDevice", "IOUSBHostInterface"}, "IOUSBHostHIDDevice"};
  if (t == "Bluetooth")
    return {"BluetoothHostController", {"BluetoothDevice"}, "BluetoothHIDDevice"};
  if (t == "BluetoothLowEnergy") {
    return {"BluetoothHostController", {"BluetoothDevice"}, "BluetoothLowEnergyHIDDevice"};
  }
  if (t == "SPI") return {"SPIController", {"SPIDevice"}, "SPIHIDDevice"};
  return {"HIDResources", {"HIDDevicePort"}, "IOHIDDevice"};
}

// The properties an event service copies from its device.
constexpr const char* kCopiedKeys[] = {"Transport",  "VendorID",         "ProductID",
                                       "LocationID", "PrimaryUsagePage", "PrimaryUsage"};

EventServiceRef make_service(const KeyboardSpec& spec, size_t index, uint64_t serial,
                             RegistryEntryRef entry) {
  const EventServiceSpec& serviceSpec = spec.services[index];
  auto service = std::make_shared<EventService>();
  service->keyboard = spec.name;
  service->index = index;
  service->serial = serial;
  service->entry = std::move(entry);
  for (const char* key : kCopiedKeys) {
    if (auto value = lookup(spec.properties, key)) service->properties.emplace(key, *value);
  }
  for (const auto& [key, value] : serviceSpec.overrides) {
    if (value) {
      service->properties.insert_or_assign(key, *value);
    } else if (auto it = service->properties.find(key); it != service->properties.end()) {
      service->properties.erase(it);
    }
  }
  if (serviceSpec.conformsTo) {
    service->conformsTo = *serviceSpec.conformsTo;
  } else {
    auto page = lookup(spec.properties, "PrimaryUsagePage");
    auto usage = lookup(spec.properties, "PrimaryUsage");
    if (page && usage && page->asInt64() && usage->asInt64()) {
      service->conformsTo.push_back(
          {static_cast<uint32_t>(*page->asInt64()), static_cast<uint32_t>(*usage->asInt64())});
    }
  }
  return service;
}

}  // namespace

std::optional<plist::Value> EventService::property(std::string_view key) const {
  return lookup(properties, key);
}

std::optional<plist::Value> DeviceInstance::property(std::string_view key) const {
  return lookup(spec.properties, key);
}

RegistryEntryRef DeviceBuilder::controllerFor(const std::string& controllerClass) {
  auto it = controllers_.find(controllerClass);
  if (it != controllers_.end()) return it->second;
  RegistryEntryRef controller = registry_.add(controllerClass, registry_.root());
  controllers_.emplace(controllerClass, controller);
  return controller;
}

DeviceInstanceRef DeviceBuilder::build(const KeyboardSpec& spec, uint64_t deviceSerial,
                                       uint64_t& nextServiceSerial) {
  auto device = std::make_shared<DeviceInstance>();
  device->serial = deviceSerial;
  device->spec = spec;
  device->elementWrites.resize(spec.elements.size());

  const BranchClasses classes = classes_for(lookup(spec.properties, "Transport"));
  const RegistryEntryRef controller = controllerFor(classes.controller);
  RegistryEntryRef parent = controller;
  for (const char* port : classes.ports) {
    parent = registry_.add(port, parent);
    if (!device->branch) device->branch = parent;
  }

  std::vector<RegistryEntryRef> entries(spec.services.size());
  for (size_t i = 0; i < spec.services.size(); ++i) {
    if (spec.services[i].placement != ServicePlacement::AboveDevice) continue;
    parent = entries[i] = registry_.add("IOHIDEventService", parent);
  }
  device->ioService = registry_.add(classes.device, parent);
  RegistryEntryRef interface;
  for (size_t i = 0; i < spec.services.size(); ++i) {
    if (spec.services[i].placement != ServicePlacement::BelowDevice) continue;
    if (!interface) interface = registry_.add("IOHIDInterface", device->ioService);
    entries[i] = registry_.add("IOHIDEventDriver", interface);
  }
  for (size_t i = 0; i < spec.services.size(); ++i) {
    if (spec.services[i].placement != ServicePlacement::Elsewhere) continue;
    entries[i] = registry_.add("IOHIDEventService", controller);
  }
  for (size_t i = 0; i < spec.services.size(); ++i) {
    device->services.push_back(make_service(spec, i, nextServiceSerial++, entries[i]));
  }
  return device;
}

void DeviceBuilder::tearDown(DeviceInstance& device) {
  device.present = false;
  registry_.remove(device.branch);
  for (const EventServiceRef& service : device.services) {
    service->present = false;
    registry_.remove(service->entry);  // those placed elsewhere
  }
}

}  // namespace padwarden::sim
