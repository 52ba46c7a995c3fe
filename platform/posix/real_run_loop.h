// The main run loop and the kernel clock in real time, for the program on Linux: timers, main
// queue work and terminal read sources on one poll() loop. Owned by the desk's main.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/run_loop.h"
#include "platform/system_clock.h"
#include "platform/timer_queue.h"

namespace padwarden {

class RealRunLoop final : public RunLoop, public SystemClock {
 public:
  // `procStatPath` is where the boot time is read from; tests point it elsewhere.
  explicit RealRunLoop(std::string procStatPath = "/proc/stat");
  // Releases every timer, work item and read source; what their captures' destructors queue
  // on the way is dropped.
  ~RealRunLoop() override;
  RealRunLoop(const RealRunLoop&) = delete;
  RealRunLoop& operator=(const RealRunLoop&) = delete;

  TimerRef scheduledTimerWithTimeInterval(double seconds,
                                          std::function<void(Timer&)> fire) override;
  void dispatch_async(Work work) override;
  void dispatch_after(uint64_t delayNanoseconds, Work work) override;

  // `ready` runs on the loop whenever `fd` is readable or hung up, until removed. Adding an
  // fd again replaces its callback. The loop never closes the descriptor; one that turns out
  // to be closed (POLLNVAL) is removed.
  void addReadSource(int fd, std::function<void()> ready);
  void removeReadSource(int fd);

  // Turns the loop until a callback calls stop(); stop() takes effect once that callback
  // returns, leaving the rest for a later run. Also returns when nothing is queued and no
  // read source is left, since then nothing could ever call stop().
  void run();
  void stop() { stopped_ = true; }
  // One turn: waits up to `timeoutNanoseconds` (no longer than the first due item, not at all
  // if one is due), then runs the ready read sources and everything due. Returns the number
  // of callbacks run.
  size_t runOnce(uint64_t timeoutNanoseconds);

  // CLOCK_MONOTONIC in nanoseconds.
  uint64_t mach_absolute_time() override;
  // {CTL_KERN, KERN_BOOTTIME}: the "btime" line of /proc/stat, read once and kept so that it
  // stays the same for the life of the loop.
  int sysctl(const int* name, unsigned nameLength, void* oldValue, size_t* oldLength) override;

 private:
  class RealTimer;
  struct Entry {
    Work work;                         // a work item, or
    std::shared_ptr<RealTimer> timer;  // a timer firing
    bool live() const;
  };
  using ReadyCallback = std::shared_ptr<std::function<void()>>;

  void enqueue(uint64_t due, Entry entry);
  std::optional<uint64_t> nextDue() const;
  // Waits for a read source or the first due item, at most `maxWait` (none: no limit).
  size_t turn(std::optional<uint64_t> maxWait);
  size_t pollReadSources(std::optional<uint64_t> waitNanoseconds);
  size_t runDue(uint64_t limit);
  std::optional<int64_t> bootTimeSeconds();

  TimerQueue<Entry> queue_;
  std::map<int, ReadyCallback> readSources_;
  bool stopped_ = false;
  bool closing_ = false;
  std::string procStatPath_;
  std::optional<int64_t> bootTime_;
};

}  // namespace padwarden
