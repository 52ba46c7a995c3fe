// The main run loop in virtual time: a clock that moves only when a test (or a desk script)
// advances it, and the timers and work items due by then, run in time order. Owned by the
// simulated program process; the world's clock is shared across its restarts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/run_loop.h"
#include "platform/timer_queue.h"

namespace padwarden::sim {

using padwarden::kNanosecondsPerSecond;

// Nanoseconds since the machine booted, as the simulated machine sees them.
class VirtualClock {
 public:
  uint64_t now() const { return now_; }
  void set(uint64_t nanoseconds) { now_ = nanoseconds; }

 private:
  uint64_t now_ = 0;
};

class VirtualRunLoop final : public RunLoop {
 public:
  explicit VirtualRunLoop(VirtualClock& clock) : clock_(clock) {}
  ~VirtualRunLoop() override;
  VirtualRunLoop(const VirtualRunLoop&) = delete;
  VirtualRunLoop& operator=(const VirtualRunLoop&) = delete;

  TimerRef scheduledTimerWithTimeInterval(double seconds,
                                          std::function<void(Timer&)> fire) override;
  void dispatch_async(Work work) override;
  void dispatch_after(uint64_t delayNanoseconds, Work work) override;

  // Moves the clock forward, running everything that falls due on the way: in time order,
  // ties in the order queued, including what the callbacks themselves queue for no later
  // than the end. Returns the number of callbacks run.
  size_t advance(uint64_t nanoseconds);
  size_t advanceSeconds(double seconds);
  // Runs what is due now (and what that queues for now) without moving the clock.
  size_t runDue() { return advance(0); }

  // Timers that are valid plus work items not yet run.
  size_t pendingCount() const;
  // When the next callback is due, or none when nothing is pending.
  std::optional<uint64_t> nextDue() const;

  // The process has died: every timer and work item is dropped at once, releasing what
  // they hold, and nothing is queued or run from now on (advancing only moves the clock).
  void halt();
  bool halted() const { return halted_; }

 private:
  class VirtualTimer;
  struct Entry {
    Work work;                            // a work item, or
    std::shared_ptr<VirtualTimer> timer;  // a timer firing
    bool live() const;                    // will still run when due
  };

  void enqueue(uint64_t due, Entry entry);

  VirtualClock& clock_;
  TimerQueue<Entry> queue_;
  bool halted_ = false;
};

}  // namespace padwarden::sim
