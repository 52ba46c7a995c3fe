// The report-descriptor walk that decides which keyboards are supported, the boot input report
// parser, and the keypad key table.
#include "core/keyboard_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <sstream>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Items = std::vector<Bytes>;

// The boot keyboard of HID 1.11 Appendix B.1, one HID item per element, so that variants are
// made by editing whole items rather than byte offsets.
Items BootKeyboard() {
  // clang-format off
  return {
      {0x05, 0x01}, {0x09, 0x06}, {0xA1, 0x01},              // Generic Desktop / Keyboard
      {0x05, 0x07}, {0x19, 0xE0}, {0x29, 0xE7}, {0x15, 0x00}, {0x25, 0x01},
      {0x75, 0x01}, {0x95, 0x08}, {0x81, 0x02},              // modifier byte
      {0x95, 0x01}, {0x75, 0x08}, {0x81, 0x01},              // reserved byte
      {0x95, 0x05}, {0x75, 0x01}, {0x05, 0x08}, {0x19, 0x01}, {0x29, 0x05},
      {0x91, 0x02},                                          // LEDs 1 to 5
      {0x95, 0x01}, {0x75, 0x03}, {0x91, 0x01},              // LED padding
      {0x95, 0x06}, {0x75, 0x08}, {0x15, 0x00}, {0x25, 0x65}, {0x05, 0x07},
      {0x19, 0x00}, {0x29, 0x65}, {0x81, 0x00},              // six key codes
      {0xC0},
  };
  // clang-format on
}

Bytes Flatten(const Items& items) {
  Bytes bytes;
  for (const Bytes& item : items) bytes.insert(bytes.end(), item.begin(), item.end());
  return bytes;
}

// `items` with `from`, which must occur exactly once as whole items, replaced by `to`.
Items Replace(Items items, const Items& from, const Items& to) {
  const auto at = std::search(items.begin(), items.end(), from.begin(), from.end());
  if (at == items.end() ||
      std::search(at + 1, items.end(), from.begin(), from.end()) != items.end()) {
    ADD_FAILURE() << "a change's items must occur exactly once in the descriptor";
    return {};
  }
  const auto pos = at - items.begin();
  items.erase(at, at + static_cast<std::ptrdiff_t>(from.size()));
  items.insert(items.begin() + pos, to.begin(), to.end());
  return items;
}

Bytes Edited(const Items& from, const Items& to) {
  return Flatten(Replace(BootKeyboard(), from, to));
}

// Fields: has_keyboard_collection, boot_input_layout, has_num_lock_led, has_boot_fields,
// has_key_array, key_array_covers_keypad, report_id, input_report_length.
constexpr numlock_keyboard_info kComplete{true, true, true, true, true, true, 0, 8};
// A walk stopped early: the record is cleared but for the collection flag.
constexpr numlock_keyboard_info kOnlyCollection{true, false, false, false, false, false, 0, 0};
constexpr numlock_keyboard_info kCleared{false, false, false, false, false, false, 0, 0};
// Complete walks that miss one thing.
constexpr numlock_keyboard_info kNoLed{true, true, false, true, true, true, 0, 8};
constexpr numlock_keyboard_info kNotBootLayout{true, false, true, true, true, true, 0, 8};
constexpr numlock_keyboard_info kNoKeyArray{true, false, true, false, false, false, 0, 8};
// Valid values, all wrong for every expected record, so that a field left alone shows.
constexpr numlock_keyboard_info kStale{true, true, true, true, true, true, 0xA5, 0xA5A5};

// Every field, so that one the walk forgets to set or clear shows.
auto Fields(const numlock_keyboard_info& i) {
  return std::tuple(i.has_keyboard_collection, i.boot_input_layout, i.has_num_lock_led,
                    i.has_boot_fields, i.has_key_array, i.key_array_covers_keypad, i.report_id,
                    i.input_report_length);
}

