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

std::optional<plist::Value> SafetyRules::original(const std::string& name) const {
  auto known = trueOriginal_.find(name);
  return known == trueOriginal_.end() ? std::nullopt : known->second;
}

bool SafetyRules::isProgramsOwn(const std::string& name,
                                const std::optional<plist::Value>& value) const {
  const std::optional<uint64_t> service = world_.serviceRegistryID(name);
  if (!service) return false;
  auto it = programWrote_.find(*service);
  return it != programWrote_.end() && it->second == value;
}

bool SafetyRules::holdsProgramsChange(const std::string& name) const {
  const std::optional<plist::Value> value = world_.userKeyMapping(name);
  return world_.isPlugged(name) && isProgramsOwn(name, value) &&
         !stands_for_original(value, original(name));
}

bool SafetyRules::handlingDisabled() const {
  sim::Process* process = world_.process();
  if (!process) return false;
  const std::optional<plist::Value> enabled = process->preferences().peek("Enabled");
  return enabled && enabled->asBoolean() == false;
}

void SafetyRules::observe(const sim::MappingWrite& write) {
  if (write.serviceIndex != 0) return;
  if (write.writer != sim::MappingWriter::Program) {
    programWrote_.erase(write.serviceRegistryID);
    return;
  }
  const std::string& name = write.keyboard;
  const std::optional<plist::Value> trueOriginal = original(name);
  const std::optional<plist::Value> record = storedLease(name);
  const bool recordNamesOriginal =
      record && record_problem(world_, name, *record, trueOriginal).empty();
  // What is replaced: the program's own mapping (a value equal to one of its mappings under a
  // sound record cannot be told from it), or the keyboard's own mapping.
  const bool replacesOwn = isProgramsOwn(name, write.before) ||
                           (is_program_mapping(write.before) && recordNamesOriginal);
  if (!replacesOwn && !stands_for_original(write.before, trueOriginal)) {
    violations_.push_back(name + ": overwrote " + text(write.before));
  }
  if (is_program_mapping(write.written)) {
    if (!recordNamesOriginal && !stands_for_original(write.written, trueOriginal)) {
      violations_.push_back(name + ": installed without a record of its original (" +
                            (record ? record_problem(world_, name, *record, trueOriginal)
                                    : std::string("no record")) + ")");
    }
  } else if (!stands_for_original(write.written, trueOriginal)) {
    violations_.push_back(name + ": wrote " + text(write.written) + ", not its original " +
                          text(trueOriginal));
  }
  if (handlingDisabled() && (!replacesOwn || !stands_for_original(write.written, trueOriginal))) {
    violations_.push_back(name + ": wrote " + text(write.written) + " over " +
                          text(write.before) + " while handling is disabled");
  }
  programWrote_[write.serviceRegistryID] = write.written;
}

void SafetyRules::saved(const plist::Dictionary& before) {
  for (const auto& [name, unused] : trueOriginal_) {
    const std::string key = record_key(world_, name);
    if (key.empty()) continue;
    const plist::Dictionary& now = world_.disk().values;
    auto was = before.find(key);
    auto is = now.find(key);
    // A record may go only once the keyboard no longer holds the program's change.
    if (was != before.end() && is == now.end() && holdsProgramsChange(name)) {
      violations_.push_back(name + ": record deleted while the program's mapping is on it");
    }
  }
}

void SafetyRules::stored(std::string_view key, const std::optional<plist::Value>& value) {
  // Disabled, the program records nothing but what it needs to take its own mapping off.
  if (!value || !handlingDisabled()) return;
  for (const auto& [name, unused] : trueOriginal_) {
    if (key == record_key(world_, name) && !holdsProgramsChange(name)) {
      violations_.push_back(name + ": asked to save a record while handling is disabled");
    }
  }
}

std::vector<std::string> SafetyRules::takeViolations() {
  std::vector<std::string> found = std::move(violations_);
  violations_.clear();
  for (const auto& [name, trueOriginal] : trueOriginal_) {
    if (!holdsProgramsChange(name)) continue;
    const std::optional<plist::Value> record = storedLease(name);
    if (!record) {
      found.push_back(name + " holds the program's mapping without a saved record");
    } else if (std::string problem = record_problem(world_, name, *record, trueOriginal);
               !problem.empty()) {
      found.push_back(name + ": " + problem + ": " + plist::describe(*record));
    }
  }
  return found;
}

}  // namespace padwarden::testing
