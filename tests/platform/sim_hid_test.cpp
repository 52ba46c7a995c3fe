// HID managers on the simulated world: which callbacks arrive and when, device handles, the
// boot reports that key presses become, LED writes and the Input Monitoring permission.
#include <gtest/gtest.h>

#include "platform/sim/world.h"
#include "tests/platform/sim_probe.h"

namespace padwarden::sim {
namespace {

using testing::ManagerProbe;

std::vector<bool> kinds(const ManagerProbe& probe) {
  std::vector<bool> matched;
  for (const auto& event : probe.events) matched.push_back(event.matched);
  return matched;
}

TEST(SimHIDManagerTest, OpenAnnouncesPresentKeyboardsThenPlugsAndUnplugs) {
  World world;
  world.plug(usb_keyboard("kb1"));
  world.plug(usb_mouse("mouse"));  // not a keyboard: never seen
  HIDServices& hid = world.launch().hid();
  ManagerProbe probe(hid);
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
  EXPECT_EQ(kinds(probe), (std::vector<bool>{true, true, false}));
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

TEST(SimHIDManagerTest, EachManagerHasItsOwnStableHandles) {
  World world;
  world.plug(usb_keyboard("kb1"));
  HIDServices& hid = world.launch().hid();
  ManagerProbe a(hid), b(hid);
  a.start();
  b.start();
  world.runDue();
  ASSERT_EQ(a.events.size(), 1u);
  ASSERT_EQ(b.events.size(), 1u);
  EXPECT_NE(a.events[0].device, b.events[0].device);
  EXPECT_EQ(a.devices()[0], a.events[0].device);
  world.tap("kb1", 0x04);
  world.runDue();
  EXPECT_EQ(a.reports[0].sender, a.events[0].device.get());
  EXPECT_EQ(b.reports[0].sender, b.events[0].device.get());

  world.unplug("kb1");
  world.plug("kb1");
  world.runDue();
  ASSERT_EQ(a.events.size(), 3u);
  EXPECT_NE(a.events[2].device, a.events[0].device);  // a new plug is a new device
}

TEST(SimHIDManagerTest, CopyDevicesFollowsTheMatchingDictionary) {
  World world;
  world.plug(usb_keyboard("kb1"));
  world.plug(usb_mouse("mouse"));
  HIDServices& hid = world.launch().hid();
  ManagerProbe probe(hid);
  EXPECT_FALSE(hid.IOHIDManagerCopyDevices(probe.manager));  // no matching set yet
  struct Case {
    plist::Dictionary matching;
    size_t count;
  };
  const Case cases[] = {
      {testing::keyboard_matching(), 1},
      {{{kIOHIDDeviceUsagePageKey, 1}}, 2},
      {{{kIOHIDDeviceUsagePageKey, 1}, {kIOHIDDeviceUsageKey, 2}}, 1},
      {{{"Transport", "USB"}, {"ProductID", 0x0101}}, 2},
      {{{kIOHIDDeviceUsagePageKey, 12}}, 0},
      {{{"NoSuchProperty", 1}}, 0},
  };
  for (const Case& c : cases) {
    hid.IOHIDManagerSetDeviceMatching(probe.manager, &c.matching);
    const auto devices = hid.IOHIDManagerCopyDevices(probe.manager);
    EXPECT_EQ(devices ? devices->size() : 0u, c.count);
    EXPECT_EQ(devices.has_value(), c.count > 0);  // an empty set is none
  }
  hid.IOHIDManagerSetDeviceMatching(probe.manager, nullptr);
  EXPECT_EQ(hid.IOHIDManagerCopyDevices(probe.manager)->size(), 2u);
}

TEST(SimHIDManagerTest, KeyChangesBecomeBootReports) {
  using Bytes = std::vector<uint8_t>;
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
  const Case cases[] = {
      {"plain keys",
       usb_keyboard("kb"),
       {{true, 0x60, {0, 0, 0x60, 0, 0, 0, 0, 0}},
        {true, 0x04, {0, 0, 0x60, 0x04, 0, 0, 0, 0}},
        {true, 0x04, {}},
        {false, 0x60, {0, 0, 0x04, 0, 0, 0, 0, 0}},
        {false, 0x60, {}}}},
      {"modifiers",
       usb_keyboard("kb"),
       {{true, 0xE1, {0x02, 0, 0, 0, 0, 0, 0, 0}},
        {true, 0xE7, {0x82, 0, 0, 0, 0, 0, 0, 0}},
        {true, 0x53, {0x82, 0, 0x53, 0, 0, 0, 0, 0}},
        {false, 0xE1, {0x80, 0, 0x53, 0, 0, 0, 0, 0}}}},
      {"rollover",
       usb_keyboard("kb"),
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
      if (!step.report.empty()) expected.push_back(step.report);
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

struct LedFixture {
  explicit LedFixture(KeyboardSpec spec = usb_keyboard("kb1")) {
    world.plug(std::move(spec));
    probe.start();
    device = probe.devices()[0];
  }
  std::optional<std::vector<IOHIDElementRef>> numLockLEDs() {
    const plist::Dictionary matching{
        {kIOHIDElementTypeKey, 129}, {kIOHIDElementUsagePageKey, 8}, {kIOHIDElementUsageKey, 1}};
    return hid.IOHIDDeviceCopyMatchingElements(device, &matching, 0);
  }
  IOReturn write(const IOHIDElementRef& element, int64_t value, uint64_t stamp = 7) {
    return hid.IOHIDDeviceSetValue(device, element,
                                   hid.IOHIDValueCreateWithIntegerValue(element, stamp, value));
  }
  World world;
  HIDServices& hid = world.launch().hid();
  ManagerProbe probe{hid};
  IOHIDDeviceRef device;
};

TEST(SimHIDDeviceTest, ElementMatchingFindsEachNumLockLED) {
  for (const size_t count : {0u, 1u, 2u}) {
    SCOPED_TRACE(count);
    LedFixture f(usb_keyboard("kb1").withNumLockLEDs(count));
    const auto leds = f.numLockLEDs();
    EXPECT_EQ(leds ? leds->size() : 0u, count);
    const plist::Dictionary capsLock{{kIOHIDElementTypeKey, 129}, {kIOHIDElementUsageKey, 2}};
    EXPECT_EQ(f.hid.IOHIDDeviceCopyMatchingElements(f.device, &capsLock, 0)->size(), 1u);
  }
}

TEST(SimHIDDeviceTest, LEDWriteNeedsAnOpenDeviceAndThePermission) {
  LedFixture f;
  const IOHIDElementRef led = (*f.numLockLEDs())[0];
  EXPECT_EQ(f.hid.IOHIDElementGetLogicalMin(led), 0);
  EXPECT_EQ(f.hid.IOHIDElementGetLogicalMax(led), 1);

  ASSERT_EQ(f.write(led, 1, 1234), kIOReturnSuccess);  // the open manager opened it
  EXPECT_EQ(f.world.ledValue("kb1"), 1);
  EXPECT_EQ(f.world.lastValueTimestamp(), 1234u);
  EXPECT_EQ(f.world.elementWrite("kb1", 9), (ElementWrite{1, 1234}));  // after 9 inputs

  f.world.setPermission(InputMonitoring::Denied);
  EXPECT_EQ(f.write(led, 0), kIOReturnNotPermitted);
  EXPECT_EQ(f.world.ledValue("kb1"), 1);
  f.world.setPermission(InputMonitoring::Granted);

  EXPECT_EQ(f.hid.IOHIDDeviceClose(f.device, 0), kIOReturnSuccess);
  EXPECT_EQ(f.write(led, 0), kIOReturnNotOpen);
  EXPECT_EQ(f.hid.IOHIDDeviceOpen(f.device, 0), kIOReturnSuccess);
  EXPECT_EQ(f.write(led, 0), kIOReturnSuccess);
  EXPECT_EQ(f.world.ledValue("kb1"), 0);

  f.world.unplug("kb1");
  EXPECT_EQ(f.write(led, 1), kIOReturnNoDevice);
}

TEST(SimHIDDeviceTest, OpenAnswersForPermissionAndExclusiveHolders) {
  struct Case {
    InputMonitoring permission;
    bool exclusive;
    IOReturn managerOpen;
    size_t matched;
  };
  const Case cases[] = {
      {InputMonitoring::Granted, false, kIOReturnSuccess, 1},
      {InputMonitoring::Granted, true, kIOReturnExclusiveAccess, 1},
      {InputMonitoring::Denied, false, kIOReturnNotPermitted, 0},
      {InputMonitoring::UnknownGrantedOnRequest, false, kIOReturnNotPermitted, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.permission));
    World world;
    KeyboardSpec spec = usb_keyboard("kb1");
    spec.heldExclusively = c.exclusive;
    world.plug(spec);
    world.setPermission(c.permission);
    HIDServices& hid = world.launch().hid();
    ManagerProbe probe(hid);
    EXPECT_EQ(probe.start(), c.managerOpen);
    world.runDue();
    EXPECT_EQ(probe.events.size(), c.matched);
    EXPECT_EQ(hid.IOHIDDeviceOpen(probe.devices()[0], 0), c.managerOpen);
  }
}

TEST(SimHIDDeviceTest, WithdrawnPermissionMarksReports) {
  LedFixture f;
  f.world.press("kb1", 0x53);
  f.world.setPermission(InputMonitoring::Denied);
  f.world.release("kb1", 0x53);
  f.world.runDue();
  ASSERT_EQ(f.probe.reports.size(), 2u);
  EXPECT_EQ(f.probe.reports[0].result, kIOReturnSuccess);
  EXPECT_EQ(f.probe.reports[1].result, kIOReturnNotPermitted);
}

TEST(SimHIDAccessTest, CheckAndRequestFollowThePermission) {
  struct Case {
    InputMonitoring permission;
    IOHIDAccessType check;
    bool request;
    IOHIDAccessType after;
  };
  const Case cases[] = {
      {InputMonitoring::Granted, kIOHIDAccessTypeGranted, true, kIOHIDAccessTypeGranted},
      {InputMonitoring::Denied, kIOHIDAccessTypeDenied, false, kIOHIDAccessTypeDenied},
      {InputMonitoring::UnknownGrantedOnRequest, kIOHIDAccessTypeUnknown, true,
       kIOHIDAccessTypeGranted},
      {InputMonitoring::UnknownDeniedOnRequest, kIOHIDAccessTypeUnknown, false,
       kIOHIDAccessTypeDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.permission));
    World world;
    world.setPermission(c.permission);
    HIDServices& hid = world.launch().hid();
    EXPECT_EQ(hid.IOHIDCheckAccess(kIOHIDRequestTypeListenEvent), c.check);
    EXPECT_EQ(hid.IOHIDRequestAccess(kIOHIDRequestTypeListenEvent), c.request);
    EXPECT_EQ(hid.IOHIDCheckAccess(kIOHIDRequestTypeListenEvent), c.after);
  }
}

}  // namespace
}  // namespace padwarden::sim
