// Property-list values: equality, exact integer conversion, validity for the binary format and
// the one-line rendering.
#include "platform/plist.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace padwarden::plist {
namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

// --- Equality ------------------------------------------------------------------------------

struct EqualityCase {
  const char* name;
  Value a;
  Value b;
  bool equal;
};

Value mapping_entry(int64_t src, int64_t dst) {
  return Dictionary{{"HIDKeyboardModifierMappingSrc", src}, {"HIDKeyboardModifierMappingDst", dst}};
}

std::vector<EqualityCase> equality_cases() {
  const Value shared = Value::opaque("IOHIDDeviceRef");
  const Value copy = shared;  // NOLINT: a copy is the same object
  return {
      {"same booleans", true, true, true},
      {"different booleans", true, false, false},
      {"same integers", 42, 42, true},
      {"different integers", 42, 43, false},
      {"integer equals integral real", 3, 3.0, true},
      {"integral real equals integer", 3.0, 3, true},
      {"integer differs from fractional real", 3, 3.5, false},
      {"negative integer equals real", -7, -7.0, true},
      {"zero equals negative zero real", 0, -0.0, true},
      {"int64 min equals -2^63 real", kMin, -9223372036854775808.0, true},
      // 2^63 as a real is out of int64 range: not equal to the largest integer it rounds near.
      {"int64 max differs from 2^63 real", kMax, 9223372036854775808.0, false},
      // 2^53 + 1 is not representable as a double; the nearest double is 2^53.
      {"large integer differs from rounded real", int64_t{9007199254740993}, 9007199254740992.0,
       false},
      {"real nan never equal", std::nan(""), std::nan(""), false},
      {"reals compare numerically", 0.1, 0.1, true},
      {"true is not one", true, 1, false},
      {"false is not zero", false, 0, false},
      {"true is not one point zero", true, 1.0, false},
      {"string is not a number", "1", 1, false},
      {"same strings", "Enabled", "Enabled", true},
      {"strings are case sensitive", "Enabled", "enabled", false},
      {"string differs from data", "ab", Data{'a', 'b'}, false},
      {"same data", Data{1, 2, 3}, Data{1, 2, 3}, true},
      {"different data", Data{1, 2, 3}, Data{1, 2}, false},
      {"empty data", Data{}, Data{}, true},
      {"arrays elementwise numeric", Array{1, 2.0}, Array{1.0, 2}, true},
      {"array order matters", Array{1, 2}, Array{2, 1}, false},
      {"array length matters", Array{1}, Array{1, 1}, false},
      {"empty array differs from empty dictionary", Array{}, Dictionary{}, false},
      {"dictionary order irrelevant", Dictionary{{"a", 1}, {"b", 2}},
       Dictionary{{"b", 2}, {"a", 1}}, true},
      {"dictionary values numeric", Dictionary{{"a", 1}}, Dictionary{{"a", 1.0}}, true},
      {"dictionary extra key", Dictionary{{"a", 1}}, Dictionary{{"a", 1}, {"b", 2}}, false},
      {"dictionary different key", Dictionary{{"a", 1}}, Dictionary{{"b", 1}}, false},
      {"nested equal",
       Array{mapping_entry(0x700000053, 0), mapping_entry(0x70000005F, 0x70000004A)},
       Array{mapping_entry(0x700000053, 0), mapping_entry(0x70000005F, 0x70000004A)}, true},
      {"nested integer and real", Dictionary{{"m", Array{mapping_entry(0x700000053, 0)}}},
       Dictionary{{"m", Array{mapping_entry(0x700000053, 0.0)}}}, true},
      {"nested differ deep", Dictionary{{"m", Array{mapping_entry(0x700000053, 0)}}},
       Dictionary{{"m", Array{mapping_entry(0x700000053, 0x700000000)}}}, false},
      {"nested boolean never a number", Array{Dictionary{{"k", true}}}, Array{Dictionary{{"k", 1}}},
       false},
      {"opaque equals itself", shared, shared, true},
      {"opaque equals its copy", shared, copy, true},
      {"opaque of same type differs", Value::opaque("IOHIDDeviceRef"),
       Value::opaque("IOHIDDeviceRef"), false},
      {"opaque inside arrays by identity", Array{shared}, Array{copy}, true},
      {"opaque is not a string", Value::opaque("x"), "x", false},
  };
}

