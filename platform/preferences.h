// The current user's preferences for this application, reached through the two interfaces
// the program uses: boolean defaults and application values. Called by the session and the
// controller; implemented in memory (platform/sim), on disk (platform/posix) and on
// CoreFoundation preferences (platform/macos).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/plist.h"

namespace padwarden {

// Every key the program stores. Keys with a suffix are the prefix plus that text.
namespace preference_keys {
inline constexpr std::string_view kEnabled = "Enabled";
// Followed by the keyboard's preference identity.
inline constexpr std::string_view kLogicalNumLockOnPrefix = "LogicalNumLockOn.";
// Read as a fallback only, never written.
inline constexpr std::string_view kLogicalNumLockOn = "LogicalNumLockOn";
inline constexpr std::string_view kLastCommandedState = "LastCommandedState";
// Followed by the keyboard's registry-ID string.
inline constexpr std::string_view kMappingLeasePrefix = "MappingLease.";
// The older single lease key, moved once at controller creation.
inline constexpr std::string_view kMappingLease = "MappingLease";
}  // namespace preference_keys

// Boolean defaults: writes are not followed by a synchronize.
class UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  // The stored value, or none; the program uses it only to test presence.
  virtual std::optional<plist::Value> objectForKey(std::string_view key) = 0;
  // The stored value read as a boolean (numbers: non-zero; strings: "YES", "true" or a
  // non-zero number, any case); false when absent or of another type.
  virtual bool boolForKey(std::string_view key) = 0;
  virtual void setBool(bool value, std::string_view forKey) = 0;
};

// Application values with an explicit synchronize. A write or deletion counts only once
// synchronize has answered true and a fresh copy reads it back.
class AppPreferences {
 public:
  virtual ~AppPreferences() = default;
  virtual std::optional<plist::Value> CFPreferencesCopyAppValue(std::string_view key) = 0;
  // No value removes the key.
  virtual void CFPreferencesSetAppValue(std::string_view key,
                                        std::optional<plist::Value> value) = 0;
  // True when pending changes were saved; also brings in what other processes saved.
  virtual bool CFPreferencesAppSynchronize() = 0;
  // Where the values are kept (a file's path), for telling the user; not a call of the program
  // on the platform.
  virtual std::string location() const = 0;
};

// How the defaults read a stored value as a boolean (see boolForKey); shared by every store.
bool preference_value_as_bool(const std::optional<plist::Value>& value);

}  // namespace padwarden
