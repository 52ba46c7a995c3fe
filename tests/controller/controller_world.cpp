#include "tests/controller/controller_world.h"

#include "controller/preference_identity.h"
#include "session/keyboard_matching.h"

namespace padwarden::testing {

std::string serial_identity(const sim::KeyboardSpec& spec) {
  const auto number = [&](const char* key) {
    return std::to_string(*spec.properties.at(key).asInt64());
  };
  return base64_encode("serial:" + number("VendorID") + ":" + number("ProductID") + ":" +
                       *spec.properties.at("SerialNumber").asString());
}

ControllerWorld::~ControllerWorld() {
  // End the process first: its discovery timer holds the controller, and letting the timer's
  // release run the controller's destructor re-enters the simulated timer's invalidate.
  world.crash();
  controller.reset();
}

void ControllerWorld::plug(sim::KeyboardSpec spec, std::optional<plist::Value> ownMapping) {
  const std::string name = spec.name;
  ASSERT_TRUE(world.plug(std::move(spec)));
  trueOriginal[name] = ownMapping;
  if (ownMapping) {
    ASSERT_TRUE(world.setUserKeyMapping(name, 0, ownMapping));
  }
}

void ControllerWorld::launch() {
  world.launch();
  controller = KeyboardController::create(world.process()->platform(), [this] { ++statusCalls; });
}

void ControllerWorld::start() {
  if (!controller) launch();
  controller->start();
  step();
}

std::string ControllerWorld::registryID(const std::string& name) const {
  const std::optional<uint64_t> id = world.deviceRegistryID(name);
  return id ? registry_id_string(*id) : std::string();
}

std::shared_ptr<KeyboardSession> ControllerWorld::session(const std::string& name) const {
  if (!controller) return nullptr;
  auto it = controller->sessions().find(registryID(name));
  return it == controller->sessions().end() ? nullptr : it->second;
}

std::optional<plist::Value> ControllerWorld::onDisk(const std::string& key) const {
  const plist::Dictionary& values = const_cast<sim::World&>(world).disk().values;
  auto it = values.find(key);
  return it == values.end() ? std::nullopt : std::optional<plist::Value>(it->second);
}

}  // namespace padwarden::testing
