// Stories of a keyboard unplugged with the keypad mapping installed: its service is gone, so
// nothing is written; only the recovery record goes, and the session may go once it has.
#include "session/session_texts.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

namespace texts = session_texts;

class Unplug : public SessionWorld {
 protected:
  void attachWithNavigation() {
    // The built-in keyboard keeps the manager's device set from being empty, which the
    // platform reports as no set at all.
    plug(sim::builtin_keyboard("builtin"), std::nullopt);
    startInNavigation("kb1", user_mapping(kCapsLock, 0xE0));
    key = leaseKey("kb1");
    ASSERT_TRUE(world.disk().values.count(key));
    programWrites.clear();
    world.recorder().clearTrace();
  }
  std::string key;
};

TEST_F(Unplug, DeletesTheLeaseWithoutWritingAndLetsTheSessionGo) {
  attachWithNavigation();
  ASSERT_TRUE(world.unplug("kb1"));
  step();
  EXPECT_EQ(callsTo("IOHIDServiceClientSetProperty"), 0u);
  EXPECT_TRUE(programWrites.empty());
  EXPECT_FALSE(world.disk().values.count(key));
  EXPECT_EQ(session->connectionSummary(), texts::kSupportedNotConnected);
  EXPECT_EQ(session->errorSummary(), "");
  EXPECT_TRUE(session->deviceRemoved());
  EXPECT_FALSE(session->isConnected());
}

TEST_F(Unplug, HeldKeypadKeyDoesNotDelayTheRelease) {
  attachWithNavigation();
  press("kb1", kKeypad8);
  ASSERT_TRUE(world.unplug("kb1"));
  EXPECT_TRUE(session->deviceRemoved()) << "the discovery may notice before the callback";
  step();
  EXPECT_FALSE(world.disk().values.count(key));
  EXPECT_TRUE(programWrites.empty());
}

TEST_F(Unplug, FailedDeletionKeepsTheSessionUntilATickSucceeds) {
  attachWithNavigation();
  world.recorder().failAlways("CFPreferencesAppSynchronize");
  ASSERT_TRUE(world.unplug("kb1"));
  step();
  EXPECT_FALSE(session->deviceRemoved());
  EXPECT_TRUE(world.disk().values.count(key));
  EXPECT_EQ(session->errorSummary(), texts::kCouldNotRemoveLease);
  advance(5);
  EXPECT_FALSE(session->deviceRemoved());

  world.recorder().clearFaults();
  advance(5);
  EXPECT_FALSE(world.disk().values.count(key));
  EXPECT_EQ(session->errorSummary(), "");
  EXPECT_TRUE(session->deviceRemoved());
  EXPECT_EQ(callsTo("IOHIDServiceClientSetProperty"), 0u);
}

}  // namespace
}  // namespace padwarden::testing
