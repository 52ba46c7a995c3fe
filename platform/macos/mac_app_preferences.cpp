#include <CoreFoundation/CoreFoundation.h>

#include "platform/macos/mac_preferences.h"
#include "platform/macos/plist_cf.h"

namespace padwarden::macos {

MacAppPreferences::MacAppPreferences(std::optional<std::string> applicationID)
    : application_(applicationID ? cf_string(*applicationID)
                                 : CFRef<CFStringRef>::retain(kCFPreferencesCurrentApplication)) {}

std::optional<plist::Value> MacAppPreferences::CFPreferencesCopyAppValue(std::string_view key) {
  const CFRef<CFStringRef> name = cf_string(key);
  if (!name || !application_) return std::nullopt;
  const CFRef<CFPropertyListRef> value =
      CFRef<CFPropertyListRef>::adopt(::CFPreferencesCopyAppValue(name.get(), application_.get()));
  return plist_from_cf(value.get());
}

void MacAppPreferences::CFPreferencesSetAppValue(std::string_view key,
                                                 std::optional<plist::Value> value) {
  const CFRef<CFStringRef> name = cf_string(key);
  if (!name || !application_) return;
  if (!value) {
    ::CFPreferencesSetAppValue(name.get(), nullptr, application_.get());
    return;
  }
  // Passing null would remove the key, so a value that failed to convert is not passed on.
  const CFRef<CFTypeRef> converted = cf_from_plist(*value);
  if (!converted || !::CFPropertyListIsValid(converted.get(), kCFPropertyListBinaryFormat_v1_0)) {
    return;
  }
  ::CFPreferencesSetAppValue(name.get(), converted.get(), application_.get());
}

bool MacAppPreferences::CFPreferencesAppSynchronize() {
  return application_ && ::CFPreferencesAppSynchronize(application_.get());
}

}  // namespace padwarden::macos
