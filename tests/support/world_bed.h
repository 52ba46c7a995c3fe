// The steps every scenario fixture takes on a simulated world (plugging keyboards, keys, time),
// with the safety rules checked after each; the session, controller and application test beds
// build on it.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "platform/sim/world.h"
#include "tests/support/key_usages.h"
#include "tests/support/safety_monitor.h"

namespace padwarden::testing {

class WorldBed : public ::testing::Test {
 public:
  // Plugs a keyboard (a supported USB one by name), with a user's mapping when given: its true
  // original for the safety rules.
  void plug(const std::string& name, std::optional<plist::Value> ownMapping = std::nullopt) {
    plug(sim::usb_keyboard(name), std::move(ownMapping));
  }
  void plug(sim::KeyboardSpec spec, std::optional<plist::Value> ownMapping = std::nullopt);

  // Runs what is due, then checks the safety rules (use after every step).
  void step() {
    world.runDue();
    monitor.check();
  }
  void advance(double seconds) {
    world.advance(seconds);
    monitor.check();
  }
  void press(const std::string& name, uint8_t usage) {
    world.press(name, usage);
    step();
  }
  void release(const std::string& name, uint8_t usage) {
    world.release(name, usage);
    step();
  }
  void tap(const std::string& name, uint8_t usage) {
    press(name, usage);
    release(name, usage);
  }

  std::string registryID(const std::string& name) const;
  std::optional<plist::Value> mapping(const std::string& name) const {
    return world.userKeyMapping(name);
  }
  // The stored value of a preference key, or none.
  std::optional<plist::Value> onDisk(const std::string& key) const;
  // The preference key of the keyboard's lease while it is plugged (keep it before unplug).
  std::string leaseKey(const std::string& name) const { return record_key(world, name); }
  // The lease record stored for the keyboard's current registry ID, or none.
  std::optional<plist::Value> storedLease(const std::string& name) const {
    return onDisk(leaseKey(name));
  }

  sim::World world;
  std::map<std::string, std::optional<plist::Value>> trueOriginal;
  // Declared after the world and the originals it watches.
  SafetyMonitor monitor{world, trueOriginal};
};

}  // namespace padwarden::testing
