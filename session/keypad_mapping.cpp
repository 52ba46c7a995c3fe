// Installing the program's keypad mapping on the keyboard's event service, putting the
// keyboard's own mapping back, and giving up ownership when somebody else changed it.
#include "session/key_mapping.h"
#include "session/keyboard_session.h"
#include "session/session_texts.h"

namespace padwarden {

namespace texts = session_texts;

MappingRead KeyboardSession::copyUserKeyMapping() {
  // The platform answers nothing both for an absent mapping and for a read that failed. A
  // service that answers a property it is known to have (attachment chose it for its primary
  // usage page) before and after a second look, and still nothing for the mapping, has none,
  // as far as this look tells; a failure that spans the first read alone shows as a value at
  // the second.
  auto answers = [this] { return copy_service_property(_service, "PrimaryUsagePage").has_value(); };
  std::optional<plist::Value> value = copy_service_property(_service, kIOHIDUserKeyMappingKey);
  if (!value) {
    if (!answers()) return MappingRead::unknown();
    value = copy_service_property(_service, kIOHIDUserKeyMappingKey);
    if (!value) return answers() ? judgeAnswerOfNoMapping() : MappingRead::unknown();
  }
  _mappingHistory = history::Held{};
  setLookFailed(false);
  return MappingRead::of(std::move(*value));
}

MappingRead KeyboardSession::judgeAnswerOfNoMapping() {
  // No program can remove a mapping, only replace it: a service that has held one answers none
  // only when the read failed (here, both reads of the look) or when the HID event system
  // restarted and lost every mapping. Only a service that goes on answering so, tick after
  // tick, is believed.
  if (std::holds_alternative<history::NoneSeen>(_mappingHistory)) return MappingRead::absent();
  if (auto* answering = std::get_if<history::AnsweringNone>(&_mappingHistory)) {
    if (answering->lastTick + 1 == _reconcileTicks) {
      ++answering->ticksInARow;
    } else if (answering->lastTick != _reconcileTicks) {
      answering->ticksInARow = 1;  // a tick without such an answer: start again
    }
    answering->lastTick = _reconcileTicks;
    return answering->ticksInARow >= kAbsenceBelievedAfterTicks ? MappingRead::absent()
                                                                : MappingRead::unknown();
  }
  _mappingHistory = history::AnsweringNone{_reconcileTicks};
  return MappingRead::unknown();
}

bool KeyboardSession::applyDesiredMappingIfReady() {
  if (!_service || !_device || !_enabled || !stateInitialized() || isCleanupPending() ||
      _mappingClearPending || mappingConflict() || keyHeld()) {
    return false;
  }
  if (_mappingSynchronized) return true;
  return applyMappingForNumericMode(_state.effective_numeric_mode);
}

bool KeyboardSession::applyMappingForNumericMode(bool numericMode) {
  _mappingSynchronized = false;
  if (!_service) return false;
  const std::optional<plist::Value> captured = captureBeforeInstall();
  if (!captured) return false;
  const std::optional<plist::Value> desired = create_mapping(_platform.cf, numericMode);
  if (!desired) {
    setError(texts::kCouldNotAllocateMapping);
    return false;
  }
  if (!persistMappingLease()) return false;
  if (!unchangedSinceCapture(*captured) || !writeDesiredMapping(*desired)) return false;
  _state.applied_numeric_mode = numericMode;
  _mappingSynchronized = true;
  markInstalled();
  setError("");
  return true;
}

std::optional<plist::Value> KeyboardSession::captureBeforeInstall() {
  const MappingRead read = copyUserKeyMapping();
  // A read that failed is no value to judge by (taken for an absent mapping, it would record
  // an empty original, or pass for one): wait for a read that tells.
  if (read.isUnknown()) {
    setError(texts::kCouldNotCaptureMapping);
    return std::nullopt;
  }
  const std::optional<plist::Value>& current = read.value();
  if (current && !mapping_array_is_well_formed(current)) {
    relinquishMappingOwnershipForExternalValue(read);
    return std::nullopt;
  }
  const bool ours = mapping_is_ours(current);
  const bool matchesOriginal = mapping_matches_normalized_original(current, _originalMapping);
  std::optional<plist::Value> captured = copy_normalized_mapping(_platform.cf, current);
  if (!captured) {
    setError(texts::kCouldNotCaptureMapping);
    return std::nullopt;
  }

  if (leaseActive()) {
    if (ours) {
      markInstalled();
    } else if (!(matchesOriginal && !appMappingInstalled())) {
      relinquishMappingOwnershipForExternalValue(read);
      return std::nullopt;
    }
  } else if (!appMappingInstalled()) {
    // Nothing of ours is on the keyboard and no record says otherwise: whatever it holds is its
    // own, even a value equal to one of ours that another program set.
    _originalMapping = captured;
  } else if (!ours) {
    relinquishMappingOwnershipForExternalValue(read);
    return std::nullopt;
  }
  return captured;
}

bool KeyboardSession::unchangedSinceCapture(const plist::Value& captured) {
  // Somebody may have changed the value while the lease was being written.
  const MappingRead again = copyUserKeyMapping();
  if (again.isUnknown()) {
    setError(texts::kCouldNotCaptureMapping);
    return false;
  }
  const std::optional<plist::Value> normalizedAgain =
      copy_normalized_mapping(_platform.cf, again.value());
  if (!normalizedAgain || !(*normalizedAgain == captured)) {
    relinquishMappingOwnershipForExternalValue(again);
    return false;
  }
  return true;
}

bool KeyboardSession::writeDesiredMapping(const plist::Value& desired) {
  if (!_platform.hid.IOHIDServiceClientSetProperty(_service, kIOHIDUserKeyMappingKey, desired)) {
    // A write that answers failure may have landed. Where the program's mapping is found now,
    // or nothing tells, it is the program's: a later look, once the record cannot be checked,
    // must never take it for the keyboard's own.
    const MappingRead after = copyUserKeyMapping();
    if (after.isUnknown() || mapping_is_ours(after.value())) markInstalled();
    setError(texts::kCouldNotSetMapping);
    return false;
  }
  // Accepted: the service holds a mapping now, so a read-back of none is a failed read.
  _mappingHistory = history::Held{};
  markInstalled();
  const MappingRead readBack = copyUserKeyMapping();
  if (!readBack.value() || !(*readBack.value() == desired)) {
    setError(texts::kCouldNotSetMapping);
    return false;
  }
  return true;
}

bool KeyboardSession::clearMappingRestoringOriginal(bool restoreOriginal) {
  if (!_service) {
    _mappingSynchronized = false;
    _mappingClearPending = false;
    return true;
  }
  // Whether the program's mapping may be on the keyboard, as far as it knows before it looks.
  const bool mayBeOurs = leaseActive() || appMappingInstalled() || conflictKeptRecord();
  if (leaseActive() && !storedLeaseMatchesCurrentState()) dropActiveLease();

  const MappingRead read = copyUserKeyMapping();
  const std::optional<plist::Value>& current = read.value();
  const bool ours = mapping_is_ours(current);
  // A failed read is no proof that the original is back: it answers nothing while the
  // program's mapping may still be on. It goes the way of an external value (look again, then
  // give ownership up keeping the record), and nothing is written over a value not read.
  const bool matchesOriginal =
      read.told() && mapping_matches_normalized_original(current, _originalMapping);
  // Where it may be (a conflict kept the record, the record could not be verified just now),
  // a value equal to the program's mapping is taken for it: it comes off before the record may
  // go. Where nothing of the program's can be on, such a value is somebody else's.
  if (ours && mayBeOurs) markInstalled();

  if (const std::optional<bool> settled = settleBeforeRestore(read, ours, matchesOriginal)) {
    return *settled;
  }
  if (!matchesOriginal && !writeOriginalBack(restoreOriginal)) return false;

  // The original is on the keyboard, read back: nothing of the program's is installed any more,
  // whether or not the record goes now. (Still believing its mapping on, a retry would take a
  // value another program set meanwhile, equal to one of ours, for its own and write over it.)
  markNotInstalled();
  if (!clearPersistentMappingLease()) {
    dropActiveLease();
    _mappingClearPending = true;
    if (!matchesOriginal) _mappingSynchronized = false;
    return false;
  }
  markNotInstalled();
  _mappingClearPending = false;
  _mappingSynchronized = !_enabled;
  return true;
}

std::optional<bool> KeyboardSession::settleBeforeRestore(const MappingRead& read, bool ours,
                                                         bool matchesOriginal) {
  if (leaseActive()) {
    if (!ours && !matchesOriginal) return relinquishMappingOwnershipForExternalValue(read);
    return std::nullopt;
  }
  if (!appMappingInstalled()) {
    // Nothing of the program's is on the service; only a stored lease may be left. Unless this
    // read told nothing (an answer of none from a keyboard that may hold the program's mapping
    // is not believed yet): then the record stays, for a later look to settle.
    if (read.isUnknown()) {
      _mappingClearPending = true;
      setError(texts::kCouldNotCaptureMapping);
      return false;
    }
    const bool deleted = clearPersistentMappingLease();
    _mappingClearPending = !deleted;
    return deleted;
  }
  if (matchesOriginal) return std::nullopt;
  if (!ours) return relinquishMappingOwnershipForExternalValue(read);
  // A verified lease must stand before the service is changed.
  if (!persistMappingLease()) {
    _mappingClearPending = true;
    return false;
  }
  const MappingRead again = copyUserKeyMapping();
  if (!mapping_is_ours(again.value())) return relinquishMappingOwnershipForExternalValue(again);
  return std::nullopt;
}

bool KeyboardSession::writeOriginalBack(bool restoreOriginal) {
  std::optional<plist::Value> restore;
  if (restoreOriginal) {
    restore = copy_normalized_mapping(_platform.cf, _originalMapping);
  } else if (std::optional<plist::Array> empty = _platform.cf.CFArrayCreateMutable()) {
    restore = plist::Value(std::move(*empty));
  }
  if (!restore) {
    _mappingClearPending = true;
    setError(texts::kCouldNotAllocateRestore);
    return false;
  }
  bool restored = false;
  if (_platform.hid.IOHIDServiceClientSetProperty(_service, kIOHIDUserKeyMappingKey, *restore)) {
    // Even an empty original is a value once written: a read-back of none is a failed read.
    _mappingHistory = history::Held{};
    const MappingRead back = copyUserKeyMapping();
    const std::optional<plist::Value>& readBack = back.value();
    if (back.isUnknown()) {
      restored = false;
    } else if (restoreOriginal) {
      restored = mapping_matches_normalized_original(readBack, restore);
    } else {
      restored = !readBack || (readBack->isArray() && readBack->asArray()->empty());
    }
  }
  if (!restored) {
    _mappingSynchronized = false;
    _mappingClearPending = true;
    setError(texts::kCouldNotRestoreMapping);
  }
  return restored;
}

bool KeyboardSession::relinquishMappingOwnershipForExternalValue(const MappingRead& read) {
  // A read that failed, when the program's own mapping may still be on the keyboard: the
  // first time, nothing is given up: the caller fails and the reconcile timer looks again.
  // The second time ownership goes, but the record stays: deleting it could leave the
  // program's mapping with no way back to the original. The reconcile timer settles it once a
  // read tells, and a next start judges the record against what the keyboard holds. (No
  // program can remove a mapping: an answer of none, once believed, means the event system
  // lost every mapping, the keyboard's own with the program's, and is judged as any value.)
  if (read.isUnknown() && (leaseActive() || appMappingInstalled())) {
    _mappingSynchronized = false;
    if (!lookFailed()) {
      setLookFailed(true);
      setError(texts::kCouldNotCaptureMapping);
      ensureReconcileTimer();
      return false;
    }
    giveUpOwnership(true);
    _mappingClearPending = false;
    setError(texts::kMappingConflict);
    ensureReconcileTimer();
    return true;
  }
  forgetKeptRecord();
  _originalMapping = read.value();
  const bool deleted = clearPersistentMappingLease();
  _mappingSynchronized = false;
  giveUpOwnership(false);
  _mappingClearPending = false;
  if (deleted) setError(texts::kMappingConflict);
  return deleted;
}

}  // namespace padwarden
