// HID managers on the simulated world: which callbacks arrive and when, device handles, the
// boot reports that key presses become, LED writes and the Input Monitoring permission.
#include <gtest/gtest.h>

#include "platform/sim/world.h"
#include "tests/platform/sim_probe.h"

namespace padwarden::sim {
namespace {

using testing::ManagerProbe;
using Bytes = std::vector<uint8_t>;

TEST(SimHIDManagerTest, OpenAnnouncesPresentKeyboardsThenPlugsAndUnplugs) {
  World world;
  world.plug(usb_keyboard("kb1"));
  world.plug(usb_mouse("mouse"));  // not a keyboard: never seen
  ManagerProbe probe(world.launch().hid());
  ASSERT_EQ(probe.start(), kIOReturnSuccess);
  EXPECT_TRUE(probe.events.empty());  // callbacks come from the run loop, not the call
  world.runDue();
  ASSERT_EQ(probe.events.size(), 1u);
  EXPECT_EQ(probe.events[0].sender, probe.manager.get());
  const IOHIDDeviceRef kb1 = probe.events[0].device;
  EXPECT_EQ(probe.devices(), std::vector<IOHIDDeviceRef>{kb1});

  world.plug(bluetooth_keyboard("kb2"));
  world.unplug("kb1");
  world.runDue();
  ASSERT_EQ(probe.events.size(), 3u);
  EXPECT_TRUE(probe.events[1].matched);
  EXPECT_FALSE(probe.events[2].matched);
  EXPECT_EQ(probe.events[2].device, kb1);  // the same handle goes away
  EXPECT_EQ(probe.devices(), std::vector<IOHIDDeviceRef>{probe.events[1].device});
}

TEST(SimHIDManagerTest, UnscheduledOrClosedManagersReceiveNothingQueuedBefore) {
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close);
    World world;
    world.plug(usb_keyboard("kb1"));
    HIDServices& hid = world.launch().hid();
    ManagerProbe probe(hid);
    probe.start();
    world.press("kb1", 0x04);  // queued behind the match
    if (close) {
      hid.IOHIDManagerClose(probe.manager, 0);
    } else {
      hid.IOHIDManagerUnscheduleFromRunLoop(probe.manager);
    }
    world.press("kb1", 0x05);
    world.unplug("kb1");
    world.plug(usb_keyboard("kb2"));
    world.runDue();
    EXPECT_TRUE(probe.events.empty());
    EXPECT_TRUE(probe.reports.empty());
  }
}

TEST(SimHIDManagerTest, CopyDevicesFollowsTheMatchingDictionary) {
  World world;
  world.plug(usb_keyboard("kb1"));
  world.plug(usb_mouse("mouse"));
  HIDServices& hid = world.launch().hid();
  ManagerProbe probe(hid);
  EXPECT_FALSE(hid.IOHIDManagerCopyDevices(probe.manager));  // no matching set yet
  const std::pair<plist::Dictionary, size_t> cases[] = {
      {testing::keyboard_matching(), 1},
      {{{kIOHIDDeviceUsagePageKey, 1}}, 2},
      {{{"Transport", "USB"}, {"ProductID", 0x0101}}, 2},
      {{{kIOHIDDeviceUsagePageKey, 12}}, 0},  // an empty set is none
      {{{"NoSuchProperty", 1}}, 0},
  };
  for (const auto& [matching, count] : cases) {
    hid.IOHIDManagerSetDeviceMatching(probe.manager, &matching);
    const auto devices = hid.IOHIDManagerCopyDevices(probe.manager);
    EXPECT_EQ(devices ? devices->size() : 0u, count) << plist::describe(matching);
    EXPECT_EQ(devices.has_value(), count > 0);
  }
  hid.IOHIDManagerSetDeviceMatching(probe.manager, nullptr);
  EXPECT_EQ(hid.IOHIDManagerCopyDevices(probe.manager)->size(), 2u);
}

