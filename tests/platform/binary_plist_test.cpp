// The binary property-list format: round trips of every kind of value, the integer range, what
// cannot be written, and hostile or broken input that must be refused without a crash.
#include "platform/posix/binary_plist.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace padwarden {
namespace {

using plist::Array;
using plist::Data;
using plist::Dictionary;
using plist::Kind;
using plist::Value;

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

// Equality that also demands the same kinds everywhere (plist equality lets 1 equal 1.0) and
// the same sign of zero.
bool identical(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::Real: {
      const double x = *a.asDouble();
      const double y = *b.asDouble();
      if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);
      return x == y && std::signbit(x) == std::signbit(y);
    }
    case Kind::Array: {
      const Array& x = *a.asArray();
      const Array& y = *b.asArray();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!identical(x[i], y[i])) return false;
      }
      return true;
    }
    case Kind::Dictionary: {
      const Dictionary& x = *a.asDictionary();
      const Dictionary& y = *b.asDictionary();
      if (x.size() != y.size()) return false;
      for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
        if (i->first != j->first || !identical(i->second, j->second)) return false;
      }
      return true;
    }
    default: return a == b;
  }
}

std::optional<Value> round_trip(const Value& value) {
  const auto bytes = encode_binary_plist(value);
  if (!bytes) return std::nullopt;
  return decode_binary_plist(bytes->data(), bytes->size());
}

std::optional<Value> decode(const std::vector<uint8_t>& bytes) {
  return decode_binary_plist(bytes.data(), bytes.size());
}

Data all_bytes() {
  Data data;
  for (int i = 0; i < 256; ++i) data.push_back(static_cast<uint8_t>(i));
  return data;
}

Value mapping_entry(int64_t src, int64_t dst) {
  return Dictionary{{"HIDKeyboardModifierMappingSrc", src}, {"HIDKeyboardModifierMappingDst", dst}};
}

// A value with every kind, nested, including the empty forms.
Value everything() {
  Array integers;
  for (int64_t i : {int64_t{0}, int64_t{1}, int64_t{-1}, int64_t{127}, int64_t{128}, int64_t{255},
                    int64_t{256}, int64_t{65535}, int64_t{65536}, int64_t{0x7FFFFFFF},
                    int64_t{0x80000000}, int64_t{0xFFFFFFFF}, int64_t{0x100000000},
                    int64_t{0x700000053}, kMin, kMin + 1, kMax, kMax - 1}) {
    integers.emplace_back(i);
  }
  const Array reals = {0.0,
                       -0.0,
                       1.0,
                       -1.0,
                       0.1,
                       1.5,
                       1e308,
                       -1e-308,
                       5e-324,
                       3.0e10,
                       -2.5e-3,
                       std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()};
  const Array strings = {"",
                         "Enabled",
                         "caf\xc3\xa9",
                         "\xe2\x82\xac 10",
                         "\xf0\x9f\x98\x80 emoji",
                         std::string(300, 'x'),
                         std::string(40, 'a') + "\xc3\xa9"};
  return Dictionary{
      {"Enabled", true},
      {"Disabled", false},
      {"integers", integers},
      {"reals", reals},
      {"strings", strings},
      {"data", Array{Data{}, Data{0}, all_bytes()}},
      {"empty array", Array{}},
      {"empty dictionary", Dictionary{}},
      {"", "empty key"},
      {"cl\xc3\xa9 \xf0\x9f\x94\x91", "utf-8 key"},
      {"MappingLease.0000000100000abc",
       Dictionary{{"Version", 1},
                  {"BootSessionUUID", "8C1D3F52-6E8A-4A3B-9C55-0D1F2E3A4B5C"},
                  {"Original", Array{mapping_entry(0x700000039, 0x7000000E0)}},
                  {"Installed", Array{mapping_entry(0x700000053, 0)}}}},
      {"deep", Array{Array{Array{Dictionary{{"x", Array{Dictionary{}, Array{}, 1.0, 1}}}}}}},
      {"repeated", Array{"same", "same", "same", 7, 7, 7.0}},
  };
}

TEST(BinaryPlist, EveryKindNestedRoundTrips) {
  const Value value = everything();
  const auto bytes = encode_binary_plist(value);
  ASSERT_TRUE(bytes);
  ASSERT_GE(bytes->size(), 8u);
  EXPECT_EQ(std::memcmp(bytes->data(), "bplist00", 8), 0);
  const auto back = decode_binary_plist(bytes->data(), bytes->size());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, value);
  EXPECT_TRUE(identical(*back, value)) << describe(*back);
}

