// SimHID: HID managers, their device sets and the callbacks they deliver.
#include "platform/sim/sim_hid.h"

#include <cstdio>
#include <utility>

#include "platform/sim/hid_objects.h"

namespace padwarden::sim {

namespace {

// "DeviceUsagePage"/"DeviceUsage" look at the device's primary usage; any other key at the
// property of that name. Every given key must be equal.
bool device_matches(const plist::Dictionary& matching, const DeviceInstance& device) {
  for (const auto& [key, expected] : matching) {
    std::string_view property = key;
    if (key == kIOHIDDeviceUsagePageKey) property = "PrimaryUsagePage";
    if (key == kIOHIDDeviceUsageKey) property = "PrimaryUsage";
    const std::optional<plist::Value> actual = device.property(property);
    if (!actual || !(*actual == expected)) return false;
  }
  return true;
}

std::string manager_detail(const IOHIDManagerRef& manager) {
  const auto* m = sim_object<SimManager>(manager);
  return m ? "manager " + std::to_string(m->number) : "manager ?";
}

}  // namespace

std::string hex_id(uint64_t id) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(id));
  return text;
}

std::string device_detail(const HIDDevice* device) {
  const auto* d = dynamic_cast<const SimDevice*>(device);
  return d ? d->device->name() : "?";
}

SimManager::Member* SimManager::member(const DeviceInstance& device) {
  for (Member& m : members) {
    if (m.device.get() == &device) return &m;
  }
  return nullptr;
}

SimHID::SimHID(Machine& machine, ProcessLink& link, VirtualRunLoop& runLoop)
    : machine_(machine), link_(link), runLoop_(runLoop) {}

IOHIDManagerRef SimHID::IOHIDManagerCreate(IOOptionBits options) {
  CallScope scope(link_, "IOHIDManagerCreate", "options " + std::to_string(options));
  if (scope.fails()) return nullptr;
  auto manager = std::make_shared<SimManager>(++managersMade_);
  // A weak reference keeps a released manager's storage: drop those of gone managers, so a
  // program that makes a manager per discovery pass runs in bounded memory.
  std::erase_if(managers_, [](const std::weak_ptr<SimManager>& m) { return m.expired(); });
  managers_.push_back(manager);
  return manager;
}

void SimHID::IOHIDManagerSetDeviceMatching(const IOHIDManagerRef& manager,
                                           const plist::Dictionary* matching) {
  CallScope scope(link_, "IOHIDManagerSetDeviceMatching",
                  manager_detail(manager) + (matching ? "" : " (every device)"), false);
  auto* m = sim_object<SimManager>(manager);
  if (scope.dead() || !m) return;
  m->matchingSet = true;
  m->matching = matching ? std::optional<plist::Dictionary>(*matching) : std::nullopt;
  ++m->epoch;
  syncMembers(*m);
  if (m->open) {
    for (SimManager::Member& member : m->members) {
      if (!member.handle->open) openHandle(*member.handle);
    }
  }
  if (m->active()) announce(std::static_pointer_cast<SimManager>(manager));
}

void SimHID::IOHIDManagerRegisterDeviceMatchingCallback(const IOHIDManagerRef& manager,
                                                        IOHIDDeviceCallback callback,
                                                        void* context) {
  CallScope scope(link_, "IOHIDManagerRegisterDeviceMatchingCallback", manager_detail(manager),
                  false);
  auto* m = sim_object<SimManager>(manager);
  if (scope.dead() || !m) return;
  m->matched = {callback, context};
}

void SimHID::IOHIDManagerRegisterDeviceRemovalCallback(const IOHIDManagerRef& manager,
                                                       IOHIDDeviceCallback callback,
                                                       void* context) {
  CallScope scope(link_, "IOHIDManagerRegisterDeviceRemovalCallback", manager_detail(manager),
                  false);
  auto* m = sim_object<SimManager>(manager);
  if (scope.dead() || !m) return;
  m->removed = {callback, context};
}

