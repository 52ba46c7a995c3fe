// Stories of finding keyboards: which ones get a session, what the summary says, keyboards that
// come and go, and discovery that cannot run.
#include "session/key_mapping.h"
#include "tests/controller/controller_world.h"

namespace padwarden::testing {
namespace {

class Discovery : public ControllerWorld {};

TEST_F(Discovery, OnlySupportedExternalKeyboardsGetASession) {
  plug(sim::builtin_keyboard("builtin"));
  plug(sim::usb_keyboard("builtin-string").set("Built-In", "Yes"));
  plug(sim::virtual_keyboard("virtual"));
  plug(sim::usb_keyboard("spi").set("Transport", "SPI"));
  plug(sim::usb_keyboard("i2c").set("Transport", "I2C"));
  plug(sim::report_id_keyboard("report-id"));
  plug(sim::usb_mouse("mouse"));
  // A string is no claim of being virtual.
  plug(sim::usb_keyboard("virtual-string").set("HIDVirtualDevice", "true"));
  start();

  ASSERT_EQ(controller->sessions().size(), 1u);
  EXPECT_TRUE(session("virtual-string"));
  EXPECT_EQ(controller->connectionSummary(), "1 supported keyboard connected");
  for (const char* name : {"builtin", "builtin-string", "virtual", "spi", "report-id"}) {
    tap(name, kCapsLock);
    EXPECT_FALSE(mapping(name)) << name << " must be left alone";
  }

  plug(sim::bluetooth_keyboard("bt"));
  advance(kDiscoveryTimerInterval);
  EXPECT_TRUE(session("bt"));
  EXPECT_EQ(controller->connectionSummary(), "2 supported keyboards connected");
}

// After a loss of Input Monitoring the session waits for a request of its own; the menu's
// request reached only the controller, so the keyboard was never handled again in that run.
TEST_F(Discovery, PermissionGrantedAgainRevivesKeyboardsThatLostIt) {
  plug("kb1");
  start();
  wake("kb1");
  tap("kb1", kNumLock);
  ASSERT_EQ(mapping("kb1"), navigation_mode_mapping());
  world.setPermission(sim::InputMonitoring::Denied);
  advance(6);
  ASSERT_FALSE(mapping_is_ours(mapping("kb1")));

  world.setPermission(sim::InputMonitoring::Granted);
  EXPECT_TRUE(controller->requestInputMonitoring());
  step();
  wake("kb1");
  EXPECT_EQ(mapping("kb1"), navigation_mode_mapping());
  EXPECT_TRUE(controller->inputMonitoringGranted());
}

// A pass that cannot list the devices must not take the keyboards for gone: retiring an
// attached keyboard's session deleted its lease while the navigation mapping stayed on it.
class UnreadableDeviceList : public ControllerWorld,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(UnreadableDeviceList, KeepsAttachedKeyboardsAndTheirLeases) {
  plug("kb1");
  start();
  wake("kb1");
  tap("kb1", kNumLock);
  const std::shared_ptr<KeyboardSession> before = session("kb1");

  world.recorder().failOnce(GetParam());
  advance(kDiscoveryTimerInterval);
  EXPECT_EQ(session("kb1"), before);
  EXPECT_TRUE(storedLease("kb1"));
  EXPECT_EQ(mapping("kb1"), navigation_mode_mapping());

  // Once the keyboard is really gone, a pass retires its session even when the (then empty)
  // list cannot be read.
  unplug("kb1");
  world.recorder().failOnce(GetParam());
  advance(kDiscoveryTimerInterval);
  EXPECT_TRUE(controller->sessions().empty());
}

// A keyboard whose restore waits for a report was retired by a pass without a list when the
// registry lookup failed too (it answers nothing then, as for an entry that is gone): the
// record went while the program's mapping stayed on the keyboard.
TEST_F(Discovery, PassWithoutAListKeepsAKeyboardWhoseRestoreIsPending) {
  plug("kb1");
  start();
  wake("kb1");
  tap("kb1", kNumLock);
  world.crash();
  world.recorder().failAlways("IOHIDDeviceCopyMatchingElements");
  launch();
  start();
  ASSERT_TRUE(controller->isCleanupPending());

  world.recorder().failOnce("IOHIDManagerCopyDevices");
  world.recorder().failAlways("IOServiceGetMatchingService");
  advance(kDiscoveryTimerInterval);
  EXPECT_TRUE(storedLease("kb1"));
  EXPECT_EQ(mapping("kb1"), navigation_mode_mapping());

  world.recorder().clearFaults();
  wake("kb1");
  advance(kDiscoveryTimerInterval);
  EXPECT_FALSE(controller->isCleanupPending());
}

INSTANTIATE_TEST_SUITE_P(Ops, UnreadableDeviceList,
                         ::testing::Values("IOHIDManagerCopyDevices", "malloc"),
                         [](const auto& info) { return std::string(info.param); });

struct DiscoveryFault {
  const char* op;
  const char* error;
};

class DiscoveryFaults : public ControllerWorld,
                        public ::testing::WithParamInterface<DiscoveryFault> {};

TEST_P(DiscoveryFaults, FailedPassIsShownAndTheNextPassRecovers) {
  plug("kb1");
  launch();
  world.recorder().failOnce(GetParam().op);
  controller->start();
  step();
  EXPECT_EQ(controller->errorSummary(), GetParam().error);
  EXPECT_TRUE(controller->sessions().empty());

  advance(kDiscoveryTimerInterval);
  ASSERT_TRUE(session("kb1"));
  EXPECT_EQ(controller->errorSummary(), "");
  wake("kb1");
  EXPECT_EQ(mapping("kb1"), numeric_mode_mapping());
}

INSTANTIATE_TEST_SUITE_P(
    Ops, DiscoveryFaults,
    ::testing::Values(
        DiscoveryFault{"CFNumberCreateSInt32",
                       "Could not initialize generic HID discovery safely."},
        DiscoveryFault{"IOHIDManagerCreate", "Could not initialize generic HID discovery safely."},
        DiscoveryFault{
            "IOHIDManagerOpen",
            "Could not open generic HID discovery; no keyboard mappings were changed."}),
    [](const auto& info) { return std::string(info.param.op); });

}  // namespace
}  // namespace padwarden::testing
