// The kernel facts the program reads: the monotonic timestamp and the boot time. Called by
// the session (LED value stamps, the lease's boot-session identifier).
#pragma once

#include <cstddef>
#include <cstdint>

// The sysctl names: the SDK's macros on Apple, the same values elsewhere.
#if defined(__APPLE__)
#include <sys/sysctl.h>
#include <sys/time.h>
static_assert(CTL_KERN == 1 && KERN_BOOTTIME == 21);
#else
namespace padwarden {
inline constexpr int CTL_KERN = 1;
inline constexpr int KERN_BOOTTIME = 21;
}  // namespace padwarden
#endif

namespace padwarden {

// The kernel's time value as KERN_BOOTTIME returns it: exactly 16 bytes.
struct BootTimeValue {
  int64_t tv_sec;
  int32_t tv_usec;
  int32_t padding;
};
static_assert(sizeof(BootTimeValue) == 16);
#if defined(__APPLE__)
static_assert(sizeof(struct timeval) == sizeof(BootTimeValue));
#endif

class SystemClock {
 public:
  virtual ~SystemClock() = default;
  // The monotonic clock in ticks of the platform's timebase, never going back within one
  // boot. A tick is a nanosecond on the simulated and POSIX backends but not on Apple
  // silicon (there 125/3 ns), so the value is only ever passed on as a timestamp, never
  // read as a duration.
  virtual uint64_t mach_absolute_time() = 0;
  // The sysctl call: 0 on success with *oldLength set to the bytes written, -1 on failure.
  // Only {CTL_KERN, KERN_BOOTTIME} is answered.
  virtual int sysctl(const int* name, unsigned nameLength, void* oldValue, size_t* oldLength) = 0;
};

}  // namespace padwarden
