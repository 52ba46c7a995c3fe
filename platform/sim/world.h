// The simulated world: one machine (clock, boot time, registry, devices and their event
// services, Input Monitoring, preferences disk, call recorder) and the program processes run
// on it, one at a time. Tests and the desk drive it: plug and unplug keyboards, press keys,
// set mappings as another party, launch, crash, exit and reboot, and move virtual time.
//
// Declare the World before any program object built on one of its processes, so that those
// objects go first: a Process (dead or alive) lives as long as the World.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/plist.h"
#include "platform/sim/call_recorder.h"
#include "platform/sim/in_memory_preferences.h"
#include "platform/sim/keyboard_model.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"

namespace padwarden::sim {

class World {
 public:
  World();
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  Machine& machine() { return machine_; }
  CallRecorder& recorder() { return recorder_; }
  // What the preferences store holds durably; change it to play another process.
  PreferencesDisk& disk() { return disk_; }
  uint64_t now() const { return machine_.clock.now(); }  // nanoseconds since boot
  const BootTimeValue& bootTime() const { return machine_.bootTime(); }

  // Starts the program's process (a running one is killed first: one at a time), with its
  // argument list (the executable's path inside the installed bundle comes first).
  Process& launch(const std::vector<std::string>& arguments = {});
  // The live process, or null.
  Process* process();
  // Every process launched, oldest first; dead ones stay, inert.
  size_t launches() const { return processes_.size(); }
  // Kills the live process at once: its managers, callbacks, timers and queued work vanish
  // and unsynchronized preferences are lost; devices, mappings and saved preferences stay.
  void crash();
  // A clean exit: pending preferences are saved, then the process is gone.
  void exit();
  // Kills any process, clears every mapping, starts a new boot `downtimeSeconds` after the
  // old one ended (monotonic clock back to 0) and registers every plugged device again with
  // IDs from the restarted counter. Held keys and element values are gone.
  void reboot(double downtimeSeconds = 30);

  // The machine goes to sleep, or wakes: the live process's workspace observers hear of it.
  void sleep();
  void wake();
  Desktop& desktop() { return machine_.desktop; }

  // Move virtual time, running the live process's due callbacks (only the clock moves when
  // none is live). Answer the number of callbacks run.
  size_t advance(double seconds);
  size_t advanceNanoseconds(uint64_t nanoseconds);
  size_t runDue() { return advanceNanoseconds(0); }

  // Devices, by name. False when the name is already plugged (plug) or not (unplug).
  bool plug(KeyboardSpec spec);
  bool plug(std::string_view name);  // again, as it was described before
  bool unplug(std::string_view name);
  bool isPlugged(std::string_view name) const;
  // The names of the plugged devices, in registration order.
  std::vector<std::string> pluggedNames() const;
  // Another program seizes the device (or lets it go); opens that follow are refused.
  bool setHeldExclusively(std::string_view name, bool held);
  std::optional<uint64_t> deviceRegistryID(std::string_view name) const;
  std::optional<uint64_t> serviceRegistryID(std::string_view name, size_t service = 0) const;
  // How many event services the plugged device has (0 when unplugged), and one's serial.
  size_t serviceCount(std::string_view name) const;
  std::optional<uint64_t> serviceSerial(std::string_view name, size_t service) const;

  // Keys on the Keyboard/Keypad page (0xE0..0xE7 are modifiers). Each change sends one boot
  // report to the live process's open, scheduled managers. False when nothing changed.
  bool press(std::string_view name, uint8_t usage);
  bool release(std::string_view name, uint8_t usage);
  bool tap(std::string_view name, uint8_t usage);  // press, then release
  // What the user got after the event service applied its mapping.
  TypedLog& typed() { return machine_.typed; }

  // The value last written to the device's `which`-th Num Lock LED, or none.
  std::optional<int64_t> ledValue(std::string_view name, size_t which = 0) const;
  // The last write to any element (by index in the KeyboardSpec's element list), or none.
  std::optional<ElementWrite> elementWrite(std::string_view name, size_t element) const;
  std::optional<uint64_t> lastValueTimestamp() const { return machine_.lastValueTimestamp; }

  // A service's current "UserKeyMapping" (none: absent, or no such service).
  std::optional<plist::Value> userKeyMapping(std::string_view name, size_t service = 0) const;
  // Another program sets it (any value; no program can remove it). False when there is no
  // such service.
  bool setUserKeyMapping(std::string_view name, size_t service, plist::Value value);
  // The HID event system restarts: every service's mapping is gone at once, the devices, their
  // services and registry IDs stay.
  void restartEventSystem() { machine_.restartEventSystem(); }
  // Every write as it happens, by the program or another party.
  void observeMappingWrites(MappingObserver observer) {
    machine_.observeMappingWrites(std::move(observer));
  }

  InputMonitoring permission() const { return machine_.permission; }
  void setPermission(InputMonitoring permission) { machine_.permission = permission; }

 private:
  const DeviceInstance* device(std::string_view name) const;
  EventService* service(std::string_view name, size_t index) const;
  void deliver(std::string_view name, const std::optional<std::vector<uint8_t>>& report);

  Machine machine_;
  CallRecorder recorder_;
  PreferencesDisk disk_;
  // Last: processes refer to everything above.
  std::vector<std::unique_ptr<Process>> processes_;
};

}  // namespace padwarden::sim
