// The HID manager on the real HID services: keyboard matching, one handle per device, and a
// matching dictionary that cannot be made never matching every device.
#include <gtest/gtest.h>

#include "platform/macos/mac_hid.h"

namespace padwarden::macos {
namespace {

plist::Dictionary keyboard_matching() {
  return {{kIOHIDDeviceUsagePageKey, plist::Value(1)}, {kIOHIDDeviceUsageKey, plist::Value(6)}};
}

TEST(MacHID, AMatchingDictionaryThatCannotBeMadeMatchesNothing) {
  MacHID hid;
  IOHIDManagerRef manager = hid.IOHIDManagerCreate(kIOHIDOptionsTypeNone);
  ASSERT_TRUE(manager);
  const plist::Dictionary broken{{kIOHIDDeviceUsagePageKey, plist::Value::opaque("x")}};
  hid.IOHIDManagerSetDeviceMatching(manager, &broken);
  EXPECT_FALSE(hid.IOHIDManagerCopyDevices(manager));
}

TEST(MacHID, AKeyboardManagerOpensAndSeesOnlyKeyboardsEachWithOneHandle) {
  MacHID hid;
  if (hid.IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) != kIOHIDAccessTypeGranted) {
    GTEST_SKIP() << "Input Monitoring is not granted to this test program (System Settings > "
                    "Privacy & Security > Input Monitoring)";
  }
  IOHIDManagerRef manager = hid.IOHIDManagerCreate(kIOHIDOptionsTypeNone);
  ASSERT_TRUE(manager);
  const plist::Dictionary matching = keyboard_matching();
  hid.IOHIDManagerSetDeviceMatching(manager, &matching);
  hid.IOHIDManagerScheduleWithRunLoop(manager);
  const IOReturn opened = hid.IOHIDManagerOpen(manager, kIOHIDOptionsTypeNone);
  // Another program holding a keyboard exclusively makes the answer an error; the rest open.
  EXPECT_TRUE(opened == kIOReturnSuccess || opened == kIOReturnExclusiveAccess) << opened;

  const auto first = hid.IOHIDManagerCopyDevices(manager);
  const auto second = hid.IOHIDManagerCopyDevices(manager);
  if (!first) GTEST_SKIP() << "No keyboard is attached to this Mac";
  ASSERT_TRUE(second);
  ASSERT_EQ(first->size(), second->size());
  for (size_t i = 0; i < first->size(); ++i) {
    const IOHIDDeviceRef& device = (*first)[i];
    EXPECT_EQ(hid.IOHIDDeviceGetProperty(device, "PrimaryUsagePage"), plist::Value(1));
    EXPECT_EQ(hid.IOHIDDeviceGetProperty(device, "PrimaryUsage"), plist::Value(6));
    bool same = false;
    for (const IOHIDDeviceRef& again : *second) same |= again == device;
    EXPECT_TRUE(same) << "a device copied twice must give the same handle";
    EXPECT_TRUE(hid.IOHIDDeviceGetService(device));
  }
  EXPECT_EQ(hid.IOHIDManagerClose(manager, kIOHIDOptionsTypeNone), kIOReturnSuccess);
  hid.IOHIDManagerUnscheduleFromRunLoop(manager);
}

}  // namespace
}  // namespace padwarden::macos
