#include "tests/controller/controller_world.h"

#include "controller/preference_identity.h"

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

void ControllerWorld::launch() {
  world.launch();
  controller = KeyboardController::create(world.process()->platform(), [this] { ++statusCalls; });
}

void ControllerWorld::start() {
  if (!controller) launch();
  controller->start();
  step();
}

std::shared_ptr<KeyboardSession> ControllerWorld::session(const std::string& name) const {
  if (!controller) return nullptr;
  auto it = controller->sessions().find(registryID(name));
  return it == controller->sessions().end() ? nullptr : it->second;
}

}  // namespace padwarden::testing
