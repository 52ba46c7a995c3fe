// Test bed for controller scenarios: a simulated world, the one controller of the program
// process, and the safety rules every step checks for every keyboard the story plugged.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/vevozo_vudararire.h"
#include "platform/sim/world.h"
#include "tests/session/session_world.h"
#include "tests/support/safety_monitor.h"

namespace padwarden::testing {

class ControllerWorld : public ::testing::Test {
 protected:
  ControllerWorld();
  ~ControllerWorld() override;

  // Plugs a keyboard (a supported USB one by name), with a user's mapping when given; that
  // mapping is the keyboard's true original for the safety rules.
  void plug(const std::string& name, std::optional<plist::Value> ownMapping = std::nullopt);
  void plug(sim::KeyboardSpec spec, std::optional<plist::Value> ownMapping = std::nullopt);
  void unplug(const std::string& name);
  // Plugs it again as it was described before: a new registry ID.
  void replug(const std::string& name);

  // Launches the program and creates its controller (not started).
  void launch();
  // Launches if needed, starts the controller and runs what is due.
  void start();

  // Runs what is due, then checks the safety rules (use after every step).
  void step();
  void advance(double seconds);
  void press(const std::string& name, uint8_t usage);
  void release(const std::string& name, uint8_t usage);
  void tap(const std::string& name, uint8_t usage);
  // A harmless key, so that a freshly attached session reads its first report.
  void wake(const std::string& name) { tap(name, kCapsLock); }

  std::string registryID(const std::string& name) const;
  // The controller's session for the keyboard's current registry ID, or null.
  std::shared_ptr<KeyboardSession> session(const std::string& name) const;
  std::optional<plist::Value> storedLease(const std::string& name) const;
  std::optional<plist::Value> mapping(const std::string& name) const {
    return world.userKeyMapping(name);
  }
  std::optional<plist::Value> onDisk(const std::string& key) const;

  // Whenever a plugged keyboard's service holds one of the program's mappings, the disk holds
  // a sound lease under its registry ID whose original is the keyboard's true original; and no
  // write of the program ever replaced a mapping that was neither its own nor the original.
  void checkSafety();

  sim::World world;
  std::shared_ptr<VevozoVudararire> controller;
  int statusCalls = 0;
  std::map<std::string, std::optional<plist::Value>> trueOriginal;
  // Declared after the world and the originals it watches.
  SafetyMonitor monitor{world, trueOriginal};
};

// The preference identity a keyboard with a serial number gets, before any session exists.
std::string serial_identity(const sim::KeyboardSpec& spec);

}  // namespace padwarden::testing
