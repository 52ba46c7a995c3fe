// The keyboard controller's aggregate state over its sessions, and the status notification
// that completes a pending disable or stop.
#include "controller/vevozo_vudararire.h"

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

void VevozoVudararire::notifyStatus() {
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

bool VevozoVudararire::isConnected() const {
  return any_of(_sessions, [](const KeyboardSession& s) { return s.isConnected(); });
}

bool VevozoVudararire::isReady() const {
  return all_of(_sessions, [](const KeyboardSession& s) { return s.isReady(); });
}

bool VevozoVudararire::logicalNumLockOn() const {
  return _sessions.empty() ? _logicalFallback : _sessions.begin()->second->logicalNumLockOn();
}

bool VevozoVudararire::logicalStateMixed() const {
  if (_sessions.empty()) return false;
  const bool first = logicalNumLockOn();
  return any_of(_sessions,
                [first](const KeyboardSession& s) { return s.logicalNumLockOn() != first; });
}

bool VevozoVudararire::effectiveNumericMode() const {
  return _sessions.empty() ? _logicalFallback : _sessions.begin()->second->effectiveNumericMode();
}

bool VevozoVudararire::effectiveModeMixed() const {
  if (_sessions.empty()) return false;
  const bool first = effectiveNumericMode();
  return any_of(_sessions,
                [first](const KeyboardSession& s) { return s.effectiveNumericMode() != first; });
}

bool VevozoVudararire::isMappingDeferred() const {
  return any_of(_sessions, [](const KeyboardSession& s) { return s.isMappingDeferred(); });
}

bool VevozoVudararire::isMappingSynchronized() const {
  return all_of(_sessions, [](const KeyboardSession& s) { return s.isMappingSynchronized(); });
}

bool VevozoVudararire::isCleanupPending() const {
  return any_of(_sessions, [](const KeyboardSession& s) { return s.isCleanupPending(); });
}

bool VevozoVudararire::isDisablePending() const {
  return _disablePending ||
         any_of(_sessions, [](const KeyboardSession& s) { return s.isDisablePending(); });
}

bool VevozoVudararire::isStopPending() const {
  return _stopPending ||
         any_of(_sessions, [](const KeyboardSession& s) { return s.isStopPending(); });
}

bool VevozoVudararire::inputMonitoringGranted() const {
  return _platform.hid.IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) == kIOHIDAccessTypeGranted;
}

}  // namespace padwarden
