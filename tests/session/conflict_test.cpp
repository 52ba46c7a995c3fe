// Another program changing the keyboard's mapping while the keypad mapping is ours, at moments
// only a session shows: its value is left alone until the user disables and re-enables
// handling (the plain stories are told by the desk's other_programs.pw).
#include "session/key_mapping.h"
#include "session/lease_record.h"
#include "session/session_texts.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

namespace texts = session_texts;

class Conflict : public SessionWorld {};

// Another program may set its value while the record is being saved: the look after the
// save finds it, and nothing is written over it.
TEST_F(Conflict, ForeignChangeWhileTheRecordIsSavedIsLeftAlone) {
  plug("kb1", user_mapping(kCapsLock, 0xE0));
  startSession("kb1");
  const plist::Value foreign = user_mapping(kKeypad5, 0x1E);
  const auto rulesWatch = world.disk().onSave;
  bool changed = false;
  world.disk().onSave = [&](const plist::Dictionary& before) {
    rulesWatch(before);
    if (!changed) otherPartySets("kb1", foreign);
    changed = true;
  };
  tap("kb1", kCapsLock);
  ASSERT_TRUE(changed);
  EXPECT_EQ(mapping("kb1"), foreign);
  EXPECT_EQ(session->errorSummary(), texts::kMappingConflict);
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_TRUE(programWrites.empty());
}

// The restore's write answered success and was lost, and the look after it told nothing: the
// original is not known to be back, so the record stays until a look shows it.
TEST_F(Conflict, RestoreLostAndUnreadIsNotTakenForDone) {
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  plug("kb1", own);
  startSession("kb1");
  tap("kb1", kCapsLock);
  ASSERT_EQ(mapping("kb1"), numeric_mode_mapping());
  world.recorder().add(
      {"IOHIDServiceClientSetProperty", 0, 1, static_cast<int32_t>(0xE00002BCu), true});
  world.recorder().add({"IOHIDServiceClientCopyProperty", 1, 2});

  session->setEnabled(false);
  step();
  EXPECT_EQ(mapping("kb1"), numeric_mode_mapping());
  EXPECT_TRUE(storedLease("kb1"));
  EXPECT_EQ(session->errorSummary(), texts::kCouldNotRestoreMapping);
  advance(5);
  EXPECT_EQ(mapping("kb1"), own);
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_FALSE(session->isEnabled());
}

}  // namespace
}  // namespace padwarden::testing
