// Program processes on the simulated world: crash, clean exit, the crash point, reboot, fault
// injection on the process's services, and the kernel clocks.
#include <gtest/gtest.h>

#include <memory>

#include "platform/sim/world.h"
#include "tests/platform/sim_probe.h"

namespace padwarden::sim {
namespace {

using testing::ManagerProbe;

const plist::Value kMapping = plist::Array{plist::Dictionary{
    {kIOHIDKeyboardModifierMappingSrcKey, 0x700000053}, {kIOHIDKeyboardModifierMappingDstKey, 0}}};

BootTimeValue boot_time(SystemClock& clock) {
  const int name[] = {CTL_KERN, KERN_BOOTTIME};
  BootTimeValue value{};
  size_t length = sizeof value;
  EXPECT_EQ(clock.sysctl(name, 2, &value, &length), 0);
  EXPECT_EQ(length, sizeof value);
  return value;
}

TEST(SimProcessTest, CrashDropsTheProcessButNotTheMachine) {
  World world;
  world.plug(usb_keyboard("kb1"));
  Process& process = world.launch();
  Platform platform = process.platform();
  ManagerProbe probe(platform.hid);
  probe.start();
  auto held = std::make_shared<int>(0);
  std::weak_ptr<int> watched = held;
  platform.runLoop.scheduledTimerWithTimeInterval(1.0, [held](Timer&) {});
  platform.runLoop.dispatch_after(kNanosecondsPerSecond, [held] {});
  held.reset();
  world.setUserKeyMapping("kb1", 0, kMapping);
  platform.preferences.CFPreferencesSetAppValue("Saved", plist::Value(1));
  ASSERT_TRUE(platform.preferences.CFPreferencesAppSynchronize());
  platform.defaults.setBool(true, "Unsaved");

  world.crash();
  EXPECT_EQ(world.process(), nullptr);
  EXPECT_FALSE(process.alive());
  EXPECT_TRUE(watched.expired());  // timers and work vanished with what they held
  EXPECT_EQ(process.runLoop().pendingCount(), 0u);
  world.tap("kb1", 0x04);
  EXPECT_EQ(world.advance(10), 0u);
  EXPECT_TRUE(probe.events.empty());
  EXPECT_TRUE(probe.reports.empty());
  // Its calls reach nothing, and are not traced.
  const uint64_t calls = world.recorder().callCount();
  EXPECT_FALSE(platform.hid.IOHIDManagerCopyDevices(probe.manager));
  EXPECT_FALSE(platform.cf.CFArrayCreateMutable());
  EXPECT_EQ(platform.clock.mach_absolute_time(), 0u);
  EXPECT_EQ(world.recorder().callCount(), calls);

  EXPECT_EQ(world.userKeyMapping("kb1"), kMapping);
  EXPECT_EQ(world.disk().values.count("Saved"), 1u);
  EXPECT_EQ(world.disk().values.count("Unsaved"), 0u);
  EXPECT_TRUE(world.isPlugged("kb1"));

  // A clean exit, unlike a crash, saves what is pending.
  Process& second = world.launch();
  EXPECT_EQ(second.number(), 2u);
  second.platform().defaults.setBool(true, "Unsaved");
  world.exit();
  EXPECT_EQ(world.process(), nullptr);
  EXPECT_EQ(world.disk().values.count("Unsaved"), 1u);
}

TEST(SimProcessTest, CrashPointKillsRightAfterTheCallTookEffect) {
  World world;
  world.plug(usb_keyboard("kb1"));
  Platform platform = world.launch().platform();
  const auto client = platform.hid.IOHIDEventSystemClientCreateSimpleClient();
  const IOHIDServiceClientRef service =
      (*platform.hid.IOHIDEventSystemClientCopyServices(client))[0];
  bool laterRan = false;
  bool afterSetRan = false;
  platform.runLoop.dispatch_async([&] {
    world.recorder().crashAfterCall(world.recorder().callCount() + 1);
    const bool set =
        platform.hid.IOHIDServiceClientSetProperty(service, kIOHIDUserKeyMappingKey, kMapping);
    afterSetRan = true;
    EXPECT_TRUE(set);  // the call itself completed
    EXPECT_FALSE(platform.hid.IOHIDServiceClientCopyProperty(service, kIOHIDUserKeyMappingKey));
    EXPECT_FALSE(platform.preferences.CFPreferencesAppSynchronize());
  });
  platform.runLoop.dispatch_async([&] { laterRan = true; });
  world.runDue();
  EXPECT_TRUE(afterSetRan);
  EXPECT_FALSE(laterRan);  // the run loop stopped at once
  EXPECT_EQ(world.process(), nullptr);
  EXPECT_EQ(world.userKeyMapping("kb1"), kMapping);
  EXPECT_EQ(world.recorder().trace().back().op, "IOHIDServiceClientSetProperty");
}

TEST(SimProcessTest, RebootClearsMappingsAndStartsANewBoot) {
  World world;
  world.plug(usb_keyboard("kb1"));
  world.setUserKeyMapping("kb1", 0, kMapping);
  SystemClock& clock = world.launch().clock();
  world.advance(100);
  const BootTimeValue first = boot_time(clock);
  EXPECT_EQ(first.tv_sec, Machine::kFirstBootTime.tv_sec);
  EXPECT_EQ(clock.mach_absolute_time(), 100 * kNanosecondsPerSecond);
  const auto deviceID = world.deviceRegistryID("kb1");

  world.reboot(30);
  EXPECT_EQ(world.process(), nullptr);
  EXPECT_FALSE(world.userKeyMapping("kb1"));
  EXPECT_EQ(world.deviceRegistryID("kb1"), deviceID);  // same counter, same order
  SystemClock& after = world.launch().clock();
  EXPECT_EQ(after.mach_absolute_time(), 0u);
  const BootTimeValue second = boot_time(after);
  EXPECT_EQ(second.tv_sec, first.tv_sec + 130);
  EXPECT_EQ(second.tv_usec, first.tv_usec);

  // Only the boot time is answered, and only in full; a null buffer asks for the size.
  const int bootTime[] = {CTL_KERN, KERN_BOOTTIME};
  const int other[] = {CTL_KERN, 1};
  unsigned char buffer[32];
  size_t length = 15;
  EXPECT_EQ(after.sysctl(bootTime, 2, buffer, &length), -1);
  length = sizeof buffer;
  EXPECT_EQ(after.sysctl(other, 2, buffer, &length), -1);
  EXPECT_EQ(after.sysctl(bootTime, 1, buffer, &length), -1);
  EXPECT_EQ(after.sysctl(bootTime, 2, nullptr, &length), 0);
  EXPECT_EQ(length, 16u);
}

TEST(SimFaultTest, FailingCallsFailInTheirNaturalWay) {
  World world;
  world.plug(usb_keyboard("kb1"));
  Platform p = world.launch().platform();
  CallRecorder& recorder = world.recorder();
  ManagerProbe probe(p.hid);
  const auto client = p.hid.IOHIDEventSystemClientCreateSimpleClient();
  const IOHIDServiceClientRef service = (*p.hid.IOHIDEventSystemClientCopyServices(client))[0];
  const int bootTime[] = {CTL_KERN, KERN_BOOTTIME};
  BootTimeValue value{};
  size_t length = sizeof value;

  recorder.add({"IOHIDManagerOpen", 0, 1, kIOReturnNoMemory});
  EXPECT_EQ(probe.start(), kIOReturnNoMemory);  // with the rule's code
  EXPECT_EQ(p.hid.IOHIDManagerOpen(probe.manager, 0), kIOReturnSuccess);
  recorder.failOnce("IOHIDManagerCopyDevices");
  EXPECT_FALSE(p.hid.IOHIDManagerCopyDevices(probe.manager));
  recorder.failOnce("CFNumberCreateSInt32");
  EXPECT_FALSE(p.cf.CFNumberCreateSInt32(6));
  recorder.failOnce("IOHIDServiceClientSetProperty");
  EXPECT_FALSE(p.hid.IOHIDServiceClientSetProperty(service, kIOHIDUserKeyMappingKey, kMapping));
  EXPECT_FALSE(world.userKeyMapping("kb1"));

  recorder.failOnce("IOHIDServiceClientConformsTo");
  EXPECT_FALSE(p.hid.IOHIDServiceClientConformsTo(service, 1, 6));
  recorder.failOnce("IOHIDCheckAccess");
  EXPECT_EQ(p.hid.IOHIDCheckAccess(kIOHIDRequestTypeListenEvent), kIOHIDAccessTypeDenied);
  recorder.failOnce("sysctl");
  EXPECT_EQ(p.clock.sysctl(bootTime, 2, &value, &length), -1);
  recorder.failOnce("malloc");
  EXPECT_FALSE(p.cf.malloc(64));
  recorder.failOnce("IORegistryEntryCreateIterator");
  io_iterator_t iterator;
  EXPECT_EQ(p.hid.IORegistryEntryCreateIterator(p.hid.IOHIDDeviceGetService(probe.devices()[0]),
                                                kIOServicePlane, 3, &iterator),
            kIOReturnError);

  // A rule for every operation leaves the ones that cannot fail alone.
  const IOHIDDeviceRef device = probe.devices()[0];
  const IOHIDElementRef led = (*p.hid.IOHIDDeviceCopyMatchingElements(device, nullptr, 0))[9];
  recorder.add({"", 0, std::nullopt});
  const uint64_t before = recorder.callCount();
  world.advance(2);
  EXPECT_EQ(p.clock.mach_absolute_time(), 2 * kNanosecondsPerSecond);
  EXPECT_EQ(p.hid.IOHIDElementGetLogicalMax(led), 1);
  EXPECT_FALSE(p.cf.CFStringCreateWithCString("Transport"));
  EXPECT_FALSE(p.hid.IOHIDDeviceGetProperty(device, "Transport"));
  EXPECT_EQ(recorder.opsSince(before),
            (std::vector<std::string>{"mach_absolute_time", "IOHIDElementGetLogicalMax",
                                      "CFStringCreateWithCString", "IOHIDDeviceGetProperty"}));
  for (const Call& call : recorder.trace()) {
    if (call.index > before) {
      EXPECT_EQ(call.failed, call.index > before + 2) << call.op;
    }
  }
}

TEST(SimCoreFoundationTest, StringsMustBeUTF8) {
  World world;
  CoreFoundation& cf = world.launch().cf();
  EXPECT_EQ(cf.CFStringCreateWithCString("Transport"), "Transport");
  EXPECT_FALSE(cf.CFStringCreateWithCString("\xC3\x28"));
  EXPECT_FALSE(cf.CFStringCreateWithCString(nullptr));
  // Mapping keys need all 64 bits.
  EXPECT_EQ(cf.CFNumberCreateSInt64(int64_t{1} << 40), plist::Value(int64_t{1} << 40));
}

}  // namespace
}  // namespace padwarden::sim
