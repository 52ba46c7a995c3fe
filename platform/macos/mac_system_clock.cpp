#include "platform/macos/mac_system_clock.h"

#include <mach/mach_time.h>

#include <cerrno>

namespace padwarden::macos {

uint64_t MacSystemClock::mach_absolute_time() { return ::mach_absolute_time(); }

int MacSystemClock::sysctl(const int* name, unsigned nameLength, void* oldValue,
                           size_t* oldLength) {
  if (!name || nameLength != 2 || name[0] != CTL_KERN || name[1] != KERN_BOOTTIME) {
    errno = EINVAL;
    return -1;
  }
  int mib[2] = {CTL_KERN, KERN_BOOTTIME};
  return ::sysctl(mib, 2, oldValue, oldLength, nullptr, 0);
}

}  // namespace padwarden::macos
