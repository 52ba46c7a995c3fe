// Creation, release and the commands of the keyboard controller: start and stop, permission,
// enable and disable, toggle and reconcile.
#include "controller/controller_texts.h"
#include "controller/keyboard_controller.h"
#include "session/lease_record.h"

namespace padwarden {

namespace texts = controller_texts;

std::shared_ptr<KeyboardController> KeyboardController::create(const Platform& platform,
                                                               StatusHandler statusHandler) {
  return std::shared_ptr<KeyboardController>(
      new KeyboardController(platform, std::move(statusHandler)));
}

KeyboardController::KeyboardController(const Platform& platform, StatusHandler statusHandler)
    : _platform(platform), _statusHandler(std::move(statusHandler)) {
  move_legacy_mapping_lease(_platform.preferences);
  UserDefaults& defaults = _platform.defaults;
  _enabled = defaults.objectForKey(preference_keys::kEnabled)
                 ? defaults.boolForKey(preference_keys::kEnabled)
                 : true;
  _logicalFallback = true;
  _connectionSummary = texts::kNoKeyboard;
}

KeyboardController::~KeyboardController() {
  if (_discoveryTimer) _discoveryTimer->invalidate();
  for (auto& [key, session] : _sessions) session->stop();
}

StatusHandler KeyboardController::sessionStatusHandler() {
  return [weak = weak_from_this()] {
    if (std::shared_ptr<KeyboardController> controller = weak.lock()) controller->notifyStatus();
  };
}

void KeyboardController::setError(std::optional<std::string> text) {
  _errorSummary = text ? std::move(*text) : std::string();
  notifyStatus();
}

void KeyboardController::start() {
  if (_stopped || (_discoveryTimer && !_waitingForAccess)) return;
  if (!_discoveryTimer) {
    std::shared_ptr<KeyboardController> self = weak_from_this().lock();
    if (!self) return;
    // Created without access too: its pass is what notices the access granted later in System
    // Settings, which the user expects to take effect without choosing anything.
    _discoveryTimer = _platform.runLoop.scheduledTimerWithTimeInterval(
        kDiscoveryTimerInterval, [self](Timer&) { self->discover(); });
  }
  if (!inputMonitoringGranted()) {
    _waitingForAccess = true;
    _connectionSummary = texts::kWaitingForPermission;
    setError(texts::kPermissionRequired);
    return;
  }
  discover();
}

bool KeyboardController::stop() {
  _stopPending = true;
  bool all = true;
  // A session's stop may notify, and the notification may finish the stop and empty the
  // table: walk a copy.
  const auto sessions = _sessions;
  for (const auto& [key, session] : sessions) all = session->stop() && all;
  if (all) {
    // The last session's notification may already have finished the stop.
    if (_stopPending) finishStop();
    return true;
  }
  notifyStatus();
  return false;
}

void KeyboardController::finishStop() {
  if (_discoveryTimer) {
    _discoveryTimer->invalidate();
    _discoveryTimer.reset();
  }
  _sessions.clear();
  _stopPending = false;
  _stopped = true;
  _connectionSummary = texts::kStopped;
  notifyStatus();
}

bool KeyboardController::requestInputMonitoring() {
  HIDServices& hid = _platform.hid;
  if (hid.IOHIDRequestAccess(kIOHIDRequestTypeListenEvent) ||
      hid.IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) == kIOHIDAccessTypeGranted) {
    _errorSummary.clear();
    if (!_stopped) start();
    // A session that lost access waits for a request of its own: without it, its keyboard was
    // never handled again in this run, whatever the system granted.
    const auto sessions = _sessions;
    for (const auto& [key, session] : sessions) {
      if (!_stopped && !session->isStopped() && !session->inputMonitoringGranted()) {
        session->requestInputMonitoring();
      }
    }
    notifyStatus();
    return true;
  }
  notifyStatus();
  return false;
}

void KeyboardController::completeDisable() {
  _disablePending = false;
  _enabled = false;
  _platform.defaults.setBool(false, preference_keys::kEnabled);
}

void KeyboardController::setEnabled(bool enabled) {
  // A quit held back is not withdrawn or turned into a disable: the menu can still choose the
  // line that reads "Stopping Padwarden...".
  if (_stopped || isStopPending() || (enabled == _enabled && !isDisablePending())) return;
  if (!enabled) {
    _disablePending = true;
  } else {
    if (isCleanupPending()) {
      // Not through notifyStatus: it would put the first keyboard's own error in place of the
      // refusal at once, and the user would never learn why the command did nothing.
      _errorSummary = texts::kFinishCleanupFirst;
      if (_statusHandler) _statusHandler();
      return;
    }
    _enabled = true;
    _disablePending = false;
    _platform.defaults.setBool(true, preference_keys::kEnabled);
  }
  const auto sessions = _sessions;
  for (const auto& [key, session] : sessions) session->setEnabled(enabled);
  if (!enabled && _sessions.empty()) completeDisable();
  notifyStatus();
}

void KeyboardController::toggleLogicalNumLock() {
  if (!_enabled || isCleanupPending() || isStopPending()) return;
  const bool target = logicalStateMixed() ? true : !logicalNumLockOn();
  if (_sessions.empty()) _logicalFallback = !_logicalFallback;
  const auto sessions = _sessions;
  for (const auto& [key, session] : sessions) {
    if (session->logicalNumLockOn() != target) session->toggleLogicalNumLock();
  }
  notifyStatus();
}

void KeyboardController::reconcile() {
  if (_stopped) return;
  discover();
  const auto sessions = _sessions;
  for (const auto& [key, session] : sessions) session->reconcile();
}

}  // namespace padwarden
