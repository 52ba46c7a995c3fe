#include "platform/macos/plist_cf.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace padwarden::macos {

namespace {

// The deleter of an opaque value's identity that holds a CF object; finding it tells that the
// identity is a CFTypeRef that can be handed back.
struct CFReleaser {
  void operator()(const void* object) const { CFRelease(object); }
};

plist::Value opaque_from_cf(CFTypeRef object) {
  std::string typeName = "CFType";
  const CFRef<CFStringRef> description =
      CFRef<CFStringRef>::adopt(CFCopyTypeIDDescription(CFGetTypeID(object)));
  if (description) {
    if (std::optional<std::string> text = string_from_cf(description.get())) typeName = *text;
  }
  return plist::Value(plist::Opaque{std::move(typeName),
                                    std::shared_ptr<const void>(CFRetain(object), CFReleaser{})});
}

CFRef<CFTypeRef> number_from_int(int64_t value) {
  if (value >= std::numeric_limits<int32_t>::min() &&
      value <= std::numeric_limits<int32_t>::max()) {
    const int32_t narrow = static_cast<int32_t>(value);
    return CFRef<CFTypeRef>::adopt(
        CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &narrow));
  }
  return CFRef<CFTypeRef>::adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &value));
}

CFRef<CFTypeRef> array_from_plist(const plist::Array& array) {
  CFRef<CFMutableArrayRef> out = CFRef<CFMutableArrayRef>::adopt(CFArrayCreateMutable(
      kCFAllocatorDefault, static_cast<CFIndex>(array.size()), &kCFTypeArrayCallBacks));
  if (!out) return {};
  for (const plist::Value& element : array) {
    const CFRef<CFTypeRef> converted = cf_from_plist(element);
    if (!converted) return {};
    CFArrayAppendValue(out.get(), converted.get());
  }
  return CFRef<CFTypeRef>::retain(out.get());
}

CFRef<CFTypeRef> opaque_to_cf(const plist::Opaque& opaque) {
  if (!opaque.identity || !std::get_deleter<CFReleaser>(opaque.identity)) return {};
  return CFRef<CFTypeRef>::retain(opaque.identity.get());
}

std::optional<plist::Value> number_from_cf(CFNumberRef number) {
  if (CFNumberIsFloatType(number)) {
    double value = 0;
    if (CFNumberGetValue(number, kCFNumberDoubleType, &value)) return plist::Value(value);
    return std::nullopt;
  }
  int64_t value = 0;
  if (CFNumberGetValue(number, kCFNumberSInt64Type, &value)) return plist::Value(value);
  return std::nullopt;  // beyond 64 signed bits: no property-list integer holds it
}

std::optional<plist::Value> array_from_cf(CFArrayRef array) {
  plist::Array out;
  const CFIndex count = CFArrayGetCount(array);
  out.reserve(static_cast<size_t>(count));
  for (CFIndex i = 0; i < count; ++i) {
    std::optional<plist::Value> element = plist_from_cf(CFArrayGetValueAtIndex(array, i));
    if (!element) return std::nullopt;  // a null element: not a property list
    out.push_back(std::move(*element));
  }
  return plist::Value(std::move(out));
}

std::optional<plist::Value> dictionary_from_cf(CFDictionaryRef dictionary) {
  const CFIndex count = CFDictionaryGetCount(dictionary);
  std::vector<const void*> keys(static_cast<size_t>(count));
  std::vector<const void*> values(static_cast<size_t>(count));
  CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
  plist::Dictionary out;
  for (CFIndex i = 0; i < count; ++i) {
    CFTypeRef key = keys[static_cast<size_t>(i)];
    if (!key || CFGetTypeID(key) != CFStringGetTypeID()) return std::nullopt;
    std::optional<std::string> name = string_from_cf(static_cast<CFStringRef>(key));
    std::optional<plist::Value> value = plist_from_cf(values[static_cast<size_t>(i)]);
    if (!name || !value) return std::nullopt;
    out.insert_or_assign(std::move(*name), std::move(*value));
  }
  return plist::Value(std::move(out));
}

