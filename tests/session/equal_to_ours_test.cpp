// Stories of a keyboard that holds a value equal to one of the program's mappings, set by
// somebody else: where no record stands it is the keyboard's own mapping, captured and given
// back exactly, and a disabled session never touches it.
#include "session/lease_record.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

class EqualToOurs : public SessionWorld {};

// Each of the program's two mappings as another program's value, in each keypad mode.
TEST_F(EqualToOurs, IsTheKeyboardsOwnAndComesBackExactly) {
  struct Row {
    const char* what;
    bool foreignNumeric;
    bool toggleToNavigation;
  };
  for (const Row& row : {Row{"numeric value, numeric mode", true, false},
                         Row{"numeric value, navigation mode", true, true},
                         Row{"navigation value, numeric mode", false, false},
                         Row{"navigation value, navigation mode", false, true}}) {
    SCOPED_TRACE(row.what);
    const plist::Value foreign = row.foreignNumeric ? numeric_mapping() : navigation_mapping();
    plug("kb1", foreign);
    startSession("kb1");
    tap("kb1", kCapsLock);
    if (row.toggleToNavigation) tap("kb1", kNumLock);
    const std::optional<plist::Value> lease = storedLease("kb1");
    ASSERT_TRUE(lease);
    EXPECT_EQ(*lease->find(kLeaseOriginalMappingKey), foreign) << "recorded as the original";

    session->setEnabled(false);
    step();
    EXPECT_TRUE(session->isMappingSynchronized());
    EXPECT_EQ(mapping("kb1"), foreign);
    EXPECT_FALSE(storedLease("kb1"));
    crash();
    world.unplug("kb1");
    world.disk().values.clear();
  }
}

// With handling disabled the program writes neither a mapping nor a record, from attachment to
// the stop.
TEST_F(EqualToOurs, DisabledSessionWritesNothing) {
  world.disk().values.insert_or_assign("Enabled", false);
  plug("kb1", numeric_mapping());
  startSession("kb1");
  tap("kb1", kCapsLock);
  tap("kb1", kNumLock);
  advance(12);
  EXPECT_TRUE(session->stop());
  step();
  EXPECT_TRUE(programWrites.empty());
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  EXPECT_FALSE(storedLease("kb1"));
  for (const sim::Call& call : world.recorder().trace()) {
    EXPECT_FALSE(call.op == "CFPreferencesSetAppValue" &&
                 call.detail.find("(remove)") == std::string::npos)
        << "saved " << call.detail;
  }
}

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

  otherPartySets("kb1", navigation_mapping());
  programWrites.clear();
  advance(kReconcileTimerInterval);
  EXPECT_FALSE(session->isDisablePending());
  EXPECT_TRUE(programWrites.empty());
  EXPECT_EQ(mapping("kb1"), navigation_mapping());
  EXPECT_FALSE(storedLease("kb1"));
}

}  // namespace
}  // namespace padwarden::testing
