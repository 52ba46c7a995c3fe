// The pending cleanup: from "the program's mapping may be installed" to "nothing of the
// program's is left", waiting for held keys, then finishing the action that started it.
#include "session/keyboard_session.h"
#include "session/session_texts.h"

namespace padwarden {

namespace texts = session_texts;

void KeyboardSession::beginPermissionReset() {
  const bool withdrawn = _platform.hid.IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) !=
                         kIOHIDAccessTypeGranted;
  if (!_accessLoss || _accessLoss->cause == AccessLossCause::Unjudged) {
    _accessLoss = AccessLoss{withdrawn ? AccessLossCause::Withdrawn : AccessLossCause::Refused};
  } else if (withdrawn) {
    _accessLoss->cause = AccessLossCause::Withdrawn;
  }
  armCleanup([](lifecycle::CleanupPending& cleanup) {
    if (cleanup.action == PostRestoreAction::None || cleanup.action == PostRestoreAction::Reattach) {
      cleanup.action = PostRestoreAction::PermissionReset;
    }
    cleanup.reenumerate = false;
  });
  _connectionSummary = texts::kLostPermission;
  _errorSummary = texts::kPermissionLostRestoring;
  ensureReconcileTimer();
  advancePendingCleanup();
}

bool KeyboardSession::advancePendingCleanup() {
  if (!isCleanupPending()) return true;
  _mappingSynchronized = false;
  if (leaseDeletionPending() && !clearPersistentMappingLease()) {
    ensureReconcileTimer();
    return false;
  }
  if (!_service) {
    _mappingClearPending = false;
    completePendingCleanupReleasingSession(false);
    return true;
  }
  if (leaseActive() || appMappingInstalled()) {
    _mappingClearPending = true;
  } else if (!_mappingClearPending) {
    completePendingCleanupReleasingSession(false);
    return true;
  }
  if (!permissionLost()) {
    const char* wait = nullptr;
    if (stateInitialized() && keyHeld()) {
      wait = texts::kReleaseHeldKey;
    } else if (!stateInitialized() && appMappingInstalled()) {
      wait = texts::kWaitingForFirstReport;
    }
    if (wait) {
      _errorSummary = wait;
      ensureReconcileTimer();
      notifyStatus();
      return false;
    }
  }
  if (!clearMappingRestoringOriginal(true)) {
    ensureReconcileTimer();
    return false;
  }
  _mappingClearPending = false;
  completePendingCleanupReleasingSession(false);
  return true;
}

void KeyboardSession::completePendingCleanupReleasingSession(bool releaseSession) {
  const lifecycle::CleanupPending done = cleanupWithReasons();
  const bool disable = done.disable;
  const PostRestoreAction action = done.action;
  const bool reenumerate = done.reenumerate;
  // A lease deletion alone may have been what was pending; a stopped session stays stopped.
  if (std::holds_alternative<lifecycle::CleanupPending>(_lifecycle)) setLifecycle(lifecycle::Live{});
  _mappingClearPending = false;

  if (disable) {
    _enabled = false;
    endConflictByDisabling();
    _platform.defaults.setBool(false, preference_keys::kEnabled);
  }
  if (releaseSession || action != PostRestoreAction::None) {
    releaseDeviceSession();
    if (action == PostRestoreAction::PermissionReset || action == PostRestoreAction::Stop) {
      closeManager();
      if (action == PostRestoreAction::Stop) {
        setLifecycle(lifecycle::Stopped{});
        _connectionSummary = texts::kStopped;
        _errorSummary.clear();
      } else {
        _connectionSummary = texts::kWaitingForPermission;
        _errorSummary = texts::kPermissionLostRestored;
      }
      notifyStatus();
      return;
    }
  } else {
    _mappingSynchronized = !_enabled;
  }

  if (releaseSession) {
    if (!mappingConflict()) _errorSummary.clear();
  } else if (disable) {
    _errorSummary.clear();
  }
  notifyStatus();

  if (action == PostRestoreAction::Reattach && reenumerate && _manager) {
    _platform.runLoop.dispatch_async([self = shared_from_this()] { self->enumerateAndAttach(); });
  }
}

}  // namespace padwarden