TEST(KeyboardDescriptorTest, Variants) {
  struct Variant {
    const char* change;
    Bytes descriptor;
    bool accepted;
    numlock_keyboard_info info;
  };
  const Bytes boot = Flatten(BootKeyboard());
  const auto around = [&boot](Bytes before, const Bytes& after) {
    before.insert(before.end(), boot.begin(), boot.end());
    before.insert(before.end(), after.begin(), after.end());
    return before;
  };
  const Items open = {{0xA1, 0x01}};
  const Items end = {{0xC0}};
  const auto after_open = [&open](Items more) {
    more.insert(more.begin(), open[0]);
    return Edited(open, more);
  };
  const auto before_end = [](Items more) {
    more.push_back({0xC0});
    return Edited({{0xC0}}, more);
  };
  const Items nested = Replace(BootKeyboard(), {{0x95, 0x06}}, {{0xA1, 0x02}, {0x95, 0x06}});
  const Items reserved = {{0x75, 0x08}, {0x81, 0x01}};
  const Items padding = {{0x95, 0x01}, {0x75, 0x08}, {0x81, 0x01}};

  const Variant variants[] = {
      {"the boot keyboard itself", boot, true, kComplete},
      // The Num Lock LED.
      {"LED as Usage 1", Edited({{0x19, 0x01}, {0x29, 0x05}}, {{0x09, 0x01}}), true, kComplete},
      {"LED usages 2 to 5", Edited({{0x19, 0x01}}, {{0x19, 0x02}}), false, kNoLed},
      {"LED usage minimum without maximum", Edited({{0x29, 0x05}}, {}), false, kNoLed},
      {"LED output Constant", Edited({{0x91, 0x02}}, {{0x91, 0x03}}), false, kNoLed},
      // Report IDs. Only the record keeps the low byte; the layout check sees the whole ID.
      {"report ID 1", after_open({{0x85, 0x01}}), false, {1, 0, 1, 1, 1, 1, 1, 8}},
      {"report ID 0 declared", after_open({{0x85, 0x00}}), true, kComplete},
      {"report ID 0x100", after_open({{0x86, 0x00, 0x01}}), false, kNotBootLayout},
      // The input fields.
      {"key array maximum 0x62", Edited({{0x29, 0x65}}, {{0x29, 0x62}}), false, kNoKeyArray},
      {"key array maximum 0x63", Edited({{0x29, 0x65}}, {{0x29, 0x63}}), true, kComplete},
      {"key array Variable", Edited({{0x81, 0x00}}, {{0x81, 0x02}}), false, kNoKeyArray},
      {"reserved byte Constant Variable", Edited(reserved, {{0x75, 0x08}, {0x81, 0x03}}), true,
       kComplete},
      {"padding after the key array", before_end(padding), false, kNotBootLayout},
      {"Input before the modifier field", after_open(padding), false, kNoKeyArray},
      // Any Main item clears the usages, so the modifier Input below has none left.
      {"Feature between the modifier usages and their Input",
       Edited({{0x29, 0xE7}}, {{0x29, 0xE7}, {0xB1, 0x03}}),
       false,
       {1, 0, 1, 0, 1, 1, 0, 8}},
      {"Feature inside the collection", before_end({{0xB1, 0x03}}), true, kComplete},
      {"modifier count 0", Edited({{0x95, 0x08}}, {{0x95, 0x00}}), false, kOnlyCollection},
      {"reserved byte size 0", Edited(reserved, {{0x75, 0x00}, {0x81, 0x01}}), false,
       kOnlyCollection},
      {"zero-sized Input before the collection", around({0x81, 0x00}, {}), true, kComplete},
      {"input bit offset wraps",
       before_end({{0x77, 0xFF, 0xFF, 0xFF, 0xFF},
                   {0x97, 0xFF, 0xFF, 0xFF, 0xFF},
                   {0x81, 0x01},
                   {0x81, 0x01}}),
       false, kOnlyCollection},
      // Collections.
      {"Keyboard usage in four bytes, page in the upper half",
       Edited({{0x09, 0x06}}, {{0x0B, 0x06, 0x00, 0x01, 0x00}}), false, kCleared},
      {"keyboard collection Physical", Edited(open, {{0xA1, 0x00}}), false, kCleared},
      {"Consumer Control collection after it",
       around({}, {0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x19, 0x00, 0x2A, 0xFF, 0x03, 0x75, 0x10,
                   0x95, 0x01, 0x81, 0x00, 0xC0}),
       false, kOnlyCollection},
      {"wrapped in an outer collection", around({0xA1, 0x02}, {0xC0}), false, kOnlyCollection},
      {"closed collection nested inside",
       Flatten(Replace(nested, {{0x81, 0x00}}, {{0x81, 0x00}, {0xC0}})), true, kComplete},
      {"nested inside itself", after_open({{0x09, 0x06}, {0xA1, 0x01}}), false, kOnlyCollection},
      {"whole descriptor twice", around({}, boot), false, kNotBootLayout},
      // Adds no input, so only the count of keyboard collections rejects it.
      {"second, empty keyboard collection", around({}, {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0xC0}),
       false, kComplete},
      {"final End Collection missing", Edited(end, {}), false, kComplete},
      // Item framing and the items that reject or are skipped.
      {"last two bytes cut off", Bytes(boot.begin(), boot.end() - 2), false, kOnlyCollection},
      {"four-byte item one byte short", around({}, {0x27, 0, 0, 0}), false, kOnlyCollection},
      {"Push inside the collection", after_open({{0xA4}}), false, kOnlyCollection},
      {"long item inside the collection", after_open({{0xFE, 0, 0}}), false, kOnlyCollection},
      {"reserved Global tag 12 is skipped", after_open({{0xC4}}), true, kComplete},
      // Read as a Global it would set the usage page to LEDs and lose the modifier field.
      {"item of reserved type 3 is skipped", Edited({{0x29, 0xE7}}, {{0x29, 0xE7}, {0x0D, 0x08}}),
       true, kComplete},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.change);
    ASSERT_FALSE(v.descriptor.empty());
    numlock_keyboard_info info = kStale;
    EXPECT_EQ(numlock_keyboard_parse_descriptor(v.descriptor.data(), v.descriptor.size(), &info),
              v.accepted);
    EXPECT_EQ(Fields(info), Fields(v.info));
  }
}

