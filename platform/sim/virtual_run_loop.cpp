#include "platform/sim/virtual_run_loop.h"

#include <utility>

namespace padwarden::sim {

class VirtualRunLoop::VirtualTimer final : public Timer {
 public:
  VirtualTimer(uint64_t interval, std::function<void(Timer&)> fire)
      : interval_(interval), fire_(std::move(fire)) {}

  void invalidate() override {
    // Release the callback (and the target it holds) at once, even while it runs: the
    // running call keeps its own copy alive until it returns.
    // Moved out first: dropping the callback may destroy its target, whose destructor may
    // invalidate this timer again.
    auto doomed = std::move(fire_);
    fire_ = nullptr;
  }
  bool isValid() const override { return fire_ != nullptr; }

  uint64_t interval() const { return interval_; }
  void fire() {
    auto callback = fire_;  // survives an invalidate from inside the callback
    if (callback) callback(*this);
  }

 private:
  uint64_t interval_;
  std::function<void(Timer&)> fire_;
};

VirtualRunLoop::~VirtualRunLoop() { halt(); }

TimerRef VirtualRunLoop::scheduledTimerWithTimeInterval(double seconds,
                                                        std::function<void(Timer&)> fire) {
  const uint64_t interval = timer_interval_nanoseconds(seconds);
  auto timer = std::make_shared<VirtualTimer>(interval, std::move(fire));
  enqueue(clock_.now() + interval, Entry{nullptr, timer});
  return timer;
}

void VirtualRunLoop::dispatch_async(Work work) { dispatch_after(0, std::move(work)); }

void VirtualRunLoop::dispatch_after(uint64_t delayNanoseconds, Work work) {
  enqueue(clock_.now() + delayNanoseconds, Entry{std::move(work), nullptr});
}

void VirtualRunLoop::enqueue(uint64_t due, Entry entry) {
  if (halted_) {
    // A timer made after the halt never fires; it must not keep its callback alive either.
    if (entry.timer) entry.timer->invalidate();
    return;
  }
  queue_.push(due, std::move(entry));
}

size_t VirtualRunLoop::advance(uint64_t nanoseconds) {
  const uint64_t end = clock_.now() + nanoseconds;
  size_t ran = 0;
  while (!halted_) {
    auto next = queue_.popDue(end);
    if (!next) break;
    auto& [due, entry] = *next;
    if (due > clock_.now()) clock_.set(due);
    if (entry.timer) {
      if (!entry.timer->isValid()) continue;
      // Re-arm before firing so that the next firing keeps its place in the order even
      // when the callback queues work for the same instant.
      enqueue(next_firing(due, entry.timer->interval(), clock_.now()), Entry{nullptr, entry.timer});
      entry.timer->fire();
      ++ran;
    } else if (entry.work) {
      entry.work();
      ++ran;
    }
    // The entry (and what its work captured) is released here, once it has run.
  }
  if (end > clock_.now()) clock_.set(end);
  return ran;
}

size_t VirtualRunLoop::advanceSeconds(double seconds) {
  return advance(seconds_to_nanoseconds(seconds));
}

bool VirtualRunLoop::Entry::live() const { return work || (timer && timer->isValid()); }

size_t VirtualRunLoop::pendingCount() const {
  return queue_.count([](const Entry& entry) { return entry.live(); });
}

std::optional<uint64_t> VirtualRunLoop::nextDue() const {
  return queue_.firstDue([](const Entry& entry) { return entry.live(); });
}

void VirtualRunLoop::halt() {
  // Destroying captured objects may run destructors that try to queue more work; that is
  // refused from here on.
  halted_ = true;
  TimerQueue<Entry> doomed = std::exchange(queue_, {});
  while (auto next = doomed.popDue(UINT64_MAX)) {
    if (next->second.timer) next->second.timer->invalidate();
  }
}

}  // namespace padwarden::sim
