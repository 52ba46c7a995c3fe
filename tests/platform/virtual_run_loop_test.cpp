// The virtual-time run loop: due work runs in time order, ties in queue order, and an
// invalidated timer lets go of what its callback captured at once.
#include "platform/sim/virtual_run_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace padwarden::sim {
namespace {

TEST(VirtualRunLoopTest, AdvanceRunsWhatIsDueInTimeOrderTiesInQueueOrder) {
  VirtualClock clock;
  VirtualRunLoop loop{clock};
  std::vector<std::string> ran;
  const auto record = [&](std::string name) {
    return [&, name] { ran.push_back(name + "@" + std::to_string(clock.now())); };
  };
  clock.set(100);
  loop.dispatch_after(30, record("c"));
  loop.dispatch_async(record("a1"));
  loop.dispatch_after(10, [&] {
    ran.push_back("b1@" + std::to_string(clock.now()));
    loop.dispatch_async(record("b3"));        // same instant, after the queued b2
    loop.dispatch_after(15, record("late"));  // still inside this advance
    loop.dispatch_after(25, record("next"));  // past its end
  });
  loop.dispatch_after(10, record("b2"));
  loop.dispatch_async(record("a2"));
  EXPECT_EQ(loop.advance(30), 7u);
  EXPECT_EQ(ran, (std::vector<std::string>{"a1@100", "a2@100", "b1@110", "b2@110", "b3@110",
                                           "late@125", "c@130"}));
  EXPECT_EQ(loop.nextDue(), 135u);
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
    EXPECT_EQ(loop.pendingCount(), 0u);
    EXPECT_EQ(loop.advanceSeconds(10), 0u);
  }
}

}  // namespace
}  // namespace padwarden::sim
