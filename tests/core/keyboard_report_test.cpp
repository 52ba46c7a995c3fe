// The report-descriptor walk that decides which keyboards are supported, the boot input report
// parser, and the keypad key table.
#include "core/keyboard_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
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
  for (const Bytes& item : items) {
    bytes.insert(bytes.end(), item.begin(), item.end());
  }
  return bytes;
}

struct Change {
  Items from;  // must occur exactly once, as whole items
  Items to;
};

// The boot keyboard with each change applied in turn.
Bytes Edited(std::initializer_list<Change> changes) {
  Items items = BootKeyboard();
  for (const Change& c : changes) {
    const auto at = std::search(items.begin(), items.end(), c.from.begin(), c.from.end());
    if (at == items.end() ||
        std::search(at + 1, items.end(), c.from.begin(), c.from.end()) != items.end()) {
      ADD_FAILURE() << "a change's items must occur exactly once in the descriptor";
      return {};
    }
    const auto pos = at - items.begin();
    items.erase(at, at + static_cast<std::ptrdiff_t>(c.from.size()));
    items.insert(items.begin() + pos, c.to.begin(), c.to.end());
  }
  return Flatten(items);
}

// Field order: has_keyboard_collection, boot_input_layout, has_num_lock_led, has_boot_fields,
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

void ExpectInfo(const numlock_keyboard_info& got, const numlock_keyboard_info& want) {
  EXPECT_EQ(got.has_keyboard_collection, want.has_keyboard_collection);
  EXPECT_EQ(got.boot_input_layout, want.boot_input_layout);
  EXPECT_EQ(got.has_num_lock_led, want.has_num_lock_led);
  EXPECT_EQ(got.has_boot_fields, want.has_boot_fields);
  EXPECT_EQ(got.has_key_array, want.has_key_array);
  EXPECT_EQ(got.key_array_covers_keypad, want.key_array_covers_keypad);
  EXPECT_EQ(got.report_id, want.report_id);
  EXPECT_EQ(got.input_report_length, want.input_report_length);
}

TEST(KeyboardDescriptorTest, BootKeyboardIsAccepted) {
  const Bytes descriptor = Flatten(BootKeyboard());
  ASSERT_EQ(descriptor.size(), 63u);
  numlock_keyboard_info info = kStale;
  EXPECT_TRUE(numlock_keyboard_parse_descriptor(descriptor.data(), descriptor.size(), &info));
  ExpectInfo(info, kComplete);
}

