#include "platform/posix/binary_plist.h"

#include <plist/plist.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>

// libplist 2.2 notes, each checked against the installed library:
// - Integers are PLIST_UINT nodes holding 64 bits. Written with the default length, any value
//   whose top byte is set (every negative int64) becomes an 8-byte integer, which the format
//   defines as signed; read back, plist_get_uint_val gives the same 64 bits. So an int64 cast to
//   and from uint64_t round-trips exactly.
// - A 16-byte integer is read as its low 64 bits: 2^63 would come back as INT64_MIN. The checker
//   below accepts 16-byte integers only when the value fits in int64.
// - ASCII strings with an embedded 0 byte are cut at it, and UTF-16 strings with an unpaired
//   surrogate lose it, silently: both are rejected before libplist sees them.
// - Repeated dictionary keys are kept as separate entries; the conversion rejects them.
// - Sets (marker 0xC) are read as arrays; the checker rejects them.
// - Parsing recurses once per nesting level without a limit (a file of deeply nested arrays
//   overflows the stack) and re-parses a shared object at every reference (a file of doubly
//   referenced arrays expands exponentially). The checker bounds both (BinaryPlistLimits).
// - Empty arrays, dictionaries, strings and data, and non-ASCII keys (written as UTF-16),
//   round-trip.

