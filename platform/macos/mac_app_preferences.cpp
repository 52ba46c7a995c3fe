#include <CoreFoundation/CoreFoundation.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/macos/mac_preferences.h"
#include "platform/macos/plist_cf.h"

namespace padwarden::macos {

MacAppPreferences::MacAppPreferences(std::optional<std::string> applicationID)
    : application_(applicationID ? cf_string(*applicationID)
                                 : CFRef<CFStringRef>::retain(kCFPreferencesCurrentApplication)),
      applicationID_(std::move(applicationID)) {}

std::string MacAppPreferences::location() const {
  std::string identifier = applicationID_.value_or("");
  if (identifier.empty()) {
    const CFStringRef main = CFBundleGetIdentifier(CFBundleGetMainBundle());
    char buffer[256];
    if (main && CFStringGetCString(main, buffer, sizeof buffer, kCFStringEncodingUTF8)) {
      identifier = buffer;
    }
  }
  const char* home = std::getenv("HOME");
  if (!home || *home != '/') {
    const passwd* user = getpwuid(getuid());
    home = user ? user->pw_dir : "~";
  }
  // Outside the bundle (a test program run by hand), the identifier Padwarden.app has.
  if (identifier.empty()) identifier = "app.padwarden.Padwarden";
  return std::string(home) + "/Library/Preferences/" + identifier + ".plist";
}

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
