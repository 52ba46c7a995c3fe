#include "platform/posix/xml_plist.h"

#include <expat.h>

#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/binary_plist.h"

namespace padwarden {

namespace {

bool is_blank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

std::string_view trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<int64_t> parse_integer(std::string_view text) {
  text = trimmed(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t magnitude = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  constexpr uint64_t kMaxPositive = std::numeric_limits<int64_t>::max();
  if (!negative && magnitude > kMaxPositive) return std::nullopt;
  if (negative && magnitude > kMaxPositive + 1) return std::nullopt;
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

std::optional<double> parse_real(std::string_view text) {
  text = trimmed(text);
  if (text == "nan") return std::numeric_limits<double>::quiet_NaN();
  if (text == "inf" || text == "+inf" || text == "infinity" || text == "+infinity") {
    return std::numeric_limits<double>::infinity();
  }
  if (text == "-inf" || text == "-infinity") return -std::numeric_limits<double>::infinity();
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  double value = 0;
  // from_chars reads the C locale's format whatever the process's locale.
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                      std::chars_format::general);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

int base64_digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Base64 with blanks anywhere and the padding optional.
std::optional<plist::Data> parse_data(std::string_view text) {
  plist::Data data;
  uint32_t bits = 0;
  int count = 0;
  bool padding = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    const int digit = base64_digit(c);
    if (digit < 0 || padding) return std::nullopt;
    bits = (bits << 6) | static_cast<uint32_t>(digit);
    if (++count == 4) {
      data.push_back(static_cast<uint8_t>(bits >> 16));
      data.push_back(static_cast<uint8_t>(bits >> 8));
      data.push_back(static_cast<uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 1) return std::nullopt;
  if (count >= 2) data.push_back(static_cast<uint8_t>(bits >> (count == 2 ? 4 : 10)));
  if (count == 3) data.push_back(static_cast<uint8_t>(bits >> 2));
  return data;
}

// Builds the value from expat's events; the first problem stops the parser.
class Builder {
 public:
  explicit Builder(XML_Parser parser) : parser_(parser) {}

  void start(std::string_view name);
  void end(std::string_view name);
  void text(std::string_view chunk);
  void fail() {
    if (failed_) return;
    failed_ = true;
    XML_StopParser(parser_, XML_FALSE);
  }

  std::optional<plist::Value> result() const {
    if (failed_ || !done_ || !root_) return std::nullopt;
    return root_;
  }

 private:
  struct Container {
    bool dictionary = false;
    plist::Array array;
    plist::Dictionary entries;
    std::optional<std::string> key;  // read, its value still to come
  };
  enum class Leaf { None, Key, String, Integer, Real, Data, True, False };

  bool count(size_t payload) {
    nodes_ += 1;
    payload_ += payload;
    return nodes_ <= BinaryPlistLimits::kMaxNodes && payload_ <= BinaryPlistLimits::kMaxPayloadBytes;
  }
  void add(plist::Value value);
  void addKey(std::string key);
  std::optional<plist::Value> leafValue() const;

  XML_Parser parser_;
  bool failed_ = false;
  bool inPlist_ = false;
  bool done_ = false;
  std::vector<Container> open_;
  Leaf leaf_ = Leaf::None;
  std::string text_;
  std::optional<plist::Value> root_;
  uint64_t nodes_ = 0;
  uint64_t payload_ = 0;
};

void Builder::start(std::string_view name) {
  if (failed_) return;
  if (leaf_ != Leaf::None || done_) return fail();  // nothing nests in a leaf or follows
  if (!inPlist_) {
    if (name != "plist") return fail();
    inPlist_ = true;
    return;
  }
  if (root_ && open_.empty()) return fail();  // a second value under <plist>
  if (name == "dict" || name == "array") {
    if (open_.size() >= BinaryPlistLimits::kMaxDepth) return fail();
    open_.push_back(Container{name == "dict", {}, {}, {}});
    return;
  }
  static constexpr std::pair<std::string_view, Leaf> kLeaves[] = {
      {"key", Leaf::Key},   {"string", Leaf::String}, {"integer", Leaf::Integer},
      {"real", Leaf::Real}, {"data", Leaf::Data},     {"true", Leaf::True},
      {"false", Leaf::False}};
  for (const auto& [leafName, leaf] : kLeaves) {
    if (name == leafName) {
      leaf_ = leaf;
      text_.clear();
      return;
    }
  }
  fail();  // <date>, or an element no property list has
}

void Builder::text(std::string_view chunk) {
  if (failed_) return;
  if (leaf_ == Leaf::None || leaf_ == Leaf::True || leaf_ == Leaf::False) {
    if (!is_blank(chunk)) fail();
    return;
  }
  if (text_.size() + chunk.size() > BinaryPlistLimits::kMaxPayloadBytes) return fail();
  text_.append(chunk);
}

std::optional<plist::Value> Builder::leafValue() const {
  switch (leaf_) {
    case Leaf::String: return plist::Value(text_);
    case Leaf::True: return plist::Value(true);
    case Leaf::False: return plist::Value(false);
    case Leaf::Integer:
      if (auto n = parse_integer(text_)) return plist::Value(*n);
      return std::nullopt;
    case Leaf::Real:
      if (auto x = parse_real(text_)) return plist::Value(*x);
      return std::nullopt;
    case Leaf::Data:
      if (auto d = parse_data(text_)) return plist::Value(std::move(*d));
      return std::nullopt;
    case Leaf::Key:
    case Leaf::None: break;
  }
  return std::nullopt;
}

void Builder::end(std::string_view name) {
  if (failed_) return;
  if (name == "plist") {
    if (!root_ || !open_.empty()) return fail();
    done_ = true;
    return;
  }
  if (leaf_ == Leaf::Key) {
    leaf_ = Leaf::None;
    return addKey(std::move(text_));
  }
  if (leaf_ != Leaf::None) {
    std::optional<plist::Value> value = leafValue();
    leaf_ = Leaf::None;
    if (!value) return fail();
    return add(std::move(*value));
  }
  // A container closes (expat has checked that the names match).
  Container closed = std::move(open_.back());
  open_.pop_back();
  if (closed.key) return fail();  // a key without its value
  if (closed.dictionary) return add(plist::Value(std::move(closed.entries)));
  add(plist::Value(std::move(closed.array)));
}

void Builder::addKey(std::string key) {
  if (open_.empty() || !open_.back().dictionary || open_.back().key) return fail();
  if (key.find('\0') != std::string::npos || open_.back().entries.contains(key)) return fail();
  if (!count(key.size())) return fail();
  open_.back().key = std::move(key);
}

void Builder::add(plist::Value value) {
  const size_t payload = value.isString() ? value.asString()->size()
                         : value.kind() == plist::Kind::Data ? value.asData()->size()
                                                              : 0;
  if (!count(payload)) return fail();
  if (open_.empty()) {
    root_ = std::move(value);
    return;
  }
  Container& parent = open_.back();
  if (!parent.dictionary) {
    parent.array.push_back(std::move(value));
    return;
  }
  if (!parent.key) return fail();  // a value without its key
  parent.entries.emplace(std::move(*parent.key), std::move(value));
  parent.key.reset();
}

Builder& builder_of(void* data) { return *static_cast<Builder*>(data); }

extern "C" void on_start(void* data, const XML_Char* name, const XML_Char**) {
  builder_of(data).start(name);
}
extern "C" void on_end(void* data, const XML_Char* name) { builder_of(data).end(name); }
extern "C" void on_text(void* data, const XML_Char* text, int length) {
  builder_of(data).text(std::string_view(text, static_cast<size_t>(length)));
}
// A property list declares no entities; refusing them all rules out any expansion attack.
extern "C" void on_entity_declaration(void* data, const XML_Char*, int, const XML_Char*, int,
                                      const XML_Char*, const XML_Char*, const XML_Char*,
                                      const XML_Char*) {
  builder_of(data).fail();
}

extern "C" void on_skipped_entity(void* data, const XML_Char*, int) { builder_of(data).fail(); }

struct ParserDeleter {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

}  // namespace

std::optional<plist::Value> decode_xml_plist(const uint8_t* bytes, size_t size) {
  if (size > static_cast<size_t>(std::numeric_limits<int>::max())) return std::nullopt;
  std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreate(nullptr));
  if (!parser) return std::nullopt;
  Builder builder(parser.get());
  XML_SetUserData(parser.get(), &builder);
  XML_SetElementHandler(parser.get(), &on_start, &on_end);
  XML_SetCharacterDataHandler(parser.get(), &on_text);
  XML_SetEntityDeclHandler(parser.get(), &on_entity_declaration);
  XML_SetSkippedEntityHandler(parser.get(), &on_skipped_entity);
  const char* text = size ? reinterpret_cast<const char*>(bytes) : "";
  if (XML_Parse(parser.get(), text, static_cast<int>(size), XML_TRUE) != XML_STATUS_OK) {
    return std::nullopt;
  }
  return builder.result();
}

}  // namespace padwarden