namespace padwarden {

namespace {

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter {
  void operator()(void* p) const { std::free(p); }
};

// --- What can be written -------------------------------------------------------------------

struct Tally {
  uint64_t nodes = 0;
  uint64_t payload = 0;
};

bool add_payload(Tally& tally, size_t bytes) {
  tally.payload += bytes;
  return tally.payload <= BinaryPlistLimits::kMaxPayloadBytes;
}

bool add_node(Tally& tally) { return ++tally.nodes <= BinaryPlistLimits::kMaxNodes; }

bool has_nul(const std::string& s) { return s.find('\0') != std::string::npos; }

// Everything but UTF-8 validity and opaque objects, which CFPropertyListIsValid checks.
bool within_limits(const plist::Value& value, size_t remainingDepth, Tally& tally) {
  if (!add_node(tally)) return false;
  switch (value.kind()) {
    case plist::Kind::String:
      return !has_nul(*value.asString()) && add_payload(tally, value.asString()->size());
    case plist::Kind::Data: return add_payload(tally, value.asData()->size());
    case plist::Kind::Array:
      if (remainingDepth == 0) return false;
      for (const plist::Value& element : *value.asArray()) {
        if (!within_limits(element, remainingDepth - 1, tally)) return false;
      }
      return true;
    case plist::Kind::Dictionary:
      if (remainingDepth == 0) return false;
      for (const auto& [key, element] : *value.asDictionary()) {
        if (has_nul(key) || !add_node(tally) || !add_payload(tally, key.size())) return false;
        if (!within_limits(element, remainingDepth - 1, tally)) return false;
      }
      return true;
    default: return true;
  }
}

Node to_node(const plist::Value& value) {
  switch (value.kind()) {
    case plist::Kind::Boolean: return Node(plist_new_bool(*value.asBoolean() ? 1 : 0));
    case plist::Kind::Integer: return Node(plist_new_uint(static_cast<uint64_t>(*value.asInt64())));
    case plist::Kind::Real: return Node(plist_new_real(*value.asDouble()));
    case plist::Kind::String: return Node(plist_new_string(value.asString()->c_str()));
    case plist::Kind::Data: {
      static const char kEmpty = 0;
      const plist::Data& data = *value.asData();
      const char* bytes = data.empty() ? &kEmpty : reinterpret_cast<const char*>(data.data());
      return Node(plist_new_data(bytes, data.size()));
    }
    case plist::Kind::Array: {
      Node array(plist_new_array());
      if (!array) return nullptr;
      for (const plist::Value& element : *value.asArray()) {
        Node child = to_node(element);
        if (!child) return nullptr;
        plist_array_append_item(array.get(), child.release());
      }
      return array;
    }
    case plist::Kind::Dictionary: {
      Node dict(plist_new_dict());
      if (!dict) return nullptr;
      for (const auto& [key, element] : *value.asDictionary()) {
        Node child = to_node(element);
        if (!child) return nullptr;
        plist_dict_set_item(dict.get(), key.c_str(), child.release());
      }
      return dict;
    }
    case plist::Kind::Opaque: break;
  }
  return nullptr;
}

// --- What can be read ----------------------------------------------------------------------

uint64_t read_be(const uint8_t* p, size_t width) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v = (v << 8) | p[i];
  return v;
}

bool valid_width(uint8_t width) { return width == 1 || width == 2 || width == 4 || width == 8; }

// Walks the whole object graph of a binary property list, bounds-checking every offset, count
// and reference, before libplist parses it. Each object is examined once; what it expands to
// (values, payload bytes, nesting height) is remembered so that shared objects cost nothing
// more to check but still count once per reference against the limits.
class Checker {
 public:
  Checker(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

  bool check() {
    constexpr size_t kHeader = 8;
    constexpr size_t kTrailer = 32;
    if (size_ < kHeader + 1 + 1 + kTrailer) return false;
    if (std::memcmp(bytes_, "bplist00", kHeader) != 0) return false;
    const uint8_t* trailer = bytes_ + size_ - kTrailer;
    offsetWidth_ = trailer[6];
    refWidth_ = trailer[7];
    numObjects_ = read_be(trailer + 8, 8);
    const uint64_t top = read_be(trailer + 16, 8);
    offsetTable_ = read_be(trailer + 24, 8);
    if (!valid_width(offsetWidth_) || !valid_width(refWidth_)) return false;
    if (numObjects_ == 0 || top >= numObjects_) return false;
    const uint64_t tableLimit = size_ - kTrailer;
    if (offsetTable_ <= kHeader || offsetTable_ > tableLimit) return false;
    if (numObjects_ > (tableLimit - offsetTable_) / offsetWidth_) return false;
    // Each referenced object counts at least once against kMaxNodes; writers store none that
    // is unreferenced.
    if (numObjects_ > BinaryPlistLimits::kMaxNodes) return false;
    status_.assign(numObjects_, Status::Unseen);
    summaries_.assign(numObjects_, Summary{});
    Summary summary;
    return visit(top, BinaryPlistLimits::kMaxDepth, summary);
  }

 private:
  enum class Status : uint8_t { Unseen, Visiting, Done };
  struct Summary {
    uint64_t nodes = 0;
    uint64_t payload = 0;
    uint32_t height = 0;  // containers nested, this one included
    bool isString = false;
  };

  bool objectOffset(uint64_t index, uint64_t& offset) const {
    offset = read_be(bytes_ + offsetTable_ + index * offsetWidth_, offsetWidth_);
    return offset >= 8 && offset < offsetTable_;
  }

  // The count in a marker's low nibble, or the integer object that follows it for 0xF.
  bool count(uint64_t& pos, uint8_t nibble, uint64_t& result) const {
    if (nibble != 0x0F) {
      result = nibble;
      return true;
    }
    if (pos >= offsetTable_) return false;
    const uint8_t marker = bytes_[pos++];
    if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3) return false;
    const uint64_t width = uint64_t{1} << (marker & 0x0F);
    if (width > offsetTable_ - pos) return false;
    result = read_be(bytes_ + pos, width);
    pos += width;
    return true;
  }

  // True when `count` items of `width` bytes fit between pos and the offset table.
  bool fits(uint64_t pos, uint64_t count, uint64_t width) const {
    return pos <= offsetTable_ && count <= (offsetTable_ - pos) / width;
  }

  bool visit(uint64_t index, size_t remainingDepth, Summary& out) {
    if (index >= numObjects_) return false;
    if (status_[index] == Status::Visiting) return false;  // a cycle
    if (status_[index] == Status::Done) {
      out = summaries_[index];
      return out.height <= remainingDepth;
    }
    status_[index] = Status::Visiting;
    Summary summary;
    if (!examine(index, remainingDepth, summary)) return false;
    status_[index] = Status::Done;
    summaries_[index] = summary;
    out = summary;
    return true;
  }

