#include "desk/visible_text.h"

#include <cstdint>
#include <cstdio>

namespace padwarden::desk {

namespace {

// The length of the well-formed UTF-8 sequence at `at` (no overlong forms, no surrogates, at
// most U+10FFFF), or 0.
size_t utf8_length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint8_t low = 0x80, high = 0xBF;  // the bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

bool is_c0_or_del(uint8_t c) { return (c < 0x20 && c != '\t') || c == 0x7F; }

// U+0080..U+009F, encoded as C2 80..C2 9F.
bool is_c1(std::string_view text, size_t at, size_t length) {
  return length == 2 && static_cast<uint8_t>(text[at]) == 0xC2 &&
         static_cast<uint8_t>(text[at + 1]) <= 0x9F;
}

}  // namespace

bool has_unprintable(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = utf8_length(text, at);
    if (length == 0 || is_c0_or_del(static_cast<uint8_t>(text[at])) || is_c1(text, at, length)) {
      return true;
    }
    at += length;
  }
  return false;
}

std::string visible_text(std::string_view text) {
  std::string shown;
  char escape[8];
  for (size_t at = 0; at < text.size();) {
    const uint8_t c = static_cast<uint8_t>(text[at]);
    const size_t length = utf8_length(text, at);
    if (length == 0) {
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      shown += escape;
      at += 1;
    } else if (is_c0_or_del(c)) {
      shown += '^';
      shown += static_cast<char>(c == 0x7F ? '?' : c + 0x40);
      at += 1;
    } else if (is_c1(text, at, length)) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<uint8_t>(text[at + 1]));
      shown += escape;
      at += 2;
    } else {
      shown.append(text.substr(at, length));
      at += length;
    }
  }
  return shown;
}

std::string shown_line(std::string_view line) {
  if (line.size() <= kMaxLineBytes) return visible_text(line);
  return visible_text(line.substr(0, 60)) + "... (" + std::to_string(line.size()) + " bytes)";
}

}  // namespace padwarden::desk
