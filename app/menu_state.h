// What the status item and its menu show, as a function of the controller's aggregate state:
// the icon, every title, the enabled flags and the mapping line's tooltip. Used by the
// application delegate's menu refresh, which applies it to the platform's menu items.
#pragma once

#include <optional>
#include <string>

namespace padwarden {

class KeyboardController;

// The controller state the menu reads, copied out so the rules can be tested on their own.
struct ControllerView {
  bool logicalNumLockOn = true;
  bool logicalStateMixed = false;
  bool isEnabled = true;
  bool isReady = false;
  bool isCleanupPending = false;
  bool effectiveNumericMode = true;
  bool effectiveModeMixed = false;
  bool isMappingDeferred = false;
  bool isMappingSynchronized = false;
  bool isDisablePending = false;
  bool isStopPending = false;
  bool isStopped = false;
  bool inputMonitoringGranted = false;
  std::string connectionSummary;
  std::string errorSummary;

  static ControllerView of(const KeyboardController& controller);
};

struct MenuState {
  bool iconOn = false;
  std::string modeTitle;
  bool modeEnabled = false;
  std::string effectiveModeTitle;
  std::string connectionTitle;
  std::string mappingTitle;
  std::string enabledTitle;
  bool enabledEnabled = false;
  std::string permissionTitle;
  bool permissionEnabled = false;
  std::optional<std::string> mappingToolTip;  // none: no tooltip
};

MenuState menu_state_for(const ControllerView& view);

}  // namespace padwarden
