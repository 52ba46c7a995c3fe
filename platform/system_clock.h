// The kernel facts the program reads: the monotonic timestamp and the boot time. Called by
// the session (LED value stamps, the lease's boot-session identifier).
#pragma once

#include <cstddef>
#include <cstdint>

namespace padwarden {

inline constexpr int CTL_KERN = 1;
inline constexpr int KERN_BOOTTIME = 21;

// The kernel's time value as KERN_BOOTTIME returns it: exactly 16 bytes.
struct BootTimeValue {
  int64_t tv_sec;
  int32_t tv_usec;
  int32_t padding;
};
static_assert(sizeof(BootTimeValue) == 16);

class SystemClock {
 public:
  virtual ~SystemClock() = default;
  // Monotonic nanoseconds since boot; never goes back within one boot.
  virtual uint64_t mach_absolute_time() = 0;
  // The sysctl call: 0 on success with *oldLength set to the bytes written, -1 on failure.
  // Only {CTL_KERN, KERN_BOOTTIME} is answered.
  virtual int sysctl(const int* name, unsigned nameLength, void* oldValue, size_t* oldLength) = 0;
};

}  // namespace padwarden
