// The main run loop on CoreFoundation and the main dispatch queue: repeating CFRunLoopTimers in
// the default mode, and main-queue work items. Created once by the macOS main; the native tests
// drive it with the real main run loop.
//
// Modes: timers (like HID callbacks) run in the default mode only, so they wait while the
// status menu is open or a modal alert runs; main-queue work runs in every common mode,
// inside those too.
#pragma once

#include <memory>
#include <set>

#include "platform/run_loop.h"

namespace padwarden::macos {

class MacTimer;

class MacRunLoop final : public RunLoop {
 public:
  MacRunLoop();
  ~MacRunLoop() override;
  TimerRef scheduledTimerWithTimeInterval(double seconds,
                                          std::function<void(Timer&)> fire) override;
  void dispatch_async(Work work) override;
  void dispatch_after(uint64_t delayNanoseconds, Work work) override;

  // Timers still valid (the run loop holds each until it is invalidated).
  size_t liveTimers() const { return live_->size(); }

 private:
  std::shared_ptr<std::set<std::shared_ptr<MacTimer>>> live_;
};

}  // namespace padwarden::macos
