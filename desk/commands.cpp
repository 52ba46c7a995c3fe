// The desk's command language: one command a line, words separated by blanks, "#" starting a
// comment. Shared by scripts and the terminal prompt.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "app/instance_lock.h"
#include "desk/desk.h"
#include "desk/help.h"
#include "desk/keys.h"
#include "desk/visible_text.h"
#include "platform/hid.h"
#include "platform/timer_queue.h"
#include "session/key_mapping.h"
#include "session/keyboard_matching.h"
#include "session/lease_record.h"

namespace padwarden::desk {

namespace {

// The words of a line, up to a word that starts a comment.
std::vector<std::string> words_of(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  std::string word;
  while (in >> word) {
    if (word.front() == '#') break;
    words.push_back(word);
  }
  return words;
}

// The text after the first `count` words, trimmed, up to a comment.
std::string text_after(const std::string& line, size_t count) {
  size_t at = 0;
  for (size_t i = 0; i < count; ++i) {
    at = line.find_first_not_of(" \t", at);
    at = line.find_first_of(" \t", at);
    if (at == std::string::npos) return "";
  }
  at = line.find_first_not_of(" \t", at);
  if (at == std::string::npos) return "";
  std::string text = line.substr(at);
  if (size_t hash = text.find(" #"); hash != std::string::npos) text.erase(hash);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.pop_back();
  }
  return text;
}

std::optional<int64_t> parse_integer(const std::string& text, int base = 10) {
  std::string digits = text;
  if (base == 16 && (digits.starts_with("0x") || digits.starts_with("0X"))) digits.erase(0, 2);
  int64_t value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return value;
}

// About four months: far beyond any timer of the program, short of overflowing the clock.
constexpr double kMaxWaitSeconds = 1e7;

std::optional<double> parse_seconds(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0 ||
      value > kMaxWaitSeconds) {
    return std::nullopt;
  }
  return value;
}

bool same_mapping(const std::optional<plist::Value>& a, const std::optional<plist::Value>& b) {
  const plist::Value empty{plist::Array{}};
  return a.value_or(empty) == b.value_or(empty);
}

std::string mapping_text(const std::optional<plist::Value>& value) {
  if (!value) return "none";
  if (same_mapping(value, program_mapping(true))) return "numeric";
  if (same_mapping(value, program_mapping(false))) return "navigation";
  return plist::describe(*value);
}

Outcome expect_word(const std::string& found, const std::string& wanted) {
  if (found == wanted) return Outcome::ok();
  return Outcome::failed("expected " + wanted + ", found " + found);
}

const char* kNotRunning = "Padwarden is not running";

}  // namespace

Outcome Desk::execute(const std::string& line) {
  if (line.size() > kMaxLineBytes) {
    return Outcome::error("the line is " + std::to_string(line.size()) +
                          " bytes long; a command is at most " + std::to_string(kMaxLineBytes));
  }
  if (has_unprintable(line)) {
    return Outcome::error("the line holds control characters or bytes that are not UTF-8: " +
                          visible_text(line));
  }
  const std::vector<std::string> words = words_of(line);
  if (words.empty()) return Outcome::ok();
  Outcome outcome = run(words, line);
  world_.runDue();
  reportChanges();
  return outcome;
}

