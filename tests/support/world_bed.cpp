#include "tests/support/world_bed.h"

#include "session/keyboard_matching.h"

namespace padwarden::testing {

void WorldBed::plug(sim::KeyboardSpec spec, std::optional<plist::Value> ownMapping) {
  const std::string name = spec.name;
  ASSERT_TRUE(world.plug(std::move(spec)));
  trueOriginal[name] = ownMapping;
  if (ownMapping) {
    ASSERT_TRUE(world.setUserKeyMapping(name, 0, *ownMapping));
  }
}

std::string WorldBed::registryID(const std::string& name) const {
  const std::optional<uint64_t> id = world.deviceRegistryID(name);
  return id ? registry_id_string(*id) : std::string();
}

std::optional<plist::Value> WorldBed::onDisk(const std::string& key) const {
  const plist::Dictionary& values = const_cast<sim::World&>(world).disk().values;
  auto it = values.find(key);
  return it == values.end() ? std::nullopt : std::optional<plist::Value>(it->second);
}

}  // namespace padwarden::testing
