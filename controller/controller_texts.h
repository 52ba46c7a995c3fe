// The status texts the keyboard controller shows; the menu and tests rely on them byte for
// byte. Used by the controller's source files.
#pragma once

namespace padwarden::controller_texts {

inline constexpr const char* kNoKeyboard = "No supported external keyboard connected";
// Filled with the number of keyboards and the plural ending.
inline constexpr const char* kKeyboardsConnected = "%lu supported keyboard%s connected";
inline constexpr const char* kWaitingForPermission = "Waiting for Input Monitoring permission";
inline constexpr const char* kStopped = "Padwarden stopped";

inline constexpr const char* kPermissionRequired =
    "Input Monitoring permission is required before keyboard control can start.";
inline constexpr const char* kFinishCleanupFirst =
    "Finish pending keyboard mapping cleanup before enabling handling.";
inline constexpr const char* kDiscoveryInitFailed =
    "Could not initialize generic HID discovery safely.";
inline constexpr const char* kDiscoveryOpenFailed =
    "Could not open generic HID discovery; no keyboard mappings were changed.";

}  // namespace padwarden::controller_texts
