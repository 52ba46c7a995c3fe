// The controller's guards that the menu never lets a user reach (the two-keyboard story is the
// desk script two_keyboards.pw): the fallback Num Lock is never stored, an enable during a
// pending disable is refused with its reason, and a stopped controller stays stopped.
#include "controller/controller_texts.h"
#include "session/key_mapping.h"
#include "tests/controller/controller_world.h"

namespace padwarden::testing {
namespace {

namespace texts = controller_texts;

class AggregateState : public ControllerWorld {};

TEST_F(AggregateState, WithoutKeyboardsTheFallbackIsShownAndToggledButNeverStored) {
  start();
  EXPECT_EQ(controller->connectionSummary(), texts::kNoKeyboard);
  EXPECT_FALSE(controller->isReady()) << "no keyboard is never ready";
  const int before = statusCalls;
  controller->toggleLogicalNumLock();
  EXPECT_FALSE(controller->logicalNumLockOn());
  EXPECT_GT(statusCalls, before) << "the menu must learn of the flip";
  EXPECT_FALSE(onDisk("LogicalNumLockOn"));
  controller->setEnabled(false);
  EXPECT_FALSE(controller->isDisablePending()) << "nothing to clean up: done at once";
  controller->toggleLogicalNumLock();
  EXPECT_FALSE(controller->logicalNumLockOn()) << "ignored while disabled";
}

TEST_F(AggregateState, EnableDuringAPendingDisableIsRefusedWithItsReason) {
  plug("kb1", user_mapping(kCapsLock, 0xE0));
  plug("kb2");
  start();
  wake("kb1");
  wake("kb2");
  press("kb2", kKeypad8);
  controller->setEnabled(false);
  step();
  EXPECT_TRUE(controller->isDisablePending());
  EXPECT_FALSE(onDisk("Enabled")) << "stored only once the disable completes";

  // Refused, and the user is told why, even though a keyboard has an error of its own.
  ASSERT_FALSE(session("kb2")->errorSummary().empty());
  controller->setEnabled(true);
  step();
  EXPECT_EQ(controller->errorSummary(), texts::kFinishCleanupFirst);
  EXPECT_FALSE(session("kb1")->isEnabled()) << "the refused enable reached no keyboard";
  const int before = statusCalls;
  release("kb2", kKeypad8);
  EXPECT_FALSE(controller->isEnabled());
  EXPECT_GT(statusCalls, before);
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
  EXPECT_EQ(mapping("kb2"), user_mapping(kCapsLock, 0xE0));
  const int before = statusCalls;
  release("kb1", kKeypad5);
  EXPECT_TRUE(controller->isStopped());
  EXPECT_GT(statusCalls, before) << "the application learns that the stop completed";
  EXPECT_TRUE(controller->sessions().empty());

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