void SimHID::IOHIDManagerRegisterInputReportCallback(const IOHIDManagerRef& manager,
                                                     IOHIDReportCallback callback, void* context) {
  CallScope scope(link_, "IOHIDManagerRegisterInputReportCallback", manager_detail(manager), false);
  auto* m = sim_object<SimManager>(manager);
  if (scope.dead() || !m) return;
  m->report = callback;
  m->reportContext = context;
}

void SimHID::IOHIDManagerScheduleWithRunLoop(const IOHIDManagerRef& manager) {
  CallScope scope(link_, "IOHIDManagerScheduleWithRunLoop", manager_detail(manager), false);
  auto* m = sim_object<SimManager>(manager);
  if (scope.dead() || !m || m->scheduled) return;
  m->scheduled = true;
  if (m->active()) announce(std::static_pointer_cast<SimManager>(manager));
}

void SimHID::IOHIDManagerUnscheduleFromRunLoop(const IOHIDManagerRef& manager) {
  CallScope scope(link_, "IOHIDManagerUnscheduleFromRunLoop", manager_detail(manager), false);
  auto* m = sim_object<SimManager>(manager);
  if (scope.dead() || !m || !m->scheduled) return;
  m->scheduled = false;
  ++m->epoch;
}

IOReturn SimHID::openHandle(SimDevice& handle) {
  if (!handle.device->present) return kIOReturnNoDevice;
  if (!machine_.permitted()) return kIOReturnNotPermitted;
  if (handle.device->spec.heldExclusively) return kIOReturnExclusiveAccess;
  handle.open = true;
  return kIOReturnSuccess;
}

IOReturn SimHID::IOHIDManagerOpen(const IOHIDManagerRef& manager, IOOptionBits options) {
  CallScope scope(link_, "IOHIDManagerOpen",
                  manager_detail(manager) + " options " + std::to_string(options));
  if (scope.fails()) return failure_code(scope);
  auto* m = sim_object<SimManager>(manager);
  if (!m) return kIOReturnBadArgument;
  if (!machine_.permitted()) return kIOReturnNotPermitted;
  // The manager opens every device in its set; one that another program holds makes the
  // answer an error, yet the manager is open and still delivers the others.
  syncMembers(*m);
  IOReturn result = kIOReturnSuccess;
  for (SimManager::Member& member : m->members) {
    const IOReturn opened = openHandle(*member.handle);
    if (opened != kIOReturnSuccess) result = opened;
  }
  const bool wasActive = m->active();
  m->open = true;
  if (!wasActive && m->active()) announce(std::static_pointer_cast<SimManager>(manager));
  return result;
}

IOReturn SimHID::IOHIDManagerClose(const IOHIDManagerRef& manager, IOOptionBits options) {
  CallScope scope(link_, "IOHIDManagerClose",
                  manager_detail(manager) + " options " + std::to_string(options));
  if (scope.fails()) return failure_code(scope);
  auto* m = sim_object<SimManager>(manager);
  if (!m) return kIOReturnBadArgument;
  if (m->open) {
    m->open = false;
    ++m->epoch;
    for (SimManager::Member& member : m->members) member.handle->open = false;
  }
  return kIOReturnSuccess;
}

std::optional<std::vector<IOHIDDeviceRef>> SimHID::IOHIDManagerCopyDevices(
    const IOHIDManagerRef& manager) {
  CallScope scope(link_, "IOHIDManagerCopyDevices", manager_detail(manager));
  auto* m = sim_object<SimManager>(manager);
  if (scope.fails() || !m) return std::nullopt;
  syncMembers(*m);
  if (m->members.empty()) return std::nullopt;
  std::vector<IOHIDDeviceRef> devices;
  for (const SimManager::Member& member : m->members) devices.push_back(member.handle);
  return devices;
}