  bool examine(uint64_t index, size_t remainingDepth, Summary& s) {
    uint64_t pos = 0;
    if (!objectOffset(index, pos)) return false;
    const uint8_t marker = bytes_[pos++];
    const uint8_t nibble = marker & 0x0F;
    s.nodes = 1;
    switch (marker >> 4) {
      case 0x0: return marker == 0x08 || marker == 0x09;  // false, true (not null, not fill)
      case 0x1: {
        if (nibble > 4) return false;
        const uint64_t width = uint64_t{1} << nibble;
        if (!fits(pos, width, 1)) return false;
        if (width == 16) {
          // libplist keeps the low 64 bits; accept only values that fit in int64.
          const uint8_t* p = bytes_ + pos;
          const uint8_t fill = (p[8] & 0x80) ? 0xFF : 0x00;
          for (int i = 0; i < 8; ++i) {
            if (p[i] != fill) return false;
          }
        }
        return true;
      }
      case 0x2: return (nibble == 2 || nibble == 3) && fits(pos, uint64_t{1} << nibble, 1);
      case 0x4: {
        uint64_t n = 0;
        if (!count(pos, nibble, n) || !fits(pos, n, 1)) return false;
        s.payload = n;
        return s.payload <= BinaryPlistLimits::kMaxPayloadBytes;
      }
      case 0x5: {
        uint64_t n = 0;
        if (!count(pos, nibble, n) || !fits(pos, n, 1)) return false;
        for (uint64_t i = 0; i < n; ++i) {
          const uint8_t c = bytes_[pos + i];
          if (c == 0 || c > 0x7F) return false;
        }
        s.payload = n;
        s.isString = true;
        return s.payload <= BinaryPlistLimits::kMaxPayloadBytes;
      }
      case 0x6: {
        uint64_t n = 0;
        if (!count(pos, nibble, n) || !fits(pos, n, 2)) return false;
        uint64_t utf8 = 0;
        for (uint64_t i = 0; i < n; ++i) {
          const uint16_t unit = static_cast<uint16_t>(read_be(bytes_ + pos + 2 * i, 2));
          if (unit == 0) return false;
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= n) return false;
            const uint16_t low = static_cast<uint16_t>(read_be(bytes_ + pos + 2 * (i + 1), 2));
            if (low < 0xDC00 || low > 0xDFFF) return false;
            ++i;
            utf8 += 4;
          } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
          } else {
            utf8 += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
          }
        }
        s.payload = utf8;
        s.isString = true;
        return s.payload <= BinaryPlistLimits::kMaxPayloadBytes;
      }
      case 0xA:
      case 0xD: {
        const bool isDict = (marker >> 4) == 0xD;
        uint64_t n = 0;
        if (!count(pos, nibble, n)) return false;
        const uint64_t refs = isDict ? 2 * n : n;
        if ((isDict && n > std::numeric_limits<uint64_t>::max() / 2) || !fits(pos, refs, refWidth_))
          return false;
        if (remainingDepth == 0) return false;
        s.height = 1;
        for (uint64_t i = 0; i < refs; ++i) {
          const uint64_t ref = read_be(bytes_ + pos + i * refWidth_, refWidth_);
          Summary child;
          if (!visit(ref, remainingDepth - 1, child)) return false;
          if (isDict && i < n && !child.isString) return false;  // keys are strings
          s.nodes += child.nodes;
          s.payload += child.payload;
          if (s.nodes > BinaryPlistLimits::kMaxNodes ||
              s.payload > BinaryPlistLimits::kMaxPayloadBytes)
            return false;
          if (child.height + 1 > s.height) s.height = child.height + 1;
        }
        return true;
      }
      default:
        // 0x3 dates, 0x7 UTF-8 strings (newer formats), 0x8 UIDs, 0xB/0xC sets, unused markers.
        return false;
    }
  }

  const uint8_t* bytes_;
  size_t size_;
  uint8_t offsetWidth_ = 0;
  uint8_t refWidth_ = 0;
  uint64_t numObjects_ = 0;
  uint64_t offsetTable_ = 0;
  std::vector<Status> status_;
  std::vector<Summary> summaries_;
};

