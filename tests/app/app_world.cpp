#include "tests/app/app_world.h"

#include <stdexcept>

namespace padwarden::testing {

sim::Process& AppWorld::launch(const std::vector<std::string>& arguments) {
  sim::Process& process = world.launch(arguments);
  auto delegate = PadwardenAppDelegate::create(process.platform(), process.applicationPlatform());
  process.retain(delegate);  // main's reference: the only owning one
  process.application().setDelegate(delegate);
  delegate_ = delegate;
  process_ = &process;
  process.application().run();
  monitor.check();
  return process;
}

void AppWorld::start(const std::vector<std::string>& arguments) {
  launch(arguments);
  step();
}

void AppWorld::startReady(const std::vector<std::string>& arguments) {
  start(arguments);
  for (const auto& [name, original] : trueOriginal) wake(name);
}

sim::MenuChoice AppWorld::choose(std::string_view titlePrefix) {
  if (!running()) return sim::MenuChoice::NotFound;
  const sim::MenuChoice choice = application().choose(titlePrefix);
  step();
  return choice;
}

sim::SimApplication& AppWorld::application() {
  EXPECT_NE(process_, nullptr) << "nothing was launched";
  return process_->application();
}

const sim::SimStatusItem& AppWorld::statusItem() {
  const sim::SimStatusItem* item = running() ? application().statusItem() : nullptr;
  // Thrown, the test fails there; out-of-range lines fail the same way in line().
  if (!item || !item->menu()) throw std::logic_error("no status item with a menu in the menu bar");
  return *item;
}

const MenuItem& AppWorld::line(size_t index) { return *statusItem().menu()->items().at(index); }

size_t AppWorld::callsTo(std::string_view op) {
  size_t count = 0;
  for (const sim::Call& call : world.recorder().trace()) count += call.op == op;
  return count;
}

}  // namespace padwarden::testing