Outcome Desk::run(const std::vector<std::string>& w, const std::string& line) {
  const std::string& command = w[0];
  const size_t n = w.size();
  if (command == "plug") return plug(w);
  if (command == "unplug") {
    if (n != 2) return Outcome::error("usage: unplug NAME");
    const std::optional<uint64_t> id = world_.deviceRegistryID(w[1]);
    if (!world_.unplug(w[1])) return Outcome::error(w[1] + " is not plugged in");
    unpluggedIDs_[w[1]] = *id;
    return Outcome::ok();
  }
  if (command == "press" || command == "release" || command == "tap") return keys(w);
  if (command == "help" || command == "exit") {
    if (n != 1) return Outcome::error("usage: " + command);
    if (command == "help") {
      out_ << kCommandsText;
      return Outcome::ok();
    }
    return Outcome::exit();
  }
  if (command == "wait") {
    std::optional<double> seconds = n == 2 ? parse_seconds(w[1]) : std::nullopt;
    if (!seconds) {
      return Outcome::error("usage: wait SECONDS (a decimal number from 0 to " +
                            std::to_string(static_cast<int64_t>(kMaxWaitSeconds)) + ")");
    }
    return wait(seconds_to_nanoseconds(*seconds));
  }
  if (command == "click") {
    if (n < 2) return Outcome::error("usage: click TEXT");
    return click(text_after(line, 1));
  }
  if (command == "permission") return permission(w);
  if (command == "map") return map(w, line);
  if (command == "launch") {
    // The machine runs one copy: a second start meets the first one's lock and says so.
    if (running()) {
      out_ << kAlreadyRunningMessage;
      return Outcome::ok();
    }
    const std::vector<std::string> arguments(w.begin() + 1, w.end());
    launch(arguments);
    return Outcome::ok();
  }
  if (command == "hid") {
    if (n != 2 || w[1] != "restart") return Outcome::error("usage: hid restart");
    world_.restartEventSystem();
    out_ << "(the HID event system restarted: no keyboard has a mapping now)\n";
    return Outcome::ok();
  }
  if (command == "crash" || command == "sleep" || command == "wake" || command == "reboot" ||
      command == "menu") {
    if (n != 1) return Outcome::error("usage: " + command);
    if (command == "crash") {
      if (!running()) return Outcome::error(kNotRunning);
      world_.crash();
      out_ << "(Padwarden crashed)\n";
      wasRunning_ = false;
    } else if (command == "sleep") {
      world_.sleep();
    } else if (command == "wake") {
      world_.wake();
    } else if (command == "reboot") {
      wasRunning_ = false;
      world_.reboot();
      // Mappings do not survive a restart.
      for (auto& [name, original] : originals_) original.reset();
      out_ << "(the machine restarted)\n";
    } else {
      showMenu();
    }
    return Outcome::ok();
  }
  if (command == "install") {
    if (n != 2) return Outcome::error("usage: install PATH");
    world_.desktop().bundlePath = w[1];
    return Outcome::ok();
  }
  if (command == "login") return login(w);
  if (command == "fault") return fault(w);
  if (command == "store") return store(w);
  if (command == "settings") {
    if (n != 2 || (w[1] != "available" && w[1] != "unavailable")) {
      return Outcome::error("usage: settings available|unavailable");
    }
    world_.desktop().systemSettingsInstalled = w[1] == "available";
    return Outcome::ok();
  }
  if (command == "expect") return expect(w, line);
  return Outcome::error("unknown command \"" + command + "\" (try help)");
}

Outcome Desk::plug(const std::vector<std::string>& w) {
  if (w.size() < 2) return Outcome::error("usage: plug NAME [options]");
  const std::string& name = w[1];
  if (world_.isPlugged(name)) return Outcome::error(name + " is already plugged in");
  if (w.size() == 2 && world_.machine().keyboard(name)) {
    world_.plug(std::string_view(name));  // again, as it was
    originals_[name].reset();
    programWrites_[name] = 0;
    return Outcome::ok();
  }
  sim::KeyboardSpec spec = sim::usb_keyboard(name);
  std::optional<size_t> leds;
  for (size_t i = 2; i < w.size(); ++i) {
    const std::string& option = w[i];
    const size_t eq = option.find('=');
    const std::string key = option.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : option.substr(eq + 1);
    if (option == "builtin") {
      spec = sim::builtin_keyboard(name);
    } else if (option == "virtual") {
      spec.set("HIDVirtualDevice", true);
    } else if (option == "mouse") {
      spec = sim::usb_mouse(name);
    } else if (option == "report-ids") {
      spec = sim::report_id_keyboard(name);
    } else if (key == "transport" && !value.empty()) {
      if (value == "bluetooth") {
        spec = sim::bluetooth_keyboard(name);
      } else {
        spec.set("Transport", value == "usb"   ? std::string("USB")
                              : value == "ble" ? std::string("BluetoothLowEnergy")
                                               : value);
      }
    } else if (key == "uid" && !value.empty()) {
      spec.set("PhysicalDeviceUniqueID", value);
    } else if (key == "serial" && !value.empty()) {
      spec.set("SerialNumber", value);
    } else if ((key == "vendor" || key == "product") && parse_integer(value)) {
      spec.set(key == "vendor" ? "VendorID" : "ProductID", *parse_integer(value));
    } else if (key == "leds" && parse_integer(value) && *parse_integer(value) >= 0 &&
               *parse_integer(value) <= 8) {
      leds = static_cast<size_t>(*parse_integer(value));
    } else {
      return Outcome::error("unknown plug option \"" + option + "\"");
    }
  }
  if (leds) spec.withNumLockLEDs(*leds);
  world_.plug(std::move(spec));
  originals_[name].reset();
  programWrites_[name] = 0;
  return Outcome::ok();
}

