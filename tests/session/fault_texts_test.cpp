// Every platform failure the session names, with the text the user reads and what is left
// on the keyboard: a failed step never leaves the LED, the mode and the mapping at odds.
#include "session/session_texts.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

namespace texts = session_texts;

// What the keyboard shows right after the failed Num Lock press.
enum class Left {
  LedUnchanged,    // the press was spent: LED on, Num Lock on, numeric mapping
  MappingPending,  // the LED followed, the mapping did not
  MappingUnsure,   // the LED followed; the navigation mapping is on but unconfirmed
};

struct ToggleFault {
  const char* name;
  sim::FaultRule fault;
  std::string text;
  Left left;
};

class ToggleFaults : public SessionWorld, public ::testing::WithParamInterface<ToggleFault> {};

TEST_P(ToggleFaults, NameTheFailureAndLeaveAConsistentKeyboard) {
  const ToggleFault& row = GetParam();
  const bool spent = row.left == Left::LedUnchanged;
  plug("kb1");
  startSession("kb1");
  tap("kb1", kCapsLock);
  ASSERT_EQ(mapping("kb1"), numeric_mode_mapping());

  world.recorder().add(row.fault);
  // The LED follows the press, the mapping the release.
  press("kb1", kNumLock);
  const std::string afterPress = session->errorSummary();
  release("kb1", kNumLock);
  EXPECT_EQ(spent ? afterPress : session->errorSummary(), row.text);
  EXPECT_EQ(world.ledValue("kb1"), spent ? 1 : 0);
  EXPECT_EQ(session->logicalNumLockOn(), spent);
  EXPECT_EQ(mapping("kb1"),
            row.left == Left::MappingUnsure ? navigation_mode_mapping() : numeric_mode_mapping());

  // Nothing sticks: a spent press is pressed again, a failed mapping step is retried by the
  // reconcile tick.
  if (spent) tap("kb1", kNumLock);
  advance(10);
  EXPECT_FALSE(session->logicalNumLockOn());
  EXPECT_EQ(world.ledValue("kb1"), 0);
  EXPECT_EQ(mapping("kb1"), navigation_mode_mapping());
  EXPECT_EQ(session->errorSummary(), "");
}

constexpr int32_t kNotResponding = static_cast<int32_t>(0xE00002EDu);
constexpr int32_t kWriteLost = static_cast<int32_t>(0xE00002BCu);

