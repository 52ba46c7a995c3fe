// The mapping lease: the verified crash-recovery record written before every change of the
// keyboard's mapping and deleted, verified, only once the original is back.
#include "session/key_mapping.h"
#include "session/keyboard_matching.h"
#include "session/keyboard_session.h"
#include "session/lease_record.h"
#include "session/session_texts.h"

namespace padwarden {

namespace texts = session_texts;

namespace {

std::optional<LeaseIdentity> current_identity(const Platform& platform,
                                              const IOHIDDeviceRef& device,
                                              const IOHIDServiceClientRef& service) {
  std::optional<std::string> boot = current_boot_session_identifier(platform.clock);
  std::optional<std::string> deviceID = device_registry_id_string(platform.hid, device);
  std::optional<std::string> serviceID = event_service_registry_id_string(platform.hid, service);
  if (!boot || !deviceID || !serviceID) return std::nullopt;
  return LeaseIdentity{std::move(*boot), std::move(*deviceID), std::move(*serviceID)};
}

}  // namespace

bool KeyboardSession::persistMappingLease() {
  if (leaseActive() && storedLeaseMatchesCurrentState()) return true;
  // A record of the program's may be in the store already (this one's predecessor, or one a
  // conflict kept): then only a verified deletion makes sure it is gone.
  const bool recordMayBeStored = leaseActive() || conflictKeptRecord();
  dropActiveLease();
  if (leaseDeletionPending() && !clearPersistentMappingLease()) return false;

  const std::optional<LeaseIdentity> identity = current_identity(_platform, _device, _service);
  const std::optional<plist::Value> original =
      copy_normalized_mapping(_platform.cf, _originalMapping);
  if (!identity || !original || !plist::CFPropertyListIsValid(*original, plist::Format::Binary)) {
    setError(texts::kCouldNotIdentifyMapping);
    return false;
  }

  const plist::Value record = make_lease_record(*identity, *original);
  AppPreferences& preferences = _platform.preferences;
  preferences.CFPreferencesSetAppValue(_mappingLeasePreferenceKey, record);
  const bool saved = preferences.CFPreferencesAppSynchronize();
  const std::optional<plist::Value> readBack =
      saved ? preferences.CFPreferencesCopyAppValue(_mappingLeasePreferenceKey) : std::nullopt;
  if (!readBack || !(*readBack == record)) {
    // While one of the program's mappings may be on the keyboard, the record (old or new, both
    // naming the same original) is all that lets a later run put the original back: keep it.
    if (appMappingInstalled()) {
      setError(texts::kCouldNotSaveLease);
    } else if (!saved && !recordMayBeStored && takeBackUnsavedLease()) {
      setError(texts::kCouldNotSaveLease);
    } else if (clearPersistentMappingLease()) {
      setError(texts::kCouldNotSaveLease);
    }
    return false;
  }
  _originalMapping = *original;
  changeLease(Lease::Active);
  return true;
}

bool KeyboardSession::takeBackUnsavedLease() {
  // The store refused to save: the record never reached the disk, and once it is out of the
  // store's pending changes no later save can take it there. Nothing is left to delete, so a
  // store that cannot save holds back no disable and no quit. (A store that answers false after
  // writing is set right by its next successful save, which writes what it holds.)
  AppPreferences& preferences = _platform.preferences;
  preferences.CFPreferencesSetAppValue(_mappingLeasePreferenceKey, std::nullopt);
  return !preferences.CFPreferencesCopyAppValue(_mappingLeasePreferenceKey);
}

bool KeyboardSession::storedLeaseMatchesCurrentState() {
  if (!_originalMapping || !_device || !_service) return false;
  AppPreferences& preferences = _platform.preferences;
  if (!preferences.CFPreferencesAppSynchronize()) return false;
  const std::optional<plist::Value> stored =
      preferences.CFPreferencesCopyAppValue(_mappingLeasePreferenceKey);
  if (!stored) return false;
  const std::optional<LeaseIdentity> identity = current_identity(_platform, _device, _service);
  if (!identity || judge_lease_record(*stored, *identity) != LeaseVerdict::Valid) return false;
  return *stored->find(kLeaseOriginalMappingKey) == *_originalMapping;
}

std::optional<plist::Value> KeyboardSession::copyOriginalMappingFromValidLease(
    bool* identityUnavailable) {
  if (identityUnavailable) *identityUnavailable = false;
  const std::optional<plist::Value> stored =
      _platform.preferences.CFPreferencesCopyAppValue(_mappingLeasePreferenceKey);
  if (!stored) {
    changeLease(Lease::None);
    return std::nullopt;
  }
  if (!lease_record_is_sound(*stored)) {
    clearPersistentMappingLease();
    return std::nullopt;
  }
  const std::optional<LeaseIdentity> identity = current_identity(_platform, _device, _service);
  if (!identity) {
    // The record may still be needed: keep it untouched until the identity can be checked.
    if (identityUnavailable) *identityUnavailable = true;
    dropActiveLease();
    return std::nullopt;
  }
  if (judge_lease_record(*stored, *identity) == LeaseVerdict::Valid) {
    return *stored->find(kLeaseOriginalMappingKey);
  }
  clearPersistentMappingLease();
  return std::nullopt;
}

bool KeyboardSession::clearPersistentMappingLease() {
  const bool deletionWasPending = leaseDeletionPending();
  AppPreferences& preferences = _platform.preferences;
  preferences.CFPreferencesSetAppValue(_mappingLeasePreferenceKey, std::nullopt);
  const bool saved = preferences.CFPreferencesAppSynchronize();
  const bool gone = saved && !preferences.CFPreferencesCopyAppValue(_mappingLeasePreferenceKey);
  if (!gone) {
    changeLease(Lease::DeletionPending);
    ensureReconcileTimer();
    setError(texts::kCouldNotRemoveLease);
    return false;
  }
  changeLease(Lease::None);
  if (mappingConflict()) {
    _errorSummary = texts::kMappingConflict;
    notifyStatus();
  } else if (deletionWasPending && _errorSummary == texts::kCouldNotRemoveLease) {
    _errorSummary.clear();
    notifyStatus();
  }
  return true;
}

}  // namespace padwarden