TEST(SimHIDManagerTest, KeyChangesBecomeBootReports) {
  struct Step {
    bool press;
    uint8_t usage;
    Bytes report;  // empty: no change, no report
  };
  struct Case {
    const char* name;
    KeyboardSpec spec;
    std::vector<Step> steps;
  };
  // clang-format off
  const Case cases[] = {
      {"keys and modifiers", usb_keyboard("kb"),
       {{true, 0x60, {0, 0, 0x60, 0, 0, 0, 0, 0}},
        {true, 0xE1, {0x02, 0, 0x60, 0, 0, 0, 0, 0}},
        {true, 0x04, {0x02, 0, 0x60, 0x04, 0, 0, 0, 0}},
        {true, 0x04, {}},
        {true, 0xE7, {0x82, 0, 0x60, 0x04, 0, 0, 0, 0}},
        {false, 0xE1, {0x80, 0, 0x60, 0x04, 0, 0, 0, 0}},
        {false, 0x60, {0x80, 0, 0x04, 0, 0, 0, 0, 0}},
        {false, 0x60, {}}}},
      {"rollover", usb_keyboard("kb"),
       {{true, 4, {0, 0, 4, 0, 0, 0, 0, 0}},
        {true, 5, {0, 0, 4, 5, 0, 0, 0, 0}},
        {true, 6, {0, 0, 4, 5, 6, 0, 0, 0}},
        {true, 7, {0, 0, 4, 5, 6, 7, 0, 0}},
        {true, 8, {0, 0, 4, 5, 6, 7, 8, 0}},
        {true, 9, {0, 0, 4, 5, 6, 7, 8, 9}},
        {true, 10, {0, 0, 1, 1, 1, 1, 1, 1}},
        {false, 4, {0, 0, 5, 6, 7, 8, 9, 10}}}},
      {"report ID", report_id_keyboard("kb", 3), {{true, 0x62, {3, 0, 0, 0x62, 0, 0, 0, 0, 0}}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    World world;
    world.plug(c.spec);
    ManagerProbe probe(world.launch().hid());
    probe.start();
    std::vector<Bytes> expected;
    for (const Step& step : c.steps) {
      const bool changed =
          step.press ? world.press("kb", step.usage) : world.release("kb", step.usage);
      EXPECT_EQ(changed, !step.report.empty());
      if (changed) expected.push_back(step.report);
    }
    world.runDue();
    std::vector<Bytes> got;
    for (const auto& report : probe.reports) {
      got.push_back(report.bytes);
      EXPECT_EQ(report.reportID, c.spec.reportID);
      EXPECT_EQ(report.result, kIOReturnSuccess);
    }
    EXPECT_EQ(got, expected);
  }
}

TEST(SimHIDDeviceTest, LEDWriteNeedsAnOpenDeviceAndThePermission) {
  World world;
  world.plug(usb_keyboard("kb1"));
  HIDServices& hid = world.launch().hid();
  ManagerProbe probe(hid);
  probe.start();
  const IOHIDDeviceRef device = probe.devices()[0];
  const plist::Dictionary matching{
      {kIOHIDElementTypeKey, 129}, {kIOHIDElementUsagePageKey, 8}, {kIOHIDElementUsageKey, 1}};
  const IOHIDElementRef led = (*hid.IOHIDDeviceCopyMatchingElements(device, &matching, 0))[0];
  const auto write = [&](int64_t value, uint64_t stamp = 7) {
    return hid.IOHIDDeviceSetValue(device, led,
                                   hid.IOHIDValueCreateWithIntegerValue(led, stamp, value));
  };
  EXPECT_EQ(hid.IOHIDElementGetLogicalMin(led), 0);
  EXPECT_EQ(hid.IOHIDElementGetLogicalMax(led), 1);
  ASSERT_EQ(write(1, 1234), kIOReturnSuccess);  // the open manager opened it
  EXPECT_EQ(world.ledValue("kb1"), 1);
  EXPECT_EQ(world.lastValueTimestamp(), 1234u);
  EXPECT_EQ(world.elementWrite("kb1", 9), (ElementWrite{1, 1234}));  // after 9 inputs

  world.setPermission(InputMonitoring::Denied);
  EXPECT_EQ(write(0), kIOReturnNotPermitted);
  EXPECT_EQ(world.ledValue("kb1"), 1);
  world.setPermission(InputMonitoring::Granted);
  EXPECT_EQ(hid.IOHIDDeviceClose(device, 0), kIOReturnSuccess);
  EXPECT_EQ(write(0), kIOReturnNotOpen);
  EXPECT_EQ(hid.IOHIDDeviceOpen(device, 0), kIOReturnSuccess);
  EXPECT_EQ(write(0), kIOReturnSuccess);
  EXPECT_EQ(world.ledValue("kb1"), 0);
  world.unplug("kb1");
  EXPECT_EQ(write(1), kIOReturnNoDevice);
}

TEST(SimHIDAccessTest, OpenCheckAndRequestFollowThePermissionAndExclusiveHolders) {
  struct Case {
    InputMonitoring permission;
    bool exclusive;
    IOReturn open;
    IOHIDAccessType check;
    bool request;
    IOHIDAccessType after;
  };
  using IM = InputMonitoring;
  const IOHIDAccessType granted = kIOHIDAccessTypeGranted, denied = kIOHIDAccessTypeDenied,
                        unknown = kIOHIDAccessTypeUnknown;
  // clang-format off
  const Case cases[] = {
      {IM::Granted, false, kIOReturnSuccess, granted, true, granted},
      {IM::Granted, true, kIOReturnExclusiveAccess, granted, true, granted},
      {IM::Denied, false, kIOReturnNotPermitted, denied, false, denied},
      {IM::UnknownGrantedOnRequest, false, kIOReturnNotPermitted, unknown, true, granted},
      {IM::UnknownDeniedOnRequest, false, kIOReturnNotPermitted, unknown, false, denied},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.permission));
    World world;
    KeyboardSpec spec = usb_keyboard("kb1");
    spec.heldExclusively = c.exclusive;
    world.plug(spec);
    world.setPermission(c.permission);
    HIDServices& hid = world.launch().hid();
    ManagerProbe probe(hid);
    EXPECT_EQ(probe.start(), c.open);
    world.runDue();
    EXPECT_EQ(probe.events.size(), c.open == kIOReturnNotPermitted ? 0u : 1u);
    EXPECT_EQ(hid.IOHIDDeviceOpen(probe.devices()[0], 0), c.open);
    EXPECT_EQ(hid.IOHIDCheckAccess(kIOHIDRequestTypeListenEvent), c.check);
    EXPECT_EQ(hid.IOHIDRequestAccess(kIOHIDRequestTypeListenEvent), c.request);
    EXPECT_EQ(hid.IOHIDCheckAccess(kIOHIDRequestTypeListenEvent), c.after);
  }
}

}  // namespace
}  // namespace padwarden::sim
