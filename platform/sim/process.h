// One run of the program on the simulated machine: its link to the world's call recorder, its
// main run loop, and its views of the HID services, object allocation, preferences and kernel
// clocks. Made by World::launch; kept (inert) after it dies, so that program objects that
// outlive it can still be destroyed safely.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/platform.h"
#include "platform/sim/call_recorder.h"
#include "platform/sim/in_memory_preferences.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_application.h"
#include "platform/sim/sim_core_foundation.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system_clock.h"
#include "platform/sim/virtual_run_loop.h"

namespace padwarden::sim {

class Process {
 public:
  // `arguments`: the process's argument list as the program reads it (first the executable).
  Process(uint64_t number, Machine& machine, CallRecorder& recorder, PreferencesDisk& disk,
          std::vector<std::string> arguments = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // What the program is built on.
  Platform platform();
  ApplicationPlatform applicationPlatform() { return application_.platform(); }

  // Stores other than the world's in-memory one (the desk's file on disk); whoever sets them
  // keeps them alive (see retain) and decides what a crash does to them (see atEnd).
  void usePreferences(UserDefaults& defaults, AppPreferences& preferences);
  // What the program's main holds for the run (its delegate, its stores). Released, newest
  // first, when the world launches the next process or goes, never from inside a callback.
  void retain(std::shared_ptr<void> object);
  void releaseProgram();
  // Run once when the process ends, with true for a normal exit: what the kernel closes.
  void atEnd(std::function<void(bool normalExit)> action);

  uint64_t number() const { return number_; }  // 1 for the first launch
  bool alive() const { return link_.alive; }
  ProcessLink& link() { return link_; }
  SimHID& hid() { return hid_; }
  SimCoreFoundation& cf() { return cf_; }
  InMemoryPreferences& preferences() { return preferences_; }
  SimSystemClock& clock() { return clock_; }
  SimApplication& application() { return application_; }
  VirtualRunLoop& runLoop() { return runLoop_; }

  // Ends the process at once: calls reach nothing, managers deliver nothing, and every timer
  // and work item (with what it holds) is dropped. Unsaved preferences are lost.
  void kill();
  // A normal exit: pending preferences are saved first.
  void exit();

 private:
  void died();

  uint64_t number_;
  bool exiting_ = false;
  ProcessLink link_;
  InMemoryPreferences preferences_;
  SimHID hid_;
  SimCoreFoundation cf_;
  SimSystemClock clock_;
  SimApplication application_;
  UserDefaults* defaults_ = nullptr;
  AppPreferences* appPreferences_ = nullptr;
  std::vector<std::function<void(bool)>> endActions_;
  std::vector<std::shared_ptr<void>> program_;
  // Last, so that it goes first: dropping queued work may run the program's destructors,
  // which still reach the (dead) services above.
  VirtualRunLoop runLoop_;
};

}  // namespace padwarden::sim
