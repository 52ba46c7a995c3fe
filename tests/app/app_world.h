// Test bed for the menu-bar application: a simulated world on which the program is launched
// the way main launches it (the delegate owned by the process, a real controller underneath),
// readers for the status item and its menu as the user sees them, and the safety rules
// checked after every step.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/padwarden_app_delegate.h"
#include "platform/sim/world.h"
#include "tests/session/session_world.h"
#include "tests/support/safety_monitor.h"

namespace padwarden::testing {

// The menu's lines, by position: the order is part of what the user sees.
enum MenuLine : size_t {
  kModeLine = 0,
  kKeypadLine = 1,
  kConnectionLine = 2,
  kMappingLine = 3,
  kFirstSeparator = 4,
  kEnableLine = 5,
  kPermissionLine = 6,
  kLoginLine = 7,
  kSecondSeparator = 8,
  kQuitLine = 9,
};

// What a keyboard's session says while a held key keeps it from restoring its mapping.
inline constexpr const char* kReleaseHeldKey =
    "Release the held keyboard Num Lock or keypad key to finish restoring its mapping.";

class AppWorld : public ::testing::Test {
 public:
  // Plugs a supported USB keyboard, with a user's own mapping when given (its true original).
  void plug(const std::string& name, std::optional<plist::Value> ownMapping = std::nullopt);

  // Starts the program as main does and finishes launching, without running anything queued:
  // what follows launch can be looked at separately.
  sim::Process& launch(const std::vector<std::string>& arguments = {});
  // Launches and runs what is due.
  void start(const std::vector<std::string>& arguments = {});
  // Starts, and lets every plugged keyboard read its first report.
  void startReady(const std::vector<std::string>& arguments = {});

  // Runs what is due, then checks the safety rules (use after every step).
  void step();
  void advance(double seconds);
  void press(const std::string& name, uint8_t usage);
  void release(const std::string& name, uint8_t usage);
  void tap(const std::string& name, uint8_t usage);
  void wakeKeyboard(const std::string& name) { tap(name, kCapsLock); }
  // Launches with kb1 (which has a mapping of its own) switched to navigation mode through the
  // menu, and holds one of its keypad keys down: its mapping cannot be restored until release.
  void holdKeypadKeyInNavigation();

  // The user chooses the first menu line starting with the prefix; then a step.
  sim::MenuChoice choose(std::string_view titlePrefix);

  bool running() { return world.process() != nullptr; }
  std::shared_ptr<PadwardenAppDelegate> delegate() const { return delegate_.lock(); }
  // The last launched process's application; it stays readable (and inert) once it has ended.
  sim::SimApplication& application();
  // The status item in the menu bar (fails the test when there is none).
  const sim::SimStatusItem& statusItem();
  const MenuItem& line(size_t index);
  std::string title(size_t index) { return line(index).title(); }
  bool enabled(size_t index) { return line(index).isEnabled(); }
  std::optional<std::string> toolTip(size_t index) { return line(index).toolTip(); }
  // Whether the status button shows the on icon (it must show one of the two).
  bool iconOn();

  sim::Desktop& desktop() { return world.desktop(); }
  std::vector<std::string> alertTitles();
  // How many calls of the platform operation the program has made.
  size_t callsTo(std::string_view op);

  sim::World world;
  std::map<std::string, std::optional<plist::Value>> trueOriginal;
  // Declared after the world and the originals it watches.
  SafetyMonitor monitor{world, trueOriginal};

 private:
  std::weak_ptr<PadwardenAppDelegate> delegate_;
  sim::Process* process_ = nullptr;  // lives as long as the world
};

}  // namespace padwarden::testing
