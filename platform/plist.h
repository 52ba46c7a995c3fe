// Property-list values: the currency of device properties, service properties and preferences.
// Used by every layer above core/ and by both backends.
#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace padwarden::plist {

class Value;

using Data = std::vector<uint8_t>;
using Array = std::vector<Value>;
// Property-list dictionaries have string keys only; a sorted map makes equality and the
// written form independent of insertion order.
using Dictionary = std::map<std::string, Value, std::less<>>;

enum class Kind { Boolean, Integer, Real, String, Data, Array, Dictionary, Opaque };

// Stands for an object of a type that is not a property-list type (a device handle stored
// as a property, say). Two opaque values are equal only when they are the same object.
struct Opaque {
  std::string typeName;
  std::shared_ptr<const void> identity;
};

// An immutable value. Strings, data and containers are shared, so a copy costs a reference
// count; "changing" a value means building a new one.
class Value {
 public:
  Value(bool value);  // NOLINT: implicit so that tests can write {"Enabled", true}
  template <std::integral T>
  requires(!std::same_as<T, bool>) Value(T value)
      : Value(IntegerTag{}, static_cast<int64_t>(value)) {}  // NOLINT
  Value(double value);                                       // NOLINT
  Value(const char* value);                                  // NOLINT
  Value(std::string value);                                  // NOLINT
  Value(std::string_view value);                             // NOLINT
  Value(Data value);                                         // NOLINT
  Value(Array value);                                        // NOLINT
  Value(Dictionary value);                                   // NOLINT
  Value(Opaque value);                                       // NOLINT

  // A fresh opaque object of the named foreign type, equal only to itself and its copies.
  static Value opaque(std::string typeName);

  Kind kind() const;
  bool isBoolean() const { return kind() == Kind::Boolean; }
  bool isNumber() const { return kind() == Kind::Integer || kind() == Kind::Real; }
  bool isFloat() const { return kind() == Kind::Real; }
  bool isString() const { return kind() == Kind::String; }
  bool isData() const { return kind() == Kind::Data; }
  bool isArray() const { return kind() == Kind::Array; }
  bool isDictionary() const { return kind() == Kind::Dictionary; }

  std::optional<bool> asBoolean() const;
  // The number as a signed 64-bit integer, when that is exact: integers always, a floating
  // value only when it is integral and in range (the platform refuses lossy conversions).
  std::optional<int64_t> asInt64() const;
  std::optional<double> asDouble() const;
  const std::string* asString() const;
  const Data* asData() const;
  const Array* asArray() const;
  const Dictionary* asDictionary() const;
  const Opaque* asOpaque() const;

  // Dictionary lookup: the value under the key, or null for a missing key or a non-dictionary.
  const Value* find(std::string_view key) const;

  // Structural equality as the platform defines it: an integer equals a floating value of the
  // same numeric value; a boolean never equals a number; dictionary order does not matter.
  friend bool operator==(const Value& a, const Value& b);

 private:
  struct IntegerTag {};
  Value(IntegerTag, int64_t value);

  using Storage = std::variant<bool, int64_t, double, std::shared_ptr<const std::string>,
                               std::shared_ptr<const Data>, std::shared_ptr<const Array>,
                               std::shared_ptr<const Dictionary>, Opaque>;
  Storage storage_;
};

// The platform's serialization formats; only the binary one is used for validity checks.
enum class Format { Xml = 100, Binary = 200 };

// True when the value can be written in the given format: no opaque object anywhere and
// every string valid UTF-8.
bool CFPropertyListIsValid(const Value& value, Format format);

// A short one-line rendering for logs, test failures and the desk.
std::string describe(const Value& value);
std::ostream& operator<<(std::ostream& out, const Value& value);
// GoogleTest picks this up to print values in failed assertions.
void PrintTo(const Value& value, std::ostream* out);

}  // namespace padwarden::plist
