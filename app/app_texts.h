// The application's own texts: status item, menu, alerts, System Settings locations and the
// system-log lines. Shared by the delegate's files and the tests.
#pragma once

namespace padwarden::app_texts {

inline constexpr const char* kStatusToolTip = "Padwarden for supported external keyboards";
// Followed by where the settings are kept and a full stop.
inline constexpr const char* kSettingsCannotBeSaved = "Padwarden cannot save its settings in ";
inline constexpr const char* kMenuTitle = "Padwarden";

// Titles the menu items are created with; the refresh replaces all but the quit item's.
inline constexpr const char* kModeItem = "Logical Num Lock";
inline constexpr const char* kEffectiveModeItem = "Keypad mode";
inline constexpr const char* kConnectionItem = "Supported keyboards";
inline constexpr const char* kMappingItem = "Mapping";
inline constexpr const char* kEnabledItem = "Enable keypad handling";
inline constexpr const char* kPermissionItem = "Input Monitoring";
inline constexpr const char* kLoginItem = "Launch at Login";
inline constexpr const char* kQuitItem = "Quit Padwarden";

inline constexpr const char* kQuitWaitingTitle = "Quit is waiting for keyboard cleanup";
inline constexpr const char* kQuitWaitingMessage =
    "Padwarden is still restoring keyboard mappings.";
inline constexpr const char* kAlertButton = "OK";

inline constexpr const char* kInputMonitoringRequiredTitle = "Input Monitoring is required";
inline constexpr const char* kInputMonitoringRequiredMessage =
    "Allow Padwarden in System Settings > Privacy & Security > Input Monitoring, then choose "
    "Request access again.";
inline constexpr const char* kInputMonitoringLocations[] = {
    "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_ListenEvent",
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ListenEvent",
    "x-apple.systempreferences:com.apple.preference.security",
};
inline constexpr const char* kSystemSettingsIdentifier = "com.apple.systempreferences";

inline constexpr const char* kPostInstallOption = "--post-install";
inline constexpr const char* kApplicationsLocation = "/Applications/Padwarden.app";
inline constexpr const char* kAutomaticLoginFailure =
    "Padwarden automatic Launch at Login registration failed: ";
inline constexpr const char* kLoginNotChangedTitle = "Launch at Login was not changed";
inline constexpr const char* kLoginOff = "Launch at Login: Off";
inline constexpr const char* kLoginOn = "Launch at Login: On";
inline constexpr const char* kLoginApproval = "Launch at Login: Approval required";
inline constexpr const char* kLoginUnsigned = "Launch at Login: Unavailable until signed";

}  // namespace padwarden::app_texts
