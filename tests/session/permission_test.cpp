// Stories of Input Monitoring being withdrawn: the mapping goes back at once, even with a
// keypad key held, and the session waits for the permission before starting again.
#include "session/session_texts.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

namespace texts = session_texts;

class PermissionWithdrawn : public SessionWorld, public ::testing::WithParamInterface<bool> {};

TEST_P(PermissionWithdrawn, RestoresAtOnceWithAKeyHeldAndClosesTheManager) {
  const bool noticedByReport = GetParam();
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  plug("kb1", own);
  startSession("kb1");
  tap("kb1", kCapsLock);
  tap("kb1", kNumLock);
  press("kb1", kKeypad4);
  ASSERT_EQ(mapping("kb1"), navigation_mapping());

  world.setPermission(sim::InputMonitoring::Denied);
  const size_t closesBefore = callsTo("IOHIDManagerClose");
  if (noticedByReport) {
    press("kb1", kKeypad8);
  } else {
    advance(5);
  }
  EXPECT_EQ(mapping("kb1"), own) << "waiting for the key would wait without reports";
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForPermission);
  EXPECT_EQ(session->errorSummary(), texts::kPermissionLostRestored);
  EXPECT_EQ(callsTo("IOHIDManagerClose"), closesBefore + 1);
  EXPECT_FALSE(session->isCleanupPending());
  EXPECT_FALSE(session->inputMonitoringGranted());

  // Nothing happens while it stays withdrawn; asking again while it is refused changes nothing.
  advance(10);
  EXPECT_FALSE(session->requestInputMonitoring());
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForPermission);

  world.setPermission(sim::InputMonitoring::UnknownGrantedOnRequest);
  EXPECT_TRUE(session->requestInputMonitoring());
  step();
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForReport);
  EXPECT_EQ(session->errorSummary(), "");
  release("kb1", kKeypad4);
  release("kb1", kKeypad8);
  EXPECT_EQ(mapping("kb1"), navigation_mapping());
  EXPECT_EQ(world.ledValue("kb1"), 0);
}

INSTANTIATE_TEST_SUITE_P(Session, PermissionWithdrawn, ::testing::Values(true, false),
                         [](const auto& info) {
                           return std::string(info.param ? "AtNextReport" : "AtTimerTick");
                         });

// Access can go between a report and the LED write it causes: the write is the first to know.
enum class WithdrawnAt { Attachment, FirstReport, NumLockPress, LEDResync };

class AccessWithdrawnMidStep : public SessionWorld,
                               public ::testing::WithParamInterface<WithdrawnAt> {
 protected:
  // The next LED writes after `skip` more are refused for lack of access.
  void refuseLEDWrites(uint64_t skip) {
    world.recorder().add(
        {"IOHIDDeviceSetValue", skip, std::nullopt, static_cast<int32_t>(kIOReturnNotPermitted)});
  }
  // Brings kb1 to the moment, arming the refusal.
  void reach(WithdrawnAt moment) {
    if (moment == WithdrawnAt::Attachment) refuseLEDWrites(0);
    if (moment == WithdrawnAt::FirstReport) refuseLEDWrites(1);
    startSession("kb1");
    if (moment == WithdrawnAt::Attachment) return;
    tap("kb1", kCapsLock);
    if (moment == WithdrawnAt::NumLockPress) refuseLEDWrites(0);
    // A press whose LED write failed leaves the LED to be set again at the next report, here
    // the release.
    if (moment == WithdrawnAt::LEDResync) {
      world.recorder().failOnce("IOHIDDeviceSetValue");
      refuseLEDWrites(1);
    }
    if (moment != WithdrawnAt::FirstReport) tap("kb1", kNumLock);
  }
};

TEST_P(AccessWithdrawnMidStep, PutsTheOwnMappingBackAndWaitsForAccess) {
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  plug("kb1", own);
  reach(GetParam());
  step();
  EXPECT_EQ(mapping("kb1"), own);
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForPermission);

  // Access was never really gone: asking again brings the keyboard back.
  world.recorder().clearFaults();
  EXPECT_TRUE(session->requestInputMonitoring());
  step();
  tap("kb1", kCapsLock);
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  EXPECT_EQ(session->errorSummary(), "");
}

std::string moment_name(const ::testing::TestParamInfo<WithdrawnAt>& info) {
  const char* const names[] = {"AtAttachment", "AtTheFirstReport", "AtANumLockPress",
                               "AtTheLEDResync"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Session, AccessWithdrawnMidStep,
                         ::testing::Values(WithdrawnAt::Attachment, WithdrawnAt::FirstReport,
                                           WithdrawnAt::NumLockPress, WithdrawnAt::LEDResync),
                         moment_name);

class StopHeldBack : public SessionWorld {};

// A quit held back by a keypad key, then the permission goes: the restore no longer waits for
// the key, and what completes is still the stop (turned into a permission reset, the quit
// waited for ever).
TEST_F(StopHeldBack, StaysAStopWhenThePermissionGoes) {
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  startInNavigation("kb1", own);
  press("kb1", kKeypad4);
  ASSERT_FALSE(session->stop());
  world.setPermission(sim::InputMonitoring::Denied);
  advance(5);
  EXPECT_EQ(mapping("kb1"), own);
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_TRUE(session->isStopped());
  EXPECT_EQ(session->connectionSummary(), texts::kStopped);
}

class PermissionAtStart : public SessionWorld {};

TEST_F(PermissionAtStart, WaitsWithoutCreatingAManager) {
  plug("kb1");
  world.setPermission(sim::InputMonitoring::Denied);
  startSession("kb1");
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForPermission);
  EXPECT_EQ(session->errorSummary(), texts::kPermissionRequiredToStart);
  EXPECT_EQ(callsTo("IOHIDManagerCreate"), 0u);
}

}  // namespace
}  // namespace padwarden::testing
