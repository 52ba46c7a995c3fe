// Creation, start and stop, the enable switch, the Input Monitoring request, the status texts
// and the derived properties of a keyboard session.
#include "session/keyboard_matching.h"
#include "session/keyboard_session.h"
#include "session/session_texts.h"

namespace padwarden {

namespace texts = session_texts;

namespace {

// The callbacks hold the session for the length of the call: the status notification inside
// may lead its owner to drop it.
std::shared_ptr<KeyboardSession> hold(void* context) {
  return static_cast<KeyboardSession*>(context)->weak_from_this().lock();
}

void keyboard_device_matched(void* context, IOReturn, void*, IOHIDDeviceRef) {
  if (auto session = hold(context)) session->enumerateAndAttach();
}

void keyboard_device_removed(void* context, IOReturn, void*, IOHIDDeviceRef device) {
  if (!context) return;
  if (auto session = hold(context)) session->handleDeviceRemoval(device);
}

void keyboard_input_report(void* context, IOReturn result, void* sender, IOHIDReportType type,
                           uint32_t reportID, const uint8_t* report, int64_t reportLength) {
  if (auto session = hold(context)) {
    session->processReport(report, result, type, reportID, reportLength, sender);
  }
}

// The stored logical Num Lock: this keyboard's own key, then the two older shared keys, else on.
bool load_logical_state(UserDefaults& defaults, const std::string& keyboardKey) {
  for (std::string_view key : {std::string_view(keyboardKey), preference_keys::kLogicalNumLockOn,
                               preference_keys::kLastCommandedState}) {
    if (defaults.objectForKey(key)) return defaults.boolForKey(key);
  }
  return true;
}

}  // namespace

std::shared_ptr<KeyboardSession> KeyboardSession::create(const Platform& platform,
                                                         std::string targetRegistryID,
                                                         std::string preferenceIdentity,
                                                         StatusHandler statusHandler) {
  return std::shared_ptr<KeyboardSession>(new KeyboardSession(platform, std::move(targetRegistryID),
                                                              std::move(preferenceIdentity),
                                                              std::move(statusHandler)));
}

KeyboardSession::KeyboardSession(const Platform& platform, std::string targetRegistryID,
                                 std::string preferenceIdentity, StatusHandler statusHandler)
    : _platform(platform),
      _statusHandler(std::move(statusHandler)),
      _targetRegistryID(std::move(targetRegistryID)) {
  _logicalStatePreferenceKey =
      std::string(preference_keys::kLogicalNumLockOnPrefix) + preferenceIdentity;
  _mappingLeasePreferenceKey =
      std::string(preference_keys::kMappingLeasePrefix) + _targetRegistryID;
  UserDefaults& defaults = _platform.defaults;
  _enabled = defaults.objectForKey(preference_keys::kEnabled)
                 ? defaults.boolForKey(preference_keys::kEnabled)
                 : true;
  _state.logical_on = load_logical_state(defaults, _logicalStatePreferenceKey);
  _connectionSummary = texts::kNotConnected;
}

KeyboardSession::~KeyboardSession() {
  // Restores nothing and writes nothing: only the handles go. The timer, which holds the
  // session, has necessarily been invalidated already.
  releaseDeviceHandles();
  closeManager();
}

void KeyboardSession::notifyStatus() {
  if (_statusHandler) _statusHandler();
}

void KeyboardSession::setError(std::optional<std::string> text) {
  _errorSummary = text ? std::move(*text) : std::string();
  notifyStatus();
}

bool KeyboardSession::keyHeld() const {
  return _state.num_lock_down || _state.mapped_keys_down != 0;
}

void KeyboardSession::setLifecycle(Lifecycle next) { _lifecycle = std::move(next); }

lifecycle::CleanupPending KeyboardSession::cleanupWithReasons() const {
  if (const auto* cleanup = std::get_if<lifecycle::CleanupPending>(&_lifecycle)) return *cleanup;
  return {};
}

void KeyboardSession::armCleanup(
    const std::function<void(lifecycle::CleanupPending&)>& addReason) {
  lifecycle::CleanupPending cleanup = cleanupWithReasons();
  addReason(cleanup);
  setLifecycle(cleanup);
  _mappingSynchronized = false;
  armMappingRestore();
}

PostRestoreAction KeyboardSession::postRestoreAction() const {
  const auto* cleanup = std::get_if<lifecycle::CleanupPending>(&_lifecycle);
  return cleanup ? cleanup->action : PostRestoreAction::None;
}

bool KeyboardSession::isDisablePending() const {
  const auto* cleanup = std::get_if<lifecycle::CleanupPending>(&_lifecycle);
  return cleanup && cleanup->disable;
}

bool KeyboardSession::isCleanupPending() const {
  return leaseDeletionPending() || std::holds_alternative<lifecycle::CleanupPending>(_lifecycle);
}

bool KeyboardSession::isReady() const {
  if (!stateInitialized() || !_device || !_service) return false;
  if (_enabled && (!_mappingSynchronized || !_ledSynchronized)) return false;
  return !isCleanupPending();
}

bool KeyboardSession::isMappingDeferred() const {
  if (!stateInitialized()) return false;
  if (_mappingClearPending && keyHeld()) return true;
  if (isCleanupPending()) return keyHeld();
  if (!keyHeld()) return false;
  if (!_enabled) return false;
  if (!_mappingSynchronized) return true;
  return numlock_state_mapping_deferred(&_state);
}

bool KeyboardSession::isMappingSynchronized() const {
  if (isCleanupPending()) return false;
  if (_enabled) {
    return _mappingSynchronized && !_mappingClearPending && stateInitialized() &&
           _device && _service;
  }
  if (_service && !stateInitialized()) return false;
  return !_mappingClearPending;
}

bool KeyboardSession::inputMonitoringGranted() const {
  if (permissionLost()) return false;
  return _platform.hid.IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) == kIOHIDAccessTypeGranted;
}

