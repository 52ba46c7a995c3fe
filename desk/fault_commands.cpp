// The desk's commands that reach the program's failure branches: a platform call that fails,
// a preferences store that misbehaves. They act on the world's fault rules, which outlive
// launches, so that a story can tell what the program does when the machine lets it down.
#include <charconv>
#include <string_view>

#include "desk/desk.h"
#include "platform/hid.h"

namespace padwarden::desk {

namespace {

// The platform calls the world can fail, by their platform names.
constexpr std::string_view kFailableOperations[] = {
    "CFArrayCreateMutable",
    "CFDictionaryCreateMutable",
    "CFNumberCreateSInt32",
    "CFNumberCreateSInt64",
    "CFPreferencesAppSynchronize",
    "CFPreferencesCopyAppValue",
    "CFPreferencesSetAppValue",
    "CFStringCreateWithCString",
    "IOHIDCheckAccess",
    "IOHIDDeviceClose",
    "IOHIDDeviceCopyMatchingElements",
    "IOHIDDeviceGetProperty",
    "IOHIDDeviceGetService",
    "IOHIDDeviceOpen",
    "IOHIDDeviceSetValue",
    "IOHIDElementGetLogicalMax",
    "IOHIDElementGetLogicalMin",
    "IOHIDEventSystemClientCopyServices",
    "IOHIDEventSystemClientCreateSimpleClient",
    "IOHIDManagerClose",
    "IOHIDManagerCopyDevices",
    "IOHIDManagerCreate",
    "IOHIDManagerOpen",
    "IOHIDManagerRegisterDeviceMatchingCallback",
    "IOHIDManagerRegisterDeviceRemovalCallback",
    "IOHIDManagerRegisterInputReportCallback",
    "IOHIDManagerScheduleWithRunLoop",
    "IOHIDManagerSetDeviceMatching",
    "IOHIDManagerUnscheduleFromRunLoop",
    "IOHIDRequestAccess",
    "IOHIDServiceClientConformsTo",
    "IOHIDServiceClientCopyProperty",
    "IOHIDServiceClientGetRegistryID",
    "IOHIDServiceClientSetProperty",
    "IOHIDValueCreateWithIntegerValue",
    "IOIteratorNext",
    "IOObjectIsEqualTo",
    "IORegistryEntryCreateIterator",
    "IORegistryEntryGetRegistryEntryID",
    "IORegistryEntryIDMatching",
    "IOServiceGetMatchingService",
    "boolForKey",
    "mach_absolute_time",
    "malloc",
    "objectForKey",
    "setBool",
    "sysctl"};

bool is_failable(std::string_view op) {
  for (std::string_view known : kFailableOperations) {
    if (known == op) return true;
  }
  return false;
}

std::optional<uint64_t> parse_count(const std::string& text) {
  uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0) {
    return std::nullopt;
  }
  return value;
}

const char* kFaultUsage =
    "usage: fault OP once|always|at N [not-permitted] | fault clear [OP] (OP: a platform call, "
    "e.g. IOHIDServiceClientSetProperty; \"fault list\" names them all)";
const char* kStoreUsage = "usage: store fails|lies|misreads [once] | store works";

}  // namespace

Outcome Desk::fault(const std::vector<std::string>& w) {
  sim::CallRecorder& recorder = world_.recorder();
  if (w.size() == 2 && w[1] == "list") {
    for (std::string_view op : kFailableOperations) out_ << op << "\n";
    return Outcome::ok();
  }
  if (w.size() >= 2 && w[1] == "clear") {
    if (w.size() == 2) {
      recorder.clearFaults();
      return Outcome::ok();
    }
    if (w.size() != 3 || !is_failable(w[2])) return Outcome::error(kFaultUsage);
    recorder.removeFaults(w[2]);
    return Outcome::ok();
  }
  if (w.size() < 3 || !is_failable(w[1])) return Outcome::error(kFaultUsage);
  sim::FaultRule rule;
  rule.op = w[1];
  size_t next = 3;
  if (w[2] == "once") {
    rule.times = 1;
  } else if (w[2] == "always") {
    rule.times = std::nullopt;
  } else if (w[2] == "at" && w.size() >= 4 && parse_count(w[3])) {
    // The Nth call from now fails, once.
    rule.skip = *parse_count(w[3]) - 1;
    rule.times = 1;
    next = 4;
  } else {
    return Outcome::error(kFaultUsage);
  }
  if (next < w.size() && w[next] == "not-permitted") {
    rule.code = kIOReturnNotPermitted;
    ++next;
  }
  if (next != w.size()) return Outcome::error(kFaultUsage);
  recorder.add(std::move(rule));
  return Outcome::ok();
}

Outcome Desk::store(const std::vector<std::string>& w) {
  if (settings_.durableStore) {
    return Outcome::error("store faults act on the in-memory store of padwarden --script");
  }
  sim::CallRecorder& recorder = world_.recorder();
  const bool once = w.size() == 3 && w[2] == "once";
  if (w.size() == 2 && w[1] == "works") {
    for (const char* op :
         {"CFPreferencesAppSynchronize", "CFPreferencesCopyAppValue", "CFPreferencesSetAppValue"}) {
      recorder.removeFaults(op);
    }
    return Outcome::ok();
  }
  if (w.size() != 2 && !once) return Outcome::error(kStoreUsage);
  sim::FaultRule rule;
  rule.times = once ? std::optional<uint64_t>(1) : std::nullopt;
  if (w[1] == "fails") {
    rule.op = "CFPreferencesAppSynchronize";
  } else if (w[1] == "lies") {
    // Answers that it saved, saves nothing: what it claimed is gone at the next crash.
    rule.op = "CFPreferencesAppSynchronize";
    rule.lie = true;
  } else if (w[1] == "misreads") {
    rule.op = "CFPreferencesCopyAppValue";
  } else {
    return Outcome::error(kStoreUsage);
  }
  recorder.add(std::move(rule));
  return Outcome::ok();
}

}  // namespace padwarden::desk
