// A keyboard that holds a value equal to one of the program's mappings, set by somebody else,
// at a moment only a session shows (the plain stories, each mapping in each mode and a
// disabled Padwarden that never touches it, are told by the desk's equal_to_padwardens.pw).
#include "session/lease_record.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

class EqualToOurs : public SessionWorld {};

// Found by the randomized simulation: the original was back, read back, but the deletion of
// the record read back wrong. Another program then set a value equal to the navigation
// mapping, and the retry took it for the program's own and wrote the original over it.
TEST_F(EqualToOurs, RestoredKeyboardWhoseRecordStayedIsNotTakenBackByTheRetry) {
  startInNavigation("kb1");
  // The disable's record check reads once, then its deletion reads back something else.
  world.recorder().add({"CFPreferencesCopyAppValue", 1, 1});
  session->setEnabled(false);
  step();
  ASSERT_TRUE(session->isDisablePending());
  EXPECT_EQ(mapping("kb1"), plist::Value(plist::Array{}));

  otherPartySets("kb1", navigation_mode_mapping());
  programWrites.clear();
  advance(kReconcileTimerInterval);
  EXPECT_FALSE(session->isDisablePending());
  EXPECT_TRUE(programWrites.empty());
  EXPECT_EQ(mapping("kb1"), navigation_mode_mapping());
  EXPECT_FALSE(storedLease("kb1"));
}

}  // namespace
}  // namespace padwarden::testing