void SimHID::syncMembers(SimManager& manager) {
  std::vector<SimManager::Member> members;
  if (manager.matchingSet) {
    for (const DeviceInstanceRef& device : machine_.devices()) {
      if (manager.matching && !device_matches(*manager.matching, *device)) continue;
      if (SimManager::Member* known = manager.member(*device)) {
        members.push_back(std::move(*known));
      } else {
        members.push_back({device, std::make_shared<SimDevice>(device), false});
      }
    }
  }
  manager.members = std::move(members);
}

void SimHID::announce(const std::shared_ptr<SimManager>& manager) {
  for (SimManager::Member& member : manager->members) {
    if (!member.announced) queueDeviceCallback(manager, member.handle, true);
  }
}

void SimHID::queueDeviceCallback(const std::shared_ptr<SimManager>& manager,
                                 std::shared_ptr<SimDevice> handle, bool matched) {
  std::weak_ptr<SimManager> weak = manager;
  const uint64_t epoch = manager->epoch;
  runLoop_.dispatch_async([weak, epoch, handle = std::move(handle), matched] {
    const std::shared_ptr<SimManager> m = weak.lock();
    if (!m || !m->active() || m->epoch != epoch) return;
    if (matched) {
      SimManager::Member* member = m->member(*handle->device);
      if (member) member->announced = true;
    }
    const SimManager::DeviceCallback callback = matched ? m->matched : m->removed;
    if (callback.function) {
      callback.function(callback.context, kIOReturnSuccess, static_cast<HIDManager*>(m.get()),
                        handle);
    }
  });
}

std::vector<std::shared_ptr<SimManager>> SimHID::liveManagers() {
  std::vector<std::shared_ptr<SimManager>> live;
  std::erase_if(managers_, [](const std::weak_ptr<SimManager>& m) { return m.expired(); });
  for (const auto& weak : managers_) {
    if (auto m = weak.lock()) live.push_back(std::move(m));
  }
  return live;
}

void SimHID::devicePlugged(const DeviceInstanceRef& device) {
  if (!link_.alive) return;
  for (const std::shared_ptr<SimManager>& m : liveManagers()) {
    syncMembers(*m);
    SimManager::Member* member = m->member(*device);
    if (!member) continue;
    if (m->open) openHandle(*member->handle);
    if (m->active()) queueDeviceCallback(m, member->handle, true);
  }
}

void SimHID::deviceUnplugged(const DeviceInstanceRef& device) {
  if (!link_.alive) return;
  for (const std::shared_ptr<SimManager>& m : liveManagers()) {
    SimManager::Member* member = m->member(*device);
    if (!member) continue;
    std::shared_ptr<SimDevice> handle = member->handle;
    syncMembers(*m);
    if (m->active()) queueDeviceCallback(m, std::move(handle), false);
  }
}

void SimHID::inputReport(const DeviceInstanceRef& device, const std::vector<uint8_t>& report) {
  if (!link_.alive) return;
  const IOReturn result = machine_.permitted() ? kIOReturnSuccess : kIOReturnNotPermitted;
  const uint32_t reportID = device->spec.reportID;
  for (const std::shared_ptr<SimManager>& m : liveManagers()) {
    if (!m->active()) continue;
    SimManager::Member* member = m->member(*device);
    if (!member) continue;
    std::weak_ptr<SimManager> weak = m;
    runLoop_.dispatch_async(
        [weak, epoch = m->epoch, handle = member->handle, report, result, reportID] {
          const std::shared_ptr<SimManager> live = weak.lock();
          if (!live || !live->active() || live->epoch != epoch || !live->report) return;
          live->report(live->reportContext, result, static_cast<HIDDevice*>(handle.get()),
                       kIOHIDReportTypeInput, reportID, report.data(),
                       static_cast<int64_t>(report.size()));
        });
  }
}

void SimHID::processDied() {
  for (const std::shared_ptr<SimManager>& m : liveManagers()) {
    m->matched = {};
    m->removed = {};
    m->report = nullptr;
    m->reportContext = nullptr;
    m->open = false;
    m->scheduled = false;
    ++m->epoch;
    for (SimManager::Member& member : m->members) member.handle->open = false;
  }
  managers_.clear();
}

}  // namespace padwarden::sim