// The property-list reading of an object of a property-list type; none when its contents
// cannot be carried over exactly (the caller then keeps the object as an opaque value).
std::optional<plist::Value> plist_value_from_cf(CFTypeRef object) {
  const CFTypeID type = CFGetTypeID(object);
  if (type == CFBooleanGetTypeID()) {
    return plist::Value(static_cast<bool>(CFBooleanGetValue(static_cast<CFBooleanRef>(object))));
  }
  if (type == CFNumberGetTypeID()) return number_from_cf(static_cast<CFNumberRef>(object));
  if (type == CFStringGetTypeID()) {
    std::optional<std::string> text = string_from_cf(static_cast<CFStringRef>(object));
    if (!text) return std::nullopt;
    return plist::Value(std::move(*text));
  }
  if (type == CFDataGetTypeID()) {
    const auto data = static_cast<CFDataRef>(object);
    const UInt8* bytes = CFDataGetBytePtr(data);
    return plist::Value(plist::Data(bytes, bytes + CFDataGetLength(data)));
  }
  if (type == CFArrayGetTypeID()) return array_from_cf(static_cast<CFArrayRef>(object));
  if (type == CFDictionaryGetTypeID()) {
    return dictionary_from_cf(static_cast<CFDictionaryRef>(object));
  }
  return std::nullopt;
}

}  // namespace

CFRef<CFTypeRef> cf_from_plist(const plist::Value& value) {
  switch (value.kind()) {
    case plist::Kind::Boolean:
      return CFRef<CFTypeRef>::retain(*value.asBoolean() ? kCFBooleanTrue : kCFBooleanFalse);
    case plist::Kind::Integer: return number_from_int(*value.asInt64());
    case plist::Kind::Real: {
      const double real = *value.asDouble();
      return CFRef<CFTypeRef>::adopt(
          CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &real));
    }
    case plist::Kind::String: return CFRef<CFTypeRef>::retain(cf_string(*value.asString()).get());
    case plist::Kind::Data: {
      const plist::Data& data = *value.asData();
      return CFRef<CFTypeRef>::adopt(
          CFDataCreate(kCFAllocatorDefault, data.data(), static_cast<CFIndex>(data.size())));
    }
    case plist::Kind::Array: return array_from_plist(*value.asArray());
    case plist::Kind::Dictionary:
      return CFRef<CFTypeRef>::retain(cf_from_plist(*value.asDictionary()).get());
    case plist::Kind::Opaque: return opaque_to_cf(*value.asOpaque());
  }
  return {};
}

CFRef<CFDictionaryRef> cf_from_plist(const plist::Dictionary& dictionary) {
  CFRef<CFMutableDictionaryRef> out = CFRef<CFMutableDictionaryRef>::adopt(
      CFDictionaryCreateMutable(kCFAllocatorDefault, static_cast<CFIndex>(dictionary.size()),
                                &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  if (!out) return {};
  for (const auto& [key, value] : dictionary) {
    const CFRef<CFStringRef> name = cf_string(key);
    const CFRef<CFTypeRef> converted = cf_from_plist(value);
    if (!name || !converted) return {};
    CFDictionarySetValue(out.get(), name.get(), converted.get());
  }
  return CFRef<CFDictionaryRef>::retain(out.get());
}

std::optional<plist::Value> plist_from_cf(CFTypeRef object) {
  if (!object) return std::nullopt;
  if (std::optional<plist::Value> value = plist_value_from_cf(object)) return value;
  return opaque_from_cf(object);
}

CFRef<CFStringRef> cf_string(std::string_view utf8) {
  return CFRef<CFStringRef>::adopt(
      CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8.data()),
                              static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false));
}

std::optional<std::string> string_from_cf(CFStringRef string) {
  if (!string) return std::nullopt;
  const CFRange all = CFRangeMake(0, CFStringGetLength(string));
  CFIndex bytes = 0;
  if (CFStringGetBytes(string, all, kCFStringEncodingUTF8, 0, false, nullptr, 0, &bytes) !=
      all.length) {
    return std::nullopt;  // a lone surrogate has no UTF-8 form
  }
  std::string out(static_cast<size_t>(bytes), '\0');
  CFStringGetBytes(string, all, kCFStringEncodingUTF8, 0, false,
                   reinterpret_cast<UInt8*>(out.data()), bytes, nullptr);
  return out;
}

}  // namespace padwarden::macos
