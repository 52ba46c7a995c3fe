// Stories of what the controller keeps in the preferences: the name under which a keyboard's
// Num Lock state is stored, the move of an older lease record, and the enable switch.
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

class PreferenceIdentity : public ControllerWorld {
 protected:
  std::string identityOf(const std::string& name) {
    const std::shared_ptr<KeyboardSession> s = session(name);
    if (!s) return "(no session)";
    return s->logicalStatePreferenceKey().substr(std::string("LogicalNumLockOn.").size());
  }
};

TEST_F(PreferenceIdentity, FirstApplicableFormNamesTheKeyboard) {
  plug(sim::bluetooth_keyboard("uid").set("PhysicalDeviceUniqueID", "ABC"));
  plug(sim::usb_keyboard("serial")
           .set("VendorID", 1452)
           .set("ProductID", 591)
           .set("SerialNumber", "A1B2"));
  // An empty or non-string unique ID falls through to the serial form.
  plug(sim::usb_keyboard("empty-uid")
           .set("PhysicalDeviceUniqueID", "")
           .set("VendorID", 1)
           .set("ProductID", 2)
           .set("SerialNumber", "S"));
  plug(sim::usb_keyboard("number-uid")
           .set("PhysicalDeviceUniqueID", 7)
           .set("VendorID", 1)
           .set("ProductID", 2)
           .set("SerialNumber", "T"));
  // The serial form needs numeric vendor and product IDs and a non-empty serial number.
  plug(sim::usb_keyboard("string-vendor").set("VendorID", "1452"));
  plug(sim::usb_keyboard("no-product").erase("ProductID"));
  plug(sim::usb_keyboard("empty-serial").set("SerialNumber", ""));
  plug(sim::usb_keyboard("no-serial").erase("SerialNumber"));
  start();

  EXPECT_EQ(identityOf("uid"), "dWlkOkFCQw==");
  EXPECT_EQ(identityOf("serial"), "c2VyaWFsOjE0NTI6NTkxOkExQjI=");
  EXPECT_EQ(identityOf("empty-uid"), base64_encode("serial:1:2:S"));
  EXPECT_EQ(identityOf("number-uid"), base64_encode("serial:1:2:T"));
  for (const char* name : {"string-vendor", "no-product", "empty-serial", "no-serial"}) {
    EXPECT_EQ(identityOf(name), base64_encode("registry:" + registryID(name))) << name;
  }
}

TEST_F(PreferenceIdentity, RegistryNamedKeyboardForgetsItsStateOnReconnection) {
  // A keyboard with a serial number remembers its own state; one without starts from the
  // shared keys every time it comes back.
  world.disk().values.insert_or_assign("LogicalNumLockOn", false);
  plug(sim::usb_keyboard("anon").erase("SerialNumber"));
  plug("named");
  start();
  wake("anon");
  wake("named");
  EXPECT_FALSE(controller->logicalNumLockOn());
  EXPECT_FALSE(controller->logicalStateMixed()) << "both start from the shared key";

  controller->toggleLogicalNumLock();
  step();
  ASSERT_TRUE(session("anon")->logicalNumLockOn());
  ASSERT_TRUE(session("named")->logicalNumLockOn());

  for (const char* name : {"anon", "named"}) {
    unplug(name);
    advance(kDiscoveryTimerInterval);
    replug(name);
    advance(kDiscoveryTimerInterval);
    ASSERT_TRUE(session(name)) << name;
  }
  EXPECT_FALSE(session("anon")->logicalNumLockOn());
  EXPECT_TRUE(session("named")->logicalNumLockOn());
  EXPECT_TRUE(controller->logicalStateMixed());
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
  ASSERT_TRUE(world.setUserKeyMapping("kb1", 0, numeric_mapping()));
  world.disk().values.insert_or_assign("MappingLease", record);

  launch();
  EXPECT_FALSE(onDisk("MappingLease"));
  EXPECT_EQ(onDisk("MappingLease." + device), record);

  start();
  wake("kb1");
  EXPECT_EQ(mapping("kb1"), numeric_mapping());
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
  const plist::Value old =
      make_lease_record({boot, "00000000000000ab", "00000000000000ac"}, plist::Array{});
  const plist::Value other = make_lease_record({boot, "00000000000000ab", "00000000000000ac"},
                                               user_mapping(kCapsLock, 0xE0));
  const plist::Value& present = GetParam().sameAsOld ? old : other;
  world.disk().values.insert_or_assign("MappingLease", old);
  if (GetParam().existing) {
    world.disk().values.insert_or_assign("MappingLease.00000000000000ab", present);
  }

  launch();
  if (GetParam().moved) {
    EXPECT_FALSE(onDisk("MappingLease"));
    EXPECT_EQ(onDisk("MappingLease.00000000000000ab"), old);
  } else {
    EXPECT_EQ(onDisk("MappingLease"), old);
    EXPECT_EQ(onDisk("MappingLease.00000000000000ab"), present);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LegacyMove,
                         ::testing::Values(LegacyCase{"FreeKey", false, false, true},
                                           LegacyCase{"SameRecord", true, true, true},
                                           LegacyCase{"OtherRecord", true, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PreferenceIdentity, StoredDisableHoldsAcrossLaunches) {
  world.disk().values.insert_or_assign("Enabled", false);
  plug("kb1");
  start();
  wake("kb1");
  EXPECT_FALSE(controller->isEnabled());
  EXPECT_FALSE(session("kb1")->isEnabled());
  EXPECT_FALSE(mapping("kb1"));
  controller->toggleLogicalNumLock();
  EXPECT_TRUE(controller->logicalNumLockOn());
}

}  // namespace
}  // namespace padwarden::testing
