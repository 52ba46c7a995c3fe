// Input Monitoring withdrawn where only a session shows it: mid-step, found by the write that
// is refused, and before the start (withdrawn with keys held, and a held quit that loses it,
// are told by the desk's access_allowed_again.pw and held_quit.pw).
#include "session/session_texts.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

namespace texts = session_texts;

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
