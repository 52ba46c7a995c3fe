#include "platform/preferences.h"

#include <string>
#include <string_view>

namespace padwarden {

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// An optional sign followed by one or more decimal digits, nothing else; true when the number
// is not zero. The magnitude does not matter, so numbers beyond 64 bits still count.
bool is_nonzero_integer(std::string_view s) {
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) s.remove_prefix(1);
  if (s.empty()) return false;
  bool nonzero = false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    if (c != '0') nonzero = true;
  }
  return nonzero;
}

}  // namespace

// Strings are read after trimming surrounding white space: "YES" or "true" in any case, or a
// decimal integer (optional sign, digits only) that is not zero. "1.5", "0x1" and "on" are
// false.
bool preference_value_as_bool(const std::optional<plist::Value>& value) {
  if (!value) return false;
  switch (value->kind()) {
    case plist::Kind::Boolean: return *value->asBoolean();
    case plist::Kind::Integer: return *value->asInt64() != 0;
    case plist::Kind::Real: return *value->asDouble() != 0.0;  // NaN is not zero: true
    case plist::Kind::String: {
      const std::string_view s = trim(*value->asString());
      return equals_ignoring_case(s, "YES") || equals_ignoring_case(s, "true") ||
             is_nonzero_integer(s);
    }
    default: return false;
  }
}

}  // namespace padwarden
