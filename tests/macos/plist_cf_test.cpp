// The conversion between property-list values and CoreFoundation objects: every kind goes
// there and back unchanged, keeps its CF type, and foreign objects stay themselves.
#include "platform/macos/plist_cf.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace padwarden::macos {
namespace {

using plist::Array;
using plist::Data;
using plist::Dictionary;
using plist::Value;

struct RoundTrip {
  const char* name;
  Value value;
  CFTypeID (*type)();
};

std::vector<RoundTrip> round_trips() {
  const int64_t min64 = std::numeric_limits<int64_t>::min();
  const int64_t max64 = std::numeric_limits<int64_t>::max();
  return {
      {"true", Value(true), CFBooleanGetTypeID},
      {"false", Value(false), CFBooleanGetTypeID},
      {"zero", Value(0), CFNumberGetTypeID},
      {"int32 edges", Value(Array{Value(INT32_MIN), Value(INT32_MAX)}), CFArrayGetTypeID},
      {"just below 32 bits", Value(int64_t{INT32_MIN} - 1), CFNumberGetTypeID},
      {"just past 32 bits", Value(int64_t{1} << 32), CFNumberGetTypeID},
      {"int64 min", Value(min64), CFNumberGetTypeID},
      {"int64 max", Value(max64), CFNumberGetTypeID},
      {"key mapping entry", Value(int64_t{0x700000053}), CFNumberGetTypeID},
      {"real", Value(0.25), CFNumberGetTypeID},
      {"empty string", Value(""), CFStringGetTypeID},
      {"utf-8 string", Value("Num \xE2\x87\xAD Lock \xC3\xA9"), CFStringGetTypeID},
      {"string with NUL", Value(std::string("a\0b", 3)), CFStringGetTypeID},
      {"data", Value(Data{0, 1, 0xFF, 0x80}), CFDataGetTypeID},
      {"empty data", Value(Data{}), CFDataGetTypeID},
      {"empty array", Value(Array{}), CFArrayGetTypeID},
      {"empty dictionary", Value(Dictionary{}), CFDictionaryGetTypeID},
      {"lease record",
       Value(Dictionary{
           {"Version", Value(2)},
           {"Original",
            Value(Array{Value(Dictionary{{"HIDKeyboardModifierMappingSrc", Value(max64)},
                                         {"HIDKeyboardModifierMappingDst", Value(min64)}})})},
           {"Present", Value(true)},
           {"Boot", Value("1700000000.123456")},
           {"Nested", Value(Array{Value(Array{Value(Array{})}), Value(Dictionary{})})}}),
       CFDictionaryGetTypeID},
  };
}

TEST(PlistCF, EveryKindGoesThereAndBackUnchanged) {
  for (const RoundTrip& trip : round_trips()) {
    SCOPED_TRACE(trip.name);
    const CFRef<CFTypeRef> object = cf_from_plist(trip.value);
    ASSERT_TRUE(object);
    EXPECT_EQ(CFGetTypeID(object.get()), trip.type());
    const std::optional<Value> back = plist_from_cf(object.get());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, trip.value);
    EXPECT_EQ(back->kind(), trip.value.kind());  // equality lets 1 == 1.0; kinds must match too
    // Integers beyond 32 bits keep all 64 (key mapping entries need them).
    const std::optional<int64_t> integer =
        trip.value.kind() == plist::Kind::Integer ? trip.value.asInt64() : std::nullopt;
    if (integer && (*integer < INT32_MIN || *integer > INT32_MAX)) {
      EXPECT_EQ(CFNumberGetType(static_cast<CFNumberRef>(object.get())), kCFNumberSInt64Type);
    }
    // The platform's own verdict agrees with the portable one the program asks.
    EXPECT_EQ(
        static_cast<bool>(CFPropertyListIsValid(object.get(), kCFPropertyListBinaryFormat_v1_0)),
        plist::CFPropertyListIsValid(trip.value, plist::Format::Binary));
  }
}

TEST(PlistCF, ABooleanIsNeverANumber) {
  const CFRef<CFTypeRef> yes = cf_from_plist(Value(true));
  ASSERT_TRUE(yes);
  EXPECT_EQ(yes.get(), kCFBooleanTrue);
  const int one = 1;
  const CFRef<CFNumberRef> number =
      CFRef<CFNumberRef>::adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberIntType, &one));
  const std::optional<Value> read = plist_from_cf(number.get());
  ASSERT_TRUE(read);
  EXPECT_FALSE(read->isBoolean());
  EXPECT_FALSE(*read == Value(true));
}

TEST(PlistCF, AForeignObjectBecomesOpaqueAndComesBackAsItself) {
  const CFRef<CFURLRef> url = CFRef<CFURLRef>::adopt(CFURLCreateWithString(
      kCFAllocatorDefault, CFSTR("x-apple.systempreferences:com.apple.preference.security"),
      nullptr));
  ASSERT_TRUE(url);
  const std::optional<Value> opaque = plist_from_cf(url.get());
  ASSERT_TRUE(opaque);
  ASSERT_EQ(opaque->kind(), plist::Kind::Opaque);
  EXPECT_EQ(opaque->asOpaque()->typeName, "CFURL");
  EXPECT_FALSE(plist::CFPropertyListIsValid(*opaque, plist::Format::Binary));
  const CFRef<CFTypeRef> back = cf_from_plist(*opaque);
  EXPECT_EQ(back.get(), static_cast<CFTypeRef>(url.get()));

  // Inside a container too: the array converts, its element stays the foreign object.
  const void* elements[] = {url.get()};
  const CFRef<CFArrayRef> array = CFRef<CFArrayRef>::adopt(
      CFArrayCreate(kCFAllocatorDefault, elements, 1, &kCFTypeArrayCallBacks));
  const std::optional<Value> wrapped = plist_from_cf(array.get());
  ASSERT_TRUE(wrapped && wrapped->isArray());
  EXPECT_EQ(wrapped->asArray()->at(0), *opaque);
}

TEST(PlistCF, WhatCannotBeMadeIsNone) {
  EXPECT_FALSE(cf_from_plist(Value(std::string("\xC3\x28"))));  // not UTF-8
  EXPECT_FALSE(cf_from_plist(Value::opaque("IOHIDDevice")));    // stands for no CF object
  EXPECT_FALSE(cf_from_plist(Value(Array{Value(1), Value::opaque("x")})));
  EXPECT_FALSE(cf_from_plist(Dictionary{{"DeviceUsagePage", Value::opaque("x")}}));
  EXPECT_FALSE(plist_from_cf(nullptr));
  // A dictionary with a key that is not a string is read as one foreign object.
  const int key = 6;
  const CFRef<CFNumberRef> number =
      CFRef<CFNumberRef>::adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberIntType, &key));
  const void* keys[] = {number.get()};
  const void* values[] = {kCFBooleanTrue};
  const CFRef<CFDictionaryRef> dictionary = CFRef<CFDictionaryRef>::adopt(
      CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                         &kCFTypeDictionaryValueCallBacks));
  const std::optional<Value> read = plist_from_cf(dictionary.get());
  EXPECT_TRUE(read && read->kind() == plist::Kind::Opaque);
}

}  // namespace
}  // namespace padwarden::macos
