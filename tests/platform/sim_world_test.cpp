// The simulated world's fidelity on the points the safety argument rests on: which event service
// belongs to which device, what outlives a crash or a reboot, writes that lie, and the crash point.
#include <gtest/gtest.h>

#include "platform/sim/world.h"

namespace padwarden::sim {
namespace {

const plist::Value kMapping =
    plist::Array{plist::Dictionary{{kIOHIDKeyboardModifierMappingSrcKey, 0x700000060},
                                   {kIOHIDKeyboardModifierMappingDstKey, 0x700000052}}};

IOHIDServiceClientRef first_service(HIDServices& hid, IOHIDEventSystemClientRef& client) {
  client = hid.IOHIDEventSystemClientCreateSimpleClient();
  return (*hid.IOHIDEventSystemClientCopyServices(client))[0];
}

// As a program ties a service to a device: the service's entry, then its service-plane parents.
bool belongs(HIDServices& hid, const IOHIDServiceClientRef& service, const IOHIDDeviceRef& device) {
  const io_service_t deviceService = hid.IOHIDDeviceGetService(device);
  const auto id = hid.IOHIDServiceClientGetRegistryID(service);
  const io_service_t entry = hid.IOServiceGetMatchingService(
      hid.IORegistryEntryIDMatching(static_cast<uint64_t>(*id->asInt64())));
  if (hid.IOObjectIsEqualTo(entry, deviceService)) return true;
  io_iterator_t parents;
  EXPECT_EQ(hid.IORegistryEntryCreateIterator(
                entry, kIOServicePlane, kIORegistryIterateRecursively | kIORegistryIterateParents,
                &parents),
            kIOReturnSuccess);
  uint64_t last = 0;
  bool found = false;
  while (io_registry_entry_t parent = hid.IOIteratorNext(parents)) {
    found |= hid.IOObjectIsEqualTo(parent, deviceService);
    hid.IORegistryEntryGetRegistryEntryID(parent, &last);
  }
  EXPECT_EQ(last, kFirstRegistryEntryID) << "the walk ends at the root";
  EXPECT_EQ(
      hid.IORegistryEntryCreateIterator(
          entry, "IOUSB", kIORegistryIterateRecursively | kIORegistryIterateParents, &parents),
      kIOReturnBadArgument)
      << "the service plane only";
  return found;
}

TEST(SimWorldTest, AServiceBelongsToADeviceOnlyBelowItsIOService) {
  for (const ServicePlacement placement :
       {ServicePlacement::BelowDevice, ServicePlacement::AboveDevice,
        ServicePlacement::Elsewhere}) {
    SCOPED_TRACE(static_cast<int>(placement));
    World world;
    KeyboardSpec spec = usb_keyboard("kb1");
    spec.services[0].placement = placement;
    world.plug(spec);
    world.plug(usb_keyboard("kb2"));
    HIDServices& hid = world.launch().hid();
    IOHIDManagerRef manager = hid.IOHIDManagerCreate(kIOHIDOptionsTypeNone);
    hid.IOHIDManagerSetDeviceMatching(manager, nullptr);
    const std::vector<IOHIDDeviceRef> devices = *hid.IOHIDManagerCopyDevices(manager);
    auto client = hid.IOHIDEventSystemClientCreateSimpleClient();
    const auto services = *hid.IOHIDEventSystemClientCopyServices(client);
    ASSERT_EQ(devices.size(), 2u);
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(belongs(hid, services[0], devices[0]), placement == ServicePlacement::BelowDevice);
    EXPECT_FALSE(belongs(hid, services[1], devices[0]));
    EXPECT_TRUE(belongs(hid, services[1], devices[1]));
  }
}

// A mapping outlives the program's crash but not a reboot, which starts a new boot; preferences
// outlive the crash only when synchronized.
TEST(SimWorldTest, WhatOutlivesACrashAndAReboot) {
  World world;
  world.plug(usb_keyboard("kb1"));
  Platform platform = world.launch().platform();
  const int name[] = {CTL_KERN, KERN_BOOTTIME};
  const auto boot_seconds = [&](SystemClock& clock) {
    BootTimeValue value{};
    size_t length = sizeof value;
    EXPECT_EQ(clock.sysctl(name, 2, &value, &length), 0);
    return value.tv_sec;
  };
  const auto firstBoot = boot_seconds(platform.clock);
  world.setUserKeyMapping("kb1", 0, kMapping);
  platform.preferences.CFPreferencesSetAppValue("Saved", plist::Value(1));
  ASSERT_TRUE(platform.preferences.CFPreferencesAppSynchronize());
  platform.defaults.setBool(true, "Unsaved");
  world.crash();
  EXPECT_EQ(world.userKeyMapping("kb1"), kMapping);
  EXPECT_EQ(world.disk().values.count("Saved"), 1u);
  EXPECT_EQ(world.disk().values.count("Unsaved"), 0u);
  world.reboot(30);
  EXPECT_FALSE(world.userKeyMapping("kb1"));
  EXPECT_EQ(boot_seconds(world.launch().clock()), firstBoot + 30);
}

TEST(SimWorldTest, AMappingWriteMayLandAndFailOrSucceedAndBeLost) {
  World world;
  world.plug(usb_keyboard("kb1"));
  HIDServices& hid = world.launch().hid();
  IOHIDEventSystemClientRef client;
  const IOHIDServiceClientRef service = first_service(hid, client);
  FaultRule landed{"IOHIDServiceClientSetProperty"};
  landed.lands = true;
  world.recorder().add(landed);
  EXPECT_FALSE(hid.IOHIDServiceClientSetProperty(service, kIOHIDUserKeyMappingKey, kMapping));
  EXPECT_EQ(world.userKeyMapping("kb1"), kMapping);
  FaultRule lost{"IOHIDServiceClientSetProperty"};
  lost.lie = true;
  world.recorder().add(lost);
  EXPECT_TRUE(hid.IOHIDServiceClientSetProperty(service, kIOHIDUserKeyMappingKey, plist::Array{}));
  EXPECT_EQ(world.userKeyMapping("kb1"), kMapping);
}

TEST(SimWorldTest, OnlyTheFirstServiceMapsAndAHeldKeyCanStick) {
  World world;
  KeyboardSpec spec = usb_keyboard("kb1");
  spec.services.push_back({});
  world.plug(spec);
  world.setUserKeyMapping("kb1", 1, kMapping);
  world.tap("kb1", 0x60);
  world.setUserKeyMapping("kb1", 0, kMapping);
  world.press("kb1", 0x60);
  world.restartEventSystem();
  world.release("kb1", 0x60);
  EXPECT_EQ(world.typed().render(), "kb1:+KP8 kb1:-KP8 kb1:+Up kb1:-KP8");
}

TEST(SimWorldTest, TheCrashPointKillsRightAfterTheCallTookEffect) {
  World world;
  world.plug(usb_keyboard("kb1"));
  Platform platform = world.launch().platform();
  IOHIDEventSystemClientRef client;
  const IOHIDServiceClientRef service = first_service(platform.hid, client);
  bool laterRan = false;
  platform.runLoop.dispatch_async([&] {
    world.recorder().crashAfterCall(world.recorder().callCount() + 1);
    EXPECT_TRUE(
        platform.hid.IOHIDServiceClientSetProperty(service, kIOHIDUserKeyMappingKey, kMapping));
    EXPECT_FALSE(platform.preferences.CFPreferencesAppSynchronize()) << "nothing after it";
  });
  platform.runLoop.dispatch_async([&] { laterRan = true; });
  world.runDue();
  EXPECT_FALSE(laterRan);
  EXPECT_EQ(world.process(), nullptr);
  EXPECT_EQ(world.userKeyMapping("kb1"), kMapping);
}

}  // namespace
}  // namespace padwarden::sim
