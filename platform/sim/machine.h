// The simulated hardware and system state that every program process sees and that outlives
// it: the clock and boot time, the registry, the plugged devices with their event services,
// the Input Monitoring permission, and what the user types. Owned by the World; SimHID and
// SimSystemClock read and change it on the program's behalf.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/plist.h"
#include "platform/sim/desktop.h"
#include "platform/sim/key_events.h"
#include "platform/sim/keyboard.h"
#include "platform/sim/registry.h"
#include "platform/sim/virtual_run_loop.h"
#include "platform/system_clock.h"

namespace padwarden::sim {

enum class InputMonitoring {
  Granted,
  Denied,
  UnknownGrantedOnRequest,  // not decided yet; the user will allow it when asked
  UnknownDeniedOnRequest,   // not decided yet; the user will refuse when asked
};

// Who changed a mapping: the program, another program (which can set any value but, as on the
// Mac, never remove the property), or the HID event system itself, which loses every mapping
// when it restarts.
enum class MappingWriter { Program, OtherParty, EventSystem };

// One write of a service's "UserKeyMapping", reported as it happens.
struct MappingWrite {
  std::string keyboard;
  size_t serviceIndex = 0;
  uint64_t serviceRegistryID = 0;
  uint64_t serviceSerial = 0;  // never reused, unlike registry IDs after a reboot
  std::optional<plist::Value> before;
  std::optional<plist::Value> written;  // none: gone with an event-system restart
  MappingWriter writer = MappingWriter::Program;
};
using MappingObserver = std::function<void(const MappingWrite&)>;

class Machine {
 public:
  // The wall-clock time of the first boot.
  static constexpr BootTimeValue kFirstBootTime{1'700'000'000, 250'000, 0};

  Machine();

  VirtualClock clock;
  Registry registry;
  InputMonitoring permission = InputMonitoring::Granted;
  TypedLog typed;
  Desktop desktop;
  // The timestamp of the last HID value a program made (IOHIDValueCreateWithIntegerValue).
  std::optional<uint64_t> lastValueTimestamp;

  const BootTimeValue& bootTime() const { return bootTime_; }
  // When the current boot began on the wall clock (the desk's terminal uses the real time, so
  // that each desk run is a boot of its own for what the durable store remembers).
  void setBootTime(const BootTimeValue& bootTime) { bootTime_ = bootTime; }
  bool permitted() const { return permission == InputMonitoring::Granted; }

  // Devices. A name is plugged at most once at a time; plugging a known name again replaces
  // its spec. None when the name is already plugged (or unknown, for the by-name form).
  DeviceInstanceRef plug(KeyboardSpec spec);
  DeviceInstanceRef plugAgain(std::string_view name);
  // The instance that went away, or none when it was not plugged.
  DeviceInstanceRef unplug(std::string_view name);
  Keyboard* keyboard(std::string_view name);
  const Keyboard* keyboard(std::string_view name) const;
  // Plugged devices in registration order.
  std::vector<DeviceInstanceRef> devices() const;
  // Every event service in registration order.
  std::vector<EventServiceRef> services() const;

  // A key going down or up: the boot report the keyboard sends, or none when nothing changed
  // (or the keyboard is not plugged). Records what the user gets in `typed`.
  std::optional<std::vector<uint8_t>> press(std::string_view name, uint8_t usage);
  std::optional<std::vector<uint8_t>> release(std::string_view name, uint8_t usage);

  // Sets a service's "UserKeyMapping" and tells the observers.
  void writeMapping(EventService& service, plist::Value value, MappingWriter writer);
  // The HID event system restarts: every service loses its mapping at once; registry IDs and
  // services stay.
  void restartEventSystem();
  void observeMappingWrites(MappingObserver observer) { observers_.push_back(std::move(observer)); }

  // Power cycle: the wall clock moves on by the uptime plus `downtime`, the monotonic clock
  // starts again at 0, the registry and its IDs start over and every plugged device is
  // registered again (in its old order) with its services as their KeyboardSpec makes them.
  void reboot(uint64_t downtimeNanoseconds);

 private:
  void typeKey(Keyboard& keyboard, uint8_t usage, bool down);
  void tell(const MappingWrite& write);

  BootTimeValue bootTime_ = kFirstBootTime;
  DeviceBuilder builder_{registry};
  std::vector<std::unique_ptr<Keyboard>> keyboards_;  // in order of first plug
  std::vector<MappingObserver> observers_;
  uint64_t nextDeviceSerial_ = 1;
  uint64_t nextServiceSerial_ = 1;
};

}  // namespace padwarden::sim
