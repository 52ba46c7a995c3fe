// The one conversion between property-list values and CoreFoundation objects, exact in both
// directions: booleans are CFBooleans and never numbers, integers keep their 64 bits, and an
// object of any other CF type becomes an opaque value that holds it (and converts back to that
// same object). Used by every native call that passes or answers a value.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/macos/cf_ref.h"
#include "platform/plist.h"

namespace padwarden::macos {

// The CF object for a value; none when it cannot be made (an allocation failed, a string is
// not UTF-8, or an opaque value stands for no CF object). Integers that fit 32 bits become
// SInt32 numbers (as the platform's own matching dictionaries have them), others SInt64.
CFRef<CFTypeRef> cf_from_plist(const plist::Value& value);
CFRef<CFDictionaryRef> cf_from_plist(const plist::Dictionary& dictionary);

// The value of a CF object. Null gives none.
std::optional<plist::Value> plist_from_cf(CFTypeRef object);

// UTF-8 text and CFStrings; none when an allocation fails or the text cannot be carried over.
CFRef<CFStringRef> cf_string(std::string_view utf8);
std::optional<std::string> string_from_cf(CFStringRef string);

}  // namespace padwarden::macos
