// Property-list values: equality, exact integer conversion, validity for the binary format, the
// one-line rendering, and how a stored value reads as a boolean.
#include "platform/plist.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/preferences.h"

namespace padwarden::plist {
namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();

Value mapping_entry(int64_t src, Value dst) {
  return Dictionary{{"HIDKeyboardModifierMappingSrc", src}, {"HIDKeyboardModifierMappingDst", dst}};
}

TEST(PlistEquality, Table) {
  struct Case {
    const char* name;
    Value a;
    Value b;
    bool equal;
  };
  const Value shared = Value::opaque("IOHIDDeviceRef");
  const Value copy = shared;  // NOLINT: a copy is the same object
  const Case cases[] = {
      {"different booleans", true, false, false},
      {"different integers", 42, 43, false},
      {"integer equals integral real", 3, 3.0, true},
      {"integer differs from fractional real", 3, 3.5, false},
      {"zero equals negative zero real", 0, -0.0, true},
      {"int64 min equals -2^63 real", kMin, -9223372036854775808.0, true},
      // 2^63 as a real is out of int64 range: not equal to the largest integer it rounds near.
      {"int64 max differs from 2^63 real", kMax, 9223372036854775808.0, false},
      // 2^53 + 1 is not representable as a double; the nearest double is 2^53.
      {"large integer differs from rounded real", int64_t{9007199254740993}, 9007199254740992.0,
       false},
      {"real nan never equal", std::nan(""), std::nan(""), false},
      {"true is not one", true, 1, false},
      {"string is not a number", "1", 1, false},
      {"strings are case sensitive", "Enabled", "enabled", false},
      {"string view equals string", std::string_view("Enabled"), std::string("Enabled"), true},
      {"string differs from data", "ab", Data{'a', 'b'}, false},
      {"arrays elementwise numeric", Array{1, 2.0}, Array{1.0, 2}, true},
      {"different data", Data{1, 2, 3}, Data{1, 2}, false},
      {"array order matters", Array{1, 2}, Array{2, 1}, false},
      {"empty array differs from empty dictionary", Array{}, Dictionary{}, false},
      {"dictionary extra key", Dictionary{{"a", 1}}, Dictionary{{"a", 1}, {"b", 2}}, false},
      {"nested differ deep", Dictionary{{"m", Array{mapping_entry(0x700000053, 0)}}},
       Dictionary{{"m", Array{mapping_entry(0x700000053, 0x700000000)}}}, false},
      {"nested boolean never a number", Array{Dictionary{{"k", true}}}, Array{Dictionary{{"k", 1}}},
       false},
      {"opaque inside arrays by identity", Array{shared}, Array{copy}, true},
      {"opaque of same type differs", Value::opaque("T"), Value::opaque("T"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.a == c.b, c.equal) << describe(c.a) << " vs " << describe(c.b);
    EXPECT_EQ(c.b == c.a, c.equal) << "not symmetric";
  }
}

TEST(PlistValue, AsInt64OnlyWhenExact) {
  struct Case {
    const char* name;
    Value value;
    std::optional<int64_t> expected;
  };
  const Case cases[] = {
      {"int64 min", kMin, kMin},
      {"integral real", 5.0, 5},
      {"fraction", 5.5, std::nullopt},
      {"-2^63 real", -9223372036854775808.0, kMin},
      {"2^63 real", 9223372036854775808.0, std::nullopt},
      {"below -2^63", -9223372036854777856.0, std::nullopt},
      {"largest double below 2^63", 9223372036854774784.0, int64_t{9223372036854774784}},
      {"infinity", kInf, std::nullopt},
      {"nan", std::nan(""), std::nullopt},
      {"boolean", true, std::nullopt},
      {"string", "5", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value.asInt64(), c.expected) << c.name;
  EXPECT_EQ(Value(3).asDouble(), 3.0);
  EXPECT_EQ(Value(true).asDouble(), std::nullopt);
  const Value dict = Dictionary{{"a", 1}};
  EXPECT_EQ(*dict.find("a"), Value(1));
  EXPECT_EQ(dict.find("b"), nullptr);
  EXPECT_EQ(Value(Array{1}).find("a"), nullptr);
}

// Strings: "YES" or "true" in any case, or a decimal integer that is not zero, trimmed.
TEST(PreferenceValueAsBool, ReadsStoredValuesAsTheDefaultsDo) {
  const std::optional<Value> truthy[] = {true,  -1,     0.5,    std::nan(""),
                                         "YES", "yes",  "TRUE", "-3",
                                         "+7",  "0010", " 1\t", "99999999999999999999"};
  const std::optional<Value> falsy[] = {std::nullopt, false, 0,     -0.0,   "NO", "0",  "00",
                                        "",           "1.5", "0x1", "yes!", "-",  "on", Data{1}};
  for (const auto& v : truthy) EXPECT_TRUE(preference_value_as_bool(v)) << describe(*v);
  for (const auto& v : falsy)
    EXPECT_FALSE(preference_value_as_bool(v)) << (v ? describe(*v) : "none");
}

TEST(PlistValidity, Table) {
  const Value opaque = Value::opaque("IOHIDDeviceRef");
  const std::vector<std::pair<const char*, Value>> valid = {
      {"ascii string", "Enabled"},
      {"two-byte utf8", "caf\xc3\xa9"},
      {"four-byte utf8", "\xf0\x9f\x98\x80"},
      {"embedded nul is still utf8", std::string("a\0b", 3)},
      {"data with any bytes", Data{0xff, 0x00, 0x80}},
      {"utf8 key", Dictionary{{"cl\xc3\xa9", 1}}},
      {"empty containers", Array{Array{}, Dictionary{}}},
  };
  const std::vector<std::pair<const char*, Value>> invalid = {
      {"lone continuation byte", "a\x80"},
      {"truncated sequence", "\xe2\x82"},
      {"overlong encoding", "\xc0\xaf"},
      {"surrogate encoded", "\xed\xa0\x80"},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80"},
      {"invalid lead byte", "\xff"},
      {"opaque", opaque},
      {"opaque deep inside", Dictionary{{"a", Array{Dictionary{{"b", Array{opaque}}}}}}},
      {"invalid dictionary key", Dictionary{{"\xc3", 1}}},
  };
  for (const bool expected : {true, false}) {
    for (const auto& [name, value] : expected ? valid : invalid) {
      EXPECT_EQ(CFPropertyListIsValid(value, Format::Binary), expected) << name;
      EXPECT_EQ(CFPropertyListIsValid(value, Format::Xml), expected) << name;
    }
  }
}

TEST(PlistDescribe, Table) {
  const std::pair<Value, const char*> cases[] = {
      {true, "true"},
      {65535, "65535"},
      {65536, "0x10000"},  // key mappings read as hexadecimal
      {2.0, "2.0"},
      {0.5, "0.5"},
      {"a \"q\" \\ \n", "\"a \\\"q\\\" \\\\ \\x0a\""},
      {Data{0x00, 0xab}, "<00ab>"},
      {Array{}, "[]"},
      {Value::opaque("IOHIDDeviceRef"), "<IOHIDDeviceRef>"},
      {Array{mapping_entry(0x70000005F, 0x70000004A), false},
       "[{\"HIDKeyboardModifierMappingDst\": 0x70000004a, \"HIDKeyboardModifierMappingSrc\": "
       "0x70000005f}, false]"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(describe(value), text);
    std::ostringstream stream;
    stream << value;
    EXPECT_EQ(stream.str(), text);
  }
}

}  // namespace
}  // namespace padwarden::plist
