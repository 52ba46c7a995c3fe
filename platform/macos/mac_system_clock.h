// The kernel facts on Apple: mach_absolute_time (timebase ticks) and sysctl's KERN_BOOTTIME.
// Created once by the macOS main.
#pragma once

#include "platform/system_clock.h"

namespace padwarden::macos {

class MacSystemClock final : public SystemClock {
 public:
  uint64_t mach_absolute_time() override;
  // Only {CTL_KERN, KERN_BOOTTIME} is passed on to the kernel; any other name fails (EINVAL).
  int sysctl(const int* name, unsigned nameLength, void* oldValue, size_t* oldLength) override;
};

}  // namespace padwarden::macos
