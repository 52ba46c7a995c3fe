// Stories of a run that died with the keypad mapping installed, and of recovery records that
// must not be trusted: a later run restores only from a lease made for this very service.
#include "session/lease_record.h"
#include "session/session_texts.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

namespace texts = session_texts;

class CrashRecovery : public SessionWorld {};

TEST_F(CrashRecovery, AdoptedNavigationMappingIsRestoredThenReinstalledUnderANewLease) {
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  startInNavigation("kb1", own);
  crash();
  ASSERT_EQ(mapping("kb1"), navigation_mapping()) << "the mapping outlives the process";
  ASSERT_TRUE(storedLease("kb1"));

  programWrites.clear();
  typed("kb1");
  startSession("kb1");
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForReport);
  EXPECT_TRUE(programWrites.empty()) << "attachment installs nothing before the restore";

  // A first report with a keypad key down restores nothing: the key types through the
  // adopted mapping and must come up through the same one.
  press("kb1", kKeypad8);
  EXPECT_EQ(mapping("kb1"), navigation_mapping());
  EXPECT_TRUE(programWrites.empty());
  release("kb1", kKeypad8);
  EXPECT_EQ(typed("kb1"), "+Up -Up");

  ASSERT_EQ(programWrites.size(), 2u);
  EXPECT_EQ(programWrites[0].written, own) << "the recorded original comes back first";
  EXPECT_EQ(programWrites[1].written, navigation_mapping()) << "the stored mode was off";
  ASSERT_TRUE(storedLease("kb1"));
  EXPECT_EQ(*storedLease("kb1")->find(kLeaseOriginalMappingKey), own);
  EXPECT_TRUE(session->isMappingSynchronized());
  EXPECT_EQ(session->errorSummary(), "");

  session->setEnabled(false);
  step();
  EXPECT_EQ(mapping("kb1"), own);
  EXPECT_FALSE(storedLease("kb1"));
}

// No report can come once Input Monitoring is withdrawn: the tick that notices puts the
// adopted mapping's original back without waiting for one.
TEST_F(CrashRecovery, AdoptedMappingIsRestoredAtOnceWhenThePermissionGoesBeforeAnyReport) {
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  startInNavigation("kb1", own);
  crash();
  startSession("kb1");
  ASSERT_EQ(session->connectionSummary(), texts::kWaitingForReport);
  world.setPermission(sim::InputMonitoring::Denied);
  advance(5);
  EXPECT_EQ(mapping("kb1"), own);
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForPermission);
}

// The first restore of an adopted mapping failed; the next report comes with a keypad key
// down, which must come up through the mapping it went down with.
TEST_F(CrashRecovery, RetriedRestoreWaitsForTheKeypadKeyOfTheNextReport) {
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  startInNavigation("kb1", own);
  crash();
  world.recorder().failOnce("IOHIDServiceClientSetProperty");
  startSession("kb1");
  press("kb1", kCapsLock);
  ASSERT_EQ(session->errorSummary(), texts::kCouldNotRestoreMapping);
  programWrites.clear();
  press("kb1", kKeypad8);
  EXPECT_TRUE(programWrites.empty());
  release("kb1", kKeypad8);
  ASSERT_FALSE(programWrites.empty());
  EXPECT_EQ(programWrites[0].written, own);
}

TEST_F(CrashRecovery, TimerTickRestoresAdoptedMappingOnceAReportHasArrived) {
  plug("kb1");
  startSession("kb1");
  tap("kb1", kCapsLock);
  crash();
  startSession("kb1");
  advance(5);
  EXPECT_EQ(mapping("kb1"), numeric_mapping()) << "no report yet: nothing is known of the keys";
  EXPECT_EQ(programWrites.size(), 1u);
  press("kb1", kKeypad4);
  advance(5);
  EXPECT_EQ(programWrites.size(), 1u) << "a held keypad key keeps the tick from restoring";
  release("kb1", kKeypad4);
  ASSERT_EQ(programWrites.size(), 3u);
  EXPECT_EQ(programWrites[1].written, plist::Value(plist::Array{}));
  EXPECT_EQ(programWrites[2].written, numeric_mapping());
}

TEST_F(CrashRecovery, LeaseFromTheBootBeforeIsDeletedAndNothingRestoredFromIt) {
  plug("kb1", user_mapping(kCapsLock, 0xE0));
  startSession("kb1");
  tap("kb1", kCapsLock);
  const std::string key = leaseKey("kb1");
  crash();
  world.reboot();
  // The reboot took every mapping; the registry counter started over, so the same key names
  // the keyboard again, but the record is for a boot that is gone.
  trueOriginal["kb1"] = std::nullopt;
  ASSERT_EQ(leaseKey("kb1"), key);
  ASSERT_TRUE(world.disk().values.count(key));

  programWrites.clear();
  startSession("kb1");
  EXPECT_FALSE(world.disk().values.count(key));
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForReport);
  tap("kb1", kCapsLock);
  ASSERT_EQ(programWrites.size(), 1u) << "nothing of the old original is written";
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  EXPECT_EQ(*storedLease("kb1")->find(kLeaseOriginalMappingKey), plist::Value(plist::Array{}));
}

