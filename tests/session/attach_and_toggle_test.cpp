// Stories of a keyboard's everyday life: attachment, Num Lock presses, held keys and Shift.
#include "session/session_texts.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

namespace texts = session_texts;

class AttachAndToggle : public SessionWorld {};

TEST_F(AttachAndToggle, FirstReportInstallsNumericMappingThenNumLockSwitchesToNavigation) {
  plugKeyboard("kb1");
  startSession("kb1");
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForReport);
  EXPECT_EQ(world.ledValue("kb1"), 1) << "attachment shows the stored state (on by default)";
  EXPECT_FALSE(mapping("kb1"));

  // The first report (a harmless key) initialises the state and installs the numeric mapping.
  tap("kb1", kCapsLock);
  EXPECT_EQ(session->connectionSummary(), texts::kConnected);
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  ASSERT_TRUE(storedLease("kb1"));
  EXPECT_TRUE(session->isReady());
  EXPECT_TRUE(session->isMappingSynchronized());
  EXPECT_EQ(typed("kb1"), "+CapsLock -CapsLock");

  // Num Lock: LED off, state stored per keyboard, navigation mapping installed.
  press("kb1", kNumLock);
  EXPECT_EQ(world.ledValue("kb1"), 0);
  EXPECT_FALSE(session->logicalNumLockOn());
  release("kb1", kNumLock);
  EXPECT_EQ(mapping("kb1"), navigation_mapping());
  EXPECT_EQ(typed("kb1"), "") << "the Num Lock key itself types nothing";

  tap("kb1", kKeypad8);
  tap("kb1", kKeypad5);
  EXPECT_EQ(typed("kb1"), "+Up -Up");

  // Holding Num Lock (auto-repeat sends the same report again) toggles once.
  press("kb1", kNumLock);
  press("kb1", kCapsLock);
  release("kb1", kCapsLock);
  release("kb1", kNumLock);
  EXPECT_TRUE(session->logicalNumLockOn());
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  tap("kb1", kKeypad8);
  EXPECT_EQ(typed("kb1"), "+CapsLock -CapsLock +KP8 -KP8");

  // The state is remembered across restarts of the program.
  world.exit();
  session.reset();
  EXPECT_EQ(world.disk().values.at("LogicalNumLockOn.ID"), plist::Value(true));
}

TEST_F(AttachAndToggle, NumLockWhileKeypadKeyHeldDefersTheMappingUntilRelease) {
  plugKeyboard("kb1");
  startSession("kb1");
  tap("kb1", kCapsLock);
  ASSERT_EQ(mapping("kb1"), numeric_mapping());

  press("kb1", kKeypad4);
  tap("kb1", kNumLock);
  EXPECT_EQ(world.ledValue("kb1"), 0) << "the LED changes at once";
  EXPECT_EQ(mapping("kb1"), numeric_mapping()) << "the mapping waits for the keypad";
  EXPECT_TRUE(session->isMappingDeferred());
  release("kb1", kKeypad4);
  EXPECT_EQ(mapping("kb1"), navigation_mapping());
  EXPECT_FALSE(session->isMappingDeferred());

  // Shift inverts the mode while held; the mapping follows only with the keypad free.
  press("kb1", kKeypad8);
  press("kb1", kLeftShift);
  EXPECT_TRUE(session->effectiveNumericMode());
  EXPECT_EQ(mapping("kb1"), navigation_mapping());
  release("kb1", kKeypad8);
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  release("kb1", kLeftShift);
  EXPECT_EQ(mapping("kb1"), navigation_mapping());
  EXPECT_FALSE(session->logicalNumLockOn());
}

TEST_F(AttachAndToggle, UsersOwnMappingIsTheOriginalAndComesBackExactlyOnDisable) {
  plugKeyboard("kb1", user_mapping(kCapsLock, 0xE0));
  startSession("kb1");
  tap("kb1", kCapsLock);
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  EXPECT_EQ(typed("kb1"), "+LeftControl -CapsLock") << "the first press came before the change";
  tap("kb1", kCapsLock);
  EXPECT_EQ(typed("kb1"), "+CapsLock -CapsLock") << "the user's entry has no effect meanwhile";
  ASSERT_TRUE(storedLease("kb1"));
  EXPECT_EQ(*storedLease("kb1")->find("OriginalMapping"), user_mapping(kCapsLock, 0xE0));

  session->setEnabled(false);
  step();
  EXPECT_EQ(mapping("kb1"), user_mapping(kCapsLock, 0xE0));
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_FALSE(session->isEnabled());
  tap("kb1", kCapsLock);
  EXPECT_EQ(typed("kb1"), "+LeftControl -LeftControl");
}

TEST_F(AttachAndToggle, DisableAndStopWaitForHeldKeypadKey) {
  plugKeyboard("kb1");
  startSession("kb1");
  tap("kb1", kCapsLock);
  press("kb1", kKeypad4);

  session->setEnabled(false);
  step();
  EXPECT_EQ(session->errorSummary(), texts::kReleaseHeldKey);
  EXPECT_TRUE(session->isEnabled());
  EXPECT_TRUE(session->isDisablePending());
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  release("kb1", kKeypad4);
  EXPECT_FALSE(session->isEnabled());
  EXPECT_FALSE(session->isCleanupPending());
  EXPECT_EQ(session->errorSummary(), "");
  EXPECT_EQ(mapping("kb1"), plist::Value(plist::Array{}));
  EXPECT_FALSE(storedLease("kb1"));
  world.exit();
  EXPECT_EQ(world.disk().values.at("Enabled"), plist::Value(false));
}

TEST_F(AttachAndToggle, StopWaitsForHeldKeyThenCompletes) {
  plugKeyboard("kb1");
  startSession("kb1");
  tap("kb1", kCapsLock);
  press("kb1", kKeypad8);
  EXPECT_FALSE(session->stop());
  EXPECT_TRUE(session->isStopPending());
  step();
  release("kb1", kKeypad8);
  EXPECT_TRUE(session->isStopped());
  EXPECT_EQ(session->connectionSummary(), texts::kStopped);
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_TRUE(session->stop()) << "a second stop changes nothing";
}

TEST_F(AttachAndToggle, StopOfIdleSessionCompletesAtOnce) {
  plugKeyboard("kb1");
  startSession("kb1");
  EXPECT_TRUE(session->stop());
  EXPECT_EQ(session->connectionSummary(), texts::kStopped);
}

}  // namespace
}  // namespace padwarden::testing
