// Finding, opening and keeping the session's one keyboard: enumeration, the event service and
// LED element, removal, retries and the reconcile timer.
#include "core/keyboard_report.h"
#include "session/key_mapping.h"
#include "session/keyboard_matching.h"
#include "session/keyboard_session.h"
#include "session/session_texts.h"

namespace padwarden {

namespace texts = session_texts;

void KeyboardSession::enumerateAndAttach() {
  if (!_manager || isStopped() || isCleanupPending()) return;
  HIDServices& hid = _platform.hid;

  std::optional<std::vector<IOHIDDeviceRef>> devices = hid.IOHIDManagerCopyDevices(_manager);
  // No set at all is treated as a failure, not as an absent keyboard: taking it for a removal
  // would let go of an attached keyboard without restoring its mapping.
  if (!devices || !_platform.cf.malloc(devices->size() * sizeof(IOHIDDeviceRef))) {
    _connectionSummary = texts::kEnumerationFailed;
    setError(texts::kCouldNotEnumerate);
    scheduleEnumerationRetry();
    return;
  }

  IOHIDDeviceRef chosen;
  size_t count = 0;
  // The keyboard is listed, or a device whose identity could not be read (which may be it).
  bool listed = false;
  for (const IOHIDDeviceRef& device : *devices) {
    const std::optional<std::string> key = device_registry_id_string(hid, device);
    if (key && *key != _targetRegistryID) continue;
    listed = true;
    if (!key || !device_is_supported_keyboard(hid, device)) continue;
    if (count++ == 0) chosen = device;
  }
  if (count != 1) chosen.reset();

  if (!chosen && listed) {
    // Present, but unreadable this time: not a removal. Letting go now would drop the lease
    // while the program's mapping may still be on the keyboard; look again shortly.
    scheduleEnumerationRetry();
    return;
  }
  if (!chosen) {
    if (_device && !detachDeviceRestoringMapping(false, false)) return;
    _connectionSummary = texts::kSupportedNotConnected;
    if (!mappingConflict()) _errorSummary.clear();
    notifyStatus();
    return;
  }
  if (chosen == _device) return;
  if (_device && !detachDeviceRestoringMapping(true, true)) return;

  _connectionSummary = texts::kConnected;
  const IOReturn result = hid.IOHIDDeviceOpen(chosen, kIOHIDOptionsTypeNone);
  if (result == kIOReturnSuccess) {
    // Held only once open, so that letting it go always closes it.
    _device = std::move(chosen);
    attachServiceIfAvailable();
    notifyStatus();
    return;
  }
  setError(texts::with_code(texts::kCouldNotOpenDevice, result));
  letGoAndRetry();
}

std::optional<plist::Value> KeyboardSession::copy_service_property(
    const IOHIDServiceClientRef& service, const char* key) {
  const std::optional<std::string> name = _platform.cf.CFStringCreateWithCString(key);
  if (!name) return std::nullopt;
  return _platform.hid.IOHIDServiceClientCopyProperty(service, *name);
}

std::optional<KeyboardSession::ServiceMatch> KeyboardSession::matchEventService(
    const IOHIDDeviceRef& device) {
  HIDServices& hid = _platform.hid;
  std::optional<int64_t> location;
  if (const std::optional<plist::Value> value = hid.IOHIDDeviceGetProperty(device, "LocationID");
      value && value->isNumber()) {
    location = value->asInt64();
  }

  IOHIDEventSystemClientRef client = hid.IOHIDEventSystemClientCreateSimpleClient();
  if (!client) return std::nullopt;
  const std::optional<std::vector<IOHIDServiceClientRef>> services =
      hid.IOHIDEventSystemClientCopyServices(client);
  if (!services || services->empty()) return std::nullopt;

  ServiceMatch match;
  size_t matches = 0;
  for (const IOHIDServiceClientRef& service : *services) {
    const std::optional<uint64_t> registryID = serviceOfDevice(service, device, location);
    if (registryID && matches++ == 0) {
      match.service = service;
      match.registryID = *registryID;
    }
  }
  if (matches != 1) return std::nullopt;
  match.client = std::move(client);
  return match;
}

std::optional<uint64_t> KeyboardSession::serviceOfDevice(const IOHIDServiceClientRef& service,
                                                         const IOHIDDeviceRef& device,
                                                         std::optional<int64_t> location) {
  HIDServices& hid = _platform.hid;
  if (!service || !hid.IOHIDServiceClientConformsTo(service, 1, 6)) return std::nullopt;
  if (!is_supported_transport(copy_service_property(service, "Transport"))) return std::nullopt;
  if (location &&
      !number_property_equals(copy_service_property(service, "LocationID"), *location)) {
    return std::nullopt;
  }
  if (!number_property_equals(copy_service_property(service, "PrimaryUsagePage"), 1) ||
      !number_property_equals(copy_service_property(service, "PrimaryUsage"), 6)) {
    return std::nullopt;
  }
  const io_service_t deviceService = hid.IOHIDDeviceGetService(device);
  if (!deviceService) return std::nullopt;
  const std::optional<plist::Value> serviceID = hid.IOHIDServiceClientGetRegistryID(service);
  if (!serviceID || !serviceID->isNumber() || !serviceID->asInt64()) return std::nullopt;
  const uint64_t registryID = static_cast<uint64_t>(*serviceID->asInt64());
  std::optional<plist::Dictionary> matching = hid.IORegistryEntryIDMatching(registryID);
  if (!matching) return std::nullopt;
  const io_service_t entry = hid.IOServiceGetMatchingService(std::move(matching));
  if (!entry) return std::nullopt;
  if (hid.IOObjectIsEqualTo(entry, deviceService)) return registryID;

  // The service's entry may lie below the device's IOService, never above it.
  io_iterator_t ancestors;
  if (hid.IORegistryEntryCreateIterator(entry, kIOServicePlane,
                                        kIORegistryIterateRecursively | kIORegistryIterateParents,
                                        &ancestors) != kIOReturnSuccess ||
      !ancestors) {
    return std::nullopt;
  }
  while (io_registry_entry_t ancestor = hid.IOIteratorNext(ancestors)) {
    if (hid.IOObjectIsEqualTo(ancestor, deviceService)) return registryID;
  }
  return std::nullopt;
}

IOHIDServiceClientRef KeyboardSession::copyEventServiceForDevice(const IOHIDDeviceRef& device,
                                                                uint64_t& registryID) {
  // A read that fails makes a matching service look like none, so the one match of a look may
  // hide a second (taking it would choose between them, and could judge the record of the
  // other one stale while the program's mapping is on it). It is the keyboard's only when a
  // second look finds the same service alone.
  std::optional<ServiceMatch> first = matchEventService(device);
  if (!first) return nullptr;
  const std::optional<ServiceMatch> second = matchEventService(device);
  if (!second || second->registryID != first->registryID) return nullptr;
  _eventClient = std::move(first->client);
  registryID = first->registryID;
  return first->service;
}


void KeyboardSession::attachServiceIfAvailable() {
  if (!_device || _service) return;
  uint64_t serviceID = 0;
  IOHIDServiceClientRef service = copyEventServiceForDevice(_device, serviceID);
  if (!service) {
    waitForEventService();
    return;
  }
  _service = std::move(service);
  // What was seen of this very service holds while the keyboard is let go and taken again.
  if (serviceID != _mappingHistoryService) {
    _mappingHistory = history::NoneSeen{};
    _mappingHistoryService = serviceID;
  }
  const MappingRead read = copyUserKeyMapping();
  if (read.value() && !mapping_array_is_well_formed(read.value())) {
    // Never rewritten: the keyboard is let go and looked at again.
    if (clearPersistentMappingLease()) setError(texts::kUnexpectedMappingType);
    letGoAndRetry();
    return;
  }
  const std::optional<bool> restoreFirst = takeOverMappingState(read);
  if (!restoreFirst) return;
  if (!findNumLockElement()) {
    setError(texts::kLedNotFound);
    if (*restoreFirst) {
      // The program's mapping is on: put the original back before letting the keyboard go.
      detachDeviceRestoringMapping(true, true);
      return;
    }
    letGoAndRetry();
    return;
  }
  completeAttachment(*restoreFirst);
}

void KeyboardSession::waitForEventService() {
  _connectionSummary = texts::kWaitingForService;
  if (!_serviceRetryScheduled) {
    _serviceRetryScheduled = true;
    _platform.runLoop.dispatch_after(kEventServiceRetryDelayNs, [self = shared_from_this()] {
      self->_serviceRetryScheduled = false;
      self->attachServiceIfAvailable();
    });
  }
  notifyStatus();
}

std::optional<bool> KeyboardSession::takeOverMappingState(const MappingRead& read) {
  bool identityUnavailable = false;
  std::optional<plist::Value> recorded = copyOriginalMappingFromValidLease(&identityUnavailable);
  if (leaseDeletionPending()) {
    // Attachment waits until the reconcile timer has removed the record.
    letGoUntilRecordDeleted();
    return std::nullopt;
  }
  if (identityUnavailable) {
    releaseDeviceSession();
    _connectionSummary = texts::kIdentityUnavailable;
    setError(texts::kCouldNotVerifyIdentity);
    scheduleEnumerationRetry();
    return std::nullopt;
  }
  if (!recorded) {
    // With no valid record, whatever the keyboard holds is its own, even a value equal to one
    // of the program's mappings: another program may have set it, and it comes back exactly.
    markNotInstalled();
    dropActiveLease();
    _originalMapping = read.value();
    return false;
  }
  // The run that saved a record of this very service may have put the program's mapping on it:
  // an answer of no mapping is judged as from a service that held one, and is not believed yet.
  MappingRead judged = read;
  if (std::holds_alternative<history::NoneSeen>(_mappingHistory)) {
    _mappingHistory = history::Held{};
    if (read.told() && !read.value()) judged = judgeAnswerOfNoMapping();
  }
  if (judged.isUnknown()) {
    // The program's mapping may be on the keyboard. Keep the record and change nothing until a
    // read tells (the reconcile timer looks). A read that failed outright gives ownership up at
    // once, keeping the record; an answer of none waits to be believed (or not) under it.
    _originalMapping = std::move(recorded);
    changeLease(Lease::Active);
    markNotInstalled();
    if (read.isUnknown()) setLookFailed(true);
    relinquishMappingOwnershipForExternalValue(judged);
    return false;
  }
  return takeOverRecordedMapping(read, std::move(*recorded));
}

std::optional<bool> KeyboardSession::takeOverRecordedMapping(const MappingRead& read,
                                                             plist::Value recorded) {
  const std::optional<plist::Value>& current = read.value();
  if (mapping_is_ours(current)) {
    // Left installed by an earlier run: adopted under its record, and the recorded original
    // restored before anything else.
    markInstalled();
    changeLease(Lease::Active);
    _originalMapping = std::move(recorded);
    return true;
  }
  markNotInstalled();
  dropActiveLease();
  // The recorded original is back (the record goes), or somebody else's value is there
  // (ownership goes). When the store cannot be changed, the reconcile timer takes over.
  const bool matchesOriginal = mapping_matches_normalized_original(current, recorded);
  if (!(matchesOriginal ? clearPersistentMappingLease()
                        : relinquishMappingOwnershipForExternalValue(read))) {
    letGoUntilRecordDeleted();
    return std::nullopt;
  }
  if (matchesOriginal) _originalMapping = current;
  return false;
}

bool KeyboardSession::findNumLockElement() {
  std::optional<std::vector<IOHIDElementRef>> elements;
  if (std::optional<plist::Dictionary> matching = _platform.cf.CFDictionaryCreateMutable()) {
    if (add_number(_platform.cf, *matching, kIOHIDElementTypeKey,
                   static_cast<int32_t>(kIOHIDElementTypeOutput)) &&
        add_number(_platform.cf, *matching, kIOHIDElementUsagePageKey, 8) &&
        add_number(_platform.cf, *matching, kIOHIDElementUsageKey, 1)) {
      elements =
          _platform.hid.IOHIDDeviceCopyMatchingElements(_device, &*matching, kIOHIDOptionsTypeNone);
    }
  }
  if (!elements || elements->size() != 1) {
    _numLockElement.reset();
    return false;
  }
  _numLockElement = (*elements)[0];
  return true;
}

void KeyboardSession::completeAttachment(bool restoreFirst) {
  _connection = Connection::WaitingForFirstReport;
  _mappingSynchronized = false;
  _mappingClearPending = restoreFirst;
  _connectionSummary = texts::kWaitingForReport;
  _ledSynchronized = false;
  ensureReconcileTimer();
  if (_enabled) {
    applyLEDForLogicalState(_state.logical_on, true);
    if (permissionLost()) {
      beginPermissionReset();
      return;
    }
  }
  notifyStatus();
}

bool KeyboardSession::detachDeviceRestoringMapping(bool restore, bool reenumerateIfDeferred) {
  if (restore) {
    armCleanup([](lifecycle::CleanupPending& cleanup) {
      if (cleanup.action == PostRestoreAction::None) cleanup.action = PostRestoreAction::Reattach;
    });
    ensureReconcileTimer();
    const bool done = advancePendingCleanup();
    if (reenumerateIfDeferred && !done && postRestoreAction() == PostRestoreAction::Reattach) {
      lifecycle::CleanupPending cleanup = cleanupWithReasons();
      cleanup.reenumerate = true;
      setLifecycle(cleanup);
    }
    return done;
  }
  if (leaseActive() || appMappingInstalled() || _mappingClearPending ||
      leaseDeletionPending()) {
    if (!clearPersistentMappingLease()) {
      letGoUntilRecordDeleted();
      return false;
    }
  }
  completePendingCleanupReleasingSession(true);
  return true;
}

void KeyboardSession::handleDeviceRemoval(const IOHIDDeviceRef& device) {
  if (device && device == _device) detachDeviceRestoringMapping(false, false);
  if (_manager && !isStopped() && !isStopPending()) {
    _platform.runLoop.dispatch_async([self = shared_from_this()] { self->enumerateAndAttach(); });
  }
}

bool KeyboardSession::deviceRemoved() {
  detachDeviceRestoringMapping(false, false);
  return !isCleanupPending();
}

void KeyboardSession::releaseDeviceHandles() {
  _numLockElement.reset();
  _service.reset();
  _eventClient.reset();
  _originalMapping.reset();
  if (_device) {
    _platform.hid.IOHIDDeviceClose(_device, kIOHIDOptionsTypeNone);
    _device.reset();
  }
}

void KeyboardSession::releaseDeviceSession() {
  releaseDeviceHandles();
  _connection = Connection::NotConnected;
  _mappingSynchronized = false;
  markNotInstalled();
  dropActiveLease();
  _mappingClearPending = false;
  _ledSynchronized = false;
  _serviceRetryScheduled = false;
  if (leaseDeletionPending()) {
    ensureReconcileTimer();
  } else if (_reconcileTimer) {
    _reconcileTimer->invalidate();
    _reconcileTimer.reset();
  }
  _state.num_lock_down = false;
  _state.shift_held = false;
  _state.mapped_keys_down = 0;
  _connectionSummary = texts::kNotConnected;
}

void KeyboardSession::closeManager() {
  if (!_manager) return;
  _platform.hid.IOHIDManagerUnscheduleFromRunLoop(_manager);
  _platform.hid.IOHIDManagerClose(_manager, kIOHIDOptionsTypeNone);
  _manager.reset();
}

void KeyboardSession::ensureReconcileTimer() {
  if (_reconcileTimer) return;
  // The timer holds the session until it is invalidated.
  std::shared_ptr<KeyboardSession> self = weak_from_this().lock();
  if (!self) return;
  _reconcileTimer = _platform.runLoop.scheduledTimerWithTimeInterval(
      kReconcileTimerInterval, [self](Timer& timer) { self->reconcileTimerFired(timer); });
}

void KeyboardSession::scheduleEnumerationRetry() {
  if (!_manager || isStopped() || isCleanupPending() || _serviceRetryScheduled) return;
  _serviceRetryScheduled = true;
  _platform.runLoop.dispatch_after(kEnumerationRetryDelayNs, [self = shared_from_this()] {
    self->_serviceRetryScheduled = false;
    if (self->_manager && !self->isStopped() && !self->isCleanupPending()) {
      self->enumerateAndAttach();
    }
  });
}

bool KeyboardSession::settleKeptRecord() {
  const MappingRead read = copyUserKeyMapping();
  if (read.isUnknown()) return false;  // still nothing to go by
  if (!mapping_is_ours(read.value())) {
    // Somebody else's value after all: now the record can go.
    relinquishMappingOwnershipForExternalValue(read);
    return false;
  }
  // The earlier reads failed; the program's mapping is still on the keyboard, under the record.
  markInstalled();
  setError("");
  if (!_enabled) _mappingClearPending = true;
  return true;
}

void KeyboardSession::reconcileTimerFired(Timer&) {
  ++_reconcileTicks;
  if (leaseDeletionPending()) {
    if (!clearPersistentMappingLease()) return;
    if (!_service && _manager && !isStopped() && !isCleanupPending()) {
      enumerateAndAttach();
      return;
    }
  }
  if (_service && _device && !inputMonitoringGranted()) {
    beginPermissionReset();
    return;
  }
  if (isCleanupPending()) {
    advancePendingCleanup();
    return;
  }
  if (!_service || !_device) return;
  if (conflictKeptRecord() && !settleKeptRecord()) return;
  if (_mappingClearPending) {
    if (!stateInitialized() || keyHeld()) return;
    if (!clearMappingRestoringOriginal(true)) return;
    _mappingClearPending = false;
  }
  if (!_enabled || !stateInitialized() || mappingConflict()) return;
  if (!applyLEDForLogicalState(_state.logical_on, false)) {
    if (permissionLost()) beginPermissionReset();
    return;
  }
  if (keyHeld()) return;

  bool leaseMatches = false;
  if (leaseActive()) {
    leaseMatches = storedLeaseMatchesCurrentState();
    if (!leaseMatches) dropActiveLease();
  }
  const std::optional<plist::Value> current = copyUserKeyMapping().value();
  const std::optional<plist::Value> desired =
      create_mapping(_platform.cf, _state.effective_numeric_mode);
  if (current && desired && *current == *desired && leaseMatches) {
    _mappingSynchronized = true;
    markInstalled();
    _state.applied_numeric_mode = _state.effective_numeric_mode;
    return;
  }
  if (current && leaseMatches && mapping_is_ours(current)) markInstalled();
  _mappingSynchronized = false;
  applyDesiredMappingIfReady();
}

void KeyboardSession::letGoAndRetry() {
  releaseDeviceSession();
  scheduleEnumerationRetry();
  notifyStatus();
}

void KeyboardSession::letGoUntilRecordDeleted() {
  releaseDeviceSession();
  ensureReconcileTimer();
  notifyStatus();
}

}  // namespace padwarden
