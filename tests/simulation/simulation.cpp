#include "tests/simulation/simulation.h"

#include <array>
#include <cstdio>

#include "session/keyboard_matching.h"
#include "tests/simulation/other_programs.h"

namespace padwarden::simulation {

namespace {

constexpr size_t kSlots = 4;

constexpr std::array<uint8_t, 16> kKeys{0x53, 0x62, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E,
                                        0x5F, 0x60, 0x61, 0x63, 0xE1, 0x39, 0x04, 0x53};
constexpr std::array<const char*, 5> kItems{"Logical Num Lock", "Disable", "Enable",
                                            "Input Monitoring", "Launch at Login"};
constexpr std::array<double, 6> kWaits{0.05, 0.3, 0.6, 1.6, 5.5, 30};
constexpr std::array<const char*, 20> kFaultOps{"IOHIDManagerCreate",
                                                "IOHIDManagerOpen",
                                                "IOHIDManagerCopyDevices",
                                                "IOHIDDeviceOpen",
                                                "IOHIDDeviceGetProperty",
                                                "IOHIDDeviceCopyMatchingElements",
                                                "IOHIDDeviceSetValue",
                                                "IOHIDEventSystemClientCopyServices",
                                                "IOHIDServiceClientCopyProperty",
                                                "IOHIDServiceClientSetProperty",
                                                "IORegistryEntryCreateIterator",
                                                "IOServiceGetMatchingService",
                                                "IOHIDCheckAccess",
                                                "CFPreferencesAppSynchronize",
                                                "CFPreferencesCopyAppValue",
                                                "CFPreferencesSetAppValue",
                                                "CFArrayCreateMutable",
                                                "CFDictionaryCreateMutable",
                                                "malloc",
                                                "sysctl"};

// Each kind of event: its name, the first mix it happens in, and how often it happens out of the
// total, before mix 6 and from it (when other programs' mappings come more often, and so do
// faults). A synchronize
// that lies (answers true, saves nothing) is left out: no program can tell it from a real save,
// so the rules would flag what nobody can prevent. The preferences-fault tests cover it with
// the property that does hold: nothing changes without a lease that reads back equal, and the
// next run puts things right where the record survived.
struct Kind {
  const char* name;
  uint32_t weight;
  uint32_t weightFromMix6;
  int firstMix = 1;
};
constexpr std::array<Kind, static_cast<size_t>(EventKind::Count)> kKinds{{
    {"plug", 6, 6},
    {"unplug", 3, 3},
    {"press", 12, 12},
    {"release", 10, 10},
    {"tap", 20, 20},
    {"click", 8, 8},
    {"permission", 2, 2},
    {"foreign-mapping", 3, 8},
    {"sleep", 1, 1},
    {"wake", 1, 1},
    {"crash", 2, 2},
    {"launch", 4, 4},
    {"reboot", 1, 1},
    {"wait", 12, 12},
    {"fault", 4, 5},
    {"clear-faults", 3, 3},
    {"crash-at-call", 2, 2},
    // Rare: three of four such events do nothing.
    {"event-system-restart", 1, 1, 7},
}};

// Values no keyboard mapping should hold, which the program must leave alone.
plist::Value ill_formed_mapping(uint8_t which) {
  switch (which % 4) {
    case 0: return plist::Value("UserKeyMapping");
    case 1: return plist::Value(plist::Array{plist::Value(int64_t{5})});
    case 2:
      return plist::Value(
          plist::Array{plist::Dictionary{{kIOHIDKeyboardModifierMappingSrcKey, 0x700000039}}});
    default:
      return plist::Value(
          plist::Array{plist::Dictionary{{kIOHIDKeyboardModifierMappingSrcKey, 1.5},
                                         {kIOHIDKeyboardModifierMappingDstKey, 0x7000000E0}}});
  }
}

}  // namespace

std::string describe(const std::optional<plist::Value>& value) {
  return value ? plist::describe(*value) : "none";
}

std::string describe(const Event& event) {
  char text[64];
  std::snprintf(text, sizeof text, "%s %u %u", kKinds[static_cast<size_t>(event.kind)].name,
                event.a, event.b);
  return text;
}

namespace {

constexpr uint64_t kGoldenGamma = 0x9E3779B97F4A7C15ull;

uint64_t mix64(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

Random::Random(uint64_t seed, int mix)
    : state_(mix >= 3 ? mix64(seed + kGoldenGamma) : seed * kGoldenGamma + 1), mix_(mix) {}

// splitmix64
uint64_t Random::next() { return mix64(state_ += kGoldenGamma); }

Event random_event(Random& random) {
  auto weight = [&random](const Kind& kind) -> uint32_t {
    if (random.mix() < kind.firstMix) return 0;
    return random.mix() >= 6 ? kind.weightFromMix6 : kind.weight;
  };
  uint32_t total = 0;
  for (const Kind& kind : kKinds) total += weight(kind);
  uint32_t pick = random.below(total);
  size_t kind = 0;
  while (pick >= weight(kKinds[kind])) pick -= weight(kKinds[kind++]);
  const uint64_t bits = random.next();
  return Event{static_cast<EventKind>(kind), static_cast<uint8_t>(bits),
               static_cast<uint8_t>(bits >> 8)};
}

std::vector<Event> events_from_bytes(const uint8_t* data, size_t size) {
  std::vector<Event> events;
  for (size_t i = 0; i + 3 <= size; i += 3) {
    events.push_back(Event{static_cast<EventKind>(data[i] % static_cast<uint8_t>(EventKind::Count)),
                           data[i + 1], data[i + 2]});
  }
  return events;
}

Simulation::Simulation(int mix) : mix_(mix), slots_(kSlots) {
  world_.observeMappingWrites([this](const sim::MappingWrite& write) {
    const size_t slot = static_cast<size_t>(write.keyboard.back() - '0');
    if (slot >= kSlots) return;
    if (write.writer == sim::MappingWriter::Program) {
      slots_[slot].programService = write.serviceIndex;
      slots_[slot].foreignSinceProgram = false;
    } else if (write.serviceIndex == slots_[slot].programService) {
      slots_[slot].foreignSinceProgram = true;
    }
  });
}

Simulation::~Simulation() = default;

std::string Simulation::keyboardName(size_t slot) const { return "kb" + std::to_string(slot); }

// Kinds 5 and 6 (from mix 6): a USB keyboard with a second service that is not its own, and
// one with two services that both match it (which no program can tell apart).
bool Simulation::supported(size_t slot) const {
  return slots_[slot].kind <= 2 || slots_[slot].kind == 5;
}

std::weak_ptr<PadwardenAppDelegate> launch_padwarden(sim::World& world) {
  sim::Process& process = world.launch();
  auto delegate = PadwardenAppDelegate::create(process.platform(), process.applicationPlatform());
  process.retain(delegate);
  process.application().setDelegate(delegate);
  process.application().run();
  return delegate;
}

std::optional<std::string> Simulation::play(const Event& event) {
  const size_t slot = event.a % kSlots;
  const std::string name = keyboardName(slot);
  Slot& at = slots_[slot];
  sim::CallRecorder& recorder = world_.recorder();
  sim::Process* process = world_.process();
  eventFirstCall_ = recorder.callCount();
  switch (event.kind) {
    case EventKind::Plug: plug(slot, event.b); break;
    case EventKind::Unplug:
      if (mix_ >= 2 && (event.a >> 2) % 8 == 7) {
        // Another program seizes the keyboard for itself, or lets it go.
        at.seized = !at.seized;
        world_.setHeldExclusively(name, at.seized);
        break;
      }
      at.held.clear();
      world_.unplug(name);
      break;
    case EventKind::Press:
    case EventKind::Tap: {
      if (!world_.isPlugged(name)) break;
      const uint8_t key = kKeys[event.b % kKeys.size()];
      if (world_.press(name, key)) at.held.push_back(key);
      if (event.kind == EventKind::Tap) {
        world_.runDue();
        world_.release(name, key);
        std::erase(at.held, key);
      }
      break;
    }
    case EventKind::Release: {
      if (at.held.empty()) break;
      const uint8_t key = at.held[event.b % at.held.size()];
      world_.release(name, key);
      std::erase(at.held, key);
      break;
    }
    case EventKind::Click:
      if (!process) break;
      if (event.a % 16 == 15) {
        process->application().choose("Quit Padwarden");
      } else {
        process->application().choose(kItems[event.a % kItems.size()]);
      }
      break;
    case EventKind::Permission:
      world_.setPermission(event.a % 3 == 0   ? sim::InputMonitoring::Granted
                           : event.a % 3 == 1 ? sim::InputMonitoring::Denied
                                              : sim::InputMonitoring::UnknownGrantedOnRequest);
      break;
    case EventKind::ForeignMapping: foreignMapping(event); break;
    case EventKind::Sleep: world_.sleep(); break;
    case EventKind::Wake: world_.wake(); break;
    case EventKind::Crash: world_.crash(); break;
    case EventKind::Launch:
      if (!process) delegate_ = launch_padwarden(world_);
      break;
    case EventKind::Reboot:
      world_.reboot(5);
      for (auto& [keyboard, original] : trueOriginal_) original.reset();
      for (Slot& each : slots_) each.held.clear();
      break;
    case EventKind::Wait: world_.advance(kWaits[event.a % kWaits.size()]); break;
    case EventKind::Fault: {
      sim::FaultRule rule;
      rule.op = kFaultOps[event.a % kFaultOps.size()];
      rule.skip = (event.b >> 2) % 4;
      const uint8_t mode = event.b % 4;
      rule.times = mode == 3 ? std::nullopt : std::optional<uint64_t>(mode == 1 ? 3 : 1);
      if (mix_ >= 2 && (event.b >> 4) % 8 == 7) rule.code = kIOReturnNotPermitted;
      if (mix_ >= 6 && rule.op == std::string_view("IOHIDServiceClientSetProperty")) {
        rule.lands = (event.b >> 4) % 8 == 6;
        rule.lie = (event.b >> 4) % 8 == 5;
      }
      if (mix_ >= 4) recorder.removeFaults(rule.op);
      recorder.add(rule);
      break;
    }
    case EventKind::ClearFaults: recorder.clearFaults(); break;
    case EventKind::CrashAtCall:
      recorder.crashAfterCall(recorder.callCount() + 1 + event.a % 50);
      break;
    case EventKind::EventSystemRestart:
      if (event.a % 4 == 0) restartEventSystem();
      break;
    case EventKind::Count: break;
  }
  world_.runDue();
  return check();
}

void Simulation::plug(size_t slot, uint8_t choice) {
  const std::string name = keyboardName(slot);
  if (world_.isPlugged(name)) return;
  const uint8_t kind = choice % (mix_ >= 6 ? 7 : 5);
  sim::KeyboardSpec spec = kind == 1   ? sim::bluetooth_keyboard(name)
                           : kind == 3 ? sim::builtin_keyboard(name)
                           : kind == 4 ? sim::usb_mouse(name)
                                       : sim::usb_keyboard(name);
  if (kind >= 5) spec.services.emplace_back();
  if (kind == 5) spec.services.back().placement = sim::ServicePlacement::Elsewhere;
  slots_[slot] = Slot{};
  slots_[slot].kind = kind;
  trueOriginal_[name] = std::nullopt;
  world_.plug(std::move(spec));
}

void Simulation::foreignMapping(const Event& event) {
  const size_t slot = event.a % kSlots;
  const std::string name = keyboardName(slot);
  if (!world_.isPlugged(name)) return;
  const uint8_t variant = (event.a >> 2) % 8;
  if (mix_ < 6) {
    plist::Value value = mix_ >= 2 && variant == 7 ? ill_formed_mapping(event.b)
                                                   : lookalike_mapping(event.b % 4, std::nullopt);
    if (mix_ >= 5 && variant == 6) {
      if (rules_.storedLease(name)) return;
      value = event.b % 2 ? testing::numeric_mode_mapping() : testing::navigation_mode_mapping();
    }
    writeForeign(slot, 0, value);
    return;
  }
  const size_t services = world_.serviceCount(name);
  if (variant == 7) {
    writeForeign(slot, (event.b >> 4) % services, ill_formed_mapping(event.b));
  } else if (variant == 6) {
    // Left by another boot, keyboard or version before the program starts: never restored
    // from, and deleted when the keyboard is attached (a running program does not look).
    if (world_.process() || rules_.storedLease(name)) return;
    world_.disk().values.insert_or_assign(testing::record_key(world_, name),
                                          *foreign_record(world_, name, event.b));
  } else if (variant >= 4) {
    // In the middle of whatever the program does next.
    const uint8_t which = static_cast<uint8_t>((event.b & 7) | ((event.a >> 5) & 1) << 3);
    const size_t service = (event.a >> 7) % services;
    writeForeignAtCall(slot, service, lookalike_mapping(which, rules_.trueOriginal(name, service)),
                       1 + (event.b >> 3), (event.a >> 6) & 1);
  } else {
    const size_t service = (event.b >> 4) % services;
    writeForeign(slot, service, lookalike_mapping(event.b, rules_.trueOriginal(name, service)));
  }
}

void Simulation::restartEventSystem() {
  // Every mapping is gone, the keyboards' own with the program's: had the program never run,
  // the keyboards would hold nothing now.
  world_.restartEventSystem();
  for (auto& [keyboard, original] : trueOriginal_) original.reset();
}

bool Simulation::writeForeign(size_t slot, size_t service, const plist::Value& value) {
  const std::string name = keyboardName(slot);
  if (testing::is_program_mapping(value) &&
      (rules_.storedLease(name) || programLookedThisEvent(slot, service))) {
    return false;
  }
  if (service == 0) trueOriginal_[name] = value;
  world_.setUserKeyMapping(name, service, value);
  return true;
}

bool Simulation::programLookedThisEvent(size_t slot, size_t service) {
  // An install captures the mapping and saves its record within one event: from the capture
  // on, a value equal to the program's is as much under a record as after the save.
  const std::string look =
      keyboardName(slot) + " service " + std::to_string(service) + " " + kIOHIDUserKeyMappingKey;
  const std::vector<sim::Call>& trace = world_.recorder().trace();
  for (auto call = trace.rbegin(); call != trace.rend() && call->index > eventFirstCall_; ++call) {
    if (call->op == "IOHIDServiceClientCopyProperty" && call->detail == look) return true;
  }
  return false;
}

void Simulation::writeForeignAtCall(size_t slot, size_t service, plist::Value value, uint64_t n,
                                    bool readFails) {
  const std::string name = keyboardName(slot);
  const std::optional<uint64_t> serial = world_.serviceSerial(name, service);
  const std::string target = name + " service " + std::to_string(service) + " ";
  auto act = [this, slot, service, value, serial, target, readFails](
                 std::string_view op, const std::string& detail, bool) {
    if (world_.serviceSerial(keyboardName(slot), service) != serial) {
      return sim::ActionResult::Acted;  // gone with its keyboard
    }
    if (!careful_program_can_see(world_.recorder().trace(), target, op, detail)) {
      return sim::ActionResult::NotYet;
    }
    const bool mappingRead = op == "IOHIDServiceClientCopyProperty" && detail.starts_with(target) &&
                             detail.ends_with(kIOHIDUserKeyMappingKey);
    if (readFails && !mappingRead) return sim::ActionResult::NotYet;
    // A write that did not happen fails nothing; nor does one while a fault rule may still
    // fail a read (the two failing the two reads of one look would make the mapping look
    // absent, which no program can tell from a keyboard without one).
    if (!writeForeign(slot, service, value)) return sim::ActionResult::Acted;
    return readFails && !world_.recorder().mayFail("IOHIDServiceClientCopyProperty")
               ? sim::ActionResult::ActedAndFailsTheCall
               : sim::ActionResult::Acted;
  };
  world_.recorder().atCall(n, std::move(act));
}

std::optional<std::string> Simulation::check() {
  std::vector<std::string> violations = rules_.takeViolations();
  if (!violations.empty()) return violations.front();
  return checkMenu();
}

std::optional<std::string> Simulation::checkMenu() {
  sim::Process* process = world_.process();
  auto delegate = delegate_.lock();
  if (!process || !delegate || !delegate->controller()) return std::nullopt;
  const KeyboardController& controller = *delegate->controller();
  const sim::SimStatusItem* item = process->application().statusItem();
  if (!item || !item->menu()) return std::nullopt;

  const bool iconOn = item->simButton().image() == delegate->statusIconOn();
  if (iconOn != controller.logicalNumLockOn()) {
    return std::string("the icon shows ") + (iconOn ? "on" : "off") + " for a logical state " +
           (controller.logicalNumLockOn() ? "on" : "off");
  }

  bool active = false;
  for (const MenuItemRef& line : item->menu()->items())
    active |= line->title() == "Mapping: active";
  if (!active) return std::nullopt;
  // "Mapping: active" only when each keyboard carries the mapping of its mode, unless another
  // program wrote it since (the program cannot know before it next looks).
  for (const auto& [registryID, session] : controller.sessions()) {
    for (size_t slot = 0; slot < kSlots; ++slot) {
      const std::string name = keyboardName(slot);
      const std::optional<uint64_t> id = world_.deviceRegistryID(name);
      if (!id || registry_id_string(*id) != registryID || slots_[slot].foreignSinceProgram)
        continue;
      if (!testing::identical(world_.userKeyMapping(name, slots_[slot].programService),
                              testing::mode_mapping(session->effectiveNumericMode()))) {
        return "\"Mapping: active\" while " + name + " does not carry its mode's mapping";
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> Simulation::heal() {
  sim::CallRecorder& recorder = world_.recorder();
  recorder.clearFaults();
  recorder.clearActions();
  recorder.crashAfterCall(std::nullopt);
  for (size_t slot = 0; slot < kSlots; ++slot) {
    for (uint8_t key : slots_[slot].held) world_.release(keyboardName(slot), key);
    slots_[slot].held.clear();
  }
  world_.setPermission(sim::InputMonitoring::Granted);
  for (size_t slot = 0; slot < kSlots; ++slot) {
    slots_[slot].seized = false;
    world_.setHeldExclusively(keyboardName(slot), false);
  }
  world_.wake();
  // A quit held back completes once the keys are up and the restore is done; a keyboard the
  // program has not heard from yet must send a report first.
  world_.advance(2);
  for (int second = 0; second < 30 && world_.process(); ++second) {
    auto delegate = delegate_.lock();
    if (!delegate || !delegate->terminationRequested()) break;
    tapEveryKeyboard();
    world_.advance(1);
  }
  if (auto problem = check()) return problem;
  if (!world_.process()) delegate_ = launch_padwarden(world_);
  world_.runDue();
  if (auto problem = check()) return problem;
  // The user withdraws Input Monitoring and allows it again in System Settings, choosing nothing
  // in the menu: that takes effect by itself (a refusal that the system's check did not explain
  // is retried after a while).
  world_.setPermission(sim::InputMonitoring::Denied);
  tapEveryKeyboard();
  world_.advance(kDiscoveryTimerInterval);
  if (auto problem = check()) return problem;
  world_.setPermission(sim::InputMonitoring::Granted);
  world_.advance((kRefusedAccessRetryPasses + 1) * kDiscoveryTimerInterval + 12);
  if (auto problem = check()) return problem;
  if (!world_.process()) return std::string("Padwarden ended while healing, before any key");
  tapEveryKeyboard(/*settleEach=*/true);
  world_.advance(12);
  if (auto problem = check()) return problem;

  auto delegate = delegate_.lock();
  if (!world_.process() || !delegate || !delegate->controller()) {
    return std::string("Padwarden is not running after healing");
  }
  // Allowed again in System Settings, nothing chosen: no keyboard is left waiting for access.
  if (delegate->controller()->connectionSummary() == "Waiting for Input Monitoring permission") {
    return std::string("Padwarden still waits for Input Monitoring after healing");
  }
  for (const auto& [key, session] : delegate->controller()->sessions()) {
    if (!session->inputMonitoringGranted()) {
      return "keyboard " + key +
             " still waits for Input Monitoring after healing: " + session->connectionSummary();
    }
  }
  if (delegate->controller()->isCleanupPending()) {
    return std::string("a cleanup is still pending after healing: ") +
           delegate->controller()->errorSummary();
  }
  for (size_t slot = 0; slot < kSlots; ++slot) {
    const std::string name = keyboardName(slot);
    // A device the program does not handle may share its registry ID with a keyboard of an
    // earlier boot whose record is still saved; that record names the other boot and is harmless.
    if (!world_.isPlugged(name) || !supported(slot)) continue;
    const std::optional<plist::Value> mapping = world_.userKeyMapping(name);
    if (!testing::is_program_mapping(mapping)) {
      if (!testing::stands_for_original(mapping, rules_.trueOriginal(name))) {
        return name + " holds neither its original nor the program's mapping after healing";
      }
      if (auto lease = rules_.storedLease(name)) {
        return name + " keeps a stale lease after healing: " + plist::describe(*lease) +
               "; mapping " + describe(mapping) + "; " +
               delegate->controller()->connectionSummary() + "; " +
               delegate->controller()->errorSummary();
      }
    }
  }

  // A quit hands every keyboard back.
  world_.process()->application().choose("Quit Padwarden");
  world_.runDue();
  for (int second = 0; second < 30 && world_.process(); ++second) world_.advance(1);
  if (auto problem = check()) return problem;
  if (world_.process()) return std::string("the quit did not complete within 30 seconds");
  for (size_t slot = 0; slot < kSlots; ++slot) {
    const std::string name = keyboardName(slot);
    for (size_t service = 0; service < world_.serviceCount(name); ++service) {
      if (!handedBack(slot, service)) {
        return name + " service " + std::to_string(service) +
               " does not hold its original after the quit: " +
               describe(world_.userKeyMapping(name, service)) + " instead of " +
               describe(rules_.trueOriginal(name, service));
      }
    }
    if (world_.isPlugged(name) && supported(slot) && rules_.storedLease(name)) {
      return name + " keeps a lease after the quit";
    }
  }
  return std::nullopt;
}

void Simulation::tapEveryKeyboard(bool settleEach) {
  for (size_t slot = 0; slot < kSlots; ++slot) {
    if (!world_.isPlugged(keyboardName(slot))) continue;
    world_.tap(keyboardName(slot), 0x04);
    if (settleEach) world_.runDue();
  }
}

bool Simulation::handedBack(size_t slot, size_t service) const {
  const std::string name = keyboardName(slot);
  return testing::stands_for_original(world_.userKeyMapping(name, service),
                                      rules_.trueOriginal(name, service));
}

uint64_t Simulation::traceHash() {
  sim::CallRecorder& recorder = world_.recorder();
  auto fold = [this](const std::string& text) {
    for (unsigned char c : text) hash_ = (hash_ ^ c) * 1099511628211ull;
  };
  for (const sim::Call& call : recorder.trace()) {
    fold(call.op);
    fold(call.detail);
    fold(call.failed ? "!" : ".");
  }
  // Folded in, the trace need not be kept: long runs stay small.
  recorder.clearTrace();
  fold(world_.typed().render());
  world_.typed().clear();
  return hash_;
}

}  // namespace padwarden::simulation