void KeyboardSession::armMappingRestore() {
  if (!_service) {
    _mappingClearPending = false;
  } else if (leaseActive() || appMappingInstalled()) {
    _mappingClearPending = true;
  }
}

void KeyboardSession::start() {
  if (_manager || isCleanupPending()) return;
  if (isStopped()) setLifecycle(lifecycle::Live{});
  _errorSummary = mappingConflict() ? texts::kMappingConflict : "";
  if (!inputMonitoringGranted()) {
    _connectionSummary = texts::kWaitingForPermission;
    setError(texts::kPermissionRequiredToStart);
    return;
  }

  std::optional<plist::Dictionary> matching = create_keyboard_matching(_platform.cf);
  if (!matching) {
    setError(texts::kCouldNotAllocateMatch);
    return;
  }
  HIDServices& hid = _platform.hid;
  _manager = hid.IOHIDManagerCreate(kIOHIDOptionsTypeNone);
  if (!_manager) {
    setError(texts::kCouldNotCreateManager);
    return;
  }
  hid.IOHIDManagerSetDeviceMatching(_manager, &*matching);
  hid.IOHIDManagerRegisterDeviceMatchingCallback(_manager, keyboard_device_matched, this);
  hid.IOHIDManagerRegisterDeviceRemovalCallback(_manager, keyboard_device_removed, this);
  hid.IOHIDManagerRegisterInputReportCallback(_manager, keyboard_input_report, this);
  hid.IOHIDManagerScheduleWithRunLoop(_manager);

  const IOReturn result = hid.IOHIDManagerOpen(_manager, kIOHIDOptionsTypeNone);
  if (result == kIOReturnSuccess) {
    enumerateAndAttach();
    return;
  }
  if (result == kIOReturnExclusiveAccess) {
    setError(texts::kExclusivelyHeld);
  } else if (result == kIOReturnNotPermitted) {
    setError(texts::kPermissionRequired);
  } else {
    setError(texts::with_code(texts::kManagerOpenFailed, result));
  }
  // Never opened, so not closed: only taken off the run loop and dropped.
  hid.IOHIDManagerUnscheduleFromRunLoop(_manager);
  _manager.reset();
}

bool KeyboardSession::stop() {
  if (isStopped()) return true;
  armCleanup([](lifecycle::CleanupPending& cleanup) {
    cleanup.action = PostRestoreAction::Stop;
    cleanup.reenumerate = false;
  });
  ensureReconcileTimer();
  return advancePendingCleanup();
}

void KeyboardSession::setEnabled(bool enabled) {
  if (isStopped() || isStopPending()) return;
  if (_enabled == enabled && !isDisablePending()) return;
  if (!enabled) {
    armCleanup([](lifecycle::CleanupPending& cleanup) { cleanup.disable = true; });
    ensureReconcileTimer();
    advancePendingCleanup();
    return;
  }
  if (isCleanupPending()) {
    setError(texts::kFinishCleanupFirst);
    return;
  }
  _enabled = true;
  _platform.defaults.setBool(true, preference_keys::kEnabled);
  endConflictByEnabling();
  _mappingClearPending = false;
  _mappingSynchronized = false;
  if (_service && stateInitialized()) {
    const bool written = applyLEDForLogicalState(_state.logical_on, true);
    if (permissionLost()) {
      beginPermissionReset();
      return;
    }
    if (written && _state.mapped_keys_down == 0) applyDesiredMappingIfReady();
  }
  notifyStatus();
}

bool KeyboardSession::requestInputMonitoring() {
  HIDServices& hid = _platform.hid;
  if (!hid.IOHIDRequestAccess(kIOHIDRequestTypeListenEvent) &&
      hid.IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) != kIOHIDAccessTypeGranted) {
    notifyStatus();
    return false;
  }
  return resumeWithGrantedAccess();
}

void KeyboardSession::accessCheckAnswered(bool granted) {
  if (!_accessLoss || isStopped() || isStopPending()) return;
  if (!granted) {
    _accessLoss->cause = AccessLossCause::Withdrawn;
    return;
  }
  // A refusal the system does not explain may well come again: retrying it at every pass
  // would open and close the keyboard every 1.5 s for nothing.
  if (_accessLoss->cause == AccessLossCause::Refused &&
      ++_accessLoss->grantedPasses < kRefusedAccessRetryPasses) {
    return;
  }
  resumeWithGrantedAccess();
}

bool KeyboardSession::resumeWithGrantedAccess() {
  _errorSummary.clear();
  _accessLoss.reset();
  if (isCleanupPending()) {
    if (advancePendingCleanup() && !_manager && !isStopped()) start();
  } else {
    start();
  }
  notifyStatus();
  return true;
}

}  // namespace padwarden
