#include "tests/support/safety_monitor.h"

#include <gtest/gtest.h>

#include "session/key_mapping.h"
#include "session/keyboard_matching.h"
#include "session/lease_record.h"

namespace padwarden::testing {

namespace {

// The empty mapping the program leaves behind stands for a keyboard that had none.
bool stands_for(const std::optional<plist::Value>& value,
                const std::optional<plist::Value>& original) {
  const plist::Value empty = plist::Array{};
  return mapping_matches_normalized_original(value, original ? *original : empty) ||
         (!original && !value);
}

}  // namespace

SafetyMonitor::SafetyMonitor(sim::World& world,
                             const std::map<std::string, std::optional<plist::Value>>& trueOriginal)
    : world_(world), trueOriginal_(trueOriginal) {
  world_.observeMappingWrites([this](const sim::MappingWrite& write) { observe(write); });
}

std::optional<plist::Value> SafetyMonitor::storedLease(const std::string& name) const {
  const std::optional<uint64_t> id = world_.deviceRegistryID(name);
  if (!id) return std::nullopt;
  const plist::Dictionary& values = world_.disk().values;
  auto it =
      values.find(std::string(preference_keys::kMappingLeasePrefix) + registry_id_string(*id));
  if (it == values.end()) return std::nullopt;
  return it->second;
}

void SafetyMonitor::observe(const sim::MappingWrite& write) {
  if (write.writer != sim::MappingWriter::Program) return;
  auto known = trueOriginal_.find(write.keyboard);
  const std::optional<plist::Value> original =
      known == trueOriginal_.end() ? std::nullopt : known->second;
  // The program only ever replaces its own mapping or the keyboard's own.
  if (!mapping_is_ours(write.before) && !stands_for(write.before, original)) {
    violations_.push_back(write.keyboard + ": overwrote " +
                          (write.before ? plist::describe(*write.before) : "nothing"));
  }
  // And it installs one of its mappings only under a saved lease naming the true original.
  if (mapping_is_ours(write.written)) {
    const std::optional<plist::Value> lease = storedLease(write.keyboard);
    const plist::Value* recorded = lease ? lease->find(kLeaseOriginalMappingKey) : nullptr;
    if (!recorded || !stands_for(*recorded, original)) {
      violations_.push_back(write.keyboard + ": installed without a lease for its original");
    }
  }
}

void SafetyMonitor::check() {
  EXPECT_TRUE(violations_.empty()) << ::testing::PrintToString(violations_);
  violations_.clear();
  for (const auto& [name, original] : trueOriginal_) {
    if (!world_.isPlugged(name) || !mapping_is_ours(world_.userKeyMapping(name))) continue;
    const std::optional<plist::Value> lease = storedLease(name);
    ASSERT_TRUE(lease) << name << " holds the program's mapping without a saved lease";
    const plist::Value* recorded = lease->find(kLeaseOriginalMappingKey);
    EXPECT_TRUE(lease_record_is_sound(*lease)) << plist::describe(*lease);
    EXPECT_TRUE(recorded && stands_for(*recorded, original))
        << name << ": lease records " << plist::describe(*lease);
  }
}

}  // namespace padwarden::testing
