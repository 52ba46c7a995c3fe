// The virtual-time run loop: order of work and timers, timer schedules, and when what the
// callbacks capture is released.
#include "platform/sim/virtual_run_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace padwarden::sim {
namespace {

constexpr uint64_t kSecond = kNanosecondsPerSecond;

struct Fixture {
  VirtualClock clock;
  VirtualRunLoop loop{clock};
  std::vector<std::string> ran;
  RunLoop::Work record(std::string name) {
    return [this, name] { ran.push_back(name + "@" + std::to_string(clock.now())); };
  }
};

TEST(VirtualRunLoopTest, AdvanceRunsWhatIsDueInTimeOrderTiesInQueueOrder) {
  Fixture f;
  f.clock.set(100);
  f.loop.dispatch_after(30, f.record("c"));
  f.loop.dispatch_async(f.record("a1"));
  f.loop.dispatch_after(10, [&f] {
    f.ran.push_back("b1@" + std::to_string(f.clock.now()));
    f.loop.dispatch_async(f.record("b3"));        // same instant, after the queued b2
    f.loop.dispatch_after(15, f.record("late"));  // still inside this advance
    f.loop.dispatch_after(25, f.record("next"));  // past its end
  });
  f.loop.dispatch_after(10, f.record("b2"));
  f.loop.dispatch_async(f.record("a2"));

  EXPECT_EQ(f.loop.nextDue(), 100u);
  EXPECT_EQ(f.loop.advance(30), 7u);
  EXPECT_EQ(f.ran, (std::vector<std::string>{"a1@100", "a2@100", "b1@110", "b2@110", "b3@110",
                                             "late@125", "c@130"}));
  EXPECT_EQ(f.clock.now(), 130u);
  EXPECT_EQ(f.loop.pendingCount(), 1u);
  EXPECT_EQ(f.loop.nextDue(), 135u);
}

TEST(VirtualRunLoopTest, RepeatingTimerFiresOnItsSchedule) {
  struct Case {
    double interval;
    std::vector<uint64_t> advances;
    std::vector<uint64_t> firings;
  };
  const Case cases[] = {
      {1.0, {kSecond - 1, 1, kSecond, kSecond}, {kSecond, 2 * kSecond, 3 * kSecond}},
      {2.5, {10 * kSecond + 1}, {2'500'000'000, 5 * kSecond, 7'500'000'000, 10 * kSecond}},
      {0.0, {300'000}, {100'000, 200'000, 300'000}},  // raised to the minimum
      {-1.0, {150'000}, {100'000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.interval);
    VirtualClock clock;
    VirtualRunLoop loop(clock);
    std::vector<uint64_t> firings;
    auto timer = loop.scheduledTimerWithTimeInterval(
        c.interval, [&](Timer&) { firings.push_back(clock.now()); });
    for (uint64_t step : c.advances) loop.advance(step);
    EXPECT_EQ(firings, c.firings);
    EXPECT_EQ(loop.pendingCount(), 1u);
    EXPECT_TRUE(timer->isValid());
  }
}

TEST(VirtualRunLoopTest, InvalidateStopsTheTimerAndReleasesItsCaptureAtOnce) {
  for (const bool fromInside : {false, true}) {
    SCOPED_TRACE(fromInside);
    VirtualClock clock;
    VirtualRunLoop loop(clock);
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watched = token;
    auto timer = loop.scheduledTimerWithTimeInterval(1.0, [token, fromInside](Timer& t) {
      if (++*token == 2 && fromInside) t.invalidate();
    });
    token.reset();
    loop.advanceSeconds(1);
    if (!fromInside) timer->invalidate();
    EXPECT_EQ(watched.expired(), !fromInside);
    loop.advanceSeconds(1);
    EXPECT_TRUE(watched.expired());
    EXPECT_FALSE(timer->isValid());
    EXPECT_EQ(loop.pendingCount(), 0u);
    EXPECT_EQ(loop.nextDue(), std::nullopt);
    EXPECT_EQ(loop.advanceSeconds(10), 0u);
  }
}

TEST(VirtualRunLoopTest, TargetWhoseDestructorInvalidatesItsOwnTimerIsReleasedSafely) {
  // Like a controller held only by its timer: dropping it runs a destructor that invalidates
  // that same timer while the first invalidate is still under way.
  struct Target {
    TimerRef timer;
    ~Target() {
      if (timer) timer->invalidate();
    }
  };
  for (const bool byHalt : {false, true}) {
    SCOPED_TRACE(byHalt);
    VirtualClock clock;
    VirtualRunLoop loop(clock);
    auto target = std::make_shared<Target>();
    std::weak_ptr<Target> watch = target;
    TimerRef timer = loop.scheduledTimerWithTimeInterval(1.0, [target](Timer&) {});
    target->timer = timer;
    target.reset();
    if (byHalt) {
      loop.halt();
    } else {
      timer->invalidate();
    }
    EXPECT_TRUE(watch.expired());
    EXPECT_FALSE(timer->isValid());
  }
}

// A work item keeps what it captured until it has run; a halt drops it at once, and whatever
// comes after the halt is released without ever running.
TEST(VirtualRunLoopTest, WorkHoldsItsCapturesUntilRunOrHalt) {
  VirtualClock clock;
  VirtualRunLoop loop(clock);
  int ran = 0;
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watched = token;
  loop.dispatch_after(10, [token, &ran] { ++ran; });
  token.reset();
  loop.advance(9);
  EXPECT_FALSE(watched.expired());
  loop.advance(1);
  EXPECT_TRUE(watched.expired());

  for (const bool queuedBeforeHalt : {true, false}) {
    token = std::make_shared<int>(0);
    watched = token;
    loop.dispatch_after(5, [token, &ran] { ++ran; });
    auto timer = loop.scheduledTimerWithTimeInterval(1.0, [token, &ran](Timer&) { ++ran; });
    token.reset();
    if (queuedBeforeHalt) loop.halt();
    EXPECT_TRUE(watched.expired());
    EXPECT_FALSE(timer->isValid());
  }
  EXPECT_EQ(loop.pendingCount(), 0u);
  EXPECT_EQ(loop.nextDue(), std::nullopt);
  EXPECT_EQ(loop.advanceSeconds(5), 0u);
  EXPECT_EQ(clock.now(), 5 * kSecond + 10);
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace padwarden::sim
