// Input reports, the logical Num Lock and the keyboard's Num Lock LED: from a boot report to
// the LED and the keypad mode, plus the toggle and re-attach commands.
#include "core/keyboard_report.h"
#include "session/keyboard_session.h"
#include "session/session_texts.h"

namespace padwarden {

namespace texts = session_texts;

void KeyboardSession::processReport(const uint8_t* report, IOReturn result, IOHIDReportType type,
                                    uint32_t reportID, int64_t length, void* sender) {
  if (type != kIOHIDReportTypeInput || !_device || sender != _device.get()) return;
  if (result != kIOReturnSuccess) {
    if (result == kIOReturnNotPermitted) {
      beginPermissionReset();
    }
    return;
  }
  if (!report || length < 1) return;
  numlock_physical_snapshot snapshot{};
  if (!numlock_keyboard_parse_boot_report(report, static_cast<uint64_t>(length), reportID,
                                          &snapshot.modifiers, &snapshot.num_lock_down,
                                          &snapshot.mapped_keys_down)) {
    return;
  }

  if (!stateInitialized()) {
    handleFirstReport(snapshot);
    return;
  }
  if (isCleanupPending()) {
    updatePhysicalSnapshot(snapshot);
    advancePendingCleanup();
    return;
  }
  if (mappingConflict()) {
    updatePhysicalSnapshot(snapshot);
    return;
  }
  if (!_enabled) {
    updatePhysicalSnapshot(snapshot);
    if (_mappingClearPending && !keyHeld()) {
      clearMappingRestoringOriginal(true);
      notifyStatus();
    }
    return;
  }
  handleEnabledReport(snapshot);
}

void KeyboardSession::handleFirstReport(numlock_physical_snapshot snapshot) {
  numlock_state_init(&_state, _state.logical_on, snapshot);
  _connection = Connection::Reporting;
  _connectionSummary = texts::kConnected;
  _mappingSynchronized = false;
  if (isCleanupPending()) {
    advancePendingCleanup();
    return;
  }
  if (_enabled) {
    const bool written = applyLEDForLogicalState(_state.logical_on, true);
    if (permissionLost()) {
      beginPermissionReset();
      return;
    }
    if (written && !keyHeld()) {
      if (_mappingClearPending && !clearMappingRestoringOriginal(true)) {
        notifyStatus();
        return;
      }
      applyDesiredMappingIfReady();
    }
  } else {
    if (!keyHeld() && _mappingClearPending) clearMappingRestoringOriginal(true);
    if (!_mappingClearPending) _mappingSynchronized = true;
  }
  ensureReconcileTimer();
  notifyStatus();
}

void KeyboardSession::updatePhysicalSnapshot(numlock_physical_snapshot snapshot) {
  _state.num_lock_down = snapshot.num_lock_down;
  _state.shift_held = (snapshot.modifiers & kShiftModifierMask) != 0;
  _state.mapped_keys_down = snapshot.mapped_keys_down;
  _state.effective_numeric_mode = _state.logical_on != _state.shift_held;
}

void KeyboardSession::rollBackToggle(bool logicalOn, bool appliedNumericMode,
                                     bool mappingSynchronized) {
  _state.logical_on = logicalOn;
  _state.effective_numeric_mode = _state.logical_on != _state.shift_held;
  _state.applied_numeric_mode = appliedNumericMode;
  _mappingSynchronized =
      appliedNumericMode == _state.effective_numeric_mode ? mappingSynchronized : false;
}

void KeyboardSession::handleEnabledReport(numlock_physical_snapshot snapshot) {
  const bool wasLogicalOn = _state.logical_on;
  const bool wasApplied = _state.applied_numeric_mode;
  const bool wasSynchronized = _mappingSynchronized;

  const uint64_t result = numlock_state_update(&_state, snapshot);
  const bool modeChanged = (result & kAppliedModeChanged) != 0;
  if (modeChanged || _state.applied_numeric_mode != _state.effective_numeric_mode) {
    _mappingSynchronized = false;
  }

  if (result & kNumLockToggled) {
    if (!applyLEDForLogicalState(_state.logical_on, true)) {
      // The press is spent: the keys keep this report's values, and the user presses again.
      rollBackToggle(wasLogicalOn, wasApplied, wasSynchronized);
      ledRefused();
      return;
    }
  } else if (!_ledSynchronized && !applyLEDForLogicalState(_state.logical_on, false)) {
    if (modeChanged && !permissionLost()) _state.applied_numeric_mode = wasApplied;
    ledRefused();
    return;
  }
  if (permissionLost()) {
    beginPermissionReset();
    return;
  }

  if (_state.num_lock_down) {
    notifyStatus();
    return;
  }
  if (_state.mapped_keys_down == 0 && _mappingClearPending) {
    if (!clearMappingRestoringOriginal(true)) {
      _state.applied_numeric_mode = wasApplied;
      notifyStatus();
      return;
    }
    _mappingSynchronized = false;
  }
  if (_state.mapped_keys_down != 0) {
    notifyStatus();
    return;
  }
  if (!modeChanged && _mappingSynchronized) {
    notifyStatus();
    return;
  }
  if (!applyDesiredMappingIfReady()) _state.applied_numeric_mode = wasApplied;
  notifyStatus();
}

void KeyboardSession::ledRefused() {
  if (permissionLost()) {
    beginPermissionReset();
  } else {
    notifyStatus();
  }
}

bool KeyboardSession::applyLEDForLogicalState(bool state, bool persist) {
  if (!_device || !_numLockElement) {
    _ledSynchronized = false;
    return false;
  }
  HIDServices& hid = _platform.hid;
  const int64_t value = state ? hid.IOHIDElementGetLogicalMax(_numLockElement)
                              : hid.IOHIDElementGetLogicalMin(_numLockElement);
  IOReturn code = kIOReturnNoMemory;
  if (IOHIDValueRef hidValue = hid.IOHIDValueCreateWithIntegerValue(
          _numLockElement, _platform.clock.mach_absolute_time(), value)) {
    code = hid.IOHIDDeviceSetValue(_device, _numLockElement, hidValue);
  }
  if (code == kIOReturnSuccess) {
    _ledSynchronized = true;
    _accessLoss.reset();  // access works: a later loss is judged afresh
    if (persist) _platform.defaults.setBool(state, _logicalStatePreferenceKey);
    if (!_mappingClearPending && _mappingSynchronized) _errorSummary.clear();
    notifyStatus();
    return true;
  }
  _ledSynchronized = false;
  if (code == kIOReturnNotPermitted) {
    if (!_accessLoss) _accessLoss = AccessLoss{AccessLossCause::Unjudged};
    setError(texts::kLedPermissionRequired);
  } else {
    setError(texts::with_code(texts::kCouldNotUpdateLed, code));
  }
  return false;
}

void KeyboardSession::toggleLogicalNumLock() {
  if (!_enabled || !stateInitialized() || isCleanupPending()) return;
  const bool wasLogicalOn = _state.logical_on;
  const bool wasApplied = _state.applied_numeric_mode;
  const bool wasSynchronized = _mappingSynchronized;

  _state.logical_on = !_state.logical_on;
  _state.effective_numeric_mode = _state.logical_on != _state.shift_held;
  _mappingSynchronized = false;
  if (applyLEDForLogicalState(_state.logical_on, true)) {
    if (_state.mapped_keys_down == 0 && !applyDesiredMappingIfReady()) {
      _state.applied_numeric_mode = wasApplied;
    }
  } else {
    rollBackToggle(wasLogicalOn, wasApplied, wasSynchronized);
    if (permissionLost()) beginPermissionReset();
  }
  notifyStatus();
}

void KeyboardSession::reconcile() {
  if (isStopped() || isStopPending()) return;
  if (!_manager) {
    start();
    return;
  }
  if (_device && !detachDeviceRestoringMapping(true, true)) return;
  enumerateAndAttach();
}

}  // namespace padwarden
