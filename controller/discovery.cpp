// Discovery: one pass over the keyboards present, with a short-lived HID manager, creating a
// session for each new supported keyboard and retiring the sessions of keyboards gone.
#include <cinttypes>
#include <cstdio>
#include <set>

#include "controller/controller_texts.h"
#include "controller/keyboard_controller.h"
#include "controller/preference_identity.h"
#include "session/keyboard_matching.h"

namespace padwarden {

namespace texts = controller_texts;

bool KeyboardController::registryEntryMayExist(const std::string& registryID) {
  uint64_t entryID = 0;
  if (std::sscanf(registryID.c_str(), "%16" SCNx64, &entryID) != 1) return true;
  std::optional<plist::Dictionary> matching = _platform.hid.IORegistryEntryIDMatching(entryID);
  if (!matching) return true;  // cannot tell: keep it
  return static_cast<bool>(_platform.hid.IOServiceGetMatchingService(std::move(matching)));
}

void KeyboardController::discover() {
  if (_discoveryPending || _stopped || _stopPending) return;
  const bool granted = inputMonitoringGranted();
  // A session that lost access hears what the system answers now; one may resume and notify,
  // and a notification may change the table: walk a copy.
  const auto sessions = _sessions;
  for (const auto& [key, session] : sessions) session->accessCheckAnswered(granted);
  if (!granted || _stopped || _stopPending) return;
  if (_waitingForAccess) {
    _waitingForAccess = false;
    _errorSummary.clear();
  }
  _discoveryPending = true;
  const std::optional<DiscoveryPass> pass = takeNewKeyboards();
  if (!pass) return;
  retireKeyboardsGone(*pass);
  _discoveryPending = false;
  summarizeDiscovery();
  notifyStatus();
}

std::optional<KeyboardController::DiscoveryPass> KeyboardController::takeNewKeyboards() {
  HIDServices& hid = _platform.hid;
  std::optional<plist::Dictionary> matching = create_keyboard_matching(_platform.cf);
  IOHIDManagerRef manager;
  if (matching) manager = hid.IOHIDManagerCreate(kIOHIDOptionsTypeNone);
  if (!manager) {
    _discoveryPending = false;
    setError(texts::kDiscoveryInitFailed);
    return std::nullopt;
  }
  hid.IOHIDManagerSetDeviceMatching(manager, &*matching);
  if (hid.IOHIDManagerOpen(manager, kIOHIDOptionsTypeNone) != kIOReturnSuccess) {
    _discoveryPending = false;
    setError(texts::kDiscoveryOpenFailed);
    return std::nullopt;
  }

  // Every keyboard present, supported or not: a device whose properties could not be read this
  // time is still there.
  DiscoveryPass pass;
  std::optional<std::vector<IOHIDDeviceRef>> devices = hid.IOHIDManagerCopyDevices(manager);
  pass.complete = devices && _platform.cf.malloc(devices->size() * sizeof(IOHIDDeviceRef));
  if (pass.complete) {
    for (const IOHIDDeviceRef& device : *devices) {
      const std::optional<std::string> key = device_registry_id_string(hid, device);
      if (!key) {
        pass.complete = false;  // a device of unknown identity may be any keyboard of the table
        continue;
      }
      pass.seen.insert(*key);
      if (!_sessions.count(*key) && device_is_supported_keyboard(hid, device)) {
        addSession(device, *key);
      }
    }
  }
  hid.IOHIDManagerClose(manager, kIOHIDOptionsTypeNone);
  return pass;
}

void KeyboardController::addSession(const IOHIDDeviceRef& device, const std::string& key) {
  std::shared_ptr<KeyboardSession> session = KeyboardSession::create(
      _platform, key, preference_identity_for_device(_platform.hid, device, key),
      sessionStatusHandler());
  _sessions.emplace(key, session);
  session->start();
  // A keyboard found while handling is being disabled (or whose stored setting was not
  // written) follows the controller: taken over during a disable, it kept the disable
  // from ever completing.
  const bool handling = _enabled && !_disablePending;
  if (session->isEnabled() != handling) session->setEnabled(handling);
}

void KeyboardController::retireKeyboardsGone(const DiscoveryPass& pass) {
  std::vector<std::string> keys;
  for (const auto& [key, session] : _sessions) keys.push_back(key);
  for (const std::string& key : keys) {
    if (pass.seen.count(key)) continue;
    auto it = _sessions.find(key);
    if (it == _sessions.end()) continue;
    const std::shared_ptr<KeyboardSession> session = it->second;
    // The platform answers no list both for "no keyboard" and for a failure. Without a full
    // list, a keyboard that its own session still holds, or still has to restore, is not
    // taken for gone (nor on a registry lookup, which answers nothing when it fails too):
    // retiring it would drop its lease while the program's mapping may still be on it. Its
    // session sees a real removal by itself, and the next pass retires it.
    if (!pass.complete && (session->isConnected() || session->isCleanupPending() ||
                           registryEntryMayExist(key))) {
      continue;
    }
    if (session->deviceRemoved()) {
      _sessions.erase(key);
      // Retired for good: its own manager must not attach the keyboard again behind the
      // table's back (a session so revived acted next to its successor).
      session->stop();
    }
  }
}

void KeyboardController::summarizeDiscovery() {
  if (_sessions.empty()) {
    _connectionSummary = texts::kNoKeyboard;
    _errorSummary.clear();
    return;
  }
  char text[96];
  std::snprintf(text, sizeof text, texts::kKeyboardsConnected,
                static_cast<unsigned long>(_sessions.size()), _sessions.size() == 1 ? "" : "s");
  _connectionSummary = text;
  bool sessionError = false;
  for (const auto& [key, session] : _sessions) {
    if (!session->errorSummary().empty()) sessionError = true;
  }
  if (!sessionError) _errorSummary.clear();
}

}  // namespace padwarden