TEST(BinaryPlist, ScalarsAndEmptyContainersRoundTripAtTheTop) {
  const std::vector<Value> values = {true,   false,       0,       -1,           kMin,
                                     kMax,   2.0,         -0.0,    "",           "text",
                                     Data{}, all_bytes(), Array{}, Dictionary{}, std::nan("")};
  for (const Value& value : values) {
    SCOPED_TRACE(describe(value));
    const auto back = round_trip(value);
    ASSERT_TRUE(back);
    EXPECT_TRUE(identical(*back, value)) << describe(*back);
  }
}

TEST(BinaryPlist, ExtremeIntegersKeepTheirExactValue) {
  std::vector<int64_t> values = {
      kMin,     kMin + 1,   -4294967297, -4294967296, -2147483649, -2147483648, -65537, -65536,
      -257,     -256,       -129,        -128,        -2,          -1,          0,      1,
      2,        127,        128,         255,         256,         65535,       65536,  16777215,
      16777216, 2147483647, 2147483648,  4294967295,  4294967296,  kMax - 1,    kMax};
  for (int shift = 0; shift < 63; ++shift) {
    values.push_back(int64_t{1} << shift);
    values.push_back(-(int64_t{1} << shift));
  }
  for (int64_t i : values) {
    SCOPED_TRACE(i);
    for (const Value& value : {Value(i), Value(Array{i}), Value(Dictionary{{"n", i}})}) {
      const auto back = round_trip(value);
      ASSERT_TRUE(back);
      EXPECT_TRUE(identical(*back, value)) << describe(*back);
    }
  }
}

TEST(BinaryPlist, IntegralRealsStayRealsAndIntegersStayIntegers) {
  const auto back = round_trip(Array{1.0, 1, 0.0, 0, 1e15, int64_t{1000000000000000}});
  ASSERT_TRUE(back);
  const Array& array = *back->asArray();
  ASSERT_EQ(array.size(), 6u);
  for (size_t i = 0; i < array.size(); ++i) {
    EXPECT_EQ(array[i].kind(), i % 2 == 0 ? Kind::Real : Kind::Integer) << i;
  }
}

