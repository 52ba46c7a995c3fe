// The keyboard controller's aggregate state over its sessions, and the status notification
// that completes a pending disable or stop.
#include "controller/keyboard_controller.h"

namespace padwarden {

namespace {

template <typename Sessions, typename Test>
bool any_of(const Sessions& sessions, Test test) {
  for (const auto& [key, session] : sessions) {
    if (test(*session)) return true;
  }
  return false;
}

template <typename Sessions, typename Test>
bool all_of(const Sessions& sessions, Test test) {
  if (sessions.empty()) return false;
  for (const auto& [key, session] : sessions) {
    if (!test(*session)) return false;
  }
  return true;
}

}  // namespace

void KeyboardController::notifyStatus() {
  for (const auto& [key, session] : _sessions) {
    if (!session->errorSummary().empty()) {
      _errorSummary = session->errorSummary();
      break;
    }
  }
  if (_disablePending && !any_of(_sessions, [](const KeyboardSession& s) {
        return s.isEnabled() || s.isCleanupPending();
      })) {
    completeDisable();
  }
  if (_stopPending) {
    if (any_of(_sessions, [](const KeyboardSession& s) { return !s.isStopped(); })) {
      if (_statusHandler) _statusHandler();
      return;
    }
    finishStop();
    return;
  }
  if (_statusHandler) _statusHandler();
}

bool KeyboardController::isConnected() const {
  return any_of(_sessions, [](const KeyboardSession& s) { return s.isConnected(); });
}

bool KeyboardController::isReady() const {
  return all_of(_sessions, [](const KeyboardSession& s) { return s.isReady(); });
}

bool KeyboardController::logicalNumLockOn() const {
  return _sessions.empty() ? _logicalFallback : _sessions.begin()->second->logicalNumLockOn();
}

bool KeyboardController::logicalStateMixed() const {
  if (_sessions.empty()) return false;
  const bool first = logicalNumLockOn();
  return any_of(_sessions,
                [first](const KeyboardSession& s) { return s.logicalNumLockOn() != first; });
}

bool KeyboardController::effectiveNumericMode() const {
  return _sessions.empty() ? _logicalFallback : _sessions.begin()->second->effectiveNumericMode();
}

bool KeyboardController::effectiveModeMixed() const {
  if (_sessions.empty()) return false;
  const bool first = effectiveNumericMode();
  return any_of(_sessions,
                [first](const KeyboardSession& s) { return s.effectiveNumericMode() != first; });
}

bool KeyboardController::isMappingDeferred() const {
  return any_of(_sessions, [](const KeyboardSession& s) { return s.isMappingDeferred(); });
}

bool KeyboardController::isMappingSynchronized() const {
  return all_of(_sessions, [](const KeyboardSession& s) { return s.isMappingSynchronized(); });
}

bool KeyboardController::isCleanupPending() const {
  return any_of(_sessions, [](const KeyboardSession& s) { return s.isCleanupPending(); });
}

bool KeyboardController::isDisablePending() const {
  return _disablePending ||
         any_of(_sessions, [](const KeyboardSession& s) { return s.isDisablePending(); });
}

bool KeyboardController::isStopPending() const {
  return _stopPending ||
         any_of(_sessions, [](const KeyboardSession& s) { return s.isStopPending(); });
}

bool KeyboardController::inputMonitoringGranted() const {
  return _platform.hid.IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) == kIOHIDAccessTypeGranted;
}

}  // namespace padwarden
