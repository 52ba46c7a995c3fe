// Stories of keyboards the session must not take over as they are: a mapping it cannot read
// safely, a Num Lock LED it cannot name, an event service it cannot tell apart.
#include "session/session_texts.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

namespace texts = session_texts;

class AttachmentRetries : public SessionWorld {
 protected:
  void expectRetriedEverySecond() {
    const size_t attempts = callsTo("IOHIDManagerCopyDevices");
    advance(0.99);
    EXPECT_EQ(callsTo("IOHIDManagerCopyDevices"), attempts);
    advance(0.01);
    EXPECT_GT(callsTo("IOHIDManagerCopyDevices"), attempts);
  }
};

struct MalformedMapping {
  const char* name;
  plist::Value value;
};

class MalformedMappings : public AttachmentRetries,
                          public ::testing::WithParamInterface<MalformedMapping> {};

TEST_P(MalformedMappings, AreNeverWrittenAndAttachmentRetriesEverySecond) {
  plug("kb1", GetParam().value);
  startSession("kb1");
  EXPECT_EQ(session->errorSummary(), texts::kUnexpectedMappingType);
  EXPECT_EQ(session->connectionSummary(), texts::kNotConnected);
  expectRetriedEverySecond();
  tap("kb1", kKeypad8);
  advance(3);
  EXPECT_TRUE(programWrites.empty());
  EXPECT_EQ(mapping("kb1"), GetParam().value);

  // Once somebody puts a readable mapping there, the next attempt attaches.
  otherPartySets("kb1", user_mapping(kCapsLock, 0xE0));
  advance(1);
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForReport);
  tap("kb1", kCapsLock);
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
}

plist::Value entry_with(plist::Value src) {
  return plist::Dictionary{{"HIDKeyboardModifierMappingSrc", std::move(src)},
                           {"HIDKeyboardModifierMappingDst", int64_t{0x700000004}}};
}

const plist::Value kDestinationOnly =
    plist::Array{plist::Dictionary{{"HIDKeyboardModifierMappingDst", int64_t{0x700000004}}}};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Attachment, MalformedMappings,
    ::testing::Values(
        MalformedMapping{"Dictionary", plist::Dictionary{{"HIDKeyboardModifierMappingSrc", 1}}},
        MalformedMapping{"FloatEntry", plist::Array{entry_with(30064771129.0)}},
        MalformedMapping{"StringEntry", plist::Array{entry_with("0x700000039")}},
        MalformedMapping{"MissingSource", kDestinationOnly},
        MalformedMapping{"NumberNotArray", 42}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

class NumLockLEDs : public AttachmentRetries, public ::testing::WithParamInterface<size_t> {};

TEST_P(NumLockLEDs, OtherThanExactlyOneMeansTheKeyboardIsNotAttached) {
  plug(sim::usb_keyboard("kb1").withNumLockLEDs(GetParam()), std::nullopt);
  startSession("kb1");
  EXPECT_EQ(session->errorSummary(), texts::kLedNotFound);
  EXPECT_FALSE(session->isConnected());
  expectRetriedEverySecond();
  tap("kb1", kCapsLock);
  advance(2);
  EXPECT_FALSE(mapping("kb1"));
  EXPECT_FALSE(world.ledValue("kb1"));
}

INSTANTIATE_TEST_SUITE_P(Attachment, NumLockLEDs, ::testing::Values(0u, 2u),
                         [](const auto& info) { return info.param ? "TwoElements" : "NoElement"; });

class AttachmentFailures : public SessionWorld {};

TEST_F(AttachmentFailures, TwoMatchingEventServicesAreNeverToldApart) {
  sim::KeyboardSpec spec = sim::usb_keyboard("kb1");
  spec.services = {sim::EventServiceSpec{}, sim::EventServiceSpec{}};
  plug(spec, std::nullopt);
  startSession("kb1");
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForService);
  const size_t attempts = callsTo("IOHIDEventSystemClientCreateSimpleClient");
  tap("kb1", kCapsLock);
  advance(1);
  EXPECT_EQ(callsTo("IOHIDEventSystemClientCreateSimpleClient"), attempts + 4);
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForService);
  EXPECT_TRUE(programWrites.empty());
  EXPECT_FALSE(world.ledValue("kb1"));
}

// Found by the randomized simulation (seed 1233, mix 6): one service's read failed during the
// look, the other service passed for the only match and was taken; its record named the first
// service and was deleted as stale, while the program's mapping stayed on that first service.
TEST_F(AttachmentFailures, OneOfTwoMatchingServicesUnreadableForAMomentIsNotTakenForNone) {
  sim::KeyboardSpec spec = sim::usb_keyboard("kb1");
  spec.services = {sim::EventServiceSpec{}, sim::EventServiceSpec{}};
  plug(spec, std::nullopt);
  // The first service's "PrimaryUsagePage" read fails once (each service answers "Transport"
  // and "LocationID" before it).
  world.recorder().failNth("IOHIDServiceClientCopyProperty", 3);
  startSession("kb1");
  tap("kb1", kCapsLock);
  advance(1);
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForService);
  EXPECT_TRUE(programWrites.empty());
}

TEST_F(AttachmentFailures, AdoptedMappingOnAKeyboardWhoseLEDVanishedIsRestoredBeforeLettingGo) {
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  plug("kb1", own);
  startSession("kb1");
  tap("kb1", kCapsLock);
  crash();
  // The same keyboard, as the next run finds it, no longer offers its Num Lock LED.
  world.recorder().failAlways("IOHIDDeviceCopyMatchingElements");
  programWrites.clear();
  startSession("kb1");
  EXPECT_EQ(session->errorSummary(), texts::kWaitingForFirstReport);
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  tap("kb1", kCapsLock);
  EXPECT_EQ(mapping("kb1"), own);
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_EQ(session->errorSummary(), texts::kLedNotFound);
  advance(3);
  ASSERT_EQ(programWrites.size(), 1u);
}

}  // namespace
}  // namespace padwarden::testing