TEST(BinaryPlist, WhatCannotBeWrittenIsRefused) {
  const Value opaque = Value::opaque("IOHIDDeviceRef");
  struct Case {
    const char* name;
    Value value;
  };
  const std::vector<Case> cases = {
      {"opaque", opaque},
      {"opaque in array", Array{1, opaque}},
      {"opaque deep in dictionary", Dictionary{{"a", Array{Dictionary{{"b", opaque}}}}}},
      {"invalid utf-8 string", Array{"\xff"}},
      {"invalid utf-8 key", Dictionary{{"\xc3", 1}}},
      // libplist takes C strings: an embedded U+0000 would be cut off.
      {"string with nul", std::string("a\0b", 3)},
      {"key with nul", Dictionary{{std::string("a\0b", 3), 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(binary_plist_can_encode(c.value));
    EXPECT_FALSE(encode_binary_plist(c.value));
  }
}

Value nested_arrays(size_t depth) {
  Value value = 1;
  for (size_t i = 0; i < depth; ++i) value = Array{value};
  return value;
}

TEST(BinaryPlist, NestingIsBoundedBothWays) {
  const Value deepest = nested_arrays(BinaryPlistLimits::kMaxDepth);
  EXPECT_TRUE(binary_plist_can_encode(deepest));
  const auto back = round_trip(deepest);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, deepest);
  EXPECT_FALSE(encode_binary_plist(nested_arrays(BinaryPlistLimits::kMaxDepth + 1)));
}

// --- Hand-made files -------------------------------------------------------------------------

// Builds binary property lists object by object, so that tests can write what no encoder would.
class Bplist {
 public:
  explicit Bplist(uint8_t refWidth = 1) : refWidth_(refWidth) {}

  size_t add(std::vector<uint8_t> object) {
    objects_.push_back(std::move(object));
    return objects_.size() - 1;
  }
  std::vector<uint8_t> ref(uint64_t index) const {
    std::vector<uint8_t> out;
    for (int i = refWidth_ - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(index >> (8 * i)));
    return out;
  }
  static std::vector<uint8_t> count(uint8_t type, uint64_t n) {
    if (n < 15) return {static_cast<uint8_t>((type << 4) | n)};
    return {static_cast<uint8_t>((type << 4) | 0xF),
            0x13,
            static_cast<uint8_t>(n >> 56),
            static_cast<uint8_t>(n >> 48),
            static_cast<uint8_t>(n >> 40),
            static_cast<uint8_t>(n >> 32),
            static_cast<uint8_t>(n >> 24),
            static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 8),
            static_cast<uint8_t>(n)};
  }
  std::vector<uint8_t> array(const std::vector<uint64_t>& refs) const {
    std::vector<uint8_t> out = count(0xA, refs.size());
    for (uint64_t r : refs) append(out, ref(r));
    return out;
  }
  std::vector<uint8_t> dict(const std::vector<uint64_t>& keys,
                            const std::vector<uint64_t>& values) const {
    std::vector<uint8_t> out = count(0xD, keys.size());
    for (uint64_t r : keys) append(out, ref(r));
    for (uint64_t r : values) append(out, ref(r));
    return out;
  }
  static std::vector<uint8_t> ascii(const std::string& s) {
    std::vector<uint8_t> out = count(0x5, s.size());
    out.insert(out.end(), s.begin(), s.end());
    return out;
  }
  static std::vector<uint8_t> utf16(const std::vector<uint16_t>& units) {
    std::vector<uint8_t> out = count(0x6, units.size());
    for (uint16_t u : units) {
      out.push_back(static_cast<uint8_t>(u >> 8));
      out.push_back(static_cast<uint8_t>(u));
    }
    return out;
  }
  // An integer object of 1 << widthLog2 bytes, big-endian, from the given bytes.
  static std::vector<uint8_t> integer(std::vector<uint8_t> bytes) {
    uint8_t log2 = 0;
    while ((size_t{1} << log2) < bytes.size()) ++log2;
    std::vector<uint8_t> out = {static_cast<uint8_t>(0x10 | log2)};
    append(out, bytes);
    return out;
  }

  std::vector<uint8_t> build(uint64_t top = 0) const {
    std::vector<uint8_t> out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<uint64_t> offsets;
    for (const auto& object : objects_) {
      offsets.push_back(out.size());
      append(out, object);
    }
    const uint64_t table = out.size();
    const uint8_t offsetWidth = table < 256 ? 1 : table < 65536 ? 2 : 4;
    for (uint64_t offset : offsets) {
      for (int i = offsetWidth - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(offset >> (8 * i)));
    }
    for (int i = 0; i < 6; ++i) out.push_back(0);
    out.push_back(offsetWidth);
    out.push_back(refWidth_);
    for (uint64_t field : {static_cast<uint64_t>(objects_.size()), top, table}) {
      for (int i = 7; i >= 0; --i) out.push_back(static_cast<uint8_t>(field >> (8 * i)));
    }
    return out;
  }

 private:
  static void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) {
    out.insert(out.end(), more.begin(), more.end());
  }
  uint8_t refWidth_;
  std::vector<std::vector<uint8_t>> objects_;
};

TEST(BinaryPlistDecode, HandMadeFileOfEveryKindDecodes) {
  Bplist b;
  b.add(b.array({1, 2, 3, 4, 5, 6, 7}));
  b.add({0x09});                   // 1: true
  b.add(Bplist::integer({0xFF}));  // 2: one byte, unsigned
  b.add(Bplist::integer({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}));  // 3: eight, signed
  b.add({0x22, 0x3F, 0xC0, 0x00, 0x00});                   // 4: 1.5 as a 4-byte float
  b.add(Bplist::ascii("abc"));                             // 5
  b.add(Bplist::utf16({0x0063, 0x00E9, 0xD83D, 0xDE00}));  // 6: "cé😀"
  b.add({0x42, 0xDE, 0xAD});                               // 7: data
  const auto value = decode(b.build());
  ASSERT_TRUE(value);
  EXPECT_TRUE(identical(
      *value, Array{true, 255, -2, 1.5, "abc", "c\xc3\xa9\xf0\x9f\x98\x80", Data{0xDE, 0xAD}}))
      << describe(*value);
}

