// The desk's key names: what a script or the prompt may press (numlock, kp0..kp9, kpdot,
// lshift, rshift, lctrl, capslock, a..z) and how the keys a user got are shown (the same
// names, plus the navigation keys home, end, up, down, left, right, pageup, pagedown, insert,
// deleteforward). Used by the desk's command interpreter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace padwarden::desk {

// The Keyboard/Keypad page usage of a key the user can press, or none for an unknown name.
std::optional<uint8_t> key_usage(std::string_view name);

// The desk's name for a key event: the names above for the Keyboard/Keypad page, else
// "page:usage" in hexadecimal.
std::string key_name(uint32_t usagePage, uint32_t usage);

// Every name key_usage accepts, for the help text.
std::string pressable_key_names();

// True for a name key_name can give: a pressable key, a navigation key, "return", "space", or
// "0xPAGE:0xUSAGE".
bool is_key_event_name(std::string_view name);

}  // namespace padwarden::desk
