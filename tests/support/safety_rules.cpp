#include "tests/support/safety_rules.h"

namespace padwarden::testing {

namespace {

std::string text(const std::optional<plist::Value>& value) {
  return value ? plist::describe(*value) : "nothing";
}

}  // namespace

SafetyRules::SafetyRules(sim::World& world, const TrueOriginals& trueOriginal)
    : world_(world), trueOriginal_(trueOriginal) {
  world_.observeMappingWrites([this](const sim::MappingWrite& write) { observe(write); });
  world_.disk().onSave = [this](const plist::Dictionary& before) { saved(before); };
  world_.disk().onWrite = [this](std::string_view key, const std::optional<plist::Value>& value) {
    stored(key, value);
  };
}

std::optional<plist::Value> SafetyRules::trueOriginal(const std::string& name,
                                                      size_t service) const {
  if (service == 0) {
    auto known = trueOriginal_.find(name);
    if (known != trueOriginal_.end()) return known->second;
  }
  const std::optional<uint64_t> serial = world_.serviceSerial(name, service);
  if (!serial) return std::nullopt;
  auto it = otherWrote_.find(*serial);
  return it == otherWrote_.end() ? std::nullopt : it->second;
}

bool SafetyRules::isProgramsOwn(uint64_t serial, const std::optional<plist::Value>& value) const {
  auto it = programWrote_.find(serial);
  return it != programWrote_.end() && identical(it->second, value);
}

bool SafetyRules::holdsProgramsChange(const std::string& name, size_t service) const {
  const std::optional<uint64_t> serial = world_.serviceSerial(name, service);
  const std::optional<plist::Value> value = world_.userKeyMapping(name, service);
  return serial && isProgramsOwn(*serial, value) &&
         !stands_for_original(value, trueOriginal(name, service));
}

bool SafetyRules::holdsProgramsChange(const std::string& name) const {
  for (size_t service = 0; service < world_.serviceCount(name); ++service) {
    if (holdsProgramsChange(name, service)) return true;
  }
  return false;
}

std::string SafetyRules::recordProblem(const std::string& name, size_t service) const {
  const std::optional<plist::Value> record = storedLease(name);
  if (!record) return "no record";
  return record_problem(world_, name, *record, trueOriginal(name, service), service);
}

bool SafetyRules::handlingDisabled() const {
  sim::Process* process = world_.process();
  if (!process) return false;
  const std::optional<plist::Value> enabled = process->preferences().peek("Enabled");
  return enabled && enabled->asBoolean() == false;
}

void SafetyRules::observe(const sim::MappingWrite& write) {
  if (write.writer != sim::MappingWriter::Program) {
    if (isProgramsOwn(write.serviceSerial, write.before) &&
        !stands_for_original(write.before, trueOriginal(write.keyboard, write.serviceIndex))) {
      replacedAtCall_[write.serviceSerial] = world_.recorder().callCount();
    }
    programWrote_.erase(write.serviceSerial);
    otherWrote_[write.serviceSerial] = write.written;
    return;
  }
  const std::string& name = write.keyboard;
  const std::string where =
      write.serviceIndex == 0 ? name : name + " service " + std::to_string(write.serviceIndex);
  const std::optional<plist::Value> original = trueOriginal(name, write.serviceIndex);
  const std::string problem = recordProblem(name, write.serviceIndex);
  // What is replaced: the program's own mapping (a value equal to one of its mappings under a
  // sound record cannot be told from it), or the service's own mapping.
  const bool replacesOwn = isProgramsOwn(write.serviceSerial, write.before) ||
                           (is_program_mapping(write.before) && problem.empty());
  if (!replacesOwn && !stands_for_original(write.before, original)) {
    violations_.push_back(where + ": overwrote " + text(write.before));
  }
  if (is_program_mapping(write.written)) {
    if (!problem.empty() && !stands_for_original(write.written, original)) {
      violations_.push_back(where + ": installed without a record of its original (" + problem +
                            ")");
    }
  } else if (!stands_for_original(write.written, original)) {
    violations_.push_back(where + ": wrote " + text(write.written) + ", not its original " +
                          text(original));
  }
  if (handlingDisabled() && (!replacesOwn || !stands_for_original(write.written, original))) {
    violations_.push_back(where + ": wrote " + text(write.written) + " over " +
                          text(write.before) + " while handling is disabled");
  }
  programWrote_[write.serviceSerial] = write.written;
}

void SafetyRules::saved(const plist::Dictionary& before) {
  for (const std::string& name : world_.pluggedNames()) {
    const std::string key = record_key(world_, name);
    const plist::Dictionary& now = world_.disk().values;
    // A record may go only once the keyboard no longer holds the program's change.
    if (before.contains(key) && !now.contains(key) && holdsProgramsChange(name)) {
      violations_.push_back(name + ": record deleted while the program's mapping is on it");
    }
  }
}

void SafetyRules::stored(std::string_view key, const std::optional<plist::Value>& value) {
  // Disabled, the program records nothing but what it needs to take its own mapping off.
  if (!value || !handlingDisabled()) return;
  for (const std::string& name : world_.pluggedNames()) {
    if (key == record_key(world_, name) && !holdsProgramsChange(name) && !replacedUnseen(name)) {
      violations_.push_back(name + ": asked to save a record while handling is disabled");
    }
  }
}

bool SafetyRules::replacedUnseen(const std::string& name) const {
  const std::vector<sim::Call>& trace = world_.recorder().trace();
  for (size_t service = 0; service < world_.serviceCount(name); ++service) {
    const std::optional<uint64_t> serial = world_.serviceSerial(name, service);
    auto replaced = serial ? replacedAtCall_.find(*serial) : replacedAtCall_.end();
    if (replaced == replacedAtCall_.end()) continue;
    const std::string look = name + " service " + std::to_string(service) + " UserKeyMapping";
    bool lookedSince = false;
    for (auto call = trace.rbegin(); call != trace.rend() && call->index > replaced->second;
         ++call) {
      lookedSince |= !call->failed && call->op == "IOHIDServiceClientCopyProperty" &&
                     call->detail == look;
    }
    if (!lookedSince) return true;
  }
  return false;
}

std::vector<std::string> SafetyRules::takeViolations() {
  std::vector<std::string> found = std::move(violations_);
  violations_.clear();
  for (const std::string& name : world_.pluggedNames()) {
    for (size_t service = 0; service < world_.serviceCount(name); ++service) {
      if (!holdsProgramsChange(name, service)) continue;
      const std::string problem = recordProblem(name, service);
      if (problem == "no record") {
        found.push_back(name + " holds the program's mapping without a saved record");
      } else if (!problem.empty()) {
        found.push_back(name + ": " + problem + ": " + plist::describe(*storedLease(name)));
      }
    }
  }
  return found;
}

}  // namespace padwarden::testing
