#include "platform/sim/machine.h"

#include <algorithm>
#include <utility>

namespace padwarden::sim {

Machine::Machine() = default;

Keyboard* Machine::keyboard(std::string_view name) {
  for (auto& keyboard : keyboards_) {
    if (keyboard->spec.name == name) return keyboard.get();
  }
  return nullptr;
}

const Keyboard* Machine::keyboard(std::string_view name) const {
  for (const auto& keyboard : keyboards_) {
    if (keyboard->spec.name == name) return keyboard.get();
  }
  return nullptr;
}

DeviceInstanceRef Machine::plug(KeyboardSpec spec) {
  Keyboard* known = keyboard(spec.name);
  if (known && known->device) return nullptr;
  if (!known) {
    keyboards_.push_back(std::make_unique<Keyboard>());
    known = keyboards_.back().get();
  }
  known->spec = std::move(spec);
  known->held = {};
  known->device = builder_.build(known->spec, nextDeviceSerial_++, nextServiceSerial_);
  return known->device;
}

DeviceInstanceRef Machine::plugAgain(std::string_view name) {
  Keyboard* known = keyboard(name);
  if (!known) return nullptr;
  return plug(known->spec);
}

DeviceInstanceRef Machine::unplug(std::string_view name) {
  Keyboard* known = keyboard(name);
  if (!known || !known->device) return nullptr;
  DeviceInstanceRef gone = std::exchange(known->device, nullptr);
  builder_.tearDown(*gone);
  known->held = {};
  return gone;
}

std::vector<DeviceInstanceRef> Machine::devices() const {
  std::vector<DeviceInstanceRef> list;
  for (const auto& keyboard : keyboards_) {
    if (keyboard->device) list.push_back(keyboard->device);
  }
  std::sort(list.begin(), list.end(), [](const DeviceInstanceRef& a, const DeviceInstanceRef& b) {
    return a->ioService->id < b->ioService->id;
  });
  return list;
}

std::vector<EventServiceRef> Machine::services() const {
  std::vector<EventServiceRef> list;
  for (const DeviceInstanceRef& device : devices()) {
    list.insert(list.end(), device->services.begin(), device->services.end());
  }
  std::sort(list.begin(), list.end(), [](const EventServiceRef& a, const EventServiceRef& b) {
    return a->entry->id < b->entry->id;
  });
  return list;
}

std::optional<std::vector<uint8_t>> Machine::press(std::string_view name, uint8_t usage) {
  Keyboard* known = keyboard(name);
  if (!known || !known->device || !known->spec.hasKeys() || !known->held.press(usage)) {
    return std::nullopt;
  }
  typeKey(*known, usage, true);
  return boot_input_report(known->held, known->spec.reportID);
}

std::optional<std::vector<uint8_t>> Machine::release(std::string_view name, uint8_t usage) {
  Keyboard* known = keyboard(name);
  if (!known || !known->device || !known->spec.hasKeys() || !known->held.release(usage)) {
    return std::nullopt;
  }
  typeKey(*known, usage, false);
  return boot_input_report(known->held, known->spec.reportID);
}

void Machine::typeKey(Keyboard& keyboard, uint8_t usage, bool down) {
  // The first service applies its mapping as the event passes; a mapping changed while the
  // key is held applies to the release too, as on the real system (a key can stick).
  std::optional<plist::Value> mapping;
  if (!keyboard.device->services.empty()) {
    mapping = keyboard.device->services.front()->property(kIOHIDUserKeyMappingKey);
  }
  const MappedKey key = apply_user_key_mapping(mapping, kUsagePageKeyboard, usage);
  if (key.swallowed) return;
  typed.record({keyboard.spec.name, key.usagePage, key.usage, down});
}

void Machine::writeMapping(EventService& service, plist::Value value, MappingWriter writer) {
  MappingWrite write{service.keyboard,
                     service.index,
                     service.entry->id,
                     service.serial,
                     service.property(kIOHIDUserKeyMappingKey),
                     value,
                     writer};
  service.properties.insert_or_assign(kIOHIDUserKeyMappingKey, std::move(value));
  tell(write);
}

void Machine::restartEventSystem() {
  for (const EventServiceRef& service : services()) {
    auto it = service->properties.find(kIOHIDUserKeyMappingKey);
    if (it == service->properties.end()) continue;
    MappingWrite write{service->keyboard, service->index,     service->entry->id,
                       service->serial,   it->second,         std::nullopt,
                       MappingWriter::EventSystem};
    service->properties.erase(it);
    tell(write);
  }
}

void Machine::tell(const MappingWrite& write) {
  // Observers may change the world; they get their own copy of the list.
  const std::vector<MappingObserver> observers = observers_;
  for (const MappingObserver& observer : observers) observer(write);
}

void Machine::reboot(uint64_t downtimeNanoseconds) {
  const uint64_t elapsedMicros = (clock.now() + downtimeNanoseconds) / 1000;
  const uint64_t micros = static_cast<uint64_t>(bootTime_.tv_usec) + elapsedMicros;
  bootTime_.tv_sec += static_cast<int64_t>(micros / 1'000'000);
  bootTime_.tv_usec = static_cast<int32_t>(micros % 1'000'000);
  clock.set(0);

  const std::vector<DeviceInstanceRef> plugged = devices();
  for (const DeviceInstanceRef& device : plugged) device->present = false;
  for (auto& keyboard : keyboards_) {
    if (keyboard->device) {
      for (const EventServiceRef& service : keyboard->device->services) service->present = false;
    }
    keyboard->device = nullptr;
    keyboard->held = {};
  }
  registry.reset();
  builder_.reset();
  for (const DeviceInstanceRef& device : plugged) {
    Keyboard* known = keyboard(device->name());
    known->device = builder_.build(known->spec, nextDeviceSerial_++, nextServiceSerial_);
  }
}

}  // namespace padwarden::sim