Outcome Desk::keys(const std::vector<std::string>& w) {
  if (w.size() < 3) return Outcome::error("usage: " + w[0] + " NAME KEY...");
  const std::string& name = w[1];
  if (!world_.isPlugged(name)) return Outcome::error(name + " is not plugged in");
  std::vector<uint8_t> usages;
  for (size_t i = 2; i < w.size(); ++i) {
    std::optional<uint8_t> usage = key_usage(w[i]);
    if (!usage)
      return Outcome::error("unknown key \"" + w[i] + "\"; keys: " + pressable_key_names());
    usages.push_back(*usage);
  }

  const size_t before = world_.typed().keys().size();
  for (uint8_t usage : usages) {
    if (w[0] == "release") {
      world_.release(name, usage);
    } else {
      world_.press(name, usage);
      if (w[0] == "tap") world_.release(name, usage);
    }
    // Each report is handled before the next one arrives, as on a real keyboard.
    world_.runDue();
  }
  if (w[0] == "release") return Outcome::ok();

  std::vector<std::string> typed;
  const auto& log = world_.typed().keys();
  for (size_t i = before; i < log.size(); ++i) {
    if (log[i].keyboard == name && log[i].down)
      typed.push_back(key_name(log[i].usagePage, log[i].usage));
  }
  lastTyped_[name] = typed;
  out_ << name << " typed:";
  if (typed.empty()) out_ << " (nothing)";
  for (const std::string& key : typed) out_ << " " << key;
  out_ << "\n";
  return Outcome::ok();
}

Outcome Desk::wait(uint64_t nanoseconds) {
  if (!settings_.interrupted) {
    world_.advanceNanoseconds(nanoseconds);
    return Outcome::ok();
  }
  // A virtual minute at a time, so that an interrupt stops a long wait where it is.
  constexpr uint64_t kStep = 60'000'000'000;
  for (uint64_t waited = 0; waited < nanoseconds; waited += kStep) {
    if (settings_.interrupted()) {
      out_ << "(the wait stopped after " << waited / 1'000'000'000 << " s)\n";
      return Outcome::ok();
    }
    world_.advanceNanoseconds(std::min(kStep, nanoseconds - waited));
  }
  return Outcome::ok();
}

Outcome Desk::click(const std::string& text) {
  sim::Process* process = world_.process();
  if (!process) return Outcome::error(kNotRunning);
  switch (process->application().choose(text)) {
    case sim::MenuChoice::Chosen: return Outcome::ok();
    case sim::MenuChoice::DisplayOnly:
      out_ << "(\"" << text << "\" is a display line; nothing happens)\n";
      return Outcome::ok();
    case sim::MenuChoice::NotFound: break;
  }
  return Outcome::error("no menu item starts with \"" + text + "\"");
}

Outcome Desk::permission(const std::vector<std::string>& w) {
  if (w.size() == 2) {
    if (w[1] == "granted") {
      world_.setPermission(sim::InputMonitoring::Granted);
      return Outcome::ok();
    }
    if (w[1] == "denied") {
      world_.setPermission(sim::InputMonitoring::Denied);
      return Outcome::ok();
    }
    if (w[1] == "ask") {
      world_.setPermission(sim::InputMonitoring::UnknownGrantedOnRequest);
      return Outcome::ok();
    }
  }
  return Outcome::error("usage: permission granted|denied|ask");
}

Outcome Desk::map(const std::vector<std::string>& w, const std::string& line) {
  const char* usage =
      "usage: map NAME []|numeric|navigation|[float] SRC:DST...|text TEXT (see help)";
  if (w.size() < 3) return Outcome::error(usage);
  const std::string& name = w[1];
  if (!world_.isPlugged(name)) return Outcome::error(name + " is not plugged in");
  if (w.size() == 3 && w[2] == "none") {
    return Outcome::error(
        "no program can remove a keyboard's mapping: map NAME [] clears it, and after hid "
        "restart no keyboard has one");
  }
  plist::Value value = plist::Array{};
  if (w.size() == 3 && w[2] == "[]") {
    value = plist::Array{};
  } else if (w.size() == 3 && (w[2] == "numeric" || w[2] == "navigation")) {
    value = program_mapping(w[2] == "numeric");
  } else if (w[2] == "text") {
    // Not an array at all.
    value = text_after(line, 3);
  } else {
    const bool real = w[2] == "float";
    plist::Array entries;
    for (size_t i = real ? 3 : 2; i < w.size(); ++i) {
      const size_t colon = w[i].find(':');
      std::optional<int64_t> source, destination;
      if (colon != std::string::npos) {
        source = parse_integer(w[i].substr(0, colon), 16);
        destination = parse_integer(w[i].substr(colon + 1), 16);
      }
      // "SRC:" alone: an entry without its destination.
      const bool noDestination = source && colon + 1 == w[i].size();
      if (!source || (!destination && !noDestination)) {
        return Outcome::error(
            "a mapping entry is SRC:DST in hexadecimal, e.g. 0x700000039:0x7000000E0");
      }
      auto number = [real](int64_t n) {
        return real ? plist::Value(static_cast<double>(n)) : plist::Value(n);
      };
      plist::Dictionary entry{{kIOHIDKeyboardModifierMappingSrcKey, number(*source)}};
      if (destination) entry.emplace(kIOHIDKeyboardModifierMappingDstKey, number(*destination));
      entries.push_back(std::move(entry));
    }
    if (entries.empty()) return Outcome::error(usage);
    value = std::move(entries);
  }
  world_.setUserKeyMapping(name, 0, std::move(value));
  return Outcome::ok();
}

