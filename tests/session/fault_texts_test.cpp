// Every platform failure the session names, with the text the user reads and what is left
// on the keyboard: a failed step never leaves the LED, the mode and the mapping at odds.
#include "session/session_texts.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

namespace texts = session_texts;

struct ToggleFault {
  const char* name;
  sim::FaultRule fault;
  std::string text;
  // What the keyboard shows right after the failed Num Lock press.
  int64_t led;
  bool logicalOn;
  plist::Value mapping;
};

class ToggleFaults : public SessionWorld, public ::testing::WithParamInterface<ToggleFault> {};

TEST_P(ToggleFaults, NameTheFailureAndLeaveAConsistentKeyboard) {
  const ToggleFault& row = GetParam();
  plugKeyboard("kb1");
  startSession("kb1");
  tap("kb1", kCapsLock);
  ASSERT_EQ(mapping("kb1"), numeric_mapping());

  world.recorder().add(row.fault);
  // The LED follows the press, the mapping the release.
  press("kb1", kNumLock);
  if (row.logicalOn) {
    EXPECT_EQ(session->errorSummary(), row.text);
  }
  release("kb1", kNumLock);
  if (!row.logicalOn) {
    EXPECT_EQ(session->errorSummary(), row.text);
  }
  EXPECT_EQ(world.ledValue("kb1"), row.led);
  EXPECT_EQ(session->logicalNumLockOn(), row.logicalOn);
  EXPECT_EQ(mapping("kb1"), row.mapping);

  // Nothing sticks: a spent press is pressed again, a failed mapping step is retried by the
  // reconcile tick.
  if (row.logicalOn) tap("kb1", kNumLock);
  advance(10);
  EXPECT_FALSE(session->logicalNumLockOn());
  EXPECT_EQ(world.ledValue("kb1"), 0);
  EXPECT_EQ(mapping("kb1"), navigation_mapping());
  EXPECT_EQ(session->errorSummary(), "");
}

constexpr int32_t kNotResponding = static_cast<int32_t>(0xE00002EDu);

INSTANTIATE_TEST_SUITE_P(
    FaultTexts, ToggleFaults,
    ::testing::Values(ToggleFault{"LedWriteFails",
                                  {"IOHIDDeviceSetValue", 0, 1, kNotResponding},
                                  "Could not update the keyboard Num Lock LED (0xe00002ed).",
                                  1,
                                  true,
                                  numeric_mapping()},
                      ToggleFault{"LedValueNotAllocated",
                                  {"IOHIDValueCreateWithIntegerValue"},
                                  "Could not update the keyboard Num Lock LED (0xe00002bd).",
                                  1,
                                  true,
                                  numeric_mapping()},
                      ToggleFault{"MappingWriteRefused",
                                  {"IOHIDServiceClientSetProperty"},
                                  texts::kCouldNotSetMapping,
                                  0,
                                  false,
                                  numeric_mapping()},
                      // Answered success and lost: only the read-back can tell.
                      ToggleFault{"MappingWriteLost",
                                  {"IOHIDServiceClientSetProperty", 0, 1,
                                   static_cast<int32_t>(0xE00002BCu), true},
                                  texts::kCouldNotSetMapping,
                                  0,
                                  false,
                                  numeric_mapping()},
                      // The third read is the check after the write; its second look fails
                      // too, and the service's answer between them.
                      ToggleFault{"MappingReadBackFails",
                                  {"IOHIDServiceClientCopyProperty", 2, 3},
                                  texts::kCouldNotSetMapping,
                                  0,
                                  false,
                                  navigation_mapping()},
                      ToggleFault{"MappingArrayNotAllocated",
                                  {"CFArrayCreateMutable"},
                                  texts::kCouldNotAllocateMapping,
                                  0,
                                  false,
                                  numeric_mapping()},
                      ToggleFault{"MappingEntryNotAllocated",
                                  {"CFDictionaryCreateMutable", 3, 1},
                                  texts::kCouldNotAllocateMapping,
                                  0,
                                  false,
                                  numeric_mapping()},
                      ToggleFault{"MappingNumberNotAllocated",
                                  {"CFNumberCreateSInt64"},
                                  texts::kCouldNotAllocateMapping,
                                  0,
                                  false,
                                  numeric_mapping()},
                      ToggleFault{"LeaseCheckFailsThenRewriteFails",
                                  {"CFPreferencesAppSynchronize", 0, 2},
                                  texts::kCouldNotSaveLease,
                                  0,
                                  false,
                                  numeric_mapping()}),
    [](const auto& info) { return std::string(info.param.name); });

