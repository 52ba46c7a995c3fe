// The preferences store on CoreFoundation preferences, under a test application identifier
// of its own: what synchronize saved is what a fresh store reads, deletions included, and
// both interfaces reach the same store.
#include <gtest/gtest.h>

#include "platform/macos/mac_preferences.h"

namespace padwarden::macos {
namespace {

constexpr const char* kTestDomain = "app.padwarden.tests.preferences";
constexpr const char* kLeaseKey = "MappingLease.00000001000002a4";

class MacPreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  void clear() {
    MacAppPreferences store(kTestDomain);
    for (const char* key : {kLeaseKey, "Enabled"})
      store.CFPreferencesSetAppValue(key, std::nullopt);
    store.CFPreferencesAppSynchronize();
  }
};

const plist::Value kLease(plist::Dictionary{
    {"Version", plist::Value(1)},
    {"Original", plist::Value(plist::Array{plist::Value(plist::Dictionary{
                     {"HIDKeyboardModifierMappingSrc", plist::Value(int64_t{0x700000053})},
                     {"HIDKeyboardModifierMappingDst", plist::Value(int64_t{0x700000000})}})})},
    {"Present", plist::Value(true)}});

TEST_F(MacPreferencesTest, WriteSynchronizeReadDeleteReadBackNone) {
  {
    MacAppPreferences writer(kTestDomain);
    writer.CFPreferencesSetAppValue(kLeaseKey, kLease);
    ASSERT_TRUE(writer.CFPreferencesAppSynchronize());
  }
  MacAppPreferences fresh(kTestDomain);
  ASSERT_TRUE(fresh.CFPreferencesAppSynchronize());
  EXPECT_EQ(fresh.CFPreferencesCopyAppValue(kLeaseKey), kLease);

  fresh.CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  ASSERT_TRUE(fresh.CFPreferencesAppSynchronize());
  MacAppPreferences after(kTestDomain);
  ASSERT_TRUE(after.CFPreferencesAppSynchronize());
  EXPECT_FALSE(after.CFPreferencesCopyAppValue(kLeaseKey));
}

TEST_F(MacPreferencesTest, AValueThatCannotBeStoredLeavesTheKeyAsItWas) {
  MacAppPreferences store(kTestDomain);
  store.CFPreferencesSetAppValue(kLeaseKey, kLease);
  ASSERT_TRUE(store.CFPreferencesAppSynchronize());
  // Neither removes the record: the read-back after synchronizing shows the write failed.
  store.CFPreferencesSetAppValue(kLeaseKey, plist::Value::opaque("IOHIDDevice"));
  store.CFPreferencesSetAppValue(kLeaseKey, plist::Value(std::string("\xC3\x28")));
  ASSERT_TRUE(store.CFPreferencesAppSynchronize());
  EXPECT_EQ(store.CFPreferencesCopyAppValue(kLeaseKey), kLease);
}

TEST_F(MacPreferencesTest, DefaultsAndApplicationValuesShareOneStore) {
  MacUserDefaults defaults(kTestDomain);
  EXPECT_FALSE(defaults.objectForKey("Enabled"));
  EXPECT_FALSE(defaults.boolForKey("Enabled"));
  defaults.setBool(false, "Enabled");
  const std::optional<plist::Value> stored = defaults.objectForKey("Enabled");
  ASSERT_TRUE(stored);
  EXPECT_TRUE(stored->isBoolean());
  EXPECT_FALSE(defaults.boolForKey("Enabled"));
  defaults.setBool(true, "Enabled");
  EXPECT_TRUE(defaults.boolForKey("Enabled"));

  MacAppPreferences values(kTestDomain);
  ASSERT_TRUE(values.CFPreferencesAppSynchronize());
  EXPECT_EQ(values.CFPreferencesCopyAppValue("Enabled"), plist::Value(true));
}

}  // namespace
}  // namespace padwarden::macos
