// The world's registry as a program walks it: event services tied to devices by ancestry,
// handle identity, removal on unplug, and IDs across plugs and reboots.
#include <gtest/gtest.h>

#include "platform/sim/world.h"
#include "tests/platform/sim_probe.h"

namespace padwarden::sim {
namespace {

using testing::ManagerProbe;
using testing::service_belongs_to_device;

constexpr IOOptionBits kParents = kIORegistryIterateRecursively | kIORegistryIterateParents;

TEST(SimRegistryTest, ServiceBelongsToDeviceOnlyWhenBelowItsIOService) {
  for (const ServicePlacement placement :
       {ServicePlacement::BelowDevice, ServicePlacement::AboveDevice,
        ServicePlacement::Elsewhere}) {
    SCOPED_TRACE(static_cast<int>(placement));
    World world;
    KeyboardSpec spec = usb_keyboard("kb1");
    spec.services[0].placement = placement;
    world.plug(spec);
    world.plug(usb_keyboard("kb2"));  // its service must never pass for kb1's
    HIDServices& hid = world.launch().hid();
    ManagerProbe probe(hid);
    probe.start();
    const std::vector<IOHIDDeviceRef> devices = probe.devices();
    ASSERT_EQ(devices.size(), 2u);
    auto client = hid.IOHIDEventSystemClientCreateSimpleClient();
    const std::vector<IOHIDServiceClientRef> services =
        *hid.IOHIDEventSystemClientCopyServices(client);
    ASSERT_EQ(services.size(), 2u);  // in registration order, wherever they sit
    EXPECT_EQ(service_belongs_to_device(hid, services[0], devices[0]),
              placement == ServicePlacement::BelowDevice);
    EXPECT_FALSE(service_belongs_to_device(hid, services[1], devices[0]));
    EXPECT_TRUE(service_belongs_to_device(hid, services[1], devices[1]));

    // Distinct handles of one entry compare equal; "Get" gives the same handle each time.
    const io_service_t fromDevice = hid.IOHIDDeviceGetService(devices[0]);
    const io_service_t matched = hid.IOServiceGetMatchingService(
        hid.IORegistryEntryIDMatching(*world.deviceRegistryID("kb1")));
    EXPECT_NE(fromDevice, matched);
    EXPECT_TRUE(hid.IOObjectIsEqualTo(fromDevice, matched));
    EXPECT_FALSE(hid.IOObjectIsEqualTo(fromDevice, hid.IOHIDDeviceGetService(devices[1])));
    EXPECT_EQ(hid.IOHIDDeviceGetService(devices[0]), fromDevice);
  }
}

TEST(SimRegistryTest, ParentIteratorWalksToTheRootOnlyInTheServicePlane) {
  World world;
  world.plug(usb_keyboard("kb1"));
  HIDServices& hid = world.launch().hid();
  const io_service_t entry = hid.IOServiceGetMatchingService(
      hid.IORegistryEntryIDMatching(*world.serviceRegistryID("kb1")));
  ASSERT_TRUE(entry);
  io_iterator_t iterator;
  ASSERT_EQ(hid.IORegistryEntryCreateIterator(entry, kIOServicePlane, kParents, &iterator),
            kIOReturnSuccess);
  std::vector<uint64_t> ids;
  while (io_registry_entry_t parent = hid.IOIteratorNext(iterator)) {
    uint64_t id = 0;
    ASSERT_EQ(hid.IORegistryEntryGetRegistryEntryID(parent, &id), kIOReturnSuccess);
    ids.push_back(id);
  }
  // Interface, HID device, USB interface, USB device, controller, root.
  ASSERT_EQ(ids.size(), 6u);
  EXPECT_EQ(ids[1], *world.deviceRegistryID("kb1"));
  EXPECT_EQ(ids.back(), kFirstRegistryEntryID);
  EXPECT_FALSE(hid.IOIteratorNext(iterator));
  EXPECT_EQ(hid.IORegistryEntryCreateIterator(entry, "IOUSB", kParents, &iterator),
            kIOReturnBadArgument);
  for (const IOOptionBits options : {kIORegistryIterateParents, kIORegistryIterateRecursively}) {
    EXPECT_EQ(hid.IORegistryEntryCreateIterator(entry, kIOServicePlane, options, &iterator),
              kIOReturnBadArgument);
  }
}

TEST(SimRegistryTest, UnpluggedEntriesAreNotMatchedButOldHandlesStaySafe) {
  World world;
  world.plug(usb_keyboard("kb1"));
  HIDServices& hid = world.launch().hid();
  ManagerProbe probe(hid);
  probe.start();
  const io_service_t before = hid.IOHIDDeviceGetService(probe.devices()[0]);
  const uint64_t deviceID = *world.deviceRegistryID("kb1");
  const uint64_t serviceID = *world.serviceRegistryID("kb1");
  world.unplug("kb1");
  EXPECT_FALSE(hid.IOServiceGetMatchingService(hid.IORegistryEntryIDMatching(deviceID)));
  EXPECT_FALSE(hid.IOServiceGetMatchingService(hid.IORegistryEntryIDMatching(serviceID)));
  uint64_t id = 0;
  EXPECT_EQ(hid.IORegistryEntryGetRegistryEntryID(before, &id), kIOReturnSuccess);
  EXPECT_EQ(id, deviceID);
  io_iterator_t iterator;
  ASSERT_EQ(hid.IORegistryEntryCreateIterator(before, kIOServicePlane, kParents, &iterator),
            kIOReturnSuccess);
  EXPECT_FALSE(hid.IOIteratorNext(iterator));  // detached from the plane
  world.plug("kb1");
  EXPECT_GT(*world.deviceRegistryID("kb1"), serviceID);
}

TEST(SimRegistryTest, RebootRestartsTheIDCounter) {
  World world;
  world.plug(usb_keyboard("kb1"));
  world.plug(bluetooth_keyboard("kb2"));
  const auto kb2 = world.serviceRegistryID("kb2");
  world.unplug("kb1");
  world.plug("kb1");  // now registered after kb2
  world.reboot();
  // Re-registered in their last order with the counter restarted: kb2 now comes first.
  EXPECT_LT(*world.deviceRegistryID("kb2"), *world.deviceRegistryID("kb1"));
  EXPECT_LT(*world.serviceRegistryID("kb2"), *kb2);
  World fresh;
  fresh.plug(usb_keyboard("kb1"));
  world.unplug("kb2");
  world.reboot();
  EXPECT_EQ(world.deviceRegistryID("kb1"), fresh.deviceRegistryID("kb1"));
}

}  // namespace
}  // namespace padwarden::sim
