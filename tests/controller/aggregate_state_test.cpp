// Stories of the controller's one face over many keyboards: the fallback with none, mixed
// states, toggling, and disable and stop waiting for the keyboard that is still busy.
#include "controller/controller_texts.h"
#include "session/key_mapping.h"
#include "tests/controller/controller_world.h"

namespace padwarden::testing {
namespace {

namespace texts = controller_texts;

class AggregateState : public ControllerWorld {};

TEST_F(AggregateState, WithoutKeyboardsTheFallbackIsShownAndToggled) {
  start();
  EXPECT_EQ(controller->connectionSummary(), texts::kNoKeyboard);
  EXPECT_FALSE(controller->isConnected());
  EXPECT_FALSE(controller->isReady()) << "no keyboard is never ready";
  EXPECT_FALSE(controller->isMappingSynchronized());
  EXPECT_TRUE(controller->logicalNumLockOn());

  const int before = statusCalls;
  controller->toggleLogicalNumLock();
  EXPECT_FALSE(controller->logicalNumLockOn());
  EXPECT_FALSE(controller->effectiveNumericMode());
  EXPECT_GT(statusCalls, before) << "the menu must learn of the flip";
  EXPECT_FALSE(onDisk("LogicalNumLockOn")) << "the fallback is never stored";

  // Disabling with nothing to clean up completes at once, and toggling is then ignored.
  controller->setEnabled(false);
  EXPECT_FALSE(controller->isEnabled());
  EXPECT_FALSE(controller->isDisablePending());
  controller->toggleLogicalNumLock();
  EXPECT_FALSE(controller->logicalNumLockOn());
}

TEST_F(AggregateState, MixedKeyboardsAgreeAfterOneToggleThatLeavesTheOnOneAlone) {
  plug("kb1");
  plug("kb2");
  world.disk().values.insert_or_assign(
      "LogicalNumLockOn." + serial_identity(sim::usb_keyboard("kb2")), false);
  start();
  ASSERT_EQ(controller->sessions().size(), 2u);
  EXPECT_TRUE(controller->isConnected());
  wake("kb1");
  EXPECT_FALSE(controller->isReady()) << "ready means every keyboard is ready";
  EXPECT_FALSE(controller->isMappingSynchronized());
  wake("kb2");
  EXPECT_TRUE(controller->isReady());
  EXPECT_TRUE(controller->isMappingSynchronized());

  // The first keyboard in the table (the older registry ID) speaks for the others.
  EXPECT_LT(registryID("kb1"), registryID("kb2"));
  EXPECT_TRUE(controller->logicalNumLockOn());
  EXPECT_TRUE(controller->logicalStateMixed());

  const std::shared_ptr<KeyboardSession> kb1 = session("kb1");
  controller->toggleLogicalNumLock();
  step();
  EXPECT_TRUE(kb1->logicalNumLockOn());
  EXPECT_TRUE(session("kb2")->logicalNumLockOn());
  EXPECT_FALSE(controller->logicalStateMixed());
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  EXPECT_EQ(mapping("kb2"), numeric_mapping());
  EXPECT_EQ(world.ledValue("kb2"), 1);

  // Shift on one keyboard changes only that keyboard's effective mode.
  press("kb2", kLeftShift);
  EXPECT_FALSE(controller->logicalStateMixed());
  EXPECT_TRUE(controller->effectiveNumericMode()) << "the first keyboard speaks";
  EXPECT_TRUE(controller->effectiveModeMixed());
  release("kb2", kLeftShift);
  EXPECT_FALSE(controller->effectiveModeMixed());

  // A keypad key held while toggling defers that keyboard's mapping, and only that one's.
  press("kb2", kKeypad4);
  controller->toggleLogicalNumLock();
  step();
  EXPECT_TRUE(controller->isMappingDeferred());
  EXPECT_FALSE(controller->isMappingSynchronized());
  EXPECT_EQ(mapping("kb1"), navigation_mapping());
  EXPECT_EQ(mapping("kb2"), numeric_mapping());
  release("kb2", kKeypad4);
  EXPECT_FALSE(controller->isMappingDeferred());
  EXPECT_EQ(mapping("kb2"), navigation_mapping());
}

TEST_F(AggregateState, DisableWaitsForHeldKeypadKeyAndRefusesEnableMeanwhile) {
  plug("kb1", user_mapping(kCapsLock, 0xE0));
  plug("kb2");
  start();
  wake("kb1");
  wake("kb2");
  press("kb2", kKeypad8);

  controller->setEnabled(false);
  step();
  EXPECT_TRUE(controller->isEnabled()) << "still enabled until the last restore";
  EXPECT_TRUE(controller->isDisablePending());
  EXPECT_TRUE(controller->isCleanupPending());
  EXPECT_EQ(mapping("kb1"), user_mapping(kCapsLock, 0xE0)) << "the idle keyboard restores now";
  EXPECT_EQ(mapping("kb2"), numeric_mapping());
  EXPECT_FALSE(onDisk("Enabled")) << "stored only once the disable completes";

  // Refused, and the user is told why, even though a keyboard has an error of its own.
  ASSERT_FALSE(session("kb2")->errorSummary().empty());
  controller->setEnabled(true);
  step();
  EXPECT_EQ(controller->errorSummary(),
            "Finish pending keyboard mapping cleanup before enabling handling.");
  EXPECT_TRUE(controller->isDisablePending());
  EXPECT_FALSE(session("kb1")->isEnabled()) << "the refused enable reached no keyboard";

  const int before = statusCalls;
  release("kb2", kKeypad8);
  EXPECT_FALSE(controller->isEnabled());
  EXPECT_FALSE(controller->isDisablePending());
  EXPECT_GT(statusCalls, before);
  EXPECT_EQ(mapping("kb2"), plist::Value(plist::Array{}));
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_FALSE(storedLease("kb2"));
  world.exit();
  EXPECT_EQ(onDisk("Enabled"), plist::Value(false));

  // Stored, the disable holds across launches, and an enable then reaches every keyboard.
  controller.reset();
  start();
  wake("kb1");
  EXPECT_FALSE(controller->isEnabled());
  EXPECT_FALSE(session("kb1")->isEnabled());
  controller->setEnabled(true);
  step();
  wake("kb1");
  wake("kb2");
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  EXPECT_EQ(mapping("kb2"), numeric_mapping());
  world.exit();
  EXPECT_EQ(onDisk("Enabled"), plist::Value(true));
}

TEST_F(AggregateState, StopWaitsForTheBusyKeyboardOnlyAndThenHoldsForGood) {
  plug("kb1");
  plug("kb2", user_mapping(kCapsLock, 0xE0));
  start();
  wake("kb1");
  wake("kb2");
  press("kb1", kKeypad5);

  // The first keyboard's refusal must not keep the others from restoring.
  EXPECT_FALSE(controller->stop());
  EXPECT_TRUE(controller->isStopPending());
  EXPECT_EQ(mapping("kb2"), user_mapping(kCapsLock, 0xE0));
  EXPECT_EQ(mapping("kb1"), numeric_mapping());

  const int before = statusCalls;
  release("kb1", kKeypad5);
  EXPECT_TRUE(controller->isStopped());
  EXPECT_FALSE(controller->isStopPending());
  EXPECT_GT(statusCalls, before) << "the application learns that the stop completed";
  EXPECT_EQ(controller->connectionSummary(), texts::kStopped);
  EXPECT_TRUE(controller->sessions().empty());
  EXPECT_FALSE(mapping_is_ours(mapping("kb1")));

  // No timer, no start, no reconcile, no enable.
  advance(10);
  controller->start();
  controller->reconcile();
  controller->setEnabled(false);
  step();
  EXPECT_TRUE(controller->sessions().empty());
  EXPECT_TRUE(controller->isEnabled());
}

}  // namespace
}  // namespace padwarden::testing
