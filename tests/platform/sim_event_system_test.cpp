// HID event services on the simulated world: what their clients see, who writes their
// "UserKeyMapping", how long it lasts, and what the user types once it is applied.
#include <gtest/gtest.h>

#include "platform/sim/world.h"
#include "tests/platform/sim_probe.h"

namespace padwarden::sim {
namespace {

plist::Value mapping(std::vector<std::pair<uint32_t, uint32_t>> entries) {
  plist::Array array;
  for (const auto& [from, to] : entries) {
    array.push_back(plist::Dictionary{
        {kIOHIDKeyboardModifierMappingSrcKey, int64_t{0x7} << 32 | from},
        {kIOHIDKeyboardModifierMappingDstKey, to == 0 ? int64_t{0} : int64_t{0x7} << 32 | to}});
  }
  return array;
}

std::vector<IOHIDServiceClientRef> services(HIDServices& hid,
                                            const IOHIDEventSystemClientRef& client) {
  auto list = hid.IOHIDEventSystemClientCopyServices(client);
  return list ? *list : std::vector<IOHIDServiceClientRef>{};
}

TEST(SimEventSystemTest, EveryServiceIsListedWithItsDevicesProperties) {
  World world;
  KeyboardSpec odd = bluetooth_keyboard("odd");
  odd.services[0].overrides = {{"LocationID", std::nullopt}, {"PrimaryUsage", 7}};
  odd.services[0].conformsTo = std::vector<UsagePair>{};
  world.plug(usb_keyboard("kb1"));
  world.plug(builtin_keyboard("internal"));
  world.plug(usb_mouse("mouse"));
  world.plug(odd);
  HIDServices& hid = world.launch().hid();
  const auto client = hid.IOHIDEventSystemClientCreateSimpleClient();
  const auto list = services(hid, client);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(services(hid, client), list);  // the same service clients each time

  struct Expected {
    const char* transport;
    std::optional<plist::Value> location;
    int64_t usage;
    bool keyboard;
  };
  const Expected expected[] = {
      {"USB", usb_keyboard("kb1").properties.at("LocationID"), 6, true},
      {"SPI", 0x400, 6, true},
      {"USB", usb_mouse("mouse").properties.at("LocationID"), 2, false},
      {"Bluetooth", std::nullopt, 7, false},
  };
  for (size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(i);
    const IOHIDServiceClientRef& s = list[i];
    EXPECT_EQ(hid.IOHIDServiceClientCopyProperty(s, "Transport"),
              plist::Value(expected[i].transport));
    EXPECT_EQ(hid.IOHIDServiceClientCopyProperty(s, "LocationID"), expected[i].location);
    EXPECT_EQ(hid.IOHIDServiceClientCopyProperty(s, "PrimaryUsage"),
              plist::Value(expected[i].usage));
    EXPECT_EQ(hid.IOHIDServiceClientConformsTo(s, 1, 6), expected[i].keyboard);
  }
}

TEST(SimEventSystemTest, TypedKeysFollowTheFirstServicesMapping) {
  struct Case {
    const char* name;
    std::optional<plist::Value> mapping;
    uint8_t key;
    const char* typed;
  };
  const plist::Value navigation = mapping({{0x53, 0}, {0x60, 0x52}, {0x5D, 0}});
  const Case cases[] = {
      {"Keypad 8 gave Up Arrow", navigation, 0x60, "+Up -Up"},
      {"a Dst of 0 swallows", navigation, 0x5D, ""},
      {"unmapped keys pass", navigation, 0x61, "+KP9 -KP9"},
      {"no mapping", std::nullopt, 0x60, "+KP8 -KP8"},
      {"not an array", plist::Dictionary{}, 0x60, "+KP8 -KP8"},
      {"an entry without Dst",
       plist::Array{plist::Dictionary{{kIOHIDKeyboardModifierMappingSrcKey, 0x700000060}}}, 0x60,
       "+KP8 -KP8"},
      {"a string source",
       plist::Array{plist::Dictionary{{kIOHIDKeyboardModifierMappingSrcKey, "0x700000060"},
                                      {kIOHIDKeyboardModifierMappingDstKey, 0x700000052}}},
       0x60, "+KP8 -KP8"},
      {"the last entry wins", mapping({{0x60, 0x52}, {0x60, 0x51}}), 0x60, "+Down -Down"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    World world;
    world.plug(usb_keyboard("kb1"));
    world.setUserKeyMapping("kb1", 0, c.mapping);
    world.tap("kb1", c.key);
    EXPECT_EQ(world.typed().render("kb1"), c.typed);
  }
}

TEST(SimEventSystemTest, OnlyTheFirstServiceMapsAndAHeldKeyCanStick) {
  World world;
  KeyboardSpec spec = usb_keyboard("kb1");
  spec.services.push_back({});
  world.plug(spec);
  world.setUserKeyMapping("kb1", 1, mapping({{0x60, 0x52}}));
  world.tap("kb1", 0x60);
  world.setUserKeyMapping("kb1", 0, mapping({{0x60, 0x52}}));
  world.press("kb1", 0x60);
  world.setUserKeyMapping("kb1", 0, std::nullopt);
  world.release("kb1", 0x60);
  world.tap("kb2", 0x60);  // no such keyboard: nothing
  EXPECT_EQ(world.typed().render(), "kb1:+KP8 kb1:-KP8 kb1:+Up kb1:-KP8");
  world.typed().clear();
  EXPECT_EQ(world.typed().render(), "");
}

TEST(SimEventSystemTest, EveryMappingWriteIsObservedWithWhoWroteIt) {
  World world;
  world.plug(usb_keyboard("kb1"));
  std::vector<MappingWrite> writes;
  world.observeMappingWrites([&](const MappingWrite& w) { writes.push_back(w); });
  HIDServices& hid = world.launch().hid();
  auto client = hid.IOHIDEventSystemClientCreateSimpleClient();
  const IOHIDServiceClientRef service = services(hid, client)[0];
  const plist::Value ours = mapping({{0x53, 0}});
  const plist::Value theirs = mapping({{0x39, 0xE0}});

  ASSERT_TRUE(hid.IOHIDServiceClientSetProperty(service, kIOHIDUserKeyMappingKey, ours));
  world.recorder().failOnce("IOHIDServiceClientSetProperty");
  EXPECT_FALSE(hid.IOHIDServiceClientSetProperty(service, kIOHIDUserKeyMappingKey, theirs));
  // Not serializable: refused without a write.
  EXPECT_FALSE(hid.IOHIDServiceClientSetProperty(service, kIOHIDUserKeyMappingKey,
                                                 plist::Value::opaque("CFRunLoop")));
  world.setUserKeyMapping("kb1", 0, theirs);
  world.setUserKeyMapping("kb1", 0, std::nullopt);

  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].keyboard, "kb1");
  EXPECT_EQ(writes[0].serviceRegistryID, *world.serviceRegistryID("kb1"));
  EXPECT_EQ(writes[0].writer, MappingWriter::Program);
  EXPECT_EQ(writes[0].before, std::nullopt);
  EXPECT_EQ(writes[0].written, ours);
  EXPECT_EQ(writes[1].writer, MappingWriter::OtherParty);
  EXPECT_EQ(writes[1].before, ours);
  EXPECT_EQ(writes[1].written, theirs);
  EXPECT_EQ(writes[2].written, std::nullopt);

