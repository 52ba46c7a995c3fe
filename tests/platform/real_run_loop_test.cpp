// The real-time run loop and kernel clock: order, stop, timers, pipe read sources and the boot
// time contract. Delays only drive the loop; nothing asserts on how long anything took.
#include "platform/posix/real_run_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace padwarden {
namespace {

constexpr uint64_t kMillisecond = 1'000'000;

// stop() takes effect once the calling callback returns, leaving the rest for a later turn.
TEST(RealRunLoopTest, RunsWorkAndTimersInTimeOrderUntilStopped) {
  RealRunLoop loop;
  std::vector<std::string> ran;
  auto note = [&ran](std::string name) { return [&ran, name] { ran.push_back(name); }; };
  loop.dispatch_async([&] {
    ran.push_back("a");
    loop.dispatch_async(note("queued by a"));
  });
  loop.dispatch_after(0, note("b"));
  loop.dispatch_async([&] {
    ran.push_back("c");
    loop.scheduledTimerWithTimeInterval(0, [&](Timer& timer) {
      ran.push_back("timer");
      timer.invalidate();
      loop.dispatch_after(0, [&] {
        ran.push_back("stop");
        loop.stop();
      });
      loop.dispatch_after(0, note("left"));
    });
  });
  loop.run();
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c", "queued by a", "timer", "stop"}));
  EXPECT_EQ(loop.runOnce(0), 1u);
  EXPECT_EQ(ran.back(), "left");
  EXPECT_EQ(loop.runOnce(0), 0u);
  loop.run();  // nothing left that could stop it: returns at once
}

TEST(RealRunLoopTest, InvalidatedTimerStopsAndReleasesItsCapture) {
  for (const bool fromInside : {false, true}) {
    SCOPED_TRACE(fromInside);
    RealRunLoop loop;
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watched = token;
    int fired = 0;
    TimerRef timer = loop.scheduledTimerWithTimeInterval(0.001, [&, token](Timer& t) {
      if (++fired != 3) return;
      if (fromInside) t.invalidate();
      // Due after the timer's next firing, so a live timer fires again before the stop.
      loop.dispatch_after(2 * kMillisecond, [&loop] { loop.stop(); });
    });
    token.reset();
    loop.run();
    if (fromInside) {
      EXPECT_EQ(fired, 3);
    } else {
      timer->invalidate();
    }
    EXPECT_TRUE(watched.expired());
    EXPECT_FALSE(timer->isValid());

    const int before = fired;
    loop.dispatch_after(3 * kMillisecond, [&loop] { loop.stop(); });
    loop.run();
    EXPECT_EQ(fired, before);
  }
}

TEST(RealRunLoopTest, ReadSourceRunsWhenPipeIsReadableOrHungUp) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  RealRunLoop loop;
  std::vector<std::string> reads;
  loop.addReadSource(fds[0], [&] {
    char buffer[16];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    reads.emplace_back(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    if (n <= 0) loop.removeReadSource(fds[0]);
    loop.stop();
  });
  EXPECT_EQ(loop.runOnce(0), 0u);
  loop.dispatch_after(kMillisecond, [&] { ASSERT_EQ(write(fds[1], "hi", 2), 2); });
  loop.run();
  EXPECT_EQ(reads, std::vector<std::string>{"hi"});
  close(fds[1]);
  loop.run();
  EXPECT_EQ(reads, (std::vector<std::string>{"hi", ""}));
  loop.run();  // the source removed itself at end of file: nothing left to wait for

  // A descriptor closed under a source can never be read again; the source goes.
  int calls = 0;
  loop.addReadSource(fds[0], [&] { ++calls; });
  close(fds[0]);
  EXPECT_EQ(loop.runOnce(0), 0u);
  loop.run();
  EXPECT_EQ(calls, 0);
}

TEST(RealRunLoopTest, DestroyingTheLoopReleasesWhatIsPending) {
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watched = token;
  TimerRef timer;
  {
    RealRunLoop loop;
    // Its release tries to queue more on a dying loop, which must be refused safely.
    auto requeue = std::shared_ptr<int>(new int(0), [&loop](int* p) {
      loop.dispatch_async([] {});
      delete p;
    });
    timer = loop.scheduledTimerWithTimeInterval(1.0, [token, requeue](Timer&) {});
    loop.dispatch_after(kMillisecond, [token] {});
    loop.addReadSource(0, [token] {});
    token.reset();
    EXPECT_FALSE(watched.expired());
  }
  EXPECT_TRUE(watched.expired());
  EXPECT_FALSE(timer->isValid());
}

// Shared with the virtual loop: missed firings collapse into one, and an interval below the
// minimum (zero, negative, NaN) is raised to it.
TEST(RealRunLoopTest, TimerArithmetic) {
  const uint64_t nexts[][3] = {
      {100, 100, 110}, {100, 109, 110}, {100, 110, 120}, {100, 135, 140}, {100, 90, 110}};
  for (const auto& [due, now, next] : nexts) EXPECT_EQ(next_firing(due, 10, now), next) << now;
  const std::pair<double, uint64_t> intervals[] = {
      {2.5, 2'500'000'000}, {1e-3, 1'000'000}, {0.0, 100'000}, {-1.0, 100'000}, {NAN, 100'000}};
  for (const auto& [seconds, nanoseconds] : intervals) {
    EXPECT_EQ(timer_interval_nanoseconds(seconds), nanoseconds) << seconds;
  }
}

// The boot time comes from the "btime" line, is answered only in full and only for its name,
// and is read once, so that it stays the same for the life of the loop.
TEST(RealRunLoopTest, BootTimeComesFromTheBtimeLineAndIsKept) {
  const std::string path = testing::TempDir() + "/real_run_loop_stat." + std::to_string(getpid());
  auto loopReading = [&path](const char* stat) {
    std::ofstream(path) << stat;
    return std::make_unique<RealRunLoop>(path);
  };
  // The seconds read, or the answer when it fails.
  const auto boot = [](RealRunLoop& loop, size_t length = 16,
                       std::vector<int> name = {CTL_KERN, KERN_BOOTTIME}) -> int64_t {
    BootTimeValue value{-1, -1, -1};
    const int result =
        loop.sysctl(name.data(), static_cast<unsigned>(name.size()), &value, &length);
    if (result != 0) return result;
    EXPECT_EQ(length, sizeof value);
    EXPECT_EQ(value.tv_usec, 0);
    EXPECT_EQ(value.padding, 0);
    return value.tv_sec;
  };
  for (const char* bad : {"cpu 1 2 3\n", "btime\n", "btime x\n", "boottime 5\n"}) {
    EXPECT_EQ(boot(*loopReading(bad)), -1) << bad;
  }
  auto loop = loopReading("cpu 1 2 3\nbtime 1234567\nprocesses 9\n");
  EXPECT_EQ(boot(*loop, 64), 1234567);
  loopReading("btime 7654321\n");
  EXPECT_EQ(boot(*loop), 1234567);
  EXPECT_EQ(boot(*loop, 15), -1);
  for (const auto& name :
       {std::vector<int>{CTL_KERN, 99}, {CTL_KERN}, {CTL_KERN, KERN_BOOTTIME, 0}}) {
    EXPECT_EQ(boot(*loop, 16, name), -1) << name.size();
  }
  std::remove(path.c_str());
  RealRunLoop missing(path);
  EXPECT_EQ(boot(missing), -1);
  RealRunLoop real;
  EXPECT_GT(boot(real), 0);
  const uint64_t before = real.mach_absolute_time();
  EXPECT_GE(real.mach_absolute_time(), before);
}

}  // namespace
}  // namespace padwarden