// One row a line: the tables read as tables.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    FaultTexts, ToggleFaults,
    ::testing::Values(
        ToggleFault{"LedWriteFails", {"IOHIDDeviceSetValue", 0, 1, kNotResponding},
                    "Could not update the keyboard Num Lock LED (0xe00002ed).", Left::LedUnchanged},
        ToggleFault{"LedValueNotAllocated", {"IOHIDValueCreateWithIntegerValue"},
                    "Could not update the keyboard Num Lock LED (0xe00002bd).", Left::LedUnchanged},
        ToggleFault{"MappingWriteRefused", {"IOHIDServiceClientSetProperty"},
                    texts::kCouldNotSetMapping, Left::MappingPending},
        // Answered success and lost: only the read-back can tell.
        ToggleFault{"MappingWriteLost", {"IOHIDServiceClientSetProperty", 0, 1, kWriteLost, true},
                    texts::kCouldNotSetMapping, Left::MappingPending},
        // The third read is the check after the write; its second look fails too, and the
        // service's answer between them.
        ToggleFault{"MappingReadBackFails", {"IOHIDServiceClientCopyProperty", 2, 3},
                    texts::kCouldNotSetMapping, Left::MappingUnsure},
        ToggleFault{"MappingArrayNotAllocated", {"CFArrayCreateMutable"},
                    texts::kCouldNotAllocateMapping, Left::MappingPending},
        ToggleFault{"MappingEntryNotAllocated", {"CFDictionaryCreateMutable", 3, 1},
                    texts::kCouldNotAllocateMapping, Left::MappingPending},
        ToggleFault{"MappingNumberNotAllocated", {"CFNumberCreateSInt64"},
                    texts::kCouldNotAllocateMapping, Left::MappingPending},
        ToggleFault{"LeaseCheckFailsThenRewriteFails", {"CFPreferencesAppSynchronize", 0, 2},
                    texts::kCouldNotSaveLease, Left::MappingPending}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A platform failure and the text that names it.
struct NamedFault {
  const char* name;
  sim::FaultRule fault;
  std::string text;
};

class FirstInstallFaults : public SessionWorld, public ::testing::WithParamInterface<NamedFault> {};

TEST_P(FirstInstallFaults, LeaveTheKeyboardsOwnMappingAndNoRecord) {
  plug("kb1");
  startSession("kb1");
  world.recorder().add(GetParam().fault);
  press("kb1", kCapsLock);
  EXPECT_EQ(session->errorSummary(), GetParam().text);
  EXPECT_FALSE(mapping("kb1"));
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_TRUE(programWrites.empty());
  // The next report tries again.
  release("kb1", kCapsLock);
  EXPECT_EQ(mapping("kb1"), numeric_mode_mapping());
  EXPECT_TRUE(storedLease("kb1"));
  EXPECT_EQ(session->errorSummary(), "");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    FaultTexts, FirstInstallFaults,
    ::testing::Values(
        NamedFault{"LeaseNotSaved", {"CFPreferencesAppSynchronize"}, texts::kCouldNotSaveLease},
        NamedFault{"LeaseSetDropped", {"CFPreferencesSetAppValue"}, texts::kCouldNotSaveLease},
        NamedFault{"LeaseReadBackWrong", {"CFPreferencesCopyAppValue"}, texts::kCouldNotSaveLease},
        NamedFault{"AbsentMappingNotCaptured", {"CFArrayCreateMutable"},
                   texts::kCouldNotCaptureMapping},
        NamedFault{"BootTimeUnreadable", {"sysctl"}, texts::kCouldNotIdentifyMapping}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

class StartFaults : public SessionWorld, public ::testing::WithParamInterface<NamedFault> {};

TEST_P(StartFaults, AreNamedAndGoneAfterTheNextAttempt) {
  plug("kb1");
  world.launch();
  world.recorder().add(GetParam().fault);
  session = KeyboardSession::create(world.process()->platform(), registryID("kb1"), "ID", {});
  session->start();
  EXPECT_EQ(session->errorSummary(), GetParam().text);
  EXPECT_EQ(world.ledValue("kb1"), std::nullopt);

  session->reconcile();
  advance(1);
  tap("kb1", kCapsLock);
  EXPECT_EQ(mapping("kb1"), numeric_mode_mapping());
  EXPECT_EQ(session->errorSummary(), "");
}

// clang-format off
constexpr int32_t kExclusive = static_cast<int32_t>(kIOReturnExclusiveAccess);
constexpr int32_t kNotPermitted = static_cast<int32_t>(kIOReturnNotPermitted);

INSTANTIATE_TEST_SUITE_P(
    FaultTexts, StartFaults,
    ::testing::Values(
        NamedFault{"MatchNotAllocated", {"CFDictionaryCreateMutable"},
                   texts::kCouldNotAllocateMatch},
        NamedFault{"ManagerNotCreated", {"IOHIDManagerCreate"}, texts::kCouldNotCreateManager},
        NamedFault{"ManagerOpenFails", {"IOHIDManagerOpen", 0, 1, kNotResponding},
                   "HID manager open failed (0xe00002ed)."},
        NamedFault{"KeyboardHeldByAnotherApp", {"IOHIDManagerOpen", 0, 1, kExclusive},
                   texts::kExclusivelyHeld},
        NamedFault{"AccessRefusedAtOpen", {"IOHIDManagerOpen", 0, 1, kNotPermitted},
                   texts::kPermissionRequired},
        NamedFault{"EnumerationBufferNotAllocated", {"malloc"}, texts::kCouldNotEnumerate},
        NamedFault{"DeviceOpenFails", {"IOHIDDeviceOpen", 0, 1, kNotResponding},
                   "Could not open the keyboard HID device (0xe00002ed)."}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace padwarden::testing