// The three outputs of the boot-report parser, prefilled with a byte pattern so that any write
// shows. They are compared as bytes, never read as values while they hold the pattern.
struct Outputs {
  uint8_t modifiers;
  bool num_lock_down;
  uint32_t keypad_bits;

  void Prefill() { std::memset(this, 0xA5, sizeof(*this)); }
  bool Untouched() const {
    unsigned char pattern[sizeof(Outputs)];
    std::memset(pattern, 0xA5, sizeof(pattern));
    return std::memcmp(this, pattern, sizeof(pattern)) == 0;
  }
};

TEST(BootReportTest, Reports) {
  struct Row {
    const char* what;
    const char* hex;
    uint32_t report_id;
    bool valid;
    uint8_t modifiers = 0;
    bool num_lock_down = false;
    uint32_t keypad_bits = 0;
  };
  // clang-format off
  const Row rows[] = {
      {"both Shifts, Keypad 7, Num Lock", "22 00 00 5F 53 00 00 00", 0, true, 0x22, true, 0x001},
      {"first six keypad rows", "00 00 5F 60 61 5C 5D 5E", 0, true, 0x00, false, 0x03F},
      {"last five keypad rows, Num Lock", "FF 00 59 5A 5B 62 63 53", 0, true, 0xFF, true, 0x7C0},
      {"the same key in two slots", "00 00 60 60 00 00 00 00", 0, true, 0x00, false, 0x002},
      {"navigation keys", "00 00 4A 52 4B 50 4F 4D", 0, true, 0x00, false, 0x000},
      {"reserved byte 01, usage 04", "00 01 04 00 00 00 00 00", 0, true, 0x00, false, 0x000},
      {"reserved byte 53 is not Num Lock", "00 53 00 00 00 00 00 00", 0, true, 0x00, false, 0x000},
      {"ErrorRollOver", "00 00 01 00 00 00 00 00", 0, false},
      {"POSTFail beside a keypad key", "02 00 60 02 00 00 00 00", 0, false},
      {"ErrorUndefined in the last slot", "00 00 53 00 00 00 00 03", 0, false},
      {"seven bytes", "00 00 00 00 00 00 00", 0, false},
      {"nine bytes without a report ID", "00 00 00 00 00 00 00 00 00", 0, false},
      {"empty", "", 0, false},
      {"report ID 1", "01 02 00 53 5F 60 63 00 00", 1, true, 0x02, true, 0x403},
      {"report ID 1, first byte 02", "02 02 00 53 5F 60 63 00 00", 1, false},
      {"report ID 1, eight bytes", "01 02 00 53 5F 60 63 00", 1, false},
      {"report ID 1, ten bytes", "01 02 00 53 5F 60 63 00 00 00", 1, false},
      // The leading byte matches the ID's low byte; the ID itself still counts as present.
      {"report ID 0x100, byte 00", "00 20 00 62 00 00 00 00 00", 0x100, true, 0x20, false, 0x200},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Bytes report;
    std::istringstream hex(row.hex);
    for (unsigned byte; hex >> std::hex >> byte;) report.push_back(static_cast<uint8_t>(byte));
    Outputs out;
    out.Prefill();
    const uint8_t dummy = 0;  // a valid pointer for the empty report
    EXPECT_EQ(numlock_keyboard_parse_boot_report(report.empty() ? &dummy : report.data(),
                                                 report.size(), row.report_id, &out.modifiers,
                                                 &out.num_lock_down, &out.keypad_bits),
              row.valid);
    if (row.valid) {
      EXPECT_EQ(out.modifiers, row.modifiers);
      EXPECT_EQ(out.num_lock_down, row.num_lock_down);
      EXPECT_EQ(out.keypad_bits, row.keypad_bits);
    } else {
      EXPECT_TRUE(out.Untouched());
    }
  }
}

