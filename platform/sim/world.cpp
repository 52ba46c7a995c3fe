#include "platform/sim/world.h"

#include <utility>

#include "platform/timer_queue.h"

namespace padwarden::sim {

World::World() = default;

World::~World() {
  // Program objects still queued on the live process go before the machine they refer to.
  crash();
  for (auto& process : processes_) process->releaseProgram();
  processes_.clear();
}

Process& World::launch(const std::vector<std::string>& arguments) {
  crash();
  // What the dead process's main held goes now, outside any of its callbacks.
  if (!processes_.empty()) processes_.back()->releaseProgram();
  std::vector<std::string> argv{machine_.desktop.bundlePath + "/Contents/MacOS/Padwarden"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  processes_.push_back(std::make_unique<Process>(processes_.size() + 1, machine_, recorder_, disk_,
                                                 std::move(argv)));
  return *processes_.back();
}

Process* World::process() {
  if (processes_.empty() || !processes_.back()->alive()) return nullptr;
  return processes_.back().get();
}

void World::crash() {
  if (Process* live = process()) live->kill();
}

void World::exit() {
  if (Process* live = process()) live->exit();
}

void World::reboot(double downtimeSeconds) {
  crash();
  machine_.reboot(seconds_to_nanoseconds(downtimeSeconds));
}

void World::sleep() {
  if (Process* live = process()) live->application().post(WorkspaceNotification::WillSleep);
}

void World::wake() {
  if (Process* live = process()) live->application().post(WorkspaceNotification::DidWake);
}

size_t World::advance(double seconds) {
  return advanceNanoseconds(seconds_to_nanoseconds(seconds));
}

size_t World::advanceNanoseconds(uint64_t nanoseconds) {
  // The run loop moves the clock to the end even when the process dies on the way.
  if (Process* live = process()) return live->runLoop().advance(nanoseconds);
  machine_.clock.set(machine_.clock.now() + nanoseconds);
  return 0;
}

bool World::plug(KeyboardSpec spec) {
  DeviceInstanceRef device = machine_.plug(std::move(spec));
  if (!device) return false;
  if (Process* live = process()) live->hid().devicePlugged(device);
  return true;
}

bool World::plug(std::string_view name) {
  DeviceInstanceRef device = machine_.plugAgain(name);
  if (!device) return false;
  if (Process* live = process()) live->hid().devicePlugged(device);
  return true;
}

bool World::unplug(std::string_view name) {
  DeviceInstanceRef device = machine_.unplug(name);
  if (!device) return false;
  if (Process* live = process()) live->hid().deviceUnplugged(device);
  return true;
}

bool World::isPlugged(std::string_view name) const { return device(name) != nullptr; }

std::vector<std::string> World::pluggedNames() const {
  std::vector<std::string> names;
  for (const DeviceInstanceRef& d : machine_.devices()) names.push_back(d->name());
  return names;
}

size_t World::serviceCount(std::string_view name) const {
  const DeviceInstance* d = device(name);
  return d ? d->services.size() : 0;
}

std::optional<uint64_t> World::serviceSerial(std::string_view name, size_t index) const {
  const EventService* s = service(name, index);
  if (!s) return std::nullopt;
  return s->serial;
}

bool World::setHeldExclusively(std::string_view name, bool held) {
  Keyboard* keyboard = machine_.keyboard(name);
  if (!keyboard) return false;
  keyboard->spec.heldExclusively = held;
  if (keyboard->device) keyboard->device->spec.heldExclusively = held;
  return true;
}

const DeviceInstance* World::device(std::string_view name) const {
  const Keyboard* keyboard = machine_.keyboard(name);
  return keyboard ? keyboard->device.get() : nullptr;
}

EventService* World::service(std::string_view name, size_t index) const {
  const DeviceInstance* d = device(name);
  if (!d || index >= d->services.size()) return nullptr;
  return d->services[index].get();
}

std::optional<uint64_t> World::deviceRegistryID(std::string_view name) const {
  const DeviceInstance* d = device(name);
  if (!d) return std::nullopt;
  return d->ioService->id;
}

std::optional<uint64_t> World::serviceRegistryID(std::string_view name, size_t index) const {
  const EventService* s = service(name, index);
  if (!s) return std::nullopt;
  return s->entry->id;
}

void World::deliver(std::string_view name, const std::optional<std::vector<uint8_t>>& report) {
  if (!report) return;
  Process* live = process();
  const Keyboard* keyboard = machine_.keyboard(name);
  if (live && keyboard && keyboard->device) live->hid().inputReport(keyboard->device, *report);
}

bool World::press(std::string_view name, uint8_t usage) {
  const auto report = machine_.press(name, usage);
  deliver(name, report);
  return report.has_value();
}

bool World::release(std::string_view name, uint8_t usage) {
  const auto report = machine_.release(name, usage);
  deliver(name, report);
  return report.has_value();
}

bool World::tap(std::string_view name, uint8_t usage) {
  const bool pressed = press(name, usage);
  const bool released = release(name, usage);
  return pressed && released;
}

std::optional<int64_t> World::ledValue(std::string_view name, size_t which) const {
  const DeviceInstance* d = device(name);
  if (!d) return std::nullopt;
  const std::vector<ElementSpec>& elements = d->spec.elements;
  for (size_t i = 0; i < elements.size(); ++i) {
    const ElementSpec& e = elements[i];
    if (e.type != kIOHIDElementTypeOutput || e.usagePage != kUsagePageLEDs ||
        e.usage != kUsageNumLockLED) {
      continue;
    }
    if (which > 0) {
      --which;
      continue;
    }
    if (!d->elementWrites[i]) return std::nullopt;
    return d->elementWrites[i]->value;
  }
  return std::nullopt;
}

std::optional<ElementWrite> World::elementWrite(std::string_view name, size_t element) const {
  const DeviceInstance* d = device(name);
  if (!d || element >= d->elementWrites.size()) return std::nullopt;
  return d->elementWrites[element];
}

std::optional<plist::Value> World::userKeyMapping(std::string_view name, size_t index) const {
  const EventService* s = service(name, index);
  if (!s) return std::nullopt;
  return s->property(kIOHIDUserKeyMappingKey);
}

bool World::setUserKeyMapping(std::string_view name, size_t index, plist::Value value) {
  EventService* s = service(name, index);
  if (!s) return false;
  machine_.writeMapping(*s, std::move(value), MappingWriter::OtherParty);
  return true;
}

}  // namespace padwarden::sim
