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
#include "tests/support/world_bed.h"

namespace padwarden::testing {

// A one-entry user mapping, Src and Dst on the Keyboard/Keypad page.
plist::Value user_mapping(uint8_t from, uint8_t to);

class SessionWorld : public WorldBed {
 protected:
  SessionWorld();
  ~SessionWorld() override;

  // Launches the program (if not running) and starts a session for the keyboard.
  std::shared_ptr<KeyboardSession>& startSession(const std::string& name);
  // Plugs the keyboard, starts its session, and brings it to navigation mode (first report,
  // then Num Lock): the program's navigation mapping is on it under a record.
  void startInNavigation(const std::string& name,
                         std::optional<plist::Value> ownMapping = std::nullopt);

  // Another program changes the mapping; it becomes the keyboard's true original.
  void otherPartySets(const std::string& name, plist::Value value);

  // A valid lease for the keyboard as plugged now, as a crashed run would have left it.
  plist::Value leaseFor(const std::string& name, const plist::Value& original) const;
  // How many calls of the operation the program made since the trace was last cleared.
  size_t callsTo(std::string_view op) const;

  std::shared_ptr<KeyboardSession> session;
  // Every mapping write the program made, in order.
  std::vector<sim::MappingWrite> programWrites;
};

}  // namespace padwarden::testing
