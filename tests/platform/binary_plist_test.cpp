// The binary property-list format: round trips of every kind of value, the integer range, what
// cannot be written, and hostile or broken input that must be refused without a crash (random
// corruption is left to the fuzz target).
#include "platform/posix/binary_plist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace padwarden {
namespace {

using plist::Array;
using plist::Data;
using plist::Dictionary;
using plist::Value;
using Bytes = std::vector<uint8_t>;

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Equality that also demands the same kinds everywhere (plist equality lets 1 equal 1.0) and the
// same sign of zero: the description writes reals with a point and integers without. NaN, never
// equal to itself, is compared by its description alone.
bool identical(const Value& a, const Value& b) {
  const std::string text = describe(a);
  return text == describe(b) && (a == b || text.find("nan") != std::string::npos);
}

std::optional<Value> decode(const Bytes& bytes) {
  return decode_binary_plist(bytes.data(), bytes.size());
}

Value nested_arrays(size_t depth) {
  Value value = 1;
  for (size_t i = 0; i < depth; ++i) value = Array{value};
  return value;
}

// A value with every kind, nested, including the empty forms, and each integer width's edges.
Value everything() {
  const int64_t edges[] = {0,    -1,   255,         256,        65535,       65536,
                           -129, kMin, -2147483649, 4294967295, 0x700000053, kMax};
  const Array integers(std::begin(edges), std::end(edges));
  const Array reals = {0.0, -0.0, 0.1, 1e308, 5e-324, -2.5e-3, kInf, -kInf};
  const Array strings = {"", "caf\xc3\xa9", "\xf0\x9f\x98\x80 emoji", std::string(300, 'x')};
  Data bytes(256);
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<uint8_t>(i);
  return Dictionary{
      {"booleans", Array{true, false}},
      {"integers", integers},
      {"reals", reals},
      {"strings", strings},
      {"data", Array{Data{}, Data{0}, bytes}},
      {"empty array", Array{}},
      {"empty dictionary", Dictionary{}},
      {"", "empty key"},
      {"cl\xc3\xa9 \xf0\x9f\x94\x91", "utf-8 key"},
      {"deep", Array{Array{Array{Dictionary{{"x", Array{Dictionary{}, Array{}, 1.0, 1}}}}}}},
      {"repeated", Array{"same", "same", 7, 7, 7.0}}};
}

// Every kind nested, scalars and containers at the top, and the deepest nesting allowed.
TEST(BinaryPlist, ValuesRoundTripExactly) {
  const auto bytes = encode_binary_plist(everything());
  ASSERT_TRUE(bytes);
  EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 8), "bplist00");
  const Value values[] = {
      everything(), true,   -0.0,         std::nan(""),
      kMin,         Data{}, Dictionary{}, nested_arrays(BinaryPlistLimits::kMaxDepth)};
  for (const Value& value : values) {
    SCOPED_TRACE(describe(value));
    EXPECT_TRUE(binary_plist_can_encode(value));
    const auto back = decode(encode_binary_plist(value).value_or(Bytes{}));
    ASSERT_TRUE(back);
    EXPECT_TRUE(identical(*back, value)) << describe(*back);
  }
}

TEST(BinaryPlist, WhatCannotBeWrittenIsRefused) {
  const Value opaque = Value::opaque("IOHIDDeviceRef");
  const std::pair<const char*, Value> cases[] = {
      {"opaque", opaque},
      {"opaque deep in dictionary", Dictionary{{"a", Array{Dictionary{{"b", opaque}}}}}},
      {"invalid utf-8 string", Array{"\xff"}},
      {"invalid utf-8 key", Dictionary{{"\xc3", 1}}},
      // libplist takes C strings: an embedded U+0000 would be cut off.
      {"string with nul", std::string("a\0b", 3)},
      {"key with nul", Dictionary{{std::string("a\0b", 3), 1}}},
      {"nesting beyond the limit", nested_arrays(BinaryPlistLimits::kMaxDepth + 1)},
  };
  for (const auto& [name, value] : cases) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(binary_plist_can_encode(value));
    EXPECT_FALSE(encode_binary_plist(value));
  }
}