TEST(KeyboardDescriptorTest, Variants) {
  struct Variant {
    const char* change;
    Bytes descriptor;
    bool accepted;
    numlock_keyboard_info info;
  };
  const Items kLedBlock = {{0x95, 0x05}, {0x75, 0x01}, {0x05, 0x08}, {0x19, 0x01}, {0x29, 0x05},
                           {0x91, 0x02}, {0x95, 0x01}, {0x75, 0x03}, {0x91, 0x01}};
  const Bytes boot = Flatten(BootKeyboard());
  Bytes twice = boot;
  twice.insert(twice.end(), boot.begin(), boot.end());

  const Variant variants[] = {
      // The Num Lock LED.
      {"LED given as Usage 1", Edited({{{{0x19, 0x01}, {0x29, 0x05}}, {{0x09, 0x01}}}}), true,
       kComplete},
      {"LED usages 0 to 5", Edited({{{{0x19, 0x01}}, {{0x19, 0x00}}}}), true, kComplete},
      {"LED usages 2 to 5", Edited({{{{0x19, 0x01}}, {{0x19, 0x02}}}}), false, kNoLed},
      {"LED usage minimum without maximum", Edited({{{{0x29, 0x05}}, {}}}), false, kNoLed},
      {"LED output Constant", Edited({{{{0x91, 0x02}}, {{0x91, 0x03}}}}), false, kNoLed},
      {"LED outputs removed", Edited({{kLedBlock, {}}}), false, kNoLed},

      // Report IDs.
      {"report ID 1 after the collection opens",
       Edited({{{{0xA1, 0x01}}, {{0xA1, 0x01}, {0x85, 0x01}}}}),
       false,
       {true, false, true, true, true, true, 1, 8}},
      {"report ID 0 declared", Edited({{{{0xA1, 0x01}}, {{0xA1, 0x01}, {0x85, 0x00}}}}), true,
       kComplete},
      // Only the record keeps the low byte; the layout check sees the whole ID.
      {"report ID 0x100 in two bytes",
       Edited({{{{0xA1, 0x01}}, {{0xA1, 0x01}, {0x86, 0x00, 0x01}}}}), false, kNotBootLayout},

      // The input fields.
      {"key array usage maximum 0x62", Edited({{{{0x29, 0x65}}, {{0x29, 0x62}}}}), false,
       kNoKeyArray},
      {"key array usage maximum 0x63", Edited({{{{0x29, 0x65}}, {{0x29, 0x63}}}}), true, kComplete},
      {"key array Variable", Edited({{{{0x81, 0x00}}, {{0x81, 0x02}}}}), false, kNoKeyArray},
      {"reserved byte Constant Variable",
       Edited({{{{0x75, 0x08}, {0x81, 0x01}}, {{0x75, 0x08}, {0x81, 0x03}}}}), true, kComplete},
      {"padding Input after the key array",
       Edited({{{{0xC0}}, {{0x95, 0x01}, {0x75, 0x08}, {0x81, 0x01}, {0xC0}}}}), false,
       kNotBootLayout},
      {"Input before the modifier field",
       Edited({{{{0xA1, 0x01}}, {{0xA1, 0x01}, {0x95, 0x01}, {0x75, 0x08}, {0x81, 0x01}}}}), false,
       kNoKeyArray},
      // Any Main item clears the usages, so the modifier Input below has none left.
      {"Feature between the modifier usages and their Input",
       Edited({{{{0x29, 0xE7}}, {{0x29, 0xE7}, {0xB1, 0x03}}}}),
       false,
       {true, false, true, false, true, true, 0, 8}},
      {"Feature item inside the collection", Edited({{{{0xC0}}, {{0xB1, 0x03}, {0xC0}}}}), true,
       kComplete},
      {"modifier report count 0", Edited({{{{0x95, 0x08}}, {{0x95, 0x00}}}}), false,
       kOnlyCollection},
      {"reserved byte report size 0",
       Edited({{{{0x75, 0x08}, {0x81, 0x01}}, {{0x75, 0x00}, {0x81, 0x01}}}}), false,
       kOnlyCollection},
      {"zero-sized Input before the collection is ignored",
       Edited({{{{0x05, 0x01}}, {{0x81, 0x00}, {0x05, 0x01}}}}), true, kComplete},
      {"input bit offset wraps",
       Edited({{{{0xC0}},
                {{0x77, 0xFF, 0xFF, 0xFF, 0xFF},
                 {0x97, 0xFF, 0xFF, 0xFF, 0xFF},
                 {0x81, 0x01},
                 {0x81, 0x01},
                 {0xC0}}}}),
       false, kOnlyCollection},

      // Collections.
      {"Keyboard usage in four bytes with its page in the upper half",
       Edited({{{{0x09, 0x06}}, {{0x0B, 0x06, 0x00, 0x01, 0x00}}}}), false, kCleared},
      {"Keyboard usage in two bytes", Edited({{{{0x09, 0x06}}, {{0x0A, 0x06, 0x00}}}}), true,
       kComplete},
      {"keyboard collection Physical instead of Application",
       Edited({{{{0xA1, 0x01}}, {{0xA1, 0x00}}}}), false, kCleared},
      {"Consumer Control collection after the keyboard collection",
       Edited({{{{0xC0}},
                {{0xC0},
                 {0x05, 0x0C},
                 {0x09, 0x01},
                 {0xA1, 0x01},
                 {0x19, 0x00},
                 {0x2A, 0xFF, 0x03},
                 {0x75, 0x10},
                 {0x95, 0x01},
                 {0x81, 0x00},
                 {0xC0}}}}),
       false, kOnlyCollection},
      {"keyboard collection wrapped in an outer collection",
       Edited({{{{0x05, 0x01}}, {{0xA1, 0x02}, {0x05, 0x01}}}, {{{0xC0}}, {{0xC0}, {0xC0}}}}),
       false, kOnlyCollection},
      {"closed collection nested inside",
       Edited({{{{0x95, 0x06}}, {{0xA1, 0x02}, {0x95, 0x06}}},
               {{{0x81, 0x00}}, {{0x81, 0x00}, {0xC0}}}}),
       true, kComplete},
      {"keyboard collection nested inside itself",
       Edited({{{{0xA1, 0x01}}, {{0xA1, 0x01}, {0x09, 0x06}, {0xA1, 0x01}}}}), false,
       kOnlyCollection},
      {"whole descriptor twice", twice, false, kNotBootLayout},
      // Adds no input, so only the count of keyboard collections rejects it.
      {"second, empty keyboard collection",
       Edited({{{{0xC0}}, {{0xC0}, {0x05, 0x01}, {0x09, 0x06}, {0xA1, 0x01}, {0xC0}}}}), false,
       kComplete},
      {"final End Collection missing", Edited({{{{0xC0}}, {}}}), false, kComplete},

      // Item framing and the items that reject or are skipped.
      {"last two bytes cut off", Bytes(boot.begin(), boot.end() - 2), false, kOnlyCollection},
      {"four-byte item one byte short at the end",
       Edited({{{{0xC0}}, {{0xC0}, {0x27, 0x00, 0x00, 0x00}}}}), false, kOnlyCollection},
      {"Push after the collection opens", Edited({{{{0xA1, 0x01}}, {{0xA1, 0x01}, {0xA4}}}}), false,
       kOnlyCollection},
      {"Pop after the collection opens", Edited({{{{0xA1, 0x01}}, {{0xA1, 0x01}, {0xB4}}}}), false,
       kOnlyCollection},
      {"long item after the collection opens",
       Edited({{{{0xA1, 0x01}}, {{0xA1, 0x01}, {0xFE, 0x00, 0x00}}}}), false, kOnlyCollection},
      {"reserved Global tag 12 is skipped", Edited({{{{0xA1, 0x01}}, {{0xA1, 0x01}, {0xC4}}}}),
       true, kComplete},
      // Read as a Global it would set the usage page to LEDs and lose the modifier field.
      {"item of reserved type 3 is skipped",
       Edited({{{{0x29, 0xE7}}, {{0x29, 0xE7}, {0x0D, 0x08}}}}), true, kComplete},
  };

  for (const Variant& v : variants) {
    SCOPED_TRACE(v.change);
    ASSERT_FALSE(v.descriptor.empty());
    numlock_keyboard_info info = kStale;
    EXPECT_EQ(numlock_keyboard_parse_descriptor(v.descriptor.data(), v.descriptor.size(), &info),
              v.accepted);
    ExpectInfo(info, v.info);
  }
}

