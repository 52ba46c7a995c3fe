// The main run loop: repeating timers and the main queue's immediate and delayed work items.
// Everything of the program runs inside these callbacks, one at a time. Called by the
// session, controller and application; implemented in virtual time (platform/sim) and real
// time (platform/posix, and platform/macos on the main CFRunLoop and dispatch queue).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace padwarden {

// A repeating main-run-loop timer. The run loop keeps the callback (and whatever it
// captures) until the timer is invalidated; invalidating it releases the callback at once.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void invalidate() = 0;
  virtual bool isValid() const = 0;
};
using TimerRef = std::shared_ptr<Timer>;

class RunLoop {
 public:
  using Work = std::function<void()>;
  virtual ~RunLoop() = default;

  // A timer on the main run loop, default mode: first firing one interval from now, then
  // every interval. The callback receives the timer.
  virtual TimerRef scheduledTimerWithTimeInterval(double seconds,
                                                  std::function<void(Timer&)> fire) = 0;
  // Main-queue work: on a later turn of the loop, in the order queued. The work item is
  // released once it has run.
  virtual void dispatch_async(Work work) = 0;
  virtual void dispatch_after(uint64_t delayNanoseconds, Work work) = 0;
};

}  // namespace padwarden
