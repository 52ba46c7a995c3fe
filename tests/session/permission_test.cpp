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
  plugKeyboard("kb1", own);
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

class PermissionAtStart : public SessionWorld {};

TEST_F(PermissionAtStart, WaitsWithoutCreatingAManager) {
  plugKeyboard("kb1");
  world.setPermission(sim::InputMonitoring::Denied);
  startSession("kb1");
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForPermission);
  EXPECT_EQ(session->errorSummary(), texts::kPermissionRequiredToStart);
  EXPECT_EQ(callsTo("IOHIDManagerCreate"), 0u);
}

}  // namespace
}  // namespace padwarden::testing