// A lease found at attachment while the keyboard holds a mapping of its own (not the
// program's). Trusted, it would make that mapping a conflict; stale or corrupt, it is deleted
// and the present mapping is simply the keyboard's original.
// One field of the record spoiled: set to `value`, or removed when there is none.
struct UntrustedLease {
  const char* name;
  const char* key;
  std::optional<plist::Value> value;
};

class UntrustedLeases : public SessionWorld,
                        public ::testing::WithParamInterface<UntrustedLease> {};

TEST_P(UntrustedLeases, AreDeletedAtAttachmentAndTheCurrentMappingIsTheOriginal) {
  const plist::Value current = user_mapping(kKeypad5, 0x1E);
  plug("kb1", current);
  plist::Dictionary record = *leaseFor("kb1", user_mapping(kCapsLock, 0xE0)).asDictionary();
  if (GetParam().value) {
    record.insert_or_assign(GetParam().key, *GetParam().value);
  } else {
    record.erase(GetParam().key);
  }
  world.disk().values.insert_or_assign(leaseKey("kb1"), std::move(record));

  startSession("kb1");
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_EQ(session->errorSummary(), "");
  tap("kb1", kKeypad5);
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
  ASSERT_EQ(programWrites.size(), 1u);
  EXPECT_EQ(*storedLease("kb1")->find(kLeaseOriginalMappingKey), current);

  session->setEnabled(false);
  step();
  EXPECT_EQ(mapping("kb1"), current);
}

const plist::Value kOriginalWithFloat = plist::Array{plist::Dictionary{
    {"HIDKeyboardModifierMappingSrc", 30064771129.0},
    {"HIDKeyboardModifierMappingDst", int64_t{30064771296}}}};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    CrashRecovery, UntrustedLeases,
    ::testing::Values(
        UntrustedLease{"OtherBoot", "BootSession", plist::Value("1600000000.000000")},
        UntrustedLease{"OtherDevice", "DeviceRegistryID", plist::Value("00000000000fffff")},
        UntrustedLease{"OtherService", "ServiceRegistryID", plist::Value("00000000000fffff")},
        UntrustedLease{"Version2", "Version", plist::Value(int64_t{2})},
        UntrustedLease{"VersionFloat", "Version", plist::Value(1.0)},
        UntrustedLease{"BootSessionNumber", "BootSession", plist::Value(int64_t{7})},
        UntrustedLease{"OriginalWithFloat", "OriginalMapping", kOriginalWithFloat},
        UntrustedLease{"MissingOriginal", "OriginalMapping", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// The control case: the same record, trusted, turns the foreign mapping into a conflict.
TEST_F(CrashRecovery, ValidLeaseWithAForeignMappingOnTheServiceIsAConflict) {
  const plist::Value current = user_mapping(kKeypad5, 0x1E);
  plug("kb1", current);
  world.disk().values.insert_or_assign(leaseKey("kb1"),
                                       leaseFor("kb1", user_mapping(kCapsLock, 0xE0)));
  startSession("kb1");
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_EQ(session->errorSummary(), texts::kMappingConflict);
  tap("kb1", kKeypad5);
  EXPECT_TRUE(programWrites.empty());
  EXPECT_EQ(mapping("kb1"), current);
}

TEST_F(CrashRecovery, ForeignMappingOverARecordThatCannotBeDeletedWaitsForTheDeletion) {
  const plist::Value current = user_mapping(kKeypad5, 0x1E);
  plug("kb1", current);
  world.disk().values.insert_or_assign(leaseKey("kb1"),
                                       leaseFor("kb1", user_mapping(kCapsLock, 0xE0)));
  world.recorder().failAlways("CFPreferencesAppSynchronize");
  startSession("kb1");
  EXPECT_EQ(session->errorSummary(), texts::kCouldNotRemoveLease);
  EXPECT_FALSE(session->isConnected());
  tap("kb1", kKeypad5);
  advance(5);
  EXPECT_TRUE(storedLease("kb1"));

  world.recorder().clearFaults();
  advance(5);
  tap("kb1", kKeypad5);
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_EQ(session->errorSummary(), texts::kMappingConflict);
  EXPECT_TRUE(programWrites.empty());
  EXPECT_EQ(mapping("kb1"), current);
}

TEST_F(CrashRecovery, ValidLeaseWhoseOriginalIsBackIsDeletedWithoutAWrite) {
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  plug("kb1", own);
  world.disk().values.insert_or_assign(leaseKey("kb1"), leaseFor("kb1", own));
  startSession("kb1");
  EXPECT_FALSE(storedLease("kb1"));
  EXPECT_TRUE(programWrites.empty());
  EXPECT_EQ(session->errorSummary(), "");
}

}  // namespace
}  // namespace padwarden::testing
