// Test bed for keyboard-session scenarios: a simulated world with one program process, a
// session for a named keyboard, and the safety monitor that every step checks.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/world.h"
#include "session/keyboard_session.h"
#include "tests/support/safety_monitor.h"

namespace padwarden::testing {

// Keyboard/Keypad page usages the stories use.
inline constexpr uint8_t kNumLock = 0x53;
inline constexpr uint8_t kKeypad4 = 0x5C;
inline constexpr uint8_t kKeypad5 = 0x5D;
inline constexpr uint8_t kKeypad8 = 0x60;
inline constexpr uint8_t kCapsLock = 0x39;
inline constexpr uint8_t kLeftShift = 0xE1;

// The navigation-mode and numeric-mode mappings as the service should hold them.
plist::Value navigation_mapping();
plist::Value numeric_mapping();
// A one-entry user mapping, Src and Dst on the Keyboard/Keypad page.
plist::Value user_mapping(uint8_t from, uint8_t to);

class SessionWorld : public ::testing::Test {
 protected:
  SessionWorld();
  ~SessionWorld() override;

  // Plugs a supported USB keyboard (with a user's mapping when given) and records its true
  // original mapping for the monitor.
  void plugKeyboard(const std::string& name, std::optional<plist::Value> ownMapping = std::nullopt);
  void plugKeyboard(sim::KeyboardSpec spec, std::optional<plist::Value> ownMapping);
  // Launches the program (if not running) and starts a session for the keyboard.
  std::shared_ptr<KeyboardSession>& startSession(const std::string& name);
  // Plugs the keyboard, starts its session, and brings it to navigation mode (first report,
  // then Num Lock): the program's navigation mapping is on it under a record.
  void startInNavigation(const std::string& name,
                         std::optional<plist::Value> ownMapping = std::nullopt);
  // Crashes the program: the session object is dropped with its dead process.
  void crash();

  // Runs what is due, then checks the safety rules (use after every step).
  void step();
  void advance(double seconds);
  void press(const std::string& name, uint8_t usage);
  void release(const std::string& name, uint8_t usage);
  void tap(const std::string& name, uint8_t usage);

  // The lease record stored durably for the keyboard's current registry ID, or none.
  std::optional<plist::Value> storedLease(const std::string& name) const;
  std::optional<plist::Value> mapping(const std::string& name) const {
    return world.userKeyMapping(name);
  }
  std::string registryID(const std::string& name) const;
  // Another program changes the mapping; it becomes the keyboard's true original.
  void otherPartySets(const std::string& name, std::optional<plist::Value> value);
  std::string typed(const std::string& name);

  // The preference key of the keyboard's lease while it is plugged (keep it before unplug).
  std::string leaseKey(const std::string& name) const { return "MappingLease." + registryID(name); }
  // A valid lease for the keyboard as plugged now, as a crashed run would have left it.
  plist::Value leaseFor(const std::string& name, const plist::Value& original) const;
  // How many calls of the operation the program made since the trace was last cleared.
  size_t callsTo(std::string_view op) const;

  // The safety rules, checked now: whenever a service holds one of the program's mappings,
  // the disk holds a valid lease for it whose original equals the keyboard's true original.
  void checkSafety();

  sim::World world;
  std::shared_ptr<KeyboardSession> session;
  int notifications = 0;
  std::map<std::string, std::optional<plist::Value>> trueOriginal;
  // Every mapping write the program made, in order.
  std::vector<sim::MappingWrite> programWrites;
  // Declared after the world and the originals it watches.
  SafetyMonitor monitor{world, trueOriginal};
};

}  // namespace padwarden::testing
