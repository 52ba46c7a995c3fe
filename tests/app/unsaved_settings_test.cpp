// A preferences store that cannot save (folder not writable, the file replaced by a link, disk
// full): the keyboard is never changed without a verified record; when nothing of Padwarden's
// is on it, a disable and a quit complete; the user is told once where the settings fail.
#include <algorithm>

#include "tests/app/app_world.h"

namespace padwarden::testing {
namespace {

constexpr const char* kNotice =
    "Padwarden cannot save its settings in "
    "/Users/user/Library/Preferences/app.padwarden.Padwarden.plist.";
constexpr const char* kCouldNotSave =
    "Could not save the keyboard mapping recovery record; the mapping was not changed.";

class UnsavedSettings : public AppWorld {
 public:
  void storeFails() { world.recorder().failAlways("CFPreferencesAppSynchronize"); }
  size_t notices() {
    return static_cast<size_t>(
        std::count(desktop().systemLog.begin(), desktop().systemLog.end(), kNotice));
  }
};

TEST_F(UnsavedSettings, FromTheStartNothingChangesAndDisableAndQuitComplete) {
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  plug("kb1", own);
  storeFails();
  startReady();

  ASSERT_EQ(choose("Logical Num Lock"), sim::MenuChoice::Chosen);
  EXPECT_EQ(mapping("kb1"), own) << "never changed without a verified record";
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_EQ(title(kMappingLine), "Mapping: waiting for controller sync");
  EXPECT_EQ(toolTip(kMappingLine), std::string(kCouldNotSave) + " " + kNotice);
  for (int press = 0; press < 3; ++press) tap("kb1", kKeypad4);
  EXPECT_EQ(mapping("kb1"), own);
  EXPECT_EQ(notices(), 1u) << "told once, not at every key";

  ASSERT_EQ(choose("Disable keypad handling"), sim::MenuChoice::Chosen);
  EXPECT_EQ(title(kEnableLine), "Enable keypad handling");
  ASSERT_EQ(choose("Enable keypad handling"), sim::MenuChoice::Chosen);
  EXPECT_EQ(title(kEnableLine), "Disable keypad handling");

  ASSERT_EQ(choose("Quit Padwarden"), sim::MenuChoice::Chosen);
  EXPECT_FALSE(running()) << "nothing of Padwarden's to restore: the quit completes";
  EXPECT_EQ(mapping("kb1"), own);
}

// With Padwarden's mapping on the keyboard, even taking it off needs a record that reads back
// from the store: the quit waits, the keypad keeps navigating, and the user is told where the
// settings fail. Once the store works again (space freed, say), the keyboard's own mapping comes
// back and the quit completes by itself.
TEST_F(UnsavedSettings, MidSessionTheQuitWaitsForTheStore) {
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  plug("kb1", own);
  startReady();
  ASSERT_EQ(choose("Logical Num Lock"), sim::MenuChoice::Chosen);
  ASSERT_EQ(mapping("kb1"), navigation_mapping());
  ASSERT_TRUE(storedLease("kb1"));
  EXPECT_EQ(toolTip(kMappingLine), std::nullopt);

  storeFails();
  ASSERT_EQ(choose("Quit Padwarden"), sim::MenuChoice::Chosen);
  advance(10 * kReconcileTimerInterval);
  EXPECT_TRUE(running());
  EXPECT_EQ(mapping("kb1"), navigation_mapping());
  EXPECT_EQ(title(kEnableLine), "Stopping Padwarden...");
  EXPECT_EQ(title(kMappingLine), "Mapping: restore retry pending");
  EXPECT_EQ(toolTip(kMappingLine), std::string(kCouldNotSave) + " " + kNotice);
  EXPECT_TRUE(storedLease("kb1"));
  EXPECT_EQ(notices(), 1u);

  world.recorder().clearFaults();
  advance(kReconcileTimerInterval);
  EXPECT_FALSE(running());
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_EQ(mapping("kb1"), own);
}

}  // namespace
}  // namespace padwarden::testing
