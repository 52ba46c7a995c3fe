#include "platform/macos/mac_core_foundation.h"

#include <CoreFoundation/CoreFoundation.h>

#include <cstdlib>

#include "platform/macos/cf_ref.h"
#include "platform/macos/plist_cf.h"

namespace padwarden::macos {

namespace {

std::optional<plist::Value> number(CFNumberType type, const void* value) {
  const CFRef<CFNumberRef> made =
      CFRef<CFNumberRef>::adopt(::CFNumberCreate(kCFAllocatorDefault, type, value));
  if (!made) return std::nullopt;
  return plist_from_cf(made.get());
}

}  // namespace

std::optional<plist::Array> MacCoreFoundation::CFArrayCreateMutable() {
  const CFRef<CFMutableArrayRef> made = CFRef<CFMutableArrayRef>::adopt(
      ::CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks));
  if (!made) return std::nullopt;
  return plist::Array{};
}

std::optional<plist::Dictionary> MacCoreFoundation::CFDictionaryCreateMutable() {
  const CFRef<CFMutableDictionaryRef> made = CFRef<CFMutableDictionaryRef>::adopt(
      ::CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                  &kCFTypeDictionaryValueCallBacks));
  if (!made) return std::nullopt;
  return plist::Dictionary{};
}

std::optional<plist::Value> MacCoreFoundation::CFNumberCreateSInt32(int32_t value) {
  return number(kCFNumberSInt32Type, &value);
}

std::optional<plist::Value> MacCoreFoundation::CFNumberCreateSInt64(int64_t value) {
  return number(kCFNumberSInt64Type, &value);
}

std::optional<std::string> MacCoreFoundation::CFStringCreateWithCString(const char* utf8) {
  if (!utf8) return std::nullopt;
  const CFRef<CFStringRef> made = CFRef<CFStringRef>::adopt(
      ::CFStringCreateWithCString(kCFAllocatorDefault, utf8, kCFStringEncodingUTF8));
  if (!made) return std::nullopt;  // out of memory, or not UTF-8
  return string_from_cf(made.get());
}

bool MacCoreFoundation::malloc(std::size_t bytes) {
  void* buffer = std::malloc(bytes);
  if (!buffer) return false;
  std::free(buffer);
  return true;
}

}  // namespace padwarden::macos
