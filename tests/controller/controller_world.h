// Test bed for controller scenarios: a simulated world, the one controller of the program
// process, and the safety rules checked after every step for every keyboard the story plugged.
// The application's test bed builds on it.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "controller/keyboard_controller.h"
#include "platform/sim/world.h"
#include "tests/session/session_world.h"
#include "tests/support/safety_monitor.h"

namespace padwarden::testing {

class ControllerWorld : public ::testing::Test {
 public:
  ~ControllerWorld() override;

  // Plugs a keyboard (a supported USB one by name), with a user's mapping when given: its true
  // original for the safety rules.
  void plug(const std::string& name, std::optional<plist::Value> ownMapping = std::nullopt) {
    plug(sim::usb_keyboard(name), std::move(ownMapping));
  }
  void plug(sim::KeyboardSpec spec, std::optional<plist::Value> ownMapping = std::nullopt);
  void unplug(const std::string& name) {
    EXPECT_TRUE(world.unplug(name));
    step();
  }

  // Launches the program and creates its controller (not started).
  void launch();
  // Launches if needed, starts the controller and runs what is due.
  void start();

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
  // A harmless key, so that a freshly attached session reads its first report.
  void wake(const std::string& name) { tap(name, kCapsLock); }

  std::string registryID(const std::string& name) const;
  // The controller's session for the keyboard's current registry ID, or null.
  std::shared_ptr<KeyboardSession> session(const std::string& name) const;
  std::optional<plist::Value> mapping(const std::string& name) const {
    return world.userKeyMapping(name);
  }
  std::optional<plist::Value> onDisk(const std::string& key) const;
  std::optional<plist::Value> storedLease(const std::string& name) const {
    return onDisk("MappingLease." + registryID(name));
  }

  sim::World world;
  std::shared_ptr<KeyboardController> controller;  // only the one launch() made
  int statusCalls = 0;
  std::map<std::string, std::optional<plist::Value>> trueOriginal;
  // Declared after the world and the originals it watches.
  SafetyMonitor monitor{world, trueOriginal};
};

// The preference identity a keyboard with a serial number gets, before any session exists.
std::string serial_identity(const sim::KeyboardSpec& spec);

}  // namespace padwarden::testing