  // Service clients die with their event system client, and write nothing then.
  client.reset();
  EXPECT_FALSE(hid.IOHIDServiceClientGetRegistryID(service));
  EXPECT_FALSE(hid.IOHIDServiceClientCopyProperty(service, "Transport"));
  EXPECT_FALSE(hid.IOHIDServiceClientConformsTo(service, 1, 6));
  EXPECT_FALSE(hid.IOHIDServiceClientSetProperty(service, kIOHIDUserKeyMappingKey, ours));
  EXPECT_EQ(writes.size(), 3u);
}

// A write may land and still answer failure, or answer success and be lost.
TEST(SimEventSystemTest, AWriteMayLandAndFailOrSucceedAndBeLost) {
  World world;
  world.plug(usb_keyboard("kb1"));
  HIDServices& hid = world.launch().hid();
  auto client = hid.IOHIDEventSystemClientCreateSimpleClient();
  const IOHIDServiceClientRef service = services(hid, client)[0];
  const plist::Value ours = mapping({{0x53, 0}});
  const plist::Value theirs = mapping({{0x39, 0xE0}});

  FaultRule landed{"IOHIDServiceClientSetProperty"};
  landed.lands = true;
  world.recorder().add(landed);
  EXPECT_FALSE(hid.IOHIDServiceClientSetProperty(service, kIOHIDUserKeyMappingKey, ours));
  EXPECT_EQ(world.userKeyMapping("kb1"), ours);

  FaultRule lost{"IOHIDServiceClientSetProperty"};
  lost.lie = true;
  world.recorder().add(lost);
  EXPECT_TRUE(hid.IOHIDServiceClientSetProperty(service, kIOHIDUserKeyMappingKey, theirs));
  EXPECT_EQ(world.userKeyMapping("kb1"), ours);
}

// Another program acts between two of the program's calls: before the chosen call, or a later
// one when it declines to act yet.
TEST(SimEventSystemTest, AnotherProgramActsAtTheNthCallFromNow) {
  World world;
  world.plug(usb_keyboard("kb1"));
  HIDServices& hid = world.launch().hid();
  auto client = hid.IOHIDEventSystemClientCreateSimpleClient();
  const IOHIDServiceClientRef service = services(hid, client)[0];
  const plist::Value theirs = mapping({{0x39, 0xE0}});
  std::vector<std::string> seen;
  world.recorder().atCall(2, [&](std::string_view op, const std::string&, bool) {
    seen.emplace_back(op);
    if (op != "IOHIDServiceClientCopyProperty") return ActionResult::NotYet;
    world.setUserKeyMapping("kb1", 0, theirs);
    return ActionResult::Acted;
  });
  // The same, and the read that follows the change fails.
  world.recorder().atCall(4, [&](std::string_view, const std::string&, bool failing) {
    EXPECT_FALSE(failing);
    world.setUserKeyMapping("kb1", 0, std::nullopt);
    return ActionResult::ActedAndFailsTheCall;
  });
  EXPECT_FALSE(hid.IOHIDServiceClientCopyProperty(service, kIOHIDUserKeyMappingKey));
  EXPECT_TRUE(hid.IOHIDServiceClientConformsTo(service, 1, 6));
  EXPECT_EQ(hid.IOHIDServiceClientCopyProperty(service, kIOHIDUserKeyMappingKey), theirs);
  EXPECT_EQ(seen, (std::vector<std::string>{"IOHIDServiceClientConformsTo",
                                            "IOHIDServiceClientCopyProperty"}));
  EXPECT_FALSE(hid.IOHIDServiceClientConformsTo(service, 1, 6));
  EXPECT_FALSE(world.userKeyMapping("kb1"));
  EXPECT_EQ(world.recorder().pendingActions(), 0u);
}

}  // namespace
}  // namespace padwarden::sim
