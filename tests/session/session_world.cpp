#include "tests/session/session_world.h"

#include <cstdio>

#include "session/key_mapping.h"
#include "session/keyboard_matching.h"
#include "session/lease_record.h"

namespace padwarden::testing {

namespace {

int64_t page7(uint8_t usage) { return kKeyboardPageKey | usage; }

}  // namespace

plist::Value user_mapping(uint8_t from, uint8_t to) {
  return plist::Array{mapping_entry(page7(from), page7(to))};
}

SessionWorld::SessionWorld() {
  world.observeMappingWrites([this](const sim::MappingWrite& write) {
    if (write.writer == sim::MappingWriter::Program) programWrites.push_back(write);
  });
}

SessionWorld::~SessionWorld() { session.reset(); }

std::shared_ptr<KeyboardSession>& SessionWorld::startSession(const std::string& name) {
  if (!world.process()) world.launch();
  session = KeyboardSession::create(world.process()->platform(), registryID(name), "ID",
                                    [] {});
  session->start();
  step();
  return session;
}

void SessionWorld::otherPartySets(const std::string& name, plist::Value value) {
  trueOriginal[name] = value;
  ASSERT_TRUE(world.setUserKeyMapping(name, 0, std::move(value)));
}

void SessionWorld::startInNavigation(const std::string& name,
                                     std::optional<plist::Value> ownMapping) {
  plug(name, std::move(ownMapping));
  startSession(name);
  tap(name, kCapsLock);
  tap(name, kNumLock);
  ASSERT_EQ(mapping(name), navigation_mode_mapping());
}

plist::Value SessionWorld::leaseFor(const std::string& name, const plist::Value& original) const {
  return make_lease_record({boot_session_text(world.bootTime()), registryID(name),
                            registry_id_string(*world.serviceRegistryID(name))},
                           original);
}

size_t SessionWorld::callsTo(std::string_view op) const {
  size_t count = 0;
  for (const sim::Call& call : const_cast<sim::World&>(world).recorder().trace()) {
    if (call.op == op) ++count;
  }
  return count;
}

}  // namespace padwarden::testing