std::optional<plist::Value> from_node(plist_t node, size_t remainingDepth) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return plist::Value(b != 0);
    }
    case PLIST_UINT: {
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      return plist::Value(static_cast<int64_t>(u));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return plist::Value(d);
    }
    case PLIST_STRING: {
      uint64_t length = 0;
      const char* s = plist_get_string_ptr(node, &length);
      if (!s) return std::nullopt;
      return plist::Value(std::string(s, length));
    }
    case PLIST_DATA: {
      uint64_t length = 0;
      const char* d = plist_get_data_ptr(node, &length);
      if (!d && length != 0) return std::nullopt;
      const auto* p = reinterpret_cast<const uint8_t*>(d);
      return plist::Value(length == 0 ? plist::Data{} : plist::Data(p, p + length));
    }
    case PLIST_ARRAY: {
      if (remainingDepth == 0) return std::nullopt;
      plist::Array array;
      array.reserve(plist_array_get_size(node));
      plist_array_iter raw = nullptr;
      plist_array_new_iter(node, &raw);
      if (!raw) return std::nullopt;
      std::unique_ptr<void, MallocDeleter> iter(raw);
      for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(node, raw, &item);
        if (!item) break;
        auto element = from_node(item, remainingDepth - 1);
        if (!element) return std::nullopt;
        array.push_back(std::move(*element));
      }
      return plist::Value(std::move(array));
    }
    case PLIST_DICT: {
      if (remainingDepth == 0) return std::nullopt;
      plist::Dictionary dict;
      plist_dict_iter raw = nullptr;
      plist_dict_new_iter(node, &raw);
      if (!raw) return std::nullopt;
      std::unique_ptr<void, MallocDeleter> iter(raw);
      for (;;) {
        char* rawKey = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, raw, &rawKey, &item);
        std::unique_ptr<char, MallocDeleter> key(rawKey);
        if (!item) break;
        if (!key) return std::nullopt;
        auto element = from_node(item, remainingDepth - 1);
        if (!element) return std::nullopt;
        if (!dict.emplace(std::string(key.get()), std::move(*element)).second) {
          return std::nullopt;  // the same key twice
        }
      }
      return plist::Value(std::move(dict));
    }
    default: return std::nullopt;  // dates, UIDs: not kinds of plist::Value
  }
}

}  // namespace

bool binary_plist_can_encode(const plist::Value& value) {
  if (!plist::CFPropertyListIsValid(value, plist::Format::Binary)) return false;
  Tally tally;
  return within_limits(value, BinaryPlistLimits::kMaxDepth, tally);
}

std::optional<std::vector<uint8_t>> encode_binary_plist(const plist::Value& value) {
  if (!binary_plist_can_encode(value)) return std::nullopt;
  Node root = to_node(value);
  if (!root) return std::nullopt;
  char* raw = nullptr;
  uint32_t length = 0;
  plist_to_bin(root.get(), &raw, &length);
  if (!raw) return std::nullopt;
  std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(raw),
                             reinterpret_cast<const uint8_t*>(raw) + length);
  plist_to_bin_free(raw);
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

std::optional<plist::Value> decode_binary_plist(const uint8_t* bytes, size_t size) {
  if (!bytes || size > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  if (!Checker(bytes, size).check()) return std::nullopt;
  plist_t raw = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(size), &raw);
  if (!raw) return std::nullopt;
  Node root(raw);
  auto value = from_node(root.get(), BinaryPlistLimits::kMaxDepth);
  if (!value || !plist::CFPropertyListIsValid(*value, plist::Format::Binary)) return std::nullopt;
  return value;
}

}  // namespace padwarden