TEST(BinaryPlistDecode, SixteenByteIntegersOnlyWithinInt64) {
  const auto sixteen = [](std::vector<uint8_t> high, std::vector<uint8_t> low) {
    Bplist b;
    b.add(b.array({1}));
    std::vector<uint8_t> bytes = std::move(high);
    bytes.insert(bytes.end(), low.begin(), low.end());
    b.add(Bplist::integer(bytes));
    return decode(b.build());
  };
  const std::vector<uint8_t> zeros(8, 0x00);
  const std::vector<uint8_t> ones(8, 0xFF);
  // 5 and -1 fit in int64; 2^63 (what macOS writes for a large unsigned value) does not, and
  // libplist alone would read it as INT64_MIN.
  const auto five = sixteen(zeros, {0, 0, 0, 0, 0, 0, 0, 5});
  ASSERT_TRUE(five);
  EXPECT_TRUE(identical(*five, Array{5}));
  const auto minusOne = sixteen(ones, ones);
  ASSERT_TRUE(minusOne);
  EXPECT_TRUE(identical(*minusOne, Array{-1}));
  EXPECT_FALSE(sixteen(zeros, {0x80, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(sixteen({0, 0, 0, 0, 0, 0, 0, 1}, zeros));
  EXPECT_FALSE(sixteen(ones, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(BinaryPlistDecode, SharedObjectsExpandIntoEqualValues) {
  Bplist b;
  b.add(b.array({1, 1, 1, 2, 2}));
  b.add(Bplist::ascii("same"));
  b.add(b.dict({1}, {1}));
  const auto value = decode(b.build());
  ASSERT_TRUE(value);
  const Value same = "same";
  const Value dict = Dictionary{{"same", "same"}};
  EXPECT_TRUE(identical(*value, Array{same, same, same, dict, dict}));
}

struct HostileCase {
  const char* name;
  std::vector<uint8_t> bytes;
};

std::vector<HostileCase> hostile_cases() {
  std::vector<HostileCase> cases;
  const auto single = [](std::vector<uint8_t> object) {
    Bplist b;
    b.add(b.array({1}));
    b.add(std::move(object));
    return b.build();
  };
  cases.push_back({"null object", single({0x00})});
  cases.push_back({"fill byte", single({0x0F})});
  cases.push_back({"date", single({0x33, 0x41, 0xC0, 0, 0, 0, 0, 0, 0})});
  cases.push_back({"uid", single({0x80, 0x05})});
  cases.push_back({"real of two bytes", single({0x21, 0x00, 0x01})});
  cases.push_back({"integer of 32 bytes", single({0x15, 0x00})});
  cases.push_back({"ascii string with nul", single(Bplist::ascii(std::string("a\0b", 3)))});
  cases.push_back({"ascii string with a high byte", single(Bplist::ascii("caf\xc3\xa9"))});
  cases.push_back({"utf-16 with nul", single(Bplist::utf16({0x0041, 0x0000}))});
  cases.push_back({"lone high surrogate", single(Bplist::utf16({0xD83D, 0x0041}))});
  cases.push_back({"high surrogate at the end", single(Bplist::utf16({0x0041, 0xD83D}))});
  cases.push_back({"lone low surrogate", single(Bplist::utf16({0xDE00}))});
  cases.push_back({"string longer than the file", single({0x5F, 0x10, 0xFF, 'a'})});
  cases.push_back({"bad extended count marker", single({0x5F, 0x20, 0x01, 'a'})});
  cases.push_back({"huge extended count",
                   single({0x4F, 0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})});
  {
    Bplist b;
    b.add(b.dict({1, 1}, {2, 3}));
    b.add(Bplist::ascii("k"));
    b.add(Bplist::integer({1}));
    b.add(Bplist::integer({2}));
    cases.push_back({"repeated key", b.build()});
  }
  {
    Bplist b;
    b.add(b.dict({1}, {2}));
    b.add(Bplist::integer({1}));
    b.add(Bplist::integer({2}));
    cases.push_back({"integer key", b.build()});
  }
  {
    Bplist b;
    b.add(b.array({1}));
    b.add({0xC1, 0x02});  // a set
    b.add(Bplist::integer({1}));
    cases.push_back({"set", b.build()});
  }
  {
    Bplist b;
    b.add(b.array({0}));
    cases.push_back({"array containing itself", b.build()});
  }
  {
    Bplist b;
    b.add(b.array({1}));
    b.add(b.array({2}));
    b.add(b.array({1}));
    cases.push_back({"cycle of two", b.build()});
  }
  {
    Bplist b;
    b.add(b.array({5}));
    cases.push_back({"reference out of range", b.build()});
  }
  {
    Bplist b;
    b.add({0x09});
    cases.push_back({"top out of range", b.build(1)});
  }
  {
    // Nesting far beyond the limit: libplist alone would overflow the stack here.
    constexpr uint64_t kDepth = 200000;
    Bplist b(4);
    for (uint64_t i = 0; i < kDepth; ++i) b.add(b.array({i + 1}));
    b.add({0x09});
    cases.push_back({"200000 nested arrays", b.build()});
  }
  {
    // Each level references the next twice: 2^40 values. libplist alone would never finish.
    constexpr uint64_t kLevels = 40;
    Bplist b;
    for (uint64_t i = 0; i < kLevels; ++i) b.add(b.array({i + 1, i + 1}));
    b.add({0x09});
    cases.push_back({"exponential sharing", b.build()});
  }
  {
    // Payload sharing: one 1 MiB data object referenced 100 times is 100 MiB of values.
    Bplist b;
    b.add(b.array(std::vector<uint64_t>(100, 1)));
    std::vector<uint8_t> data = Bplist::count(0x4, 1 << 20);
    data.resize(data.size() + (1 << 20), 0xAB);
    b.add(std::move(data));
    cases.push_back({"shared payload beyond the limit", b.build()});
  }
  return cases;
}

TEST(BinaryPlistDecode, HostileAndMalformedObjectsAreRefused) {
  for (const HostileCase& c : hostile_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(decode(c.bytes));
  }
}

TEST(BinaryPlistDecode, BrokenHeadersAndTrailersAreRefused) {
  Bplist b;
  b.add(b.array({1}));
  b.add({0x09});
  const std::vector<uint8_t> good = b.build();
  ASSERT_TRUE(decode(good));

  const auto with = [&](size_t offset, uint8_t byte) {
    std::vector<uint8_t> bytes = good;
    bytes[offset] = byte;
    return bytes;
  };
  const size_t trailer = good.size() - 32;
  EXPECT_FALSE(decode(with(7, '1'))) << "version";
  EXPECT_FALSE(decode(with(0, 'B'))) << "magic";
  EXPECT_FALSE(decode(with(trailer + 6, 3))) << "offset width 3";
  EXPECT_FALSE(decode(with(trailer + 6, 0))) << "offset width 0";
  EXPECT_FALSE(decode(with(trailer + 7, 0))) << "reference width 0";
  EXPECT_FALSE(decode(with(trailer + 15, 0))) << "no objects";
  EXPECT_FALSE(decode(with(trailer + 15, 200))) << "more objects than the table holds";
  EXPECT_FALSE(decode(with(trailer + 31, 2))) << "offset table inside the header";
  EXPECT_FALSE(decode(with(trailer + 31, 250))) << "offset table beyond the file";
  EXPECT_FALSE(decode(with(trailer - 2, 3))) << "object offset inside the header";
  EXPECT_FALSE(decode(with(trailer - 2, 200))) << "object offset beyond the objects";
  EXPECT_FALSE(decode(with(trailer + 24, 0x80))) << "offset table far away";
}

TEST(BinaryPlistDecode, EmptyShortAndGarbageInputIsRefused) {
  EXPECT_FALSE(decode_binary_plist(nullptr, 0));
  EXPECT_FALSE(decode({}));
  EXPECT_FALSE(decode({'b', 'p', 'l', 'i', 's', 't', '0', '0'}));
  const std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>";
  EXPECT_FALSE(decode(std::vector<uint8_t>(xml.begin(), xml.end())));
  std::mt19937 random(20240601);
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> bytes(random() % 200);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
    if (round % 2 == 0 && bytes.size() >= 8) std::memcpy(bytes.data(), "bplist00", 8);
    EXPECT_FALSE(decode(bytes)) << "round " << round;
  }
}

TEST(BinaryPlistDecode, EveryTruncationIsRefused) {
  const auto bytes = encode_binary_plist(everything());
  ASSERT_TRUE(bytes);
  for (size_t length = 0; length < bytes->size(); ++length) {
    EXPECT_FALSE(decode_binary_plist(bytes->data(), length)) << "length " << length;
  }
}

// Corrupting a valid file anywhere either is refused or gives a value that is itself valid and
// writable; it never crashes (run under the sanitizers too).
TEST(BinaryPlistDecode, CorruptedFilesNeverCrash) {
  const auto original = encode_binary_plist(everything());
  ASSERT_TRUE(original);
  std::mt19937 random(7);
  int decoded = 0;
  const auto check = [&](const std::vector<uint8_t>& bytes) {
    const auto value = decode(bytes);
    if (!value) return;
    ++decoded;
    EXPECT_TRUE(plist::CFPropertyListIsValid(*value, plist::Format::Binary));
    const auto again = round_trip(*value);
    ASSERT_TRUE(again) << describe(*value);
    EXPECT_TRUE(identical(*again, *value));
  };
  for (size_t i = 0; i < original->size(); ++i) {
    for (uint8_t byte : {uint8_t{0x00}, uint8_t{0xFF}, static_cast<uint8_t>((*original)[i] ^ 1)}) {
      std::vector<uint8_t> bytes = *original;
      bytes[i] = byte;
      check(bytes);
    }
  }
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes = *original;
    const int flips = 1 + static_cast<int>(random() % 8);
    for (int f = 0; f < flips; ++f) bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
    check(bytes);
  }
  EXPECT_GT(decoded, 0) << "some corruptions (of payload bytes) still decode";
}

}  // namespace
}  // namespace padwarden
