#include "platform/sim/sim_system_clock.h"

#include <cstring>
#include <string>

namespace padwarden::sim {

uint64_t SimSystemClock::mach_absolute_time() {
  CallScope scope(link_, "mach_absolute_time", {}, false);
  if (scope.dead()) return 0;
  return machine_.clock.now();
}

int SimSystemClock::sysctl(const int* name, unsigned nameLength, void* oldValue,
                           size_t* oldLength) {
  const bool bootTime = name && nameLength == 2 && name[0] == CTL_KERN && name[1] == KERN_BOOTTIME;
  CallScope scope(link_, "sysctl", bootTime ? "kern.boottime" : "unknown name");
  if (scope.fails() || !bootTime || !oldLength) return -1;
  constexpr size_t kSize = sizeof(BootTimeValue);
  if (!oldValue) {
    *oldLength = kSize;
    return 0;
  }
  if (*oldLength < kSize) return -1;
  const BootTimeValue value = machine_.bootTime();
  std::memcpy(oldValue, &value, kSize);
  *oldLength = kSize;
  return 0;
}

}  // namespace padwarden::sim
