// One run of the program on the simulated machine: its link to the world's call recorder, its
// main run loop, and its views of the HID services, object allocation, preferences and kernel
// clocks. Made by World::launch; kept (inert) after it dies, so that program objects that
// outlive it can still be destroyed safely.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/sim/call_recorder.h"
#include "platform/sim/in_memory_preferences.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_core_foundation.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system_clock.h"
#include "platform/sim/virtual_run_loop.h"

namespace padwarden::sim {

class Process {
 public:
  Process(uint64_t number, Machine& machine, CallRecorder& recorder, PreferencesDisk& disk);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // What the program is built on.
  Platform platform();

  uint64_t number() const { return number_; }  // 1 for the first launch
  bool alive() const { return link_.alive; }
  ProcessLink& link() { return link_; }
  SimHID& hid() { return hid_; }
  SimCoreFoundation& cf() { return cf_; }
  InMemoryPreferences& preferences() { return preferences_; }
  SimSystemClock& clock() { return clock_; }
  VirtualRunLoop& runLoop() { return runLoop_; }

  // Ends the process at once: calls reach nothing, managers deliver nothing, and every timer
  // and work item (with what it holds) is dropped. Unsaved preferences are lost.
  void kill();
  // A normal exit: pending preferences are saved first.
  void exit();

 private:
  void died();

  uint64_t number_;
  ProcessLink link_;
  InMemoryPreferences preferences_;
  SimHID hid_;
  SimCoreFoundation cf_;
  SimSystemClock clock_;
  // Last, so that it goes first: dropping queued work may run the program's destructors,
  // which still reach the (dead) services above.
  VirtualRunLoop runLoop_;
};

}  // namespace padwarden::sim
