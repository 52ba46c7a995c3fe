// Preferences files are read back from disk, where anything may have been written: every
// input must decode to nothing or to a value that encodes and decodes to itself.
#include <cstdint>
#include <cstdlib>

#include "platform/posix/binary_plist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::optional<padwarden::plist::Value> value = padwarden::decode_binary_plist(data, size);
  if (!value) return 0;
  const auto encoded = padwarden::encode_binary_plist(*value);
  if (!encoded) std::abort();
  const auto again = padwarden::decode_binary_plist(encoded->data(), encoded->size());
  // Compared as text so that a NaN read from the file still counts as the same value.
  if (!again || padwarden::plist::describe(*again) != padwarden::plist::describe(*value)) {
    std::abort();
  }
  return 0;
}