TEST(BootReportTest, MissingArgumentsTouchNothing) {
  const Bytes descriptor = Flatten(BootKeyboard());
  numlock_keyboard_info info = kStale;
  EXPECT_FALSE(numlock_keyboard_parse_descriptor(nullptr, descriptor.size(), &info));
  EXPECT_FALSE(numlock_keyboard_parse_descriptor(descriptor.data(), 0, &info));
  EXPECT_FALSE(numlock_keyboard_parse_descriptor(descriptor.data(), descriptor.size(), nullptr));
  EXPECT_EQ(info.input_report_length, kStale.input_report_length);

  const uint8_t r[8] = {0x02, 0x00, 0x53, 0x60, 0x00, 0x00, 0x00, 0x00};
  Outputs o;
  o.Prefill();
  EXPECT_FALSE(numlock_keyboard_parse_boot_report(nullptr, 8, 0, &o.modifiers, &o.num_lock_down,
                                                  &o.keypad_bits));
  EXPECT_FALSE(
      numlock_keyboard_parse_boot_report(r, 8, 0, nullptr, &o.num_lock_down, &o.keypad_bits));
  EXPECT_FALSE(numlock_keyboard_parse_boot_report(r, 8, 0, &o.modifiers, nullptr, &o.keypad_bits));
  EXPECT_FALSE(
      numlock_keyboard_parse_boot_report(r, 8, 0, &o.modifiers, &o.num_lock_down, nullptr));
  EXPECT_TRUE(o.Untouched());
}

// The navigation keys are stated here independently: the session builds its mapping from the
// table, so a wrong entry would map a keypad key to the wrong key without failing elsewhere.
TEST(NavigationMappingsTest, ElevenKeypadKeysInRowOrder) {
  // Keypad 7 8 9 4 5 6 1 2 3 0 . -> Home, Up, Page Up, Left, none, Right, End, Down, Page Down,
  // Insert, Delete Forward.
  const uint8_t keypad[] = {0x5F, 0x60, 0x61, 0x5C, 0x5D, 0x5E, 0x59, 0x5A, 0x5B, 0x62, 0x63};
  const uint8_t navigation[] = {0x4A, 0x52, 0x4B, 0x50, 0x00, 0x4F, 0x4D, 0x51, 0x4E, 0x49, 0x4C};
  ASSERT_EQ(std::size(kNavigationMappings), std::size(keypad));
  for (size_t row = 0; row < std::size(keypad); ++row) {
    EXPECT_EQ(kNavigationMappings[row].keypad_usage, keypad[row]) << row;
    EXPECT_EQ(kNavigationMappings[row].navigation_usage, navigation[row]) << row;
    EXPECT_EQ(kNavigationMappings[row].bit, 1u << row) << row;
  }
}

}  // namespace
