// Every status text a keyboard session shows, in one place; the menu and tests rely on them
// byte for byte. Used by the session's source files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace padwarden::session_texts {

// Fills a text's "0x%08x" with a 32-bit platform result.
inline std::string with_code(const char* format, int32_t code) {
  char text[160];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(static_cast<uint32_t>(code)));
  return text;
}

// Connection summaries.
inline constexpr const char* kNotConnected = "keyboard not connected";
inline constexpr const char* kWaitingForPermission = "keyboard waiting for Input Monitoring";
inline constexpr const char* kEnumerationFailed = "keyboard device enumeration failed; retrying";
inline constexpr const char* kSupportedNotConnected = "Supported keyboard not connected";
inline constexpr const char* kConnected = "keyboard connected";
inline constexpr const char* kWaitingForService = "keyboard connected; waiting for event service";
inline constexpr const char* kIdentityUnavailable =
    "keyboard identity unavailable; preserving recovery record";
inline constexpr const char* kWaitingForReport =
    "keyboard connected; waiting for initial key report";
inline constexpr const char* kLostPermission = "keyboard lost Input Monitoring access";
inline constexpr const char* kStopped = "Padwarden stopped";

// Error summaries.
inline constexpr const char* kMappingConflict =
    "The keyboard mapping was changed outside Padwarden. It was left unchanged; disable and "
    "re-enable handling to take control again.";
inline constexpr const char* kPermissionRequiredToStart =
    "Input Monitoring permission is required before HID control can start.";
inline constexpr const char* kCouldNotAllocateMatch =
    "Could not allocate the exact keyboard HID match.";
inline constexpr const char* kCouldNotCreateManager = "Could not create the macOS HID manager.";
inline constexpr const char* kExclusivelyHeld =
    "The keyboard keyboard is exclusively held by another app.";
inline constexpr const char* kPermissionRequired = "Input Monitoring permission is required.";
inline constexpr const char* kManagerOpenFailed = "HID manager open failed (0x%08x).";
inline constexpr const char* kFinishCleanupFirst =
    "Finish the pending keyboard mapping cleanup before enabling keypad handling.";
inline constexpr const char* kCouldNotEnumerate =
    "Could not enumerate the keyboard HID device safely.";
inline constexpr const char* kCouldNotOpenDevice =
    "Could not open the keyboard HID device (0x%08x).";
inline constexpr const char* kUnexpectedMappingType =
    "The keyboard UserKeyMapping has an unexpected type; leaving it unchanged.";
inline constexpr const char* kCouldNotVerifyIdentity =
    "Could not verify the keyboard service identity; no mapping was changed and attachment "
    "will retry.";
inline constexpr const char* kLedNotFound = "The keyboard Num Lock LED output was not found.";
inline constexpr const char* kLedPermissionRequired =
    "Input Monitoring permission is required to control the keyboard LED.";
inline constexpr const char* kCouldNotUpdateLed =
    "Could not update the keyboard Num Lock LED (0x%08x).";
inline constexpr const char* kCouldNotCaptureMapping =
    "The keyboard mapping could not be captured safely; it was not changed.";
inline constexpr const char* kCouldNotAllocateMapping =
    "Could not allocate the keyboard keypad mapping.";
inline constexpr const char* kCouldNotSetMapping = "Could not set the keyboard keypad mapping.";
inline constexpr const char* kCouldNotAllocateRestore =
    "Could not allocate the keyboard mapping restore value.";
inline constexpr const char* kCouldNotRestoreMapping =
    "Could not restore the keyboard keypad mapping.";
inline constexpr const char* kCouldNotIdentifyMapping =
    "Could not durably identify the keyboard mapping before changing it.";
inline constexpr const char* kCouldNotSaveLease =
    "Could not save the keyboard mapping recovery record; the mapping was not changed.";
inline constexpr const char* kCouldNotRemoveLease =
    "Could not remove the keyboard mapping recovery record; automatic mapping is paused and "
    "cleanup will retry.";
inline constexpr const char* kWaitingForFirstReport =
    "Waiting for one valid keyboard key report before restoring its active mapping.";
inline constexpr const char* kReleaseHeldKey =
    "Release the held keyboard Num Lock or keypad key to finish restoring its mapping.";
inline constexpr const char* kPermissionLostRestoring =
    "Input Monitoring permission was lost; restoring the keyboard mapping.";
inline constexpr const char* kPermissionLostRestored =
    "Input Monitoring permission was lost; the keyboard mapping was restored.";

}  // namespace padwarden::session_texts
