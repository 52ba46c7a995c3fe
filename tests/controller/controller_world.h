// Test bed for controller scenarios: a simulated world, the one controller of the program
// process, and the safety rules checked after every step for every keyboard the story plugged.
// The application's test bed builds on it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "controller/keyboard_controller.h"
#include "platform/sim/world.h"
#include "tests/session/session_world.h"
#include "tests/support/world_bed.h"

namespace padwarden::testing {

class ControllerWorld : public WorldBed {
 public:
  ~ControllerWorld() override;

  void unplug(const std::string& name) {
    EXPECT_TRUE(world.unplug(name));
    step();
  }
  // Launches the program and creates its controller (not started).
  void launch();
  // Launches if needed, starts the controller and runs what is due.
  void start();
  // A harmless key, so that a freshly attached session reads its first report.
  void wake(const std::string& name) { tap(name, kCapsLock); }
  // The controller's session for the keyboard's current registry ID, or null.
  std::shared_ptr<KeyboardSession> session(const std::string& name) const;

  std::shared_ptr<KeyboardController> controller;  // only the one launch() made
  int statusCalls = 0;
};

// The preference identity a keyboard with a serial number gets, before any session exists.
std::string serial_identity(const sim::KeyboardSpec& spec);

}  // namespace padwarden::testing
