// Recovery records that must not be trusted: a later run restores only from a lease made for
// this very service (the stories of a run that died are told by the desk's crash_recovery.pw).
#include "session/lease_record.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {


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
  EXPECT_EQ(mapping("kb1"), numeric_mode_mapping());
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

}  // namespace
}  // namespace padwarden::testing
