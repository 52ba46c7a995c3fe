// The allocations the program makes through the platform's object layer (arrays,
// dictionaries, numbers, strings, raw buffers). Called by the session and the controller so
// that every allocation failure they handle can be produced by the simulated backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/plist.h"

namespace padwarden {

class CoreFoundation {
 public:
  virtual ~CoreFoundation() = default;

  // Each answers none when the allocation fails.
  virtual std::optional<plist::Array> CFArrayCreateMutable() = 0;
  virtual std::optional<plist::Dictionary> CFDictionaryCreateMutable() = 0;
  // A signed 32-bit number (matching dictionaries) or a signed 64-bit one (key mappings);
  // both are integer values once made.
  virtual std::optional<plist::Value> CFNumberCreateSInt32(int32_t value) = 0;
  virtual std::optional<plist::Value> CFNumberCreateSInt64(int64_t value) = 0;
  // A string from NUL-terminated UTF-8; none also when the bytes are not valid UTF-8.
  virtual std::optional<std::string> CFStringCreateWithCString(const char* utf8) = 0;
  // A scratch buffer of the given size, as the C allocator hands out (true when it did).
  virtual bool malloc(std::size_t bytes) = 0;
};

}  // namespace padwarden
