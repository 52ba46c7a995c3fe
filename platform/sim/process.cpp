#include "platform/sim/process.h"

namespace padwarden::sim {

Process::Process(uint64_t number, Machine& machine, CallRecorder& recorder, PreferencesDisk& disk,
                 std::vector<std::string> arguments)
    : number_(number),
      link_(recorder),
      preferences_(disk, link_),
      hid_(machine, link_, runLoop_),
      cf_(link_),
      clock_(machine, link_),
      application_(machine.desktop, std::move(arguments), [this] { exit(); }),
      runLoop_(machine.clock) {
  // A call that reaches the crash point has already marked the link dead; the rest of the
  // process goes with it before control returns to the program.
  link_.onDeath = [this] { died(); };
}

Process::~Process() {
  kill();
  releaseProgram();
}

Platform Process::platform() {
  UserDefaults& defaults = defaults_ ? *defaults_ : preferences_;
  AppPreferences& appPreferences = appPreferences_ ? *appPreferences_ : preferences_;
  return Platform{hid_, cf_, defaults, appPreferences, runLoop_, clock_};
}

void Process::usePreferences(UserDefaults& defaults, AppPreferences& preferences) {
  defaults_ = &defaults;
  appPreferences_ = &preferences;
}

void Process::retain(std::shared_ptr<void> object) { program_.push_back(std::move(object)); }

void Process::releaseProgram() {
  while (!program_.empty()) {
    auto last = std::move(program_.back());
    program_.pop_back();
    last.reset();
  }
}

void Process::atEnd(std::function<void(bool normalExit)> action) {
  endActions_.push_back(std::move(action));
}

void Process::kill() {
  if (!link_.alive) return;
  link_.alive = false;
  died();
}

void Process::exit() {
  if (!link_.alive) return;
  exiting_ = true;
  preferences_.saveOnExit();
  kill();
}

void Process::died() {
  hid_.processDied();
  application_.processDied();
  runLoop_.halt();
  auto actions = std::move(endActions_);
  endActions_.clear();
  for (auto& action : actions) action(exiting_);
}

}  // namespace padwarden::sim
