// The platform's HID and registry names: result codes, option bits, enumerations, planes and
// property keys, as the session, the controller and both backends spell them. On Apple they
// are the SDK's own definitions (many are macros, so nothing here may declare those names);
// elsewhere the second half gives the same names the same values inside namespace padwarden.
// Code in namespace padwarden writes them unqualified and reads the same on both.
#pragma once

#include <cstdint>

#if defined(__APPLE__)

#include <IOKit/IOKitKeys.h>
#include <IOKit/IOKitLib.h>
#include <IOKit/hid/IOHIDKeys.h>
#include <IOKit/hidsystem/IOHIDLib.h>

namespace padwarden {

using ::IOHIDAccessType;
using ::IOHIDReportType;
using ::IOHIDRequestType;
using ::IOOptionBits;
using ::IOReturn;

// The event service's key mapping; the SDK spells its key after the usage map it holds.
inline constexpr const char* kIOHIDUserKeyMappingKey = kIOHIDUserKeyUsageMapKey;

// The values the portable half (and every text showing "0x%08x") relies on.
static_assert(kIOReturnSuccess == 0);
static_assert(kIOReturnError == static_cast<IOReturn>(0xE00002BCu));
static_assert(kIOReturnNoMemory == static_cast<IOReturn>(0xE00002BDu));
static_assert(kIOReturnNoDevice == static_cast<IOReturn>(0xE00002C0u));
static_assert(kIOReturnBadArgument == static_cast<IOReturn>(0xE00002C2u));
static_assert(kIOReturnExclusiveAccess == static_cast<IOReturn>(0xE00002C5u));
static_assert(kIOReturnNotOpen == static_cast<IOReturn>(0xE00002CDu));
static_assert(kIOReturnNotPermitted == static_cast<IOReturn>(0xE00002E2u));
static_assert(kIOHIDOptionsTypeNone == 0 && kIOHIDElementTypeOutput == 129);
static_assert(kIOHIDReportTypeInput == 0 && kIOHIDRequestTypeListenEvent == 1);
static_assert(kIOHIDAccessTypeGranted == 0 && kIOHIDAccessTypeUnknown == 2);
static_assert(kIORegistryIterateRecursively == 1 && kIORegistryIterateParents == 2);

}  // namespace padwarden

#else

namespace padwarden {

using IOReturn = int32_t;
using IOOptionBits = uint32_t;

inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnError = static_cast<IOReturn>(0xE00002BCu);
inline constexpr IOReturn kIOReturnNoMemory = static_cast<IOReturn>(0xE00002BDu);
inline constexpr IOReturn kIOReturnNoDevice = static_cast<IOReturn>(0xE00002C0u);
inline constexpr IOReturn kIOReturnBadArgument = static_cast<IOReturn>(0xE00002C2u);
inline constexpr IOReturn kIOReturnExclusiveAccess = static_cast<IOReturn>(0xE00002C5u);
inline constexpr IOReturn kIOReturnNotOpen = static_cast<IOReturn>(0xE00002CDu);
inline constexpr IOReturn kIOReturnNotPermitted = static_cast<IOReturn>(0xE00002E2u);

inline constexpr IOOptionBits kIOHIDOptionsTypeNone = 0;

enum IOHIDReportType : uint32_t {
  kIOHIDReportTypeInput = 0,
  kIOHIDReportTypeOutput = 1,
  kIOHIDReportTypeFeature = 2,
};

enum IOHIDRequestType : uint32_t {
  kIOHIDRequestTypePostEvent = 0,
  kIOHIDRequestTypeListenEvent = 1,
};

enum IOHIDAccessType : uint32_t {
  kIOHIDAccessTypeGranted = 0,
  kIOHIDAccessTypeDenied = 1,
  kIOHIDAccessTypeUnknown = 2,
};

inline constexpr uint32_t kIOHIDElementTypeOutput = 129;

// Registry iteration: the whole subtree (recursively) and towards the root (parents).
inline constexpr IOOptionBits kIORegistryIterateRecursively = 1;
inline constexpr IOOptionBits kIORegistryIterateParents = 2;
inline constexpr const char* kIOServicePlane = "IOService";

// Keys of matching dictionaries and of the program's key mapping.
inline constexpr const char* kIOHIDDeviceUsagePageKey = "DeviceUsagePage";
inline constexpr const char* kIOHIDDeviceUsageKey = "DeviceUsage";
inline constexpr const char* kIOHIDElementTypeKey = "Type";
inline constexpr const char* kIOHIDElementUsagePageKey = "UsagePage";
inline constexpr const char* kIOHIDElementUsageKey = "Usage";
inline constexpr const char* kIORegistryEntryIDKey = "IORegistryEntryID";
inline constexpr const char* kIOHIDUserKeyMappingKey = "UserKeyMapping";
inline constexpr const char* kIOHIDKeyboardModifierMappingSrcKey = "HIDKeyboardModifierMappingSrc";
inline constexpr const char* kIOHIDKeyboardModifierMappingDstKey = "HIDKeyboardModifierMappingDst";

}  // namespace padwarden

#endif
