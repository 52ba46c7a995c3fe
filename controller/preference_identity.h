// The stable name of one physical keyboard under which its Num Lock state is stored. Used by
// the controller's discovery when it creates a session.
#pragma once

#include <string>
#include <string_view>

#include "platform/hid.h"

namespace padwarden {

// Standard Base64 (with padding) of the bytes.
std::string base64_encode(std::string_view bytes);

// Base64 of "uid:<unique ID>", else "serial:<vendor>:<product>:<serial>", else
// "registry:<registry-ID string>".
std::string preference_identity_for_device(HIDServices& hid, const IOHIDDeviceRef& device,
                                           const std::string& registryID);

}  // namespace padwarden
