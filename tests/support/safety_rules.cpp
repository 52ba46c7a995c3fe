#include "tests/support/safety_rules.h"

#include "session/key_mapping.h"
#include "session/keyboard_matching.h"
#include "session/lease_record.h"

namespace padwarden::testing {

bool stands_for_original(const std::optional<plist::Value>& value,
                         const std::optional<plist::Value>& original) {
  // The empty mapping the program leaves behind stands for a keyboard that had none.
  const plist::Value empty = plist::Array{};
  // An ill-formed value (no mapping can use it) stands only for itself.
  return mapping_matches_normalized_original(value, original ? *original : empty) ||
         (!original && !value) || (value && original && *value == *original);
}

SafetyRules::SafetyRules(sim::World& world, const TrueOriginals& trueOriginal)
    : world_(world), trueOriginal_(trueOriginal) {
  world_.observeMappingWrites([this](const sim::MappingWrite& write) { observe(write); });
  world_.disk().onSave = [this](const plist::Dictionary& before) { saved(before); };
}

std::optional<plist::Value> SafetyRules::storedLease(const std::string& name) const {
  const std::optional<uint64_t> id = world_.deviceRegistryID(name);
  if (!id) return std::nullopt;
  const plist::Dictionary& values = world_.disk().values;
  auto it =
      values.find(std::string(preference_keys::kMappingLeasePrefix) + registry_id_string(*id));
  if (it == values.end()) return std::nullopt;
  return it->second;
}

void SafetyRules::observe(const sim::MappingWrite& write) {
  if (write.writer != sim::MappingWriter::Program) return;
  auto known = trueOriginal_.find(write.keyboard);
  const std::optional<plist::Value> original =
      known == trueOriginal_.end() ? std::nullopt : known->second;
  // The program only ever replaces its own mapping or the keyboard's own.
  if (!mapping_is_ours(write.before) && !stands_for_original(write.before, original)) {
    violations_.push_back(write.keyboard + ": overwrote " +
                          (write.before ? plist::describe(*write.before) : "nothing"));
  }
  // And it installs one of its mappings only under a saved lease naming the true original.
  if (mapping_is_ours(write.written)) {
    const std::optional<plist::Value> lease = storedLease(write.keyboard);
    const plist::Value* recorded = lease ? lease->find(kLeaseOriginalMappingKey) : nullptr;
    if (!recorded || !stands_for_original(*recorded, original)) {
      violations_.push_back(write.keyboard + ": installed without a lease for its original");
    }
  }
}

void SafetyRules::saved(const plist::Dictionary& before) {
  // A lease may go only once the keyboard no longer holds the program's mapping.
  for (const auto& [name, original] : trueOriginal_) {
    const std::optional<uint64_t> id = world_.deviceRegistryID(name);
    if (!id || !mapping_is_ours(world_.userKeyMapping(name))) continue;
    const std::string key =
        std::string(preference_keys::kMappingLeasePrefix) + registry_id_string(*id);
    if (before.contains(key) && !world_.disk().values.contains(key)) {
      violations_.push_back(name + ": lease deleted while the program's mapping is on it");
    }
  }
}

std::vector<std::string> SafetyRules::takeViolations() {
  std::vector<std::string> found = std::move(violations_);
  violations_.clear();
  for (const auto& [name, original] : trueOriginal_) {
    if (!world_.isPlugged(name) || !mapping_is_ours(world_.userKeyMapping(name))) continue;
    const std::optional<plist::Value> lease = storedLease(name);
    if (!lease) {
      found.push_back(name + " holds the program's mapping without a saved lease");
      continue;
    }
    const plist::Value* recorded = lease->find(kLeaseOriginalMappingKey);
    if (!lease_record_is_sound(*lease)) {
      found.push_back(name + ": unsound lease " + plist::describe(*lease));
    } else if (!recorded || !stands_for_original(*recorded, original)) {
      found.push_back(name + ": lease records " + plist::describe(*lease));
    }
  }
  return found;
}

}  // namespace padwarden::testing
