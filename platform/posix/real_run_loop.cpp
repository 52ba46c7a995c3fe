#include "platform/posix/real_run_loop.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <fstream>
#include <string_view>
#include <utility>
#include <vector>

namespace padwarden {

class RealRunLoop::RealTimer final : public Timer {
 public:
  RealTimer(uint64_t interval, std::function<void(Timer&)> fire)
      : interval_(interval),
        fire_(std::make_shared<std::function<void(Timer&)>>(std::move(fire))) {}

  // Drops the loop's reference to the callback at once; a firing in progress holds its own
  // until it returns.
  void invalidate() override { fire_.reset(); }
  bool isValid() const override { return fire_ != nullptr; }

  uint64_t interval() const { return interval_; }
  void fire() {
    auto callback = fire_;
    if (callback && *callback) (*callback)(*this);
  }

 private:
  uint64_t interval_;
  std::shared_ptr<std::function<void(Timer&)>> fire_;
};

bool RealRunLoop::Entry::live() const { return work || (timer && timer->isValid()); }

namespace {

uint64_t monotonic_nanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * kNanosecondsPerSecond +
         static_cast<uint64_t>(now.tv_nsec);
}

// poll() counts whole milliseconds; rounding up keeps the loop from waking just before a
// deadline and spinning until it passes.
int poll_timeout_milliseconds(std::optional<uint64_t> nanoseconds) {
  if (!nanoseconds) return -1;
  const uint64_t milliseconds = (*nanoseconds + 999'999) / 1'000'000;
  return static_cast<int>(std::min<uint64_t>(milliseconds, INT_MAX));
}

}  // namespace

RealRunLoop::RealRunLoop(std::string procStatPath) : procStatPath_(std::move(procStatPath)) {}

RealRunLoop::~RealRunLoop() {
  closing_ = true;
  TimerQueue<Entry> doomed = std::exchange(queue_, {});
  while (auto next = doomed.popDue(UINT64_MAX)) {
    if (next->second.timer) next->second.timer->invalidate();
  }
  readSources_.clear();
}

TimerRef RealRunLoop::scheduledTimerWithTimeInterval(double seconds,
                                                     std::function<void(Timer&)> fire) {
  const uint64_t interval = timer_interval_nanoseconds(seconds);
  auto timer = std::make_shared<RealTimer>(interval, std::move(fire));
  enqueue(monotonic_nanoseconds() + interval, Entry{nullptr, timer});
  return timer;
}

void RealRunLoop::dispatch_async(Work work) { dispatch_after(0, std::move(work)); }

void RealRunLoop::dispatch_after(uint64_t delayNanoseconds, Work work) {
  enqueue(monotonic_nanoseconds() + delayNanoseconds, Entry{std::move(work), nullptr});
}

void RealRunLoop::enqueue(uint64_t due, Entry entry) {
  if (closing_) {
    if (entry.timer) entry.timer->invalidate();
    return;
  }
  queue_.push(due, std::move(entry));
}

void RealRunLoop::addReadSource(int fd, std::function<void()> ready) {
  if (closing_ || fd < 0 || !ready) return;
  readSources_[fd] = std::make_shared<std::function<void()>>(std::move(ready));
}

std::optional<uint64_t> RealRunLoop::nextDue() const {
  return queue_.firstDue([](const Entry& entry) { return entry.live(); });
}

void RealRunLoop::removeReadSource(int fd) { readSources_.erase(fd); }

void RealRunLoop::run() {
  stopped_ = false;
  while (!stopped_) {
    // With nothing queued and nothing to read, no callback could ever call stop().
    if (readSources_.empty() && !nextDue()) return;
    turn(std::nullopt);
  }
}

size_t RealRunLoop::runOnce(uint64_t timeoutNanoseconds) {
  stopped_ = false;
  return turn(timeoutNanoseconds);
}

size_t RealRunLoop::turn(std::optional<uint64_t> maxWait) {
  std::optional<uint64_t> wait = maxWait;
  if (const auto due = nextDue()) {
    const uint64_t now = monotonic_nanoseconds();
    const uint64_t untilDue = *due > now ? *due - now : 0;
    wait = wait ? std::min(*wait, untilDue) : untilDue;
  }
  size_t ran = pollReadSources(wait);
  if (!stopped_) ran += runDue(monotonic_nanoseconds());
  return ran;
}

size_t RealRunLoop::pollReadSources(std::optional<uint64_t> waitNanoseconds) {
  std::vector<pollfd> fds;
  fds.reserve(readSources_.size());
  for (const auto& [fd, ready] : readSources_) fds.push_back(pollfd{fd, POLLIN, 0});
  // An interrupted wait (EINTR) simply ends the wait; the turn goes on to what is due.
  if (poll(fds.data(), fds.size(), poll_timeout_milliseconds(waitNanoseconds)) <= 0) return 0;

  size_t ran = 0;
  for (const pollfd& polled : fds) {
    if (stopped_) break;
    if (polled.revents == 0) continue;
    // An earlier callback of this turn may have removed or replaced the source.
    auto source = readSources_.find(polled.fd);
    if (source == readSources_.end()) continue;
    if (polled.revents & POLLNVAL) {
      readSources_.erase(source);
      continue;
    }
    ReadyCallback ready = source->second;  // survives a removeReadSource from inside
    (*ready)();
    ++ran;
  }
  return ran;
}

size_t RealRunLoop::runDue(uint64_t limit) {
  // Only what was due by `limit`: work the callbacks queue for "now" waits for the next
  // turn, which does not wait, so read sources are never starved.
  size_t ran = 0;
  while (!stopped_) {
    auto next = queue_.popDue(limit);
    if (!next) break;
    auto& [due, entry] = *next;
    if (entry.timer) {
      if (!entry.timer->isValid()) continue;
      const uint64_t firedAt = monotonic_nanoseconds();
      enqueue(next_firing(due, entry.timer->interval(), firedAt), Entry{nullptr, entry.timer});
      entry.timer->fire();
      ++ran;
    } else if (entry.work) {
      entry.work();
      ++ran;
    }
    // The entry, and what its work captured, is released here.
  }
  return ran;
}

uint64_t RealRunLoop::mach_absolute_time() { return monotonic_nanoseconds(); }

int RealRunLoop::sysctl(const int* name, unsigned nameLength, void* oldValue, size_t* oldLength) {
  if (name == nullptr || nameLength != 2 || name[0] != CTL_KERN || name[1] != KERN_BOOTTIME) {
    return -1;
  }
  if (oldValue == nullptr || oldLength == nullptr || *oldLength < sizeof(BootTimeValue)) return -1;
  const auto seconds = bootTimeSeconds();
  if (!seconds) return -1;
  const BootTimeValue value{*seconds, 0, 0};
  std::memcpy(oldValue, &value, sizeof value);
  *oldLength = sizeof value;
  return 0;
}

std::optional<int64_t> RealRunLoop::bootTimeSeconds() {
  // The kernel derives btime from the wall clock, so a stepped clock can shift it by a
  // second; keeping the first answer holds it steady for everyone asking this loop.
  if (bootTime_) return bootTime_;
  std::ifstream stat(procStatPath_);
  std::string line;
  while (std::getline(stat, line)) {
    constexpr std::string_view kPrefix = "btime ";
    if (line.compare(0, kPrefix.size(), kPrefix) != 0) continue;
    const char* first = line.data() + kPrefix.size();
    const char* last = line.data() + line.size();
    int64_t seconds = 0;
    const auto [end, error] = std::from_chars(first, last, seconds);
    if (error != std::errc() || end == first || seconds <= 0) return std::nullopt;
    bootTime_ = seconds;
    return bootTime_;
  }
  return std::nullopt;
}

}  // namespace padwarden
