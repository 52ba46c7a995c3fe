#include "platform/sim/sim_core_foundation.h"

#include <string>

namespace padwarden::sim {

std::optional<plist::Array> SimCoreFoundation::CFArrayCreateMutable() {
  CallScope scope(link_, "CFArrayCreateMutable");
  if (scope.fails()) return std::nullopt;
  return plist::Array{};
}

std::optional<plist::Dictionary> SimCoreFoundation::CFDictionaryCreateMutable() {
  CallScope scope(link_, "CFDictionaryCreateMutable");
  if (scope.fails()) return std::nullopt;
  return plist::Dictionary{};
}

std::optional<plist::Value> SimCoreFoundation::CFNumberCreateSInt32(int32_t value) {
  CallScope scope(link_, "CFNumberCreateSInt32", std::to_string(value));
  if (scope.fails()) return std::nullopt;
  return plist::Value(value);
}

std::optional<plist::Value> SimCoreFoundation::CFNumberCreateSInt64(int64_t value) {
  CallScope scope(link_, "CFNumberCreateSInt64", std::to_string(value));
  if (scope.fails()) return std::nullopt;
  return plist::Value(value);
}

std::optional<std::string> SimCoreFoundation::CFStringCreateWithCString(const char* utf8) {
  CallScope scope(link_, "CFStringCreateWithCString", utf8 ? utf8 : "(null)");
  if (scope.fails() || !utf8) return std::nullopt;
  std::string text(utf8);
  // The platform refuses bytes that are not UTF-8 in the encoding asked for.
  if (!plist::CFPropertyListIsValid(plist::Value(text), plist::Format::Binary)) {
    return std::nullopt;
  }
  return text;
}

bool SimCoreFoundation::malloc(std::size_t bytes) {
  CallScope scope(link_, "malloc", std::to_string(bytes) + " bytes");
  return !scope.fails();
}

}  // namespace padwarden::sim
