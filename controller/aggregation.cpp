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

// Over the keyboards the program handles: one left alone (its LED cannot be named) neither
// holds the others' state back nor counts as one of them. False when none is handled.
template <typename Sessions, typename Test>
bool all_handled(const Sessions& sessions, Test test) {
  bool any = false;
  for (const auto& [key, session] : sessions) {
    if (session->isLeftAlone()) continue;
    if (!test(*session)) return false;
    any = true;
  }
  return any;
}

// The first keyboard the program handles, or null.
template <typename Sessions>
const KeyboardSession* first_handled(const Sessions& sessions) {
  for (const auto& [key, session] : sessions) {
    if (!session->isLeftAlone()) return session.get();
  }
  return nullptr;
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
  return all_handled(_sessions, [](const KeyboardSession& s) { return s.isReady(); });
}

bool KeyboardController::logicalNumLockOn() const {
  const KeyboardSession* first = first_handled(_sessions);
  return first ? first->logicalNumLockOn() : _logicalFallback;
}

bool KeyboardController::logicalStateMixed() const {
  const bool first = logicalNumLockOn();
  return !all_handled(_sessions,
                      [first](const KeyboardSession& s) { return s.logicalNumLockOn() == first; }) &&
         first_handled(_sessions);
}

bool KeyboardController::effectiveNumericMode() const {
  const KeyboardSession* first = first_handled(_sessions);
  return first ? first->effectiveNumericMode() : _logicalFallback;
}

bool KeyboardController::effectiveModeMixed() const {
  const bool first = effectiveNumericMode();
  return !all_handled(
             _sessions,
             [first](const KeyboardSession& s) { return s.effectiveNumericMode() == first; }) &&
         first_handled(_sessions);
}

bool KeyboardController::isMappingDeferred() const {
  return any_of(_sessions, [](const KeyboardSession& s) { return s.isMappingDeferred(); });
}

bool KeyboardController::isMappingSynchronized() const {
  return all_handled(_sessions, [](const KeyboardSession& s) { return s.isMappingSynchronized(); });
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