TEST(PlistEquality, Table) {
  for (const EqualityCase& c : equality_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.a == c.b, c.equal) << describe(c.a) << " vs " << describe(c.b);
    EXPECT_EQ(c.b == c.a, c.equal) << "not symmetric";
    EXPECT_EQ(c.a != c.b, !c.equal);
  }
}

TEST(PlistEquality, InsertionOrderDoesNotChangeDictionaries) {
  Dictionary forward;
  Dictionary backward;
  for (int i = 0; i < 20; ++i) forward.emplace("k" + std::to_string(i), i);
  for (int i = 19; i >= 0; --i) backward.emplace("k" + std::to_string(i), i);
  EXPECT_EQ(Value(forward), Value(backward));
  EXPECT_EQ(describe(forward), describe(backward));
}

// --- Kinds and accessors -------------------------------------------------------------------

TEST(PlistValue, KindsOfConstructedValues) {
  struct Case {
    Value value;
    Kind kind;
  };
  const std::vector<Case> cases = {
      {true, Kind::Boolean},
      {int8_t{-1}, Kind::Integer},
      {uint16_t{65535}, Kind::Integer},
      {int64_t{1} << 40, Kind::Integer},
      {1.5, Kind::Real},
      {"text", Kind::String},
      {std::string("text"), Kind::String},
      {std::string_view("text"), Kind::String},
      {Data{0}, Kind::Data},
      {Array{}, Kind::Array},
      {Dictionary{}, Kind::Dictionary},
      {Value::opaque("T"), Kind::Opaque},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(describe(c.value));
    EXPECT_EQ(c.value.kind(), c.kind);
    EXPECT_EQ(c.value.isNumber(), c.kind == Kind::Integer || c.kind == Kind::Real);
  }
}

TEST(PlistValue, FindLooksUpDictionaryKeysOnly) {
  const Value dict = Dictionary{{"a", 1}};
  ASSERT_NE(dict.find("a"), nullptr);
  EXPECT_EQ(*dict.find("a"), Value(1));
  EXPECT_EQ(dict.find("b"), nullptr);
  EXPECT_EQ(Value(Array{1}).find("a"), nullptr);
  EXPECT_EQ(Value("a").find("a"), nullptr);
}

// --- asInt64 exactness ---------------------------------------------------------------------

struct Int64Case {
  const char* name;
  Value value;
  std::optional<int64_t> expected;
};

TEST(PlistAsInt64, Table) {
  const std::vector<Int64Case> cases = {
      {"integer", 5, 5},
      {"int64 min", kMin, kMin},
      {"int64 max", kMax, kMax},
      {"usage encoding", int64_t{0x700000053}, int64_t{0x700000053}},
      {"integral real", 5.0, 5},
      {"negative integral real", -5.0, -5},
      {"negative zero", -0.0, 0},
      {"fraction", 5.5, std::nullopt},
      {"tiny fraction", 1e-300, std::nullopt},
      {"-2^63 real", -9223372036854775808.0, kMin},
      {"2^63 real", 9223372036854775808.0, std::nullopt},
      {"below -2^63", -9223372036854777856.0, std::nullopt},
      {"largest double below 2^63", 9223372036854774784.0, int64_t{9223372036854774784}},
      {"2^53", 9007199254740992.0, int64_t{9007199254740992}},
      {"infinity", std::numeric_limits<double>::infinity(), std::nullopt},
      {"minus infinity", -std::numeric_limits<double>::infinity(), std::nullopt},
      {"nan", std::nan(""), std::nullopt},
      {"boolean", true, std::nullopt},
      {"string", "5", std::nullopt},
      {"data", Data{5}, std::nullopt},
  };
  for (const Int64Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.value.asInt64(), c.expected);
  }
}

TEST(PlistAsDouble, NumbersOnly) {
  EXPECT_EQ(Value(3).asDouble(), 3.0);
  EXPECT_EQ(Value(2.5).asDouble(), 2.5);
  EXPECT_EQ(Value(true).asDouble(), std::nullopt);
  EXPECT_EQ(Value("2.5").asDouble(), std::nullopt);
}

