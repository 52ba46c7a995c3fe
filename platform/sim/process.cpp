#include "platform/sim/process.h"

namespace padwarden::sim {

Process::Process(uint64_t number, Machine& machine, CallRecorder& recorder, PreferencesDisk& disk)
    : number_(number),
      link_(recorder),
      preferences_(disk, link_),
      hid_(machine, link_, runLoop_),
      cf_(link_),
      clock_(machine, link_),
      runLoop_(machine.clock) {
  // A call that reaches the crash point has already marked the link dead; the rest of the
  // process goes with it before control returns to the program.
  link_.onDeath = [this] { died(); };
}

Process::~Process() { kill(); }

Platform Process::platform() {
  return Platform{hid_, cf_, preferences_, preferences_, runLoop_, clock_};
}

void Process::kill() {
  if (!link_.alive) return;
  link_.alive = false;
  died();
}

void Process::exit() {
  preferences_.saveOnExit();
  kill();
}

void Process::died() {
  hid_.processDied();
  runLoop_.halt();
}

}  // namespace padwarden::sim
