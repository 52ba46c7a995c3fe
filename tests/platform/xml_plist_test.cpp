// Reading XML property lists as editors and converters write them: every kind of value, and
// every way a file can be wrong, which must come back as none (never a crash, never a guess).
#include "platform/posix/xml_plist.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/posix/binary_plist.h"  // the nesting limit

namespace padwarden {
namespace {

using plist::Array;
using plist::Data;
using plist::Dictionary;
using plist::Value;

const std::string kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";

std::optional<Value> decode(const std::string& text) {
  return decode_xml_plist(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string in_plist(const std::string& body) {
  return kHeader + "<plist version=\"1.0\">\n" + body + "\n</plist>\n";
}

// Every kind of value as editors and converters write it, indented and nested.
TEST(XmlPlist, EveryKindReadsAsTheFormatWritesIt) {
  const struct {
    const char* body;
    Value value;
  } cases[] = {
      {"<dict>\n\t<key>On</key>\n\t<true/>\n\t<key>Off</key><false/>\n"
       "\t<key>List</key>\n\t<array>\n\t\t<dict/>\n\t\t<array/>\n\t</array>\n</dict>",
       Dictionary{{"On", true}, {"Off", false}, {"List", Array{Dictionary{}, Array{}}}}},
      {"<string>caf\xc3\xa9 &amp; &lt;kb&gt; &#x263A;</string>", "caf\xc3\xa9 & <kb> \xe2\x98\xba"},
      {"<string/>", ""},
      {"<integer> 42 </integer>", 42},
      {"<integer>+7</integer>", 7},
      {"<integer>0x700000039</integer>", int64_t{0x700000039}},
      {"<integer>9223372036854775807</integer>", INT64_MAX},
      {"<integer>-9223372036854775808</integer>", INT64_MIN},
      {"<integer>-0x10</integer>", -16},
      {"<real>1700000000.25</real>", 1700000000.25},
      {"<real>-1.5e3</real>", -1500.0},
      {"<real>2</real>", 2.0},
      {"<real>inf</real>", HUGE_VAL},
      {"<real>-infinity</real>", -HUGE_VAL},
      {"<data>\n\tAAEC\n\t/w==\n\t</data>", Data{0, 1, 2, 0xFF}},
      {"<data>AA</data>", Data{0}},
      {"<data>AAE=</data>", Data{0, 1}},
      {"<data></data>", Data{}},
  };
  for (const auto& c : cases) {
    const std::optional<Value> read = decode(in_plist(c.body));
    ASSERT_TRUE(read) << c.body;
    EXPECT_EQ(*read, c.value) << c.body;
    EXPECT_EQ(read->isFloat(), c.value.isFloat()) << c.body;
  }
  const std::optional<Value> nan = decode(in_plist("<real>nan</real>"));
  ASSERT_TRUE(nan && nan->isFloat());
  EXPECT_TRUE(std::isnan(*nan->asDouble()));
}

TEST(XmlPlist, AnythingElseIsRefused) {
  const struct {
    const char* why;
    std::string file;
  } cases[] = {
      {"not XML", "this is not a property list"},
      {"empty", ""},
      {"cut short", in_plist("<dict><key>a</key><true/></dict>").substr(0, 120)},
      {"no plist root", kHeader + "<dict/>"},
      {"another root", kHeader + "<html><dict/></html>"},
      {"empty plist", in_plist("")},
      {"two values", in_plist("<true/><false/>")},
      {"a date", in_plist("<date>2024-01-01T00:00:00Z</date>")},
      {"an unknown element", in_plist("<set/>")},
      {"text in a dictionary", in_plist("<dict>words<key>a</key><true/></dict>")},
      {"text in true", in_plist("<true>yes</true>")},
      {"a key without its value", in_plist("<dict><key>a</key></dict>")},
      {"a value without its key", in_plist("<dict><true/></dict>")},
      {"two keys in a row", in_plist("<dict><key>a</key><key>b</key><true/></dict>")},
      {"a repeated key", in_plist("<dict><key>a</key><true/><key>a</key><false/></dict>")},
      {"a key in an array", in_plist("<array><key>a</key></array>")},
      {"an element in a string", in_plist("<string>a<b/></string>")},
      {"an integer too large", in_plist("<integer>9223372036854775808</integer>")},
      {"an integer too small", in_plist("<integer>-9223372036854775809</integer>")},
      {"not an integer", in_plist("<integer>12abc</integer>")},
      {"an empty integer", in_plist("<integer/>")},
      {"not a real", in_plist("<real>1,5</real>")},
      {"bad Base64", in_plist("<data>AA*A</data>")},
      {"Base64 after padding", in_plist("<data>AA==AA</data>")},
      {"one Base64 digit too many", in_plist("<data>AAAAA</data>")},
      {"mismatched tags", in_plist("<dict></array>")},
      {"something after the plist", in_plist("<true/>") + "<true/>"},
      {"an entity declaration",
       "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY a \"aaaaaaaaaa\">"
       "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
       "<plist version=\"1.0\"><string>&b;</string></plist>"},
      {"an undefined entity", in_plist("<string>&nbsp;</string>")},
      {"a NUL character reference", in_plist("<string>&#0;</string>")},
      {"bytes that are not UTF-8", in_plist("<string>\xff\xfe</string>")},
  };
  for (const auto& c : cases) EXPECT_FALSE(decode(c.file)) << c.why;
}

TEST(XmlPlist, NestingIsBoundedAsInTheBinaryFormat) {
  auto nested = [](size_t depth) {
    std::string body;
    for (size_t i = 0; i < depth; ++i) body += "<array>";
    for (size_t i = 0; i < depth; ++i) body += "</array>";
    return in_plist(body);
  };
  EXPECT_TRUE(decode(nested(BinaryPlistLimits::kMaxDepth)));
  EXPECT_FALSE(decode(nested(BinaryPlistLimits::kMaxDepth + 1)));
  EXPECT_FALSE(decode(nested(100000))) << "deep input neither crashes nor is taken";
}

}  // namespace
}  // namespace padwarden
