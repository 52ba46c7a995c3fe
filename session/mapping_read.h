// What one look at a keyboard's "UserKeyMapping" found. Made by the session's mapping read and
// judged by the keypad-mapping, attachment and lease code, which must tell a failed read from
// a keyboard that has no mapping.
#pragma once

#include <optional>
#include <utility>

#include "platform/plist.h"

namespace padwarden {

class MappingRead {
 public:
  // The service holds this value.
  static MappingRead of(plist::Value value) { return MappingRead(std::move(value)); }
  // The service has no mapping: it answered other reads before and after.
  static MappingRead absent() { return MappingRead(Found::Absent); }
  // Nothing came back and the service did not answer either: nothing to go by.
  static MappingRead unknown() { return MappingRead(Found::Unknown); }

  // Whether the read tells what the keyboard holds (a value or a confirmed absence).
  bool told() const { return found_ != Found::Unknown; }
  bool isUnknown() const { return found_ == Found::Unknown; }
  // The value read; none when the mapping is absent or the read failed.
  const std::optional<plist::Value>& value() const { return value_; }

 private:
  enum class Found { Value, Absent, Unknown };
  explicit MappingRead(plist::Value value) : found_(Found::Value), value_(std::move(value)) {}
  explicit MappingRead(Found found) : found_(found) {}

  Found found_;
  std::optional<plist::Value> value_;
};

}  // namespace padwarden
