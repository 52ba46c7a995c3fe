#include "session/lease_record.h"

#include <cinttypes>
#include <cstdio>

#include "session/key_mapping.h"
#include "session/keyboard_matching.h"

namespace padwarden {

std::optional<std::string> current_boot_session_identifier(SystemClock& clock) {
  const int name[] = {CTL_KERN, KERN_BOOTTIME};
  BootTimeValue boot{};
  size_t length = sizeof boot;
  if (clock.sysctl(name, 2, &boot, &length) != 0 || length != sizeof boot) return std::nullopt;
  char text[48];
  std::snprintf(text, sizeof text, "%lld.%06d", static_cast<long long>(boot.tv_sec),
                static_cast<int>(boot.tv_usec));
  return text;
}

std::optional<std::string> event_service_registry_id_string(HIDServices& hid,
                                                            const IOHIDServiceClientRef& service) {
  if (!service) return std::nullopt;
  const std::optional<plist::Value> entryID = hid.IOHIDServiceClientGetRegistryID(service);
  if (!entryID || !entryID->isNumber()) return std::nullopt;
  // The platform reads the number's unsigned 64-bit value; IDs above 2^63 arrive negative.
  const std::optional<int64_t> value = entryID->asInt64();
  if (!value) return std::nullopt;
  return registry_id_string(static_cast<uint64_t>(*value));
}

plist::Value make_lease_record(const LeaseIdentity& identity, const plist::Value& original) {
  return plist::Dictionary{
      {kLeaseVersionKey, 1},
      {kLeaseBootSessionKey, identity.bootSession},
      {kLeaseDeviceRegistryIDKey, identity.deviceRegistryID},
      {kLeaseServiceRegistryIDKey, identity.serviceRegistryID},
      {kLeaseOriginalMappingKey, original},
  };
}

bool lease_record_is_sound(const plist::Value& record) {
  if (!record.isDictionary()) return false;
  const plist::Value* version = record.find(kLeaseVersionKey);
  if (!version || !version->isNumber() || version->isFloat() || version->asInt64() != 1) {
    return false;
  }
  for (const char* key :
       {kLeaseBootSessionKey, kLeaseDeviceRegistryIDKey, kLeaseServiceRegistryIDKey}) {
    const plist::Value* text = record.find(key);
    if (!text || !text->isString()) return false;
  }
  const plist::Value* original = record.find(kLeaseOriginalMappingKey);
  return original && original->isArray() && mapping_array_is_well_formed(*original) &&
         plist::CFPropertyListIsValid(*original, plist::Format::Binary);
}

LeaseVerdict judge_lease_record(const plist::Value& record, const LeaseIdentity& current) {
  if (!lease_record_is_sound(record)) return LeaseVerdict::Corrupt;
  const bool same =
      *record.find(kLeaseBootSessionKey)->asString() == current.bootSession &&
      *record.find(kLeaseDeviceRegistryIDKey)->asString() == current.deviceRegistryID &&
      *record.find(kLeaseServiceRegistryIDKey)->asString() == current.serviceRegistryID;
  return same ? LeaseVerdict::Valid : LeaseVerdict::Stale;
}

void move_legacy_mapping_lease(AppPreferences& preferences) {
  if (!preferences.CFPreferencesAppSynchronize()) return;
  const std::optional<plist::Value> old =
      preferences.CFPreferencesCopyAppValue(preference_keys::kMappingLease);
  if (!old || !old->isDictionary()) return;
  const plist::Value* device = old->find(kLeaseDeviceRegistryIDKey);
  if (!device || !device->isString() || device->asString()->empty()) return;

  const std::string newKey =
      std::string(preference_keys::kMappingLeasePrefix) + *device->asString();
  const std::optional<plist::Value> existing = preferences.CFPreferencesCopyAppValue(newKey);
  if (existing && !(*existing == *old)) return;

  preferences.CFPreferencesSetAppValue(newKey, *old);
  if (!preferences.CFPreferencesAppSynchronize()) return;
  const std::optional<plist::Value> readBack = preferences.CFPreferencesCopyAppValue(newKey);
  if (!readBack || !(*readBack == *old)) return;

  preferences.CFPreferencesSetAppValue(preference_keys::kMappingLease, std::nullopt);
  preferences.CFPreferencesAppSynchronize();
}

}  // namespace padwarden