// --- Hand-made files -------------------------------------------------------------------------

// Binary property lists written object by object, so that tests can write what no encoder would.
void put(Bytes& out, uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A marker with its count: in the low nibble, or as an 8-byte integer object after it.
Bytes marker(uint8_t type, uint64_t n) {
  if (n < 15) return {static_cast<uint8_t>((type << 4) | n)};
  Bytes out = {static_cast<uint8_t>((type << 4) | 0xF), 0x13};
  put(out, n, 8);
  return out;
}

// An array, or (type 0xD) a dictionary given the references of its keys then of its values.
Bytes array(const std::vector<uint64_t>& refs, int refWidth = 1, uint8_t type = 0xA) {
  Bytes out = marker(type, type == 0xA ? refs.size() : refs.size() / 2);
  for (uint64_t r : refs) put(out, r, refWidth);
  return out;
}

Bytes dict(const std::vector<uint64_t>& refs) { return array(refs, 1, 0xD); }

Bytes ascii(const std::string& s) {
  Bytes out = marker(0x5, s.size());
  out.insert(out.end(), s.begin(), s.end());
  return out;
}

Bytes utf16(const std::vector<uint16_t>& units) {
  Bytes out = marker(0x6, units.size());
  for (uint16_t u : units) put(out, u, 2);
  return out;
}

// An integer object of 1 << log2 bytes; one of 16 bytes takes its high half too.
Bytes integer(int log2, uint64_t low, uint64_t high = 0) {
  Bytes out = {static_cast<uint8_t>(0x10 | log2)};
  if (log2 == 4) put(out, high, 8);
  put(out, low, std::min(8, 1 << log2));
  return out;
}

Bytes file(const std::vector<Bytes>& objects, uint64_t top = 0, uint8_t refWidth = 1) {
  Bytes out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<uint64_t> offsets;
  for (const Bytes& object : objects) {
    offsets.push_back(out.size());
    out.insert(out.end(), object.begin(), object.end());
  }
  const uint64_t table = out.size();
  const uint8_t offsetWidth = table < 256 ? 1 : table < 65536 ? 2 : 4;
  for (uint64_t offset : offsets) put(out, offset, offsetWidth);
  out.insert(out.end(), 6, 0);
  out.push_back(offsetWidth);
  out.push_back(refWidth);
  for (uint64_t field : {uint64_t{objects.size()}, top, table}) put(out, field, 8);
  return out;
}

// A file holding an array of the one given object.
Bytes single(const Bytes& object) { return file({array({1}), object}); }

// What other writers produce and the encoder never does: narrow integers and 4-byte reals,
// UTF-16 strings, 16-byte integers within int64, and objects referenced from several places.
TEST(BinaryPlistDecode, HandMadeFileOfEveryKindDecodes) {
  const auto value = decode(file({
      array({1, 2, 3, 4, 5, 6, 7, 8, 9, 5, 10, 10}),
      {0x09},                                   // 1: true
      integer(0, 0xFF),                         // 2: unsigned
      integer(3, static_cast<uint64_t>(-2)),    // 3: signed
      {0x22, 0x3F, 0xC0, 0x00, 0x00},           // 4: 1.5 as a 4-byte float
      ascii("abc"),                             // 5: shared below
      utf16({0x0063, 0x00E9, 0xD83D, 0xDE00}),  // 6: "cé😀"
      {0x42, 0xDE, 0xAD},                       // 7: data
      integer(4, 5),                            // 8
      integer(4, ~uint64_t{0}, ~uint64_t{0}),   // 9: -1
      dict({5, 5}),  // 10: shared, and sharing one object as key and value
  }));
  ASSERT_TRUE(value);
  const Value shared = Dictionary{{"abc", "abc"}};
  EXPECT_TRUE(identical(*value, Array{true, 255, -2, 1.5, "abc", "c\xc3\xa9\xf0\x9f\x98\x80",
                                      Data{0xDE, 0xAD}, 5, -1, "abc", shared, shared}))
      << describe(*value);
}

std::vector<std::pair<std::string, Bytes>> hostile_cases() {
  const Bytes one = integer(0, 1);
  std::vector<std::pair<std::string, Bytes>> cases = {
      {"null object", single({0x00})},
      {"date", single({0x33, 0x41, 0xC0, 0, 0, 0, 0, 0, 0})},
      {"uid", single({0x80, 0x05})},
      {"set", file({array({1}), {0xC1, 0x02}, one})},
      {"real of two bytes", single({0x21, 0x00, 0x01})},
      {"integer of 32 bytes", single({0x15, 0x00})},
      // 2^63 (what other writers use for a large unsigned value) would be read as INT64_MIN.
      {"16-byte 2^63", single(integer(4, uint64_t{1} << 63))},
      {"16-byte -2^63-1", single(integer(4, uint64_t{kMax}, ~uint64_t{0}))},
      {"ascii string with nul", single(ascii(std::string("a\0b", 3)))},
      {"ascii string with a high byte", single(ascii("caf\xc3\xa9"))},
      {"utf-16 with nul", single(utf16({0x0041, 0x0000}))},
      {"lone high surrogate", single(utf16({0xD83D, 0x0041}))},
      {"high surrogate at the end", single(utf16({0x0041, 0xD83D}))},
      {"lone low surrogate", single(utf16({0xDE00}))},
      {"string longer than the file", single({0x5F, 0x10, 0xFF, 'a'})},
      {"bad extended count marker", single({0x5F, 0x20, 0x01, 'a'})},
      {"huge extended count", single({0x4F, 0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"repeated key", file({dict({1, 1, 2, 2}), ascii("k"), one})},
      {"integer key", file({dict({1, 1}), one})},
      {"cycle of two", file({array({1}), array({2}), array({1})})},
      {"reference out of range", file({array({5})})},
      {"top out of range", file({{0x09}}, 1)},
  };
  // Nesting far beyond the limit: libplist alone would overflow the stack here.
  std::vector<Bytes> deep;
  for (uint64_t i = 0; i < 200000; ++i) deep.push_back(array({i + 1}, 4));
  deep.push_back({0x09});
  cases.emplace_back("200000 nested arrays", file(deep, 0, 4));
  // Each level references the next twice: 2^40 values, which would never finish expanding.
  std::vector<Bytes> shared;
  for (uint64_t i = 0; i < 40; ++i) shared.push_back(array({i + 1, i + 1}));
  shared.push_back({0x09});
  cases.emplace_back("exponential sharing", file(shared));
  // One 1 MiB data object referenced 100 times is 100 MiB of values.
  Bytes data = marker(0x4, 1 << 20);
  data.resize(data.size() + (1 << 20), 0xAB);
  cases.emplace_back("shared payload beyond the limit",
                     file({array(std::vector<uint64_t>(100, 1)), data}));

  // Broken headers and trailers of an otherwise good file.
  const Bytes good = single({0x09});
  const size_t trailer = good.size() - 32;
  const auto with = [&](const char* name, size_t offset, uint8_t byte) {
    Bytes bytes = good;
    bytes[offset] = byte;
    cases.emplace_back(name, bytes);
  };
  with("version", 7, '1');
  with("magic", 0, 'B');
  with("offset width 3", trailer + 6, 3);
  with("reference width 0", trailer + 7, 0);
  with("no objects", trailer + 15, 0);
  with("more objects than the table holds", trailer + 15, 200);
  with("offset table inside the header", trailer + 31, 2);
  with("offset table beyond the file", trailer + 31, 250);
  with("object offset inside the header", trailer - 2, 3);
  with("object offset beyond the objects", trailer - 2, 200);

  const std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>";
  cases.emplace_back("xml", Bytes(xml.begin(), xml.end()));
  const Bytes whole = encode_binary_plist(everything()).value_or(Bytes{});
  cases.emplace_back("one byte short", Bytes(whole.begin(), whole.end() - 1));
  return cases;
}

TEST(BinaryPlistDecode, HostileAndMalformedInputIsRefused) {
  EXPECT_FALSE(decode_binary_plist(nullptr, 0));
  for (const auto& [name, bytes] : hostile_cases()) EXPECT_FALSE(decode(bytes)) << name;
}

}  // namespace
}  // namespace padwarden
