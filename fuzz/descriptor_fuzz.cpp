// Fuzzes the report-descriptor walk: every input gets one verdict, a rejected walk leaves the
// record cleared but for has_keyboard_collection, and nothing is read past the buffer (ASan).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/keyboard_report.h"

namespace {

void check(bool condition) {
  if (!condition) {
    abort();
  }
}

bool same(const numlock_keyboard_info& a, const numlock_keyboard_info& b) {
  return a.has_keyboard_collection == b.has_keyboard_collection &&
         a.boot_input_layout == b.boot_input_layout && a.has_num_lock_led == b.has_num_lock_led &&
         a.has_boot_fields == b.has_boot_fields && a.has_key_array == b.has_key_array &&
         a.key_array_covers_keypad == b.key_array_covers_keypad && a.report_id == b.report_id &&
         a.input_report_length == b.input_report_length;
}

numlock_keyboard_info sentinel() {
  numlock_keyboard_info info;
  std::memset(&info, 0xA5, sizeof(info));
  return info;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exactly sized copy, so any read past `size` lands outside the allocation.
  const std::vector<uint8_t> bytes(data, data + size);
  const uint8_t* descriptor = bytes.empty() ? data : bytes.data();

  numlock_keyboard_info first = sentinel();
  const bool verdict = numlock_keyboard_parse_descriptor(descriptor, size, &first);

  if (size == 0) {
    const numlock_keyboard_info untouched = sentinel();
    check(!verdict && std::memcmp(&first, &untouched, sizeof(first)) == 0);
    return 0;
  }

  numlock_keyboard_info second = sentinel();
  check(numlock_keyboard_parse_descriptor(descriptor, size, &second) == verdict);
  check(same(first, second));

  // The walk either stopped early (record cleared but for has_keyboard_collection) or ran
  // to the end and filled every field, which always sets the report length to 8.
  check(first.input_report_length == 0 || first.input_report_length == 8);
  if (first.input_report_length == 0) {
    check(!verdict);
    numlock_keyboard_info cleared{};
    cleared.has_keyboard_collection = first.has_keyboard_collection;
    check(same(first, cleared));
  }
  check(first.key_array_covers_keypad == first.has_key_array);
  check(!first.has_boot_fields || first.has_key_array);
  check(!first.boot_input_layout || (first.has_boot_fields && first.report_id == 0));
  if (verdict) {
    check(first.has_keyboard_collection && first.boot_input_layout && first.has_num_lock_led &&
          first.has_boot_fields && first.has_key_array && first.key_array_covers_keypad &&
          first.report_id == 0 && first.input_report_length == 8);
  }
  return 0;
}
