// Stories of a recovery record that cannot be deleted: automatic mapping pauses while the
// record stays, and the reconcile tick retries every five seconds until the deletion holds.
#include <algorithm>

#include "session/lease_record.h"
#include "session/session_texts.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

namespace texts = session_texts;

class LeaseDeletionFails : public SessionWorld {};

TEST_F(LeaseDeletionFails, AfterDisableRestoredTheOriginalTheDisableWaitsForTheDeletion) {
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  plug("kb1", own);
  startSession("kb1");
  tap("kb1", kCapsLock);
  // The first synchronize checks the stored record before the restore; the deletion's fails.
  world.recorder().add({"CFPreferencesAppSynchronize", 1, std::nullopt});

  session->setEnabled(false);
  step();
  EXPECT_EQ(mapping("kb1"), own);
  ASSERT_TRUE(storedLease("kb1")) << "a record naming the original is harmless; keep it";
  EXPECT_EQ(*storedLease("kb1")->find(kLeaseOriginalMappingKey), own);
  EXPECT_EQ(session->errorSummary(), texts::kCouldNotRemoveLease);
  EXPECT_TRUE(session->isEnabled());
  EXPECT_TRUE(session->isCleanupPending());

  // Re-enabling must wait for the cleanup, and the keys change nothing meanwhile.
  session->setEnabled(true);
  EXPECT_EQ(session->errorSummary(), texts::kFinishCleanupFirst);
  tap("kb1", kNumLock);
  advance(5);
  EXPECT_EQ(mapping("kb1"), own);
  EXPECT_TRUE(storedLease("kb1"));

  world.recorder().clearFaults();
  advance(5);
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_FALSE(session->isEnabled());
  EXPECT_FALSE(session->isCleanupPending());
  EXPECT_EQ(session->errorSummary(), "");
  EXPECT_EQ(programWrites.size(), 2u) << "the original went back once";
  world.exit();
  EXPECT_EQ(onDisk("Enabled"), plist::Value(false)) << "the completed disable is stored";
}

// A foreign change gave ownership up while the record could not be deleted. Once a tick has
// deleted it, nothing of the program's is on the keyboard or in the store: a disable completes
// there and then, without another look at the mapping or a second deletion.
TEST_F(LeaseDeletionFails, ConflictWhoseDeletionLandedLetsTheDisableCompleteAtOnce) {
  plug("kb1", user_mapping(kCapsLock, 0xE0));
  startSession("kb1");
  tap("kb1", kCapsLock);
  ASSERT_EQ(mapping("kb1"), numeric_mode_mapping());
  const plist::Value foreign = user_mapping(kKeypad5, 0x1E);
  otherPartySets("kb1", foreign);
  world.recorder().failAlways("CFPreferencesAppSynchronize");
  tap("kb1", kNumLock);
  ASSERT_EQ(session->errorSummary(), texts::kCouldNotRemoveLease);

  session->setEnabled(false);
  EXPECT_TRUE(session->isCleanupPending());
  world.recorder().clearFaults();
  const uint64_t before = world.recorder().callCount();
  advance(5);
  EXPECT_FALSE(session->isEnabled());
  EXPECT_FALSE(session->isCleanupPending());
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_EQ(mapping("kb1"), foreign);
  const std::vector<std::string> ops = world.recorder().opsSince(before);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "CFPreferencesSetAppValue"), 1);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "IOHIDServiceClientCopyProperty"), 0);
}

class RecordRewritten : public SessionWorld {};

// Somebody rewrote the saved record (a preferences backup put back, say) with this boot's and
// this keyboard's identity but another original: the next check finds that it does not name
// the original the program holds and saves it again before anything else (a check that let
// the original pass unread kept the wrong record, which a crash would have restored from).
TEST_F(RecordRewritten, RecordNamingAnotherOriginalIsSavedAgainByTheNextCheck) {
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  startInNavigation("kb1", own);
  world.disk().values.insert_or_assign(leaseKey("kb1"), leaseFor("kb1", user_mapping(0x04, 0x05)));
  advance(kReconcileTimerInterval);
  const std::optional<plist::Value> lease = storedLease("kb1");
  ASSERT_TRUE(lease);
  EXPECT_EQ(*lease, leaseFor("kb1", own));
}

}  // namespace
}  // namespace padwarden::testing
