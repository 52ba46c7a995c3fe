#include "tests/controller/controller_world.h"

#include "controller/preference_identity.h"
#include "session/key_mapping.h"
#include "session/keyboard_matching.h"
#include "session/lease_record.h"

namespace padwarden::testing {

std::string serial_identity(const sim::KeyboardSpec& spec) {
  const auto number = [&](const char* key) {
    return std::to_string(*spec.properties.at(key).asInt64());
  };
  return base64_encode("serial:" + number("VendorID") + ":" + number("ProductID") + ":" +
                       *spec.properties.at("SerialNumber").asString());
}

ControllerWorld::ControllerWorld() = default;

ControllerWorld::~ControllerWorld() {
  // End the process first: its discovery timer holds the controller, and letting the timer's
  // release run the controller's destructor re-enters the simulated timer's invalidate.
  world.crash();
  controller.reset();
}

void ControllerWorld::plug(const std::string& name, std::optional<plist::Value> ownMapping) {
  plug(sim::usb_keyboard(name), std::move(ownMapping));
}

void ControllerWorld::plug(sim::KeyboardSpec spec, std::optional<plist::Value> ownMapping) {
  const std::string name = spec.name;
  ASSERT_TRUE(world.plug(std::move(spec)));
  trueOriginal[name] = ownMapping;
  if (ownMapping) {
    ASSERT_TRUE(world.setUserKeyMapping(name, 0, ownMapping));
  }
}

void ControllerWorld::unplug(const std::string& name) {
  ASSERT_TRUE(world.unplug(name));
  step();
}

void ControllerWorld::replug(const std::string& name) {
  ASSERT_TRUE(world.plug(name));
  if (trueOriginal[name]) {
    ASSERT_TRUE(world.setUserKeyMapping(name, 0, trueOriginal[name]));
  }
  step();
}

void ControllerWorld::launch() {
  world.launch();
  controller = VevozoVudararire::create(world.process()->platform(), [this] { ++statusCalls; });
}

void ControllerWorld::start() {
  if (!controller) launch();
  controller->start();
  step();
}

void ControllerWorld::step() {
  world.runDue();
  checkSafety();
}

void ControllerWorld::advance(double seconds) {
  world.advance(seconds);
  checkSafety();
}

void ControllerWorld::press(const std::string& name, uint8_t usage) {
  world.press(name, usage);
  step();
}

void ControllerWorld::release(const std::string& name, uint8_t usage) {
  world.release(name, usage);
  step();
}

void ControllerWorld::tap(const std::string& name, uint8_t usage) {
  press(name, usage);
  release(name, usage);
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
  if (it == values.end()) return std::nullopt;
  return it->second;
}

std::optional<plist::Value> ControllerWorld::storedLease(const std::string& name) const {
  return onDisk("MappingLease." + registryID(name));
}

void ControllerWorld::checkSafety() { monitor.check(); }

}  // namespace padwarden::testing
