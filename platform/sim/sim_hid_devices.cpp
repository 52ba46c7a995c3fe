// SimHID: device handles, their elements, values and LED writes.
#include <string>

#include "platform/sim/hid_objects.h"
#include "platform/sim/sim_hid.h"

namespace padwarden::sim {

namespace {

std::optional<int64_t> element_property(const ElementSpec& element, size_t index,
                                        std::string_view key) {
  if (key == kIOHIDElementTypeKey) return element.type;
  if (key == kIOHIDElementUsagePageKey) return element.usagePage;
  if (key == kIOHIDElementUsageKey) return element.usage;
  if (key == "LogicalMin") return element.logicalMin;
  if (key == "LogicalMax") return element.logicalMax;
  if (key == "ElementCookie") return static_cast<int64_t>(index + 1);
  return std::nullopt;
}

// Every given key must name an element property and hold an equal integer.
bool element_matches(const plist::Dictionary& matching, const ElementSpec& element, size_t index) {
  for (const auto& [key, expected] : matching) {
    const std::optional<int64_t> actual = element_property(element, index, key);
    if (!actual || !expected.isNumber() || !(plist::Value(*actual) == expected)) return false;
  }
  return true;
}

std::string element_detail(const IOHIDElementRef& element) {
  const auto* e = sim_object<SimElement>(element);
  if (!e) return "element ?";
  return e->device->name() + " element " + std::to_string(e->index);
}

bool is_output(const ElementSpec& element) {
  constexpr uint32_t kFeature = 257;
  return element.type == kIOHIDElementTypeOutput || element.type == kFeature;
}

}  // namespace

std::optional<plist::Value> SimHID::IOHIDDeviceGetProperty(const IOHIDDeviceRef& device,
                                                           std::string_view key) {
  CallScope scope(link_, "IOHIDDeviceGetProperty",
                  device_detail(device.get()) + " " + std::string(key));
  const auto* d = sim_object<SimDevice>(device);
  if (scope.fails() || !d) return std::nullopt;
  // The device object keeps its properties after the device has gone.
  return d->device->property(key);
}

io_service_t SimHID::IOHIDDeviceGetService(const IOHIDDeviceRef& device) {
  CallScope scope(link_, "IOHIDDeviceGetService", device_detail(device.get()));
  auto* d = sim_object<SimDevice>(device);
  if (scope.fails() || !d) return nullptr;
  if (!d->service) d->service = std::make_shared<SimRegistryObject>(d->device->ioService);
  return d->service;
}

IOReturn SimHID::IOHIDDeviceOpen(const IOHIDDeviceRef& device, IOOptionBits options) {
  CallScope scope(link_, "IOHIDDeviceOpen",
                  device_detail(device.get()) + " options " + std::to_string(options));
  if (scope.fails()) return failure_code(scope);
  auto* d = sim_object<SimDevice>(device);
  if (!d) return kIOReturnBadArgument;
  return openHandle(*d);
}

IOReturn SimHID::IOHIDDeviceClose(const IOHIDDeviceRef& device, IOOptionBits options) {
  CallScope scope(link_, "IOHIDDeviceClose",
                  device_detail(device.get()) + " options " + std::to_string(options));
  if (scope.fails()) return failure_code(scope);
  auto* d = sim_object<SimDevice>(device);
  if (!d) return kIOReturnBadArgument;
  if (!d->open) return kIOReturnNotOpen;
  d->open = false;
  return kIOReturnSuccess;
}

std::optional<std::vector<IOHIDElementRef>> SimHID::IOHIDDeviceCopyMatchingElements(
    const IOHIDDeviceRef& device, const plist::Dictionary* matching, IOOptionBits options) {
  CallScope scope(link_, "IOHIDDeviceCopyMatchingElements",
                  device_detail(device.get()) + " options " + std::to_string(options));
  auto* d = sim_object<SimDevice>(device);
  if (scope.fails() || !d) return std::nullopt;
  const std::vector<ElementSpec>& specs = d->device->spec.elements;
  if (d->elements.empty()) {
    for (size_t i = 0; i < specs.size(); ++i) {
      d->elements.push_back(std::make_shared<SimElement>(d->device, i));
    }
  }
  std::vector<IOHIDElementRef> found;
  for (size_t i = 0; i < specs.size(); ++i) {
    if (!matching || element_matches(*matching, specs[i], i)) found.push_back(d->elements[i]);
  }
  if (found.empty()) return std::nullopt;
  return found;
}

int64_t SimHID::IOHIDElementGetLogicalMin(const IOHIDElementRef& element) {
  CallScope scope(link_, "IOHIDElementGetLogicalMin", element_detail(element), false);
  const auto* e = sim_object<SimElement>(element);
  if (scope.dead() || !e) return 0;
  return e->spec().logicalMin;
}

int64_t SimHID::IOHIDElementGetLogicalMax(const IOHIDElementRef& element) {
  CallScope scope(link_, "IOHIDElementGetLogicalMax", element_detail(element), false);
  const auto* e = sim_object<SimElement>(element);
  if (scope.dead() || !e) return 0;
  return e->spec().logicalMax;
}

IOHIDValueRef SimHID::IOHIDValueCreateWithIntegerValue(const IOHIDElementRef& element,
                                                       uint64_t timeStamp, int64_t value) {
  CallScope scope(link_, "IOHIDValueCreateWithIntegerValue",
                  element_detail(element) + " = " + std::to_string(value));
  if (scope.fails() || !sim_object<SimElement>(element)) return nullptr;
  machine_.lastValueTimestamp = timeStamp;
  return std::make_shared<SimValue>(element, timeStamp, value);
}

IOReturn SimHID::IOHIDDeviceSetValue(const IOHIDDeviceRef& device, const IOHIDElementRef& element,
                                     const IOHIDValueRef& value) {
  const auto* v = sim_object<SimValue>(value);
  CallScope scope(link_, "IOHIDDeviceSetValue",
                  element_detail(element) + " = " + (v ? std::to_string(v->value) : "?"));
  if (scope.fails()) return failure_code(scope);
  auto* d = sim_object<SimDevice>(device);
  const auto* e = sim_object<SimElement>(element);
  // The element must be one of this device's and the value made for that element.
  if (!d || !e || !v || e->device != d->device) return kIOReturnBadArgument;
  const auto* valueElement = sim_object<SimElement>(v->element);
  if (!valueElement || valueElement->device != e->device || valueElement->index != e->index) {
    return kIOReturnBadArgument;
  }
  if (!d->device->present) return kIOReturnNoDevice;
  if (!d->open) return kIOReturnNotOpen;
  if (!machine_.permitted()) return kIOReturnNotPermitted;
  if (!is_output(e->spec())) return kIOReturnBadArgument;
  d->device->elementWrites[e->index] = ElementWrite{v->value, v->timestamp};
  return kIOReturnSuccess;
}

}  // namespace padwarden::sim
