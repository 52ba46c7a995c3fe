#include "controller/preference_identity.h"

#include <optional>
#include <sstream>

#include "platform/plist.h"

namespace padwarden {

std::string base64_encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n = static_cast<uint8_t>(bytes[i]) << 16 |
                       static_cast<uint8_t>(bytes[i + 1]) << 8 | static_cast<uint8_t>(bytes[i + 2]);
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += kAlphabet[n >> 6 & 63];
    out += kAlphabet[n & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
    if (rest == 2) n |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += rest == 2 ? kAlphabet[n >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

namespace {

const std::string* non_empty_string(const std::optional<plist::Value>& value) {
  if (!value) return nullptr;
  const std::string* text = value->asString();
  return text && !text->empty() ? text : nullptr;
}

// A number as the platform describes it: integers in decimal, other values shortest.
std::string number_text(const plist::Value& number) {
  if (!number.isFloat()) return std::to_string(*number.asInt64());
  std::ostringstream out;
  out.precision(17);
  out << *number.asDouble();
  return out.str();
}

}  // namespace

std::string preference_identity_for_device(HIDServices& hid, const IOHIDDeviceRef& device,
                                           const std::string& registryID) {
  const std::optional<plist::Value> uniqueID =
      hid.IOHIDDeviceGetProperty(device, "PhysicalDeviceUniqueID");
  const std::optional<plist::Value> serial = hid.IOHIDDeviceGetProperty(device, "SerialNumber");
  std::string text;
  if (const std::string* uid = non_empty_string(uniqueID)) {
    text = "uid:" + *uid;
  } else if (const std::string* serialText = non_empty_string(serial)) {
    const std::optional<plist::Value> vendor = hid.IOHIDDeviceGetProperty(device, "VendorID");
    const std::optional<plist::Value> product = hid.IOHIDDeviceGetProperty(device, "ProductID");
    if (vendor && product && vendor->isNumber() && product->isNumber()) {
      text = "serial:" + number_text(*vendor) + ":" + number_text(*product) + ":" + *serialText;
    }
  }
  if (text.empty()) text = "registry:" + registryID;
  return base64_encode(text);
}

}  // namespace padwarden