Outcome Desk::login(const std::vector<std::string>& w) {
  sim::Desktop& desktop = world_.desktop();
  if (w.size() == 3 && w[1] == "status" && parse_integer(w[2])) {
    desktop.loginItemStatus = static_cast<int>(*parse_integer(w[2]));
    return Outcome::ok();
  }
  if (w.size() == 3 && w[1] == "register") {
    if (w[2] == "enables")
      desktop.onRegister = sim::LoginRegistration::Enables;
    else if (w[2] == "approval")
      desktop.onRegister = sim::LoginRegistration::RequiresApproval;
    else if (w[2] == "fails")
      desktop.onRegister = sim::LoginRegistration::FailsWithError;
    else if (w[2] == "fails-silently")
      desktop.onRegister = sim::LoginRegistration::FailsSilently;
    else
      return Outcome::error("usage: login register enables|approval|fails|fails-silently");
    return Outcome::ok();
  }
  return Outcome::error(
      "usage: login status N | login register enables|approval|fails|fails-silently");
}

Outcome Desk::expect(const std::vector<std::string>& w, const std::string& line) {
  if (w.size() < 3) return Outcome::error("usage: expect WHAT VALUE (see help)");
  const std::string& what = w[1];
  const std::string rest = text_after(line, 2);
  const size_t n = w.size();

  if (what == "running") {
    if (n != 3 || (w[2] != "yes" && w[2] != "no"))
      return Outcome::error("usage: expect running yes|no");
    return expect_word(running() ? "yes" : "no", w[2]);
  }
  if (what == "alert") {
    sim::Desktop& desktop = world_.desktop();
    std::string seen;
    bool found = false;
    for (size_t i = alertsChecked_; i < desktop.alerts.size(); ++i) {
      if (desktop.alerts[i].messageText == rest) found = true;
      seen += (seen.empty() ? "\"" : ", \"") + desktop.alerts[i].messageText + "\"";
    }
    alertsChecked_ = desktop.alerts.size();
    if (found) return Outcome::ok();
    return Outcome::failed("expected an alert \"" + rest + "\", found " +
                           (seen.empty() ? std::string("no alert") : seen));
  }
  if (what == "log") {
    for (const std::string& entry : world_.desktop().systemLog) {
      if (entry == rest) return Outcome::ok();
    }
    return Outcome::failed("expected the system-log line \"" + rest + "\", found none such");
  }
  if (what == "led") {
    if (n != 4 || (w[3] != "on" && w[3] != "off"))
      return Outcome::error("usage: expect led NAME on|off");
    if (!world_.isPlugged(w[2])) return Outcome::error(w[2] + " is not plugged in");
    const std::optional<int64_t> led = world_.ledValue(w[2]);
    return expect_word(led && *led != 0 ? "on" : "off", w[3]);
  }
  if (what == "mapping") {
    if (n != 4) return Outcome::error("usage: expect mapping NAME original|numeric|navigation");
    return expectMapping(w[2], w[3]);
  }
  if (what == "lease") {
    if (n != 4 || (w[3] != "yes" && w[3] != "no" && w[3] != "original"))
      return Outcome::error("usage: expect lease NAME yes|no|original");
    return expectLease(w[2], w[3]);
  }
  if (what == "writes") {
    const std::optional<int64_t> count = n == 4 ? parse_integer(w[3]) : std::nullopt;
    if (!count || *count < 0) return Outcome::error("usage: expect writes NAME N");
    // A misspelt name would otherwise count no writes and pass.
    if (!world_.machine().keyboard(w[2])) return Outcome::error(w[2] + " was never plugged in");
    const uint64_t made = std::exchange(programWrites_[w[2]], 0);
    if (made == static_cast<uint64_t>(*count)) return Outcome::ok();
    return Outcome::failed("expected " + w[3] + " mapping writes, found " + std::to_string(made));
  }
  if (what == "typed") {
    if (n < 4) return Outcome::error("usage: expect typed NAME KEY...|none");
    std::string wanted;
    if (!(n == 4 && w[3] == "none")) {
      for (size_t i = 3; i < n; ++i) {
        if (!is_key_event_name(w[i])) {
          return Outcome::error("unknown key \"" + w[i] + "\"; keys: " + pressable_key_names() +
                                " home end up down left right pageup pagedown insert " +
                                "deleteforward return space 0xPAGE:0xUSAGE");
        }
        wanted += (wanted.empty() ? "" : " ") + w[i];
      }
    }
    std::string found;
    for (const std::string& key : lastTyped_[w[2]]) found += (found.empty() ? "" : " ") + key;
    if (found == wanted) return Outcome::ok();
    return Outcome::failed("expected " + (wanted.empty() ? std::string("none") : wanted) +
                           ", found " + (found.empty() ? std::string("none") : found));
  }

  // The rest reads the status item and its menu.
  sim::Process* process = world_.process();
  if (!process)
    return Outcome::failed(std::string("expected ") + what + " " + rest + ", found " + kNotRunning);
  const Snapshot s = snapshot();
  if (what == "icon") {
    if (n != 3 || (w[2] != "on" && w[2] != "off"))
      return Outcome::error("usage: expect icon on|off");
    return expect_word(s.iconOn ? "on" : "off", w[2]);
  }
  if (what == "line") {
    std::string titles;
    for (const MenuLine& entry : s.lines) {
      if (entry.separator) continue;
      if (entry.title == rest) return Outcome::ok();
      titles += (titles.empty() ? "\"" : ", \"") + entry.title + "\"";
    }
    return Outcome::failed("expected a line \"" + rest + "\", found " + titles);
  }
  if (what == "greyed") {
    if (n < 4 || (w[2] != "yes" && w[2] != "no"))
      return Outcome::error("usage: expect greyed yes|no TEXT");
    const std::string title = text_after(line, 3);
    for (const MenuLine& entry : s.lines) {
      if (!entry.separator && entry.title == title)
        return expect_word(entry.enabled ? "no" : "yes", w[2]);
    }
    return Outcome::failed("expected a line \"" + title + "\", found none such");
  }
  if (what == "tooltip") {
    // The mapping line carries the error text as its tooltip.
    std::optional<std::string> tip;
    for (const MenuLine& entry : s.lines) {
      if (entry.title.starts_with("Mapping")) tip = entry.toolTip;
    }
    const std::string found = tip ? "\"" + *tip + "\"" : "none";
    const std::string wanted = rest == "none" ? "none" : "\"" + rest + "\"";
    return expect_word(found, wanted);
  }
  return Outcome::error("unknown expectation \"" + what + "\" (see help)");
}

