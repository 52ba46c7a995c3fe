#include "app/menu_state.h"

#include "controller/keyboard_controller.h"

namespace padwarden {

ControllerView ControllerView::of(const KeyboardController& c) {
  ControllerView v;
  v.logicalNumLockOn = c.logicalNumLockOn();
  v.logicalStateMixed = c.logicalStateMixed();
  v.isEnabled = c.isEnabled();
  v.isReady = c.isReady();
  v.isCleanupPending = c.isCleanupPending();
  v.effectiveNumericMode = c.effectiveNumericMode();
  v.effectiveModeMixed = c.effectiveModeMixed();
  v.isMappingDeferred = c.isMappingDeferred();
  v.isMappingSynchronized = c.isMappingSynchronized();
  v.isDisablePending = c.isDisablePending();
  v.isStopPending = c.isStopPending();
  v.isStopped = c.isStopped();
  v.inputMonitoringGranted = c.inputMonitoringGranted();
  v.connectionSummary = c.connectionSummary();
  v.errorSummary = c.errorSummary();
  return v;
}

namespace {

std::string effective_mode_title(const ControllerView& v) {
  if (v.isCleanupPending) return "Keypad mode: cleanup pending";
  if (!v.isEnabled) return "Keypad mode: Native (handling disabled)";
  if (!v.isReady) return "Keypad mode: waiting for controller sync";
  if (v.effectiveModeMixed) return "Keypad mode: Mixed";
  return std::string("Keypad mode: ") + (v.effectiveNumericMode ? "Numeric" : "Navigation");
}

std::string mapping_title(const ControllerView& v) {
  if (v.isCleanupPending && v.isMappingDeferred) return "Mapping: waiting for keypad release";
  if (v.isCleanupPending) return "Mapping: restore retry pending";
  if (!v.isReady) return "Mapping: waiting for controller sync";
  if (v.isMappingDeferred) return "Mapping: waiting for keypad release";
  if (v.isEnabled && v.isMappingSynchronized) return "Mapping: active";
  if (v.isEnabled) return "Mapping: retry pending";
  if (v.isMappingSynchronized) return "Mapping: restored";
  return "Mapping: restore retry pending";
}

std::string enabled_title(const ControllerView& v) {
  if (v.isDisablePending) return "Disabling keypad handling...";
  if (v.isStopPending) return "Stopping Padwarden...";
  if (v.isEnabled) return "Disable keypad handling";
  return "Enable keypad handling";
}

}  // namespace

MenuState menu_state_for(const ControllerView& v) {
  MenuState m;
  m.iconOn = v.logicalNumLockOn;
  m.modeTitle = v.logicalStateMixed
                    ? "Logical Num Lock: Mixed"
                    : std::string("Logical Num Lock: ") + (v.logicalNumLockOn ? "On" : "Off");
  m.modeEnabled = v.isEnabled && v.isReady && !v.isCleanupPending;
  m.effectiveModeTitle = effective_mode_title(v);
  m.connectionTitle = v.connectionSummary;
  m.mappingTitle = mapping_title(v);
  m.enabledTitle = enabled_title(v);
  m.enabledEnabled = !v.isCleanupPending && !v.isStopped;
  m.permissionTitle =
      v.inputMonitoringGranted ? "Input Monitoring: Granted" : "Input Monitoring: Request access";
  m.permissionEnabled = !v.inputMonitoringGranted && !v.isStopped;
  if (!v.errorSummary.empty()) m.mappingToolTip = v.errorSummary;
  return m;
}

}  // namespace padwarden