TEST(KeyboardDescriptorTest, MissingArgumentsTouchNothing) {
  const Bytes descriptor = Flatten(BootKeyboard());
  unsigned char pattern[sizeof(numlock_keyboard_info)];
  std::memset(pattern, 0xA5, sizeof(pattern));
  numlock_keyboard_info info;
  std::memcpy(&info, pattern, sizeof(info));

  EXPECT_FALSE(numlock_keyboard_parse_descriptor(nullptr, descriptor.size(), &info));
  EXPECT_EQ(std::memcmp(&info, pattern, sizeof(info)), 0);
  EXPECT_FALSE(numlock_keyboard_parse_descriptor(descriptor.data(), 0, &info));
  EXPECT_EQ(std::memcmp(&info, pattern, sizeof(info)), 0);
  EXPECT_FALSE(numlock_keyboard_parse_descriptor(descriptor.data(), descriptor.size(), nullptr));
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
    Bytes report;
    uint32_t report_id;
    bool valid;
    uint8_t modifiers;
    bool num_lock_down;
    uint32_t keypad_bits;
  };
  // clang-format off
  const Row rows[] = {
      {"Left Shift, Keypad 8",
       {0x02, 0x00, 0x60, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, true, 0x02, false, 0x002},
      {"both Shifts, Keypad 7, Num Lock",
       {0x22, 0x00, 0x00, 0x5F, 0x53, 0x00, 0x00, 0x00}, 0, true, 0x22, true, 0x001},
      {"Keypad 0 and Keypad .",
       {0x00, 0x00, 0x62, 0x63, 0x00, 0x00, 0x00, 0x00}, 0, true, 0x00, false, 0x600},
      {"first six keypad rows",
       {0x00, 0x00, 0x5F, 0x60, 0x61, 0x5C, 0x5D, 0x5E}, 0, true, 0x00, false, 0x03F},
      {"last five keypad rows, Num Lock in the last slot",
       {0xFF, 0x00, 0x59, 0x5A, 0x5B, 0x62, 0x63, 0x53}, 0, true, 0xFF, true, 0x7C0},
      {"the same key in two slots",
       {0x00, 0x00, 0x60, 0x60, 0x00, 0x00, 0x00, 0x00}, 0, true, 0x00, false, 0x002},
      {"navigation keys are not keypad keys",
       {0x00, 0x00, 0x4A, 0x52, 0x4B, 0x50, 0x4F, 0x4D}, 0, true, 0x00, false, 0x000},
      {"reserved byte is not looked at",
       {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, true, 0x00, false, 0x000},
      {"reserved byte 0x53 is not Num Lock",
       {0x00, 0x53, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, true, 0x00, false, 0x000},
      {"usage 0x04 is an ordinary key",
       {0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, true, 0x00, false, 0x000},
      {"ErrorRollOver",
       {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, false, 0, false, 0},
      {"POSTFail beside a keypad key",
       {0x02, 0x00, 0x60, 0x02, 0x00, 0x00, 0x00, 0x00}, 0, false, 0, false, 0},
      {"ErrorUndefined in the last slot",
       {0x00, 0x00, 0x53, 0x00, 0x00, 0x00, 0x00, 0x03}, 0, false, 0, false, 0},
      {"seven bytes", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, false, 0, false, 0},
      {"nine bytes without a report ID",
       {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, false, 0, false, 0},
      {"empty", {}, 0, false, 0, false, 0},
      {"report ID 1",
       {0x01, 0x02, 0x00, 0x53, 0x5F, 0x60, 0x63, 0x00, 0x00}, 1, true, 0x02, true, 0x403},
      {"report ID 1, first byte 02",
       {0x02, 0x02, 0x00, 0x53, 0x5F, 0x60, 0x63, 0x00, 0x00}, 1, false, 0, false, 0},
      {"report ID 1, eight bytes",
       {0x01, 0x02, 0x00, 0x53, 0x5F, 0x60, 0x63, 0x00}, 1, false, 0, false, 0},
      {"report ID 1, ten bytes",
       {0x01, 0x02, 0x00, 0x53, 0x5F, 0x60, 0x63, 0x00, 0x00, 0x00}, 1, false, 0, false, 0},
      {"report ID 1 with ErrorRollOver",
       {0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, 1, false, 0, false, 0},
      // The leading byte matches the ID's low byte; the ID itself still counts as present.
      {"report ID 0x100, first byte 00",
       {0x00, 0x20, 0x00, 0x62, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x100, true, 0x20, false, 0x200},
  };
  // clang-format on

  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Outputs out;
    out.Prefill();
    const uint8_t dummy = 0;  // a valid pointer for the empty report
    const uint8_t* data = row.report.empty() ? &dummy : row.report.data();
    EXPECT_EQ(
        numlock_keyboard_parse_boot_report(data, row.report.size(), row.report_id, &out.modifiers,
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

TEST(BootReportTest, MissingPointersTouchNothing) {
  const uint8_t report[8] = {0x02, 0x00, 0x53, 0x60, 0x00, 0x00, 0x00, 0x00};
  Outputs out;
  out.Prefill();
  EXPECT_FALSE(numlock_keyboard_parse_boot_report(nullptr, 8, 0, &out.modifiers, &out.num_lock_down,
                                                  &out.keypad_bits));
  EXPECT_FALSE(numlock_keyboard_parse_boot_report(report, 8, 0, nullptr, &out.num_lock_down,
                                                  &out.keypad_bits));
  EXPECT_FALSE(
      numlock_keyboard_parse_boot_report(report, 8, 0, &out.modifiers, nullptr, &out.keypad_bits));
  EXPECT_FALSE(numlock_keyboard_parse_boot_report(report, 8, 0, &out.modifiers, &out.num_lock_down,
                                                  nullptr));
  EXPECT_TRUE(out.Untouched());
}

TEST(NavigationMappingsTest, ElevenKeypadKeysInRowOrder) {
  struct Row {
    uint8_t keypad_usage;
    uint8_t navigation_usage;
  };
  const Row expected[] = {
      {0x5F, 0x4A},  // Keypad 7: Home
      {0x60, 0x52},  // Keypad 8: Up Arrow
      {0x61, 0x4B},  // Keypad 9: Page Up
      {0x5C, 0x50},  // Keypad 4: Left Arrow
      {0x5D, 0x00},  // Keypad 5: nothing
      {0x5E, 0x4F},  // Keypad 6: Right Arrow
      {0x59, 0x4D},  // Keypad 1: End
      {0x5A, 0x51},  // Keypad 2: Down Arrow
      {0x5B, 0x4E},  // Keypad 3: Page Down
      {0x62, 0x49},  // Keypad 0: Insert
      {0x63, 0x4C},  // Keypad .: Delete Forward
  };
  ASSERT_EQ(std::size(kNavigationMappings), std::size(expected));
  for (size_t row = 0; row < std::size(expected); ++row) {
    SCOPED_TRACE(testing::Message() << "row " << row);
    EXPECT_EQ(kNavigationMappings[row].keypad_usage, expected[row].keypad_usage);
    EXPECT_EQ(kNavigationMappings[row].navigation_usage, expected[row].navigation_usage);
    EXPECT_EQ(kNavigationMappings[row].bit, 1u << row);

    // The boot-report parser must give each keypad key the bit of its table row.
    const uint8_t report[8] = {0, 0, 0, 0, 0, 0, 0, expected[row].keypad_usage};
    Outputs out;
    out.Prefill();
    ASSERT_TRUE(numlock_keyboard_parse_boot_report(report, 8, 0, &out.modifiers, &out.num_lock_down,
                                                   &out.keypad_bits));
    EXPECT_EQ(out.keypad_bits, 1u << row);
  }
}

}  // namespace
