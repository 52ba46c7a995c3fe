// The current user's preferences for this application on CoreFoundation preferences: the
// booleans through NSUserDefaults, the lease records through the application-value calls.
// Both reach the application's own domain; tests name a domain of their own instead.
// Created by the macOS main and the native tests.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/macos/cf_ref.h"
#include "platform/preferences.h"

namespace padwarden::macos {

// NSUserDefaults: standardUserDefaults, or the defaults of the named suite.
class MacUserDefaults final : public UserDefaults {
 public:
  explicit MacUserDefaults(std::optional<std::string> suiteName = std::nullopt);
  ~MacUserDefaults() override;
  std::optional<plist::Value> objectForKey(std::string_view key) override;
  bool boolForKey(std::string_view key) override;
  void setBool(bool value, std::string_view forKey) override;

 private:
  struct Defaults;
  std::unique_ptr<Defaults> defaults_;
};

// CFPreferences*AppValue and CFPreferencesAppSynchronize for kCFPreferencesCurrentApplication,
// or for the named application.
class MacAppPreferences final : public AppPreferences {
 public:
  explicit MacAppPreferences(std::optional<std::string> applicationID = std::nullopt);
  std::optional<plist::Value> CFPreferencesCopyAppValue(std::string_view key) override;
  // A value that cannot be made, or that the binary property-list format cannot hold, is not
  // stored (and the key is left as it was): the caller's read-back after synchronizing tells.
  void CFPreferencesSetAppValue(std::string_view key, std::optional<plist::Value> value) override;
  bool CFPreferencesAppSynchronize() override;
  // "~/Library/Preferences/<application ID>.plist", with the home folder spelt out.
  std::string location() const override;

 private:
  CFRef<CFStringRef> application_;
  std::optional<std::string> applicationID_;
};

}  // namespace padwarden::macos