Outcome Desk::expectMapping(const std::string& name, const std::string& which) {
  if (!world_.isPlugged(name)) return Outcome::error(name + " is not plugged in");
  std::optional<plist::Value> wanted;
  if (which == "original") {
    wanted = originals_[name];
  } else if (which == "numeric" || which == "navigation") {
    wanted = program_mapping(which == "numeric");
  } else {
    return Outcome::error("usage: expect mapping NAME original|numeric|navigation");
  }
  const std::optional<plist::Value> found = world_.userKeyMapping(name);
  if (same_mapping(found, wanted)) return Outcome::ok();
  return Outcome::failed("expected " + which + " (" + mapping_text(wanted) + "), found " +
                         mapping_text(found));
}

Outcome Desk::expectLease(const std::string& name, const std::string& which) {
  std::optional<uint64_t> id = world_.deviceRegistryID(name);
  // An unplugged keyboard's lease is kept under the ID it had.
  if (const auto it = unpluggedIDs_.find(name); !id && it != unpluggedIDs_.end()) id = it->second;
  if (!id) return Outcome::error(name + " was never plugged in");
  const std::optional<plist::Value> lease =
      storedValue(std::string(preference_keys::kMappingLeasePrefix) + registry_id_string(*id));
  if (which != "original") return expect_word(lease ? "yes" : "no", which);
  const plist::Value* original = lease ? lease->find(kLeaseOriginalMappingKey) : nullptr;
  const std::optional<plist::Value> named =
      original ? std::optional<plist::Value>(*original) : std::nullopt;
  if (lease && same_mapping(named, originals_[name])) return Outcome::ok();
  return Outcome::failed("expected a lease naming the original (" +
                         mapping_text(originals_[name]) + "), found " +
                         (lease ? "one naming " + mapping_text(named) : std::string("none")));
}

}  // namespace padwarden::desk