struct FirstInstallFault {
  const char* name;
  sim::FaultRule fault;
  std::string text;
};

class FirstInstallFaults : public SessionWorld,
                           public ::testing::WithParamInterface<FirstInstallFault> {};

TEST_P(FirstInstallFaults, LeaveTheKeyboardsOwnMappingAndNoRecord) {
  plugKeyboard("kb1");
  startSession("kb1");
  world.recorder().add(GetParam().fault);
  press("kb1", kCapsLock);
  EXPECT_EQ(session->errorSummary(), GetParam().text);
  EXPECT_FALSE(mapping("kb1"));
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_TRUE(programWrites.empty());
  // The next report tries again.
  release("kb1", kCapsLock);
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  EXPECT_TRUE(storedLease("kb1"));
  EXPECT_EQ(session->errorSummary(), "");
}

INSTANTIATE_TEST_SUITE_P(
    FaultTexts, FirstInstallFaults,
    ::testing::Values(
        FirstInstallFault{
            "LeaseNotSaved", {"CFPreferencesAppSynchronize"}, texts::kCouldNotSaveLease},
        FirstInstallFault{
            "LeaseSetDropped", {"CFPreferencesSetAppValue"}, texts::kCouldNotSaveLease},
        FirstInstallFault{
            "LeaseReadBackWrong", {"CFPreferencesCopyAppValue"}, texts::kCouldNotSaveLease},
        FirstInstallFault{
            "AbsentMappingNotCaptured", {"CFArrayCreateMutable"}, texts::kCouldNotCaptureMapping},
        FirstInstallFault{"BootTimeUnreadable", {"sysctl"}, texts::kCouldNotIdentifyMapping}),
    [](const auto& info) { return std::string(info.param.name); });

struct StartFault {
  const char* name;
  sim::FaultRule fault;
  std::string text;
};

class StartFaults : public SessionWorld, public ::testing::WithParamInterface<StartFault> {};

TEST_P(StartFaults, AreNamedAndGoneAfterTheNextAttempt) {
  plugKeyboard("kb1");
  world.launch();
  world.recorder().add(GetParam().fault);
  session = KeyboardSession::create(world.process()->platform(), registryID("kb1"), "ID", {});
  session->start();
  EXPECT_EQ(session->errorSummary(), GetParam().text);
  EXPECT_EQ(world.ledValue("kb1"), std::nullopt);

  session->reconcile();
  advance(1);
  tap("kb1", kCapsLock);
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  EXPECT_EQ(session->errorSummary(), "");
}

INSTANTIATE_TEST_SUITE_P(
    FaultTexts, StartFaults,
    ::testing::Values(
        StartFault{
            "MatchNotAllocated", {"CFDictionaryCreateMutable"}, texts::kCouldNotAllocateMatch},
        StartFault{"ManagerNotCreated", {"IOHIDManagerCreate"}, texts::kCouldNotCreateManager},
        StartFault{"ManagerOpenFails",
                   {"IOHIDManagerOpen", 0, 1, kNotResponding},
                   "HID manager open failed (0xe00002ed)."},
        StartFault{"KeyboardHeldByAnotherApp",
                   {"IOHIDManagerOpen", 0, 1, static_cast<int32_t>(kIOReturnExclusiveAccess)},
                   texts::kExclusivelyHeld},
        StartFault{"AccessRefusedAtOpen",
                   {"IOHIDManagerOpen", 0, 1, static_cast<int32_t>(kIOReturnNotPermitted)},
                   texts::kPermissionRequired},
        StartFault{"EnumerationBufferNotAllocated", {"malloc"}, texts::kCouldNotEnumerate},
        StartFault{"DeviceOpenFails",
                   {"IOHIDDeviceOpen", 0, 1, kNotResponding},
                   "Could not open the keyboard HID device (0xe00002ed)."}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace padwarden::testing
