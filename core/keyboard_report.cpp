// The report-descriptor walk that defines a supported keyboard, and the boot input report
// parser. One pass, fixed counters, no allocation.
#include "core/keyboard_report.h"

#include <cstdint>

namespace {

// HID 1.11 short-item types and the tags this walk acts on.
enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };
enum MainTag : uint8_t { kInput = 8, kOutput = 9, kCollection = 10, kEndCollection = 12 };
enum GlobalTag : uint8_t {
  kUsagePage = 0,
  kReportSize = 7,
  kReportId = 8,
  kReportCount = 9,
  kPush = 10,
  kPop = 11
};
enum LocalTag : uint8_t { kUsage = 0, kUsageMinimum = 1, kUsageMaximum = 2 };

constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr uint32_t kCollectionApplication = 1;
constexpr uint32_t kPageGenericDesktop = 0x01;
constexpr uint32_t kPageKeyboard = 0x07;
constexpr uint32_t kPageLeds = 0x08;
constexpr uint32_t kUsageKeyboard = 0x06;
constexpr uint32_t kUsageNumLockLed = 0x01;
constexpr uint32_t kFlagConstant = 0x1;
constexpr uint32_t kFlagsDataVariableMask = 0x3;
constexpr uint32_t kFlagsDataVariable = 0x2;
constexpr uint32_t kFlagsDataArray = 0x0;
constexpr uint64_t kBootInputBits = 64;
constexpr uint64_t kBootReportBytes = 8;

// The parser's own list of keypad usages, in the row order of kNavigationMappings.
constexpr uint8_t keypad[] = {0x5F, 0x60, 0x61, 0x5C, 0x5D, 0x5E, 0x59, 0x5A, 0x5B, 0x62, 0x63};
static_assert(sizeof(keypad) == sizeof(kNavigationMappings) / sizeof(kNavigationMappings[0]));

constexpr bool keypad_in_step_with_table() {
  for (unsigned i = 0; i < sizeof(keypad); ++i) {
    if (keypad[i] != kNavigationMappings[i].keypad_usage ||
        kNavigationMappings[i].bit != (1u << i)) {
      return false;
    }
  }
  return true;
}
static_assert(keypad_in_step_with_table(), "keypad[] and kNavigationMappings must agree");

struct Walk {
  // Global state, kept across Main items.
  uint32_t usage_page = 0;
  uint32_t report_size = 0;
  uint32_t report_id = 0;
  uint32_t report_count = 0;
  // Local state, cleared after every Main item.
  uint32_t usage = 0;
  uint32_t usage_minimum = 0;
  uint32_t usage_maximum = 0;
  bool usage_minimum_given = false;
  bool usage_maximum_given = false;
  // The walk itself.
  uint32_t depth = 0;
  uint32_t keyboard_collections = 0;
  uint64_t input_bit_offset = 0;
  bool modifier_field = false;
  bool reserved_byte = false;
  bool key_array = false;
  bool other_input = false;
  bool num_lock_led = false;

  void clear_local() {
    usage = 0;
    usage_minimum_given = false;
    usage_maximum_given = false;
  }
  bool usage_range_given() const { return usage_minimum_given && usage_maximum_given; }
};

bool is_modifier_field(const Walk& w, uint32_t flags) {
  return w.input_bit_offset == 0 && w.usage_page == kPageKeyboard && w.report_size == 1 &&
         w.report_count == 8 && (flags & kFlagsDataVariableMask) == kFlagsDataVariable &&
         w.usage_range_given() && w.usage_minimum == 0xE0 && w.usage_maximum == 0xE7;
}

bool is_reserved_byte(const Walk& w, uint32_t flags) {
  return w.input_bit_offset == 8 && w.report_size == 8 && w.report_count == 1 &&
         (flags & kFlagConstant) != 0;
}

bool is_key_array(const Walk& w, uint32_t flags) {
  return w.input_bit_offset == 16 && w.usage_page == kPageKeyboard && w.report_size == 8 &&
         w.report_count == 6 && (flags & kFlagsDataVariableMask) == kFlagsDataArray &&
         w.usage_range_given() && w.usage_minimum == 0x00 && w.usage_maximum >= 0x63;
}

bool is_num_lock_led(const Walk& w, uint32_t flags) {
  if (w.usage_page != kPageLeds || w.report_size != 1 || w.report_count < 1 ||
      (flags & kFlagsDataVariableMask) != kFlagsDataVariable) {
    return false;
  }
  return w.usage == kUsageNumLockLed ||
         (w.usage_range_given() && w.usage_minimum <= kUsageNumLockLed &&
          w.usage_maximum >= kUsageNumLockLed);
}

// Returns false when the item makes the descriptor unsupported at once.
bool walk_input(Walk& w, uint32_t flags) {
  if (w.report_size == 0 || w.report_count == 0) {
    return false;
  }
  if (is_modifier_field(w, flags)) {
    w.modifier_field = true;
  } else if (is_reserved_byte(w, flags)) {
    w.reserved_byte = true;
  } else if (is_key_array(w, flags)) {
    w.key_array = true;
  } else {
    w.other_input = true;
  }
  const uint64_t bits = static_cast<uint64_t>(w.report_size) * w.report_count;
  if (w.input_bit_offset > UINT64_MAX - bits) {
    return false;
  }
  w.input_bit_offset += bits;
  return true;
}

