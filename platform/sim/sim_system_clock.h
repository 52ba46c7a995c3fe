// One program process's kernel clocks on the simulated machine: the monotonic timestamp is
// the world's virtual clock, the boot time the machine's current boot. Owned by a sim::Process.
#pragma once

#include "platform/sim/call_recorder.h"
#include "platform/sim/machine.h"
#include "platform/system_clock.h"

namespace padwarden::sim {

class SimSystemClock final : public SystemClock {
 public:
  SimSystemClock(Machine& machine, ProcessLink& link) : machine_(machine), link_(link) {}

  // Nanoseconds since boot (the simulated timebase is 1:1). Cannot fail.
  uint64_t mach_absolute_time() override;
  // Answers {CTL_KERN, KERN_BOOTTIME} only. A null buffer asks for the size.
  int sysctl(const int* name, unsigned nameLength, void* oldValue, size_t* oldLength) override;

 private:
  Machine& machine_;
  ProcessLink& link_;
};

}  // namespace padwarden::sim
