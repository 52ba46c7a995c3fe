// What the desk shows of text that was typed in: control characters (C0, DEL and the C1 range)
// and bytes that are not UTF-8 never reach the terminal raw, where they could move the cursor
// or change its state. Used by the command interpreter, the script runner and the prompt.
#pragma once

#include <string>
#include <string_view>

namespace padwarden::desk {

// True when the text holds a control character other than the tab, or a byte that is not part
// of well-formed UTF-8.
bool has_unprintable(std::string_view text);

// The text with each such character made visible: "^[" for ESC, "^?" for DEL (as the line
// editor shows them), "\u009b" for a C1 control, "\xff" for a stray byte; tabs stay.
std::string visible_text(std::string_view text);

// The longest command line the desk reads; a longer one is refused, never echoed in full.
inline constexpr size_t kMaxLineBytes = 4096;

// A line as the desk shows it back (echo, error): visible, and shortened with its length when
// it is longer than kMaxLineBytes.
std::string shown_line(std::string_view line);

}  // namespace padwarden::desk
