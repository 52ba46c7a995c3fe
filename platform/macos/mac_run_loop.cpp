#include "platform/macos/mac_run_loop.h"

#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>

#include "platform/macos/cf_ref.h"
#include "platform/timer_queue.h"

namespace padwarden::macos {

using LiveTimers = std::set<std::shared_ptr<MacTimer>>;

class MacTimer final : public Timer, public std::enable_shared_from_this<MacTimer> {
 public:
  MacTimer(std::weak_ptr<LiveTimers> live, std::function<void(Timer&)> fire)
      : live_(std::move(live)),
        fire_(std::make_shared<std::function<void(Timer&)>>(std::move(fire))) {}
  ~MacTimer() override {
    if (timer_) CFRunLoopTimerInvalidate(timer_.get());
  }

  void schedule(double intervalSeconds) {
    CFRunLoopTimerContext context{0, this, nullptr, nullptr, nullptr};
    timer_ = CFRef<CFRunLoopTimerRef>::adopt(
        CFRunLoopTimerCreate(kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + intervalSeconds,
                             intervalSeconds, 0, 0, &MacTimer::callout, &context));
    if (timer_) CFRunLoopAddTimer(CFRunLoopGetMain(), timer_.get(), kCFRunLoopDefaultMode);
  }

  void invalidate() override {
    if (timer_) CFRunLoopTimerInvalidate(timer_.get());  // no firing reaches `this` again
    fire_.reset();
    if (auto live = live_.lock()) live->erase(shared_from_this());
  }
  bool isValid() const override { return fire_ != nullptr; }

 private:
  static void callout(CFRunLoopTimerRef, void* info) {
    auto* timer = static_cast<MacTimer*>(info);
    // Both stay until the callback returns, even if it invalidates the timer.
    const std::shared_ptr<MacTimer> keep = timer->shared_from_this();
    const auto callback = timer->fire_;
    if (callback && *callback) (*callback)(*timer);
  }

  std::weak_ptr<LiveTimers> live_;
  std::shared_ptr<std::function<void(Timer&)>> fire_;
  CFRef<CFRunLoopTimerRef> timer_;
};

namespace {

void run_work(void* context) {
  auto* work = static_cast<RunLoop::Work*>(context);
  if (*work) (*work)();
  delete work;  // released once it has run
}

}  // namespace

MacRunLoop::MacRunLoop() : live_(std::make_shared<LiveTimers>()) {}

MacRunLoop::~MacRunLoop() {
  // Whatever is still valid stops firing with the run loop object.
  const LiveTimers timers = *live_;
  for (const std::shared_ptr<MacTimer>& timer : timers) timer->invalidate();
}

TimerRef MacRunLoop::scheduledTimerWithTimeInterval(double seconds,
                                                    std::function<void(Timer&)> fire) {
  auto timer = std::make_shared<MacTimer>(live_, std::move(fire));
  timer->schedule(static_cast<double>(timer_interval_nanoseconds(seconds)) /
                  static_cast<double>(kNanosecondsPerSecond));
  live_->insert(timer);
  return timer;
}

void MacRunLoop::dispatch_async(Work work) {
  ::dispatch_async_f(dispatch_get_main_queue(), new Work(std::move(work)), run_work);
}

void MacRunLoop::dispatch_after(uint64_t delayNanoseconds, Work work) {
  const dispatch_time_t when =
      dispatch_time(DISPATCH_TIME_NOW, static_cast<int64_t>(delayNanoseconds));
  ::dispatch_after_f(when, dispatch_get_main_queue(), new Work(std::move(work)), run_work);
}

}  // namespace padwarden::macos
