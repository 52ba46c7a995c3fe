// Property-list values read from the XML property-list format (<plist version="1.0">...), as
// editors and format converters leave the preferences file. Built on expat, which stays out of
// this header. Read by the on-disk preferences store (platform/posix/file_preferences), which
// always writes the binary format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/plist.h"

namespace padwarden {

// The value the bytes hold, or none when they are not a well-formed XML property list of the
// kinds plist::Value has: one <plist> root holding one value; <dict> of <key>/value pairs (no
// repeated key), <array>, <string>, <integer> (decimal or 0x hexadecimal, within signed 64
// bits), <real> (decimal, "nan", "inf", "-inf"), <true/>, <false/>, <data> (Base64). Rejected
// too: <date> and unknown elements; text outside strings, keys and numbers; any entity
// declaration (no expansion can blow up); anything beyond BinaryPlistLimits, so that what is
// read can be written back in the binary format. Never crashes, whatever the bytes.
std::optional<plist::Value> decode_xml_plist(const uint8_t* bytes, size_t size);

}  // namespace padwarden
