// Property-list values in the binary property-list format ("bplist00"), the file format of the
// on-disk preferences store (platform/posix/file_preferences). Built on libplist, which stays
// out of this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/plist.h"

namespace padwarden {

// Bounds on what is written and read, the same both ways so that whatever is written can be
// read back. They keep a hostile file from exhausting the stack (deep nesting) or memory (one
// object referenced from many places expands into many values).
struct BinaryPlistLimits {
  // Containers nested in one another; a scalar at the top is depth 0, an array of scalars 1.
  static constexpr size_t kMaxDepth = 512;
  // Values and dictionary keys, counting a shared object once per reference.
  static constexpr uint64_t kMaxNodes = uint64_t{1} << 20;
  // Bytes of strings (as UTF-8), keys and data, counted the same way.
  static constexpr uint64_t kMaxPayloadBytes = uint64_t{64} << 20;
};

// True when encode_binary_plist would succeed: CFPropertyListIsValid holds, no string or key
// contains the character U+0000 (libplist takes strings as C strings and would cut them
// there), and the value is within BinaryPlistLimits.
bool binary_plist_can_encode(const plist::Value& value);

// The value in the binary format, or none when it cannot be written (see above). Integers are
// written as signed 64-bit, reals as reals, data as data; dictionary order does not matter.
std::optional<std::vector<uint8_t>> encode_binary_plist(const plist::Value& value);

// The value the bytes hold, or none when they are not a well-formed binary property list of
// the kinds plist::Value has. Rejected too: dates, UIDs, sets and nulls; integers outside the
// signed 64-bit range; ASCII strings with bytes above 0x7F; UTF-16 strings with unpaired
// surrogates; strings or keys containing U+0000; dictionaries with a repeated key or a key that
// is not a string; reference cycles; anything beyond BinaryPlistLimits. Never crashes, whatever
// the bytes: the structure is checked in full before libplist sees it.
std::optional<plist::Value> decode_binary_plist(const uint8_t* bytes, size_t size);

}  // namespace padwarden
