// What the controller keeps in the preferences: the name under which a keyboard's Num Lock
// state is stored, and the move of an older lease record.
#include "controller/preference_identity.h"
#include "session/keyboard_matching.h"
#include "session/lease_record.h"
#include "tests/controller/controller_world.h"

namespace padwarden::testing {
namespace {

TEST(Base64, EncodesTheStandardVectors) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\xff\xfe\x00", 3), "//4A"},
      {"\xfb\xff", "+/8="},
  };
  for (const auto& [plain, encoded] : vectors) EXPECT_EQ(base64_encode(plain), encoded) << plain;
}

class PreferenceIdentity : public ControllerWorld {};

sim::KeyboardSpec with_serial(const char* name, plist::Value vendor, const char* serial) {
  return sim::usb_keyboard(name)
      .set("VendorID", vendor)
      .set("ProductID", 2)
      .set("SerialNumber", serial);
}

TEST_F(PreferenceIdentity, FirstApplicableFormNamesTheKeyboard) {
  const std::pair<sim::KeyboardSpec, std::string> keyboards[] = {
      {sim::bluetooth_keyboard("uid").set("PhysicalDeviceUniqueID", "ABC"), "dWlkOkFCQw=="},
      {with_serial("serial", 1452, "A1B2").set("ProductID", 591), "c2VyaWFsOjE0NTI6NTkxOkExQjI="},
      // An empty or non-string unique ID falls through to the serial form.
      {with_serial("empty-uid", 1, "S").set("PhysicalDeviceUniqueID", ""),
       base64_encode("serial:1:2:S")},
      {with_serial("number-uid", 1, "T").set("PhysicalDeviceUniqueID", 7),
       base64_encode("serial:1:2:T")},
      // The serial form needs numeric vendor and product IDs and a non-empty serial number;
      // else the registry form (empty here) is used.
      {with_serial("string-vendor", "1452", "U"), ""},
      {with_serial("no-product", 1, "V").erase("ProductID"), ""},
      {with_serial("empty-serial", 1, ""), ""},
      {sim::usb_keyboard("no-serial").erase("SerialNumber"), ""},
  };
  for (const auto& keyboard : keyboards) plug(keyboard.first);
  start();
  for (const auto& [spec, identity] : keyboards) {
    const std::shared_ptr<KeyboardSession> s = session(spec.name);
    ASSERT_TRUE(s) << spec.name;
    EXPECT_EQ(
        s->logicalStatePreferenceKey(),
        "LogicalNumLockOn." +
            (identity.empty() ? base64_encode("registry:" + registryID(spec.name)) : identity))
        << spec.name;
  }
}

class LegacyLease : public ControllerWorld {
 protected:
  // The boot session of the running machine, as a program process reads it.
  std::string bootSession() {
    world.launch();
    const std::optional<std::string> id = current_boot_session_identifier(world.process()->clock());
    world.exit();
    return id.value_or("");
  }
};

TEST_F(LegacyLease, OlderRecordMovesToItsKeyboardAndStillRestoresTheOriginal) {
  const plist::Value original = user_mapping(kCapsLock, 0xE0);
  plug("kb1", original);
  const std::string device = registryID("kb1");
  const plist::Value record = make_lease_record(
      {bootSession(), device, registry_id_string(*world.serviceRegistryID("kb1"))}, original);
  // An older version crashed with its mapping installed.
  ASSERT_TRUE(world.setUserKeyMapping("kb1", 0, numeric_mode_mapping()));
  world.disk().values.insert_or_assign("MappingLease", record);

  launch();
  EXPECT_FALSE(onDisk("MappingLease"));
  EXPECT_EQ(onDisk("MappingLease." + device), record);

  start();
  wake("kb1");
  controller->setEnabled(false);
  step();
  EXPECT_EQ(mapping("kb1"), original) << "the user's own mapping comes back";
  EXPECT_FALSE(storedLease("kb1"));
}

struct LegacyCase {
  const char* name;
  bool existing;
  bool sameAsOld;
  bool moved;
};

class LegacyMove : public LegacyLease, public ::testing::WithParamInterface<LegacyCase> {};

TEST_P(LegacyMove, MovesOnlyOntoAFreeOrIdenticalKey) {
  const std::string boot = bootSession();
  const LeaseIdentity ids{boot, "00000000000000ab", "00000000000000ac"};
  const plist::Value old = make_lease_record(ids, plist::Array{});
  const plist::Value present =
      GetParam().sameAsOld ? old : make_lease_record(ids, user_mapping(kCapsLock, 0xE0));
  world.disk().values.insert_or_assign("MappingLease", old);
  if (GetParam().existing) {
    world.disk().values.insert_or_assign("MappingLease.00000000000000ab", present);
  }

  launch();
  EXPECT_EQ(onDisk("MappingLease"), GetParam().moved ? std::nullopt : std::optional(old));
  EXPECT_EQ(onDisk("MappingLease.00000000000000ab"), GetParam().moved ? old : present);
}

INSTANTIATE_TEST_SUITE_P(Cases, LegacyMove,
                         ::testing::Values(LegacyCase{"FreeKey", false, false, true},
                                           LegacyCase{"SameRecord", true, true, true},
                                           LegacyCase{"OtherRecord", true, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace padwarden::testing
