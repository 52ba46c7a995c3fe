// The program's own mapping where the platform said it was not written: it is never taken for
// the keyboard's (values that only resemble the program's mappings are told by the desk's
// lookalikes.pw).
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

class Lookalikes : public SessionWorld {};

// A write of the program's mapping that landed and answered failure, then a record check that
// could not synchronize: the program's mapping was taken for the keyboard's own, the record
// rewritten to name it, and the user's mapping was lost for good.
TEST_F(Lookalikes, LandedWriteThatFailedIsNotTakenForTheKeyboardsOwnLater) {
  plug("kb1", user_mapping(kCapsLock, 0xE0));
  startSession("kb1");
  sim::FaultRule landed{"IOHIDServiceClientSetProperty"};
  landed.lands = true;
  world.recorder().add(landed);
  press("kb1", kCapsLock);
  ASSERT_EQ(mapping("kb1"), numeric_mode_mapping());
  world.recorder().failOnce("CFPreferencesAppSynchronize");
  advance(5);
  release("kb1", kCapsLock);
  advance(5);
  session->setEnabled(false);
  step();
  advance(5);
  EXPECT_EQ(mapping("kb1"), user_mapping(kCapsLock, 0xE0));
  EXPECT_FALSE(storedLease("kb1"));
}

}  // namespace
}  // namespace padwarden::testing