// --- CFPropertyListIsValid -----------------------------------------------------------------

struct ValidityCase {
  const char* name;
  Value value;
  bool valid;
};

TEST(PlistValidity, Table) {
  const Value opaque = Value::opaque("IOHIDDeviceRef");
  const std::vector<ValidityCase> cases = {
      {"boolean", true, true},
      {"integer", kMin, true},
      {"real nan", std::nan(""), true},
      {"ascii string", "Enabled", true},
      {"empty string", "", true},
      {"two-byte utf8", "caf\xc3\xa9", true},
      {"three-byte utf8", "\xe2\x82\xac", true},
      {"four-byte utf8", "\xf0\x9f\x98\x80", true},
      {"embedded nul is still utf8", std::string("a\0b", 3), true},
      {"lone continuation byte", "a\x80", false},
      {"truncated sequence", "\xe2\x82", false},
      {"overlong encoding", "\xc0\xaf", false},
      {"surrogate encoded", "\xed\xa0\x80", false},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", false},
      {"invalid lead byte", "\xff", false},
      {"data with any bytes", Data{0xff, 0x00, 0x80}, true},
      {"opaque", opaque, false},
      {"opaque in array", Array{1, opaque}, false},
      {"opaque in dictionary", Dictionary{{"k", opaque}}, false},
      {"opaque deep inside", Dictionary{{"a", Array{Dictionary{{"b", Array{opaque}}}}}}, false},
      {"invalid string in array", Array{"ok", "\xff"}, false},
      {"invalid dictionary key", Dictionary{{"\xc3", 1}}, false},
      {"invalid key deep inside", Array{Dictionary{{"ok", Dictionary{{"\x80", 1}}}}}, false},
      {"utf8 key", Dictionary{{"cl\xc3\xa9", 1}}, true},
      {"empty containers", Array{Array{}, Dictionary{}}, true},
      {"mapping", Array{mapping_entry(0x700000053, 0)}, true},
  };
  for (const ValidityCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CFPropertyListIsValid(c.value, Format::Binary), c.valid);
    EXPECT_EQ(CFPropertyListIsValid(c.value, Format::Xml), c.valid);
  }
}

// --- describe ------------------------------------------------------------------------------

TEST(PlistDescribe, KeyMappingReadsAsHexadecimal) {
  const Value mapping =
      Array{mapping_entry(0x700000053, 0), mapping_entry(0x70000005F, 0x70000004A)};
  EXPECT_EQ(describe(mapping),
            "[{\"HIDKeyboardModifierMappingDst\": 0, \"HIDKeyboardModifierMappingSrc\": "
            "0x700000053}, {\"HIDKeyboardModifierMappingDst\": 0x70000004a, "
            "\"HIDKeyboardModifierMappingSrc\": 0x70000005f}]");
}

TEST(PlistDescribe, Table) {
  struct Case {
    Value value;
    const char* text;
  };
  const std::vector<Case> cases = {
      {true, "true"},
      {false, "false"},
      {65535, "65535"},
      {65536, "0x10000"},
      {-1, "-1"},
      {2.0, "2.0"},
      {0.5, "0.5"},
      {"a \"q\" \\ \n", "\"a \\\"q\\\" \\\\ \\x0a\""},
      {Data{0x00, 0xab}, "<00ab>"},
      {Array{}, "[]"},
      {Dictionary{}, "{}"},
      {Value::opaque("IOHIDDeviceRef"), "<IOHIDDeviceRef>"},
  };
  for (const Case& c : cases) EXPECT_EQ(describe(c.value), c.text);
}

TEST(PlistDescribe, StreamAndPrintToMatchDescribe) {
  const Value value = Dictionary{{"Enabled", true}, {"n", 1.5}};
  std::ostringstream stream;
  stream << value;
  EXPECT_EQ(stream.str(), describe(value));
  std::ostringstream printed;
  PrintTo(value, &printed);
  EXPECT_EQ(printed.str(), describe(value));
  EXPECT_EQ(testing::PrintToString(value), describe(value));
}

}  // namespace
}  // namespace padwarden::plist
