// CoreFoundation on the real allocator: each call makes the platform object the program's
// value stands for, so that an allocation failure surfaces where the program handles it.
// Created once by the macOS main.
#pragma once

#include "platform/core_foundation.h"

namespace padwarden::macos {

class MacCoreFoundation final : public CoreFoundation {
 public:
  std::optional<plist::Array> CFArrayCreateMutable() override;
  std::optional<plist::Dictionary> CFDictionaryCreateMutable() override;
  std::optional<plist::Value> CFNumberCreateSInt32(int32_t value) override;
  std::optional<plist::Value> CFNumberCreateSInt64(int64_t value) override;
  std::optional<std::string> CFStringCreateWithCString(const char* utf8) override;
  bool malloc(std::size_t bytes) override;
};

}  // namespace padwarden::macos
