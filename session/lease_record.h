// The mapping lease record: the crash-recovery record stored before the program changes a
// keyboard's mapping, the identities it binds to, and the one-time move of a record stored
// under the older single key. Used by the keyboard session and, for the move, the controller.
#pragma once

#include <optional>
#include <string>

#include "platform/core_foundation.h"
#include "platform/hid.h"
#include "platform/plist.h"
#include "platform/preferences.h"
#include "platform/system_clock.h"

namespace padwarden {

inline constexpr const char* kLeaseVersionKey = "Version";
inline constexpr const char* kLeaseBootSessionKey = "BootSession";
inline constexpr const char* kLeaseDeviceRegistryIDKey = "DeviceRegistryID";
inline constexpr const char* kLeaseServiceRegistryIDKey = "ServiceRegistryID";
inline constexpr const char* kLeaseOriginalMappingKey = "OriginalMapping";

// The kernel's boot time as "seconds.micro" (six digits), or none when it cannot be read.
std::optional<std::string> current_boot_session_identifier(SystemClock& clock);
// The service's registry entry ID as sixteen lower-case hexadecimal digits, or none.
std::optional<std::string> event_service_registry_id_string(HIDServices& hid,
                                                            const IOHIDServiceClientRef& service);

struct LeaseIdentity {
  std::string bootSession;
  std::string deviceRegistryID;
  std::string serviceRegistryID;
};

// The five-entry record for this identity and normalized original mapping.
plist::Value make_lease_record(const LeaseIdentity& identity, const plist::Value& original);

enum class LeaseVerdict { Valid, Stale, Corrupt };
// Corrupt: not a dictionary, a "Version" other than the integer 1, a non-string identity, or an
// "OriginalMapping" that is not a well-formed, storable array. Stale: sound but made for
// another boot, device or service.
LeaseVerdict judge_lease_record(const plist::Value& record, const LeaseIdentity& current);
// True for a record that passes every test except, possibly, the identity comparison.
bool lease_record_is_sound(const plist::Value& record);

// Moves a record stored under the older single key to the key of its device, once, before any
// session exists; a different record already under the new key leaves both alone.
void move_legacy_mapping_lease(AppPreferences& preferences);

}  // namespace padwarden
