// Timers and main-queue work on the real main run loop. Each test runs the loop until what it
// waits for has happened, for five seconds at most; nothing sleeps.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/macos/mac_run_loop.h"

namespace padwarden::macos {
namespace {

bool run_until(CFStringRef mode, const std::function<bool()>& done) {
  const CFAbsoluteTime deadline = CFAbsoluteTimeGetCurrent() + 5;
  while (!done() && CFAbsoluteTimeGetCurrent() < deadline) CFRunLoopRunInMode(mode, 0.05, true);
  return done();
}

TEST(MacRunLoop, MainQueueWorkRunsInTheOrderQueuedAndDelayedWorkAfter) {
  MacRunLoop loop;
  std::vector<std::string> order;
  loop.dispatch_after(20'000'000, [&] { order.push_back("after 20 ms"); });
  loop.dispatch_async([&] { order.push_back("first"); });
  loop.dispatch_async([&] {
    order.push_back("second");
    loop.dispatch_async([&] { order.push_back("queued by second"); });
  });
  loop.dispatch_async([&] { order.push_back("third"); });
  ASSERT_TRUE(run_until(kCFRunLoopDefaultMode, [&] { return order.size() == 5; }));
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "third", "queued by second",
                                             "after 20 ms"}));
}

TEST(MacRunLoop, WorkIsReleasedOnceItHasRun) {
  MacRunLoop loop;
  auto held = std::make_shared<int>(1);
  std::weak_ptr<int> watch = held;
  bool ran = false;
  loop.dispatch_async([held = std::move(held), &ran] { ran = true; });
  ASSERT_TRUE(run_until(kCFRunLoopDefaultMode, [&] { return ran; }));
  EXPECT_TRUE(watch.expired());
}

TEST(MacRunLoop, ATimerRepeatsUntilInvalidatedFromItsOwnCallback) {
  MacRunLoop loop;
  auto held = std::make_shared<int>(1);
  std::weak_ptr<int> watch = held;
  int firings = 0;
  TimerRef timer = loop.scheduledTimerWithTimeInterval(0.01, [&, held](Timer& self) {
    if (++firings == 3) self.invalidate();
  });
  timer.reset();  // the run loop keeps a valid timer
  ASSERT_TRUE(run_until(kCFRunLoopDefaultMode, [&] { return firings == 3; }));
  EXPECT_TRUE(watch.expired());  // invalidating released the callback at once
  EXPECT_EQ(loop.liveTimers(), 0u);
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false);
  EXPECT_EQ(firings, 3);
}

// While the status menu is open or an alert is modal, the run loop runs in a mode of its own
// that is one of the common modes: main-queue work goes on, timers (default mode) wait.
TEST(MacRunLoop, InAModalModeMainQueueWorkRunsAndTimersWait) {
  const CFStringRef modal = CFSTR("PadwardenTestModalMode");
  CFRunLoopAddCommonMode(CFRunLoopGetMain(), modal);
  MacRunLoop loop;
  int firings = 0;
  TimerRef timer = loop.scheduledTimerWithTimeInterval(0.01, [&](Timer&) { ++firings; });
  bool worked = false;
  loop.dispatch_after(30'000'000, [&] { worked = true; });
  ASSERT_TRUE(run_until(modal, [&] { return worked; }));
  EXPECT_EQ(firings, 0);
  ASSERT_TRUE(run_until(kCFRunLoopDefaultMode, [&] { return firings > 0; }));
  timer->invalidate();
  EXPECT_FALSE(timer->isValid());
}

}  // namespace
}  // namespace padwarden::macos