bool walk_main(Walk& w, uint8_t tag, uint32_t value, numlock_keyboard_info* info) {
  switch (tag) {
    case kCollection:
      if (value == kCollectionApplication && w.usage_page == kPageGenericDesktop &&
          w.usage == kUsageKeyboard) {
        if (w.depth != 0) {
          return false;
        }
        ++w.keyboard_collections;
        w.depth = 1;
        info->has_keyboard_collection = true;
      } else if (w.depth > 0) {
        ++w.depth;
      }
      return true;
    case kEndCollection:
      // A collection outside the keyboard collection was never counted, so its end arrives
      // at depth 0: such a descriptor describes more than one boot keyboard.
      if (w.depth == 0) {
        return false;
      }
      --w.depth;
      return true;
    default: break;
  }
  if (w.depth == 0) {
    return true;
  }
  if (tag == kInput) {
    return walk_input(w, value);
  }
  if (tag == kOutput && is_num_lock_led(w, value)) {
    w.num_lock_led = true;
  }
  return true;
}

bool walk_item(Walk& w, uint8_t type, uint8_t tag, uint32_t value, numlock_keyboard_info* info) {
  switch (type) {
    case kMain: {
      const bool ok = walk_main(w, tag, value, info);
      w.clear_local();
      return ok;
    }
    case kGlobal:
      switch (tag) {
        case kUsagePage: w.usage_page = value; break;
        case kReportSize: w.report_size = value; break;
        case kReportId: w.report_id = value; break;
        case kReportCount: w.report_count = value; break;
        case kPush:
        case kPop: return false;
        default: break;
      }
      return true;
    case kLocal:
      switch (tag) {
        case kUsage: w.usage = value; break;
        case kUsageMinimum:
          w.usage_minimum = value;
          w.usage_minimum_given = true;
          break;
        case kUsageMaximum:
          w.usage_maximum = value;
          w.usage_maximum_given = true;
          break;
        default: break;
      }
      return true;
    default: return true;
  }
}

}  // namespace

bool numlock_keyboard_parse_descriptor(const uint8_t* descriptor, uint64_t length,
                                       numlock_keyboard_info* info) {
  if (descriptor == nullptr || info == nullptr || length == 0) {
    return false;
  }
  *info = numlock_keyboard_info{};

  Walk w;
  uint64_t pos = 0;
  while (pos < length) {
    const uint8_t prefix = descriptor[pos];
    if (prefix == kLongItemPrefix) {
      return false;
    }
    const uint64_t size = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
    const uint8_t type = (prefix >> 2) & 0x3;
    const uint8_t tag = prefix >> 4;
    // pos < length here, so length - pos - 1 cannot wrap.
    if (size > length - pos - 1) {
      return false;
    }
    uint32_t value = 0;
    for (uint64_t i = 0; i < size; ++i) {
      value |= static_cast<uint32_t>(descriptor[pos + 1 + i]) << (8 * i);
    }
    pos += 1 + size;
    if (!walk_item(w, type, tag, value, info)) {
      return false;
    }
  }

  info->has_num_lock_led = w.num_lock_led;
  info->has_boot_fields = w.modifier_field && w.reserved_byte && w.key_array;
  info->has_key_array = w.key_array;
  info->key_array_covers_keypad = w.key_array;
  info->input_report_length = kBootReportBytes;
  info->boot_input_layout = info->has_boot_fields && !w.other_input &&
                            w.input_bit_offset == kBootInputBits && w.report_id == 0;
  info->report_id = static_cast<uint8_t>(w.report_id & 0xFF);

  return w.keyboard_collections == 1 && info->has_keyboard_collection && info->has_num_lock_led &&
         info->boot_input_layout && info->has_key_array && w.depth == 0;
}

bool numlock_keyboard_parse_boot_report(const uint8_t* report, uint64_t length, uint32_t report_id,
                                        uint8_t* modifiers, bool* num_lock_down,
                                        uint32_t* keypad_bits) {
  if (report == nullptr || modifiers == nullptr || num_lock_down == nullptr ||
      keypad_bits == nullptr) {
    return false;
  }
  const uint8_t* body = report;
  uint64_t body_length = length;
  if (report_id != 0) {
    if (length < 9 || report[0] != static_cast<uint8_t>(report_id & 0xFF)) {
      return false;
    }
    ++body;
    --body_length;
  }
  if (body_length != kBootReportBytes) {
    return false;
  }

  const uint8_t* slots = body + 2;
  constexpr int kSlots = 6;
  for (int s = 0; s < kSlots; ++s) {
    // ErrorRollOver, POSTFail, ErrorUndefined: the report says nothing reliable about keys,
    // so the state machine must keep its last state.
    if (slots[s] >= 0x01 && slots[s] <= 0x03) {
      return false;
    }
  }

  bool num_lock = false;
  uint32_t bits = 0;
  for (int s = 0; s < kSlots; ++s) {
    num_lock = num_lock || slots[s] == kNumLockUsage;
  }
  for (unsigned i = 0; i < sizeof(keypad); ++i) {
    for (int s = 0; s < kSlots; ++s) {
      if (slots[s] == keypad[i]) {
        bits |= 1u << i;
        break;
      }
    }
  }

  *modifiers = body[0];
  *num_lock_down = num_lock;
  *keypad_bits = bits;
  return true;
}
