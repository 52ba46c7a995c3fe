#include "platform/plist.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace padwarden::plist {

Value::Value(bool value) : storage_(value) {}
Value::Value(IntegerTag, int64_t value) : storage_(value) {}
Value::Value(double value) : storage_(value) {}
Value::Value(const char* value) : Value(std::string(value)) {}
Value::Value(std::string value) : storage_(std::make_shared<const std::string>(std::move(value))) {}
Value::Value(std::string_view value) : Value(std::string(value)) {}
Value::Value(Data value) : storage_(std::make_shared<const Data>(std::move(value))) {}
Value::Value(Array value) : storage_(std::make_shared<const Array>(std::move(value))) {}
Value::Value(Dictionary value) : storage_(std::make_shared<const Dictionary>(std::move(value))) {}
Value::Value(Opaque value) : storage_(std::move(value)) {}

Value Value::opaque(std::string typeName) {
  return Value(Opaque{std::move(typeName), std::make_shared<const char>('\0')});
}

Kind Value::kind() const { return static_cast<Kind>(storage_.index()); }

std::optional<bool> Value::asBoolean() const {
  if (const bool* b = std::get_if<bool>(&storage_)) return *b;
  return std::nullopt;
}

namespace {

// Exact conversion of a double to int64_t, or nothing when it would lose information.
std::optional<int64_t> exact_int64(double d) {
  if (!std::isfinite(d) || d != std::trunc(d)) return std::nullopt;
  // 2^63 is exactly representable; every double below it in magnitude converts safely.
  if (d < -9223372036854775808.0 || d >= 9223372036854775808.0) return std::nullopt;
  return static_cast<int64_t>(d);
}

bool valid_utf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t extra = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    static constexpr uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace

std::optional<int64_t> Value::asInt64() const {
  if (const int64_t* i = std::get_if<int64_t>(&storage_)) return *i;
  if (const double* d = std::get_if<double>(&storage_)) return exact_int64(*d);
  return std::nullopt;
}

std::optional<double> Value::asDouble() const {
  if (const int64_t* i = std::get_if<int64_t>(&storage_)) return static_cast<double>(*i);
  if (const double* d = std::get_if<double>(&storage_)) return *d;
  return std::nullopt;
}

template <typename T>
static const T* shared_get(const auto& storage) {
  if (const auto* p = std::get_if<std::shared_ptr<const T>>(&storage)) return p->get();
  return nullptr;
}

const std::string* Value::asString() const { return shared_get<std::string>(storage_); }
const Data* Value::asData() const { return shared_get<Data>(storage_); }
const Array* Value::asArray() const { return shared_get<Array>(storage_); }
const Dictionary* Value::asDictionary() const { return shared_get<Dictionary>(storage_); }
const Opaque* Value::asOpaque() const { return std::get_if<Opaque>(&storage_); }

const Value* Value::find(std::string_view key) const {
  const Dictionary* dict = asDictionary();
  if (!dict) return nullptr;
  auto it = dict->find(key);
  return it == dict->end() ? nullptr : &it->second;
}

bool operator==(const Value& a, const Value& b) {
  const Kind ka = a.kind();
  const Kind kb = b.kind();
  if (a.isNumber() && b.isNumber()) {
    if (ka == Kind::Integer && kb == Kind::Integer) return *a.asInt64() == *b.asInt64();
    if (ka == Kind::Real && kb == Kind::Real) return *a.asDouble() == *b.asDouble();
    // Mixed: equal only when the floating value is exactly that integer.
    const Value& real = ka == Kind::Real ? a : b;
    const Value& integer = ka == Kind::Real ? b : a;
    const auto exact = real.asInt64();
    return exact && *exact == *integer.asInt64();
  }
  if (ka != kb) return false;
  switch (ka) {
    case Kind::Boolean: return *a.asBoolean() == *b.asBoolean();
    case Kind::String: return *a.asString() == *b.asString();
    case Kind::Data: return *a.asData() == *b.asData();
    case Kind::Array: return *a.asArray() == *b.asArray();
    case Kind::Dictionary: return *a.asDictionary() == *b.asDictionary();
    case Kind::Opaque: return a.asOpaque()->identity == b.asOpaque()->identity;
    case Kind::Integer:
    case Kind::Real: break;
  }
  return false;
}

bool CFPropertyListIsValid(const Value& value, Format format) {
  (void)format;  // Both formats accept the same kinds of value.
  switch (value.kind()) {
    case Kind::Opaque: return false;
    case Kind::String: return valid_utf8(*value.asString());
    case Kind::Array:
      for (const Value& element : *value.asArray()) {
        if (!CFPropertyListIsValid(element, format)) return false;
      }
      return true;
    case Kind::Dictionary:
      for (const auto& [key, element] : *value.asDictionary()) {
        if (!valid_utf8(key) || !CFPropertyListIsValid(element, format)) return false;
      }
      return true;
    default: return true;
  }
}

namespace {

void quote(std::ostream& out, const std::string& s) {
  out << '"';
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out << '\\' << c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(c));
      out << buf;
    } else {
      out << c;
    }
  }
  out << '"';
}

void write(std::ostream& out, const Value& value) {
  switch (value.kind()) {
    case Kind::Boolean: out << (*value.asBoolean() ? "true" : "false"); break;
    case Kind::Integer: {
      const int64_t i = *value.asInt64();
      // Key mappings are easier to read in hexadecimal.
      if (i > 0xFFFF) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(i));
        out << buf;
      } else {
        out << i;
      }
      break;
    }
    case Kind::Real: {
      std::ostringstream s;
      s << *value.asDouble();
      std::string text = s.str();
      if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
      out << text;
      break;
    }
    case Kind::String: quote(out, *value.asString()); break;
    case Kind::Data: {
      out << '<';
      for (uint8_t byte : *value.asData()) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", byte);
        out << buf;
      }
      out << '>';
      break;
    }
    case Kind::Array: {
      out << '[';
      bool first = true;
      for (const Value& element : *value.asArray()) {
        if (!first) out << ", ";
        first = false;
        write(out, element);
      }
      out << ']';
      break;
    }
    case Kind::Dictionary: {
      out << '{';
      bool first = true;
      for (const auto& [key, element] : *value.asDictionary()) {
        if (!first) out << ", ";
        first = false;
        quote(out, key);
        out << ": ";
        write(out, element);
      }
      out << '}';
      break;
    }
    case Kind::Opaque: out << '<' << value.asOpaque()->typeName << '>'; break;
  }
}

}  // namespace

std::string describe(const Value& value) {
  std::ostringstream out;
  write(out, value);
  return out.str();
}

std::ostream& operator<<(std::ostream& out, const Value& value) {
  write(out, value);
  return out;
}

void PrintTo(const Value& value, std::ostream* out) { write(*out, value); }

}  // namespace padwarden::plist
