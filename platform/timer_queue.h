// The ordered queue and timer arithmetic behind both run loops (virtual and real time), so
// that the two agree on order, intervals and late firings.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

namespace padwarden {

inline constexpr uint64_t kNanosecondsPerSecond = 1'000'000'000;
// A zero interval would fire forever within one instant; the platform raises it to this.
inline constexpr uint64_t kMinimumTimerIntervalNanoseconds = 100'000;

// Negative and NaN durations count as zero.
inline uint64_t seconds_to_nanoseconds(double seconds) {
  if (!(seconds > 0)) return 0;
  return static_cast<uint64_t>(std::llround(seconds * static_cast<double>(kNanosecondsPerSecond)));
}

inline uint64_t timer_interval_nanoseconds(double seconds) {
  return std::max(seconds_to_nanoseconds(seconds), kMinimumTimerIntervalNanoseconds);
}

// When a timer that was due at `due` and fired at `now` fires next: one interval later, or,
// if the loop was late by an interval or more, the first point on its schedule after now (the
// missed firings collapse into the one just made).
inline uint64_t next_firing(uint64_t due, uint64_t interval, uint64_t now) {
  if (now < due) return due + interval;
  return due + interval * ((now - due) / interval + 1);
}

// Entries by due time, ties in the order pushed.
template <typename Entry>
class TimerQueue {
 public:
  void push(uint64_t due, Entry entry) {
    entries_.emplace(Key{due, sequence_++}, std::move(entry));
  }
  bool empty() const { return entries_.empty(); }

  // Takes out the earliest entry if it is due no later than `limit`.
  std::optional<std::pair<uint64_t, Entry>> popDue(uint64_t limit) {
    auto first = entries_.begin();
    if (first == entries_.end() || first->first.first > limit) return std::nullopt;
    std::pair<uint64_t, Entry> out{first->first.first, std::move(first->second)};
    entries_.erase(first);
    return out;
  }

  // Entries that will still run (`live(entry)`): how many, and when the first is due.
  template <typename Live>
  size_t count(Live live) const {
    return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(),
                                             [&](const auto& item) { return live(item.second); }));
  }
  template <typename Live>
  std::optional<uint64_t> firstDue(Live live) const {
    for (const auto& [key, entry] : entries_) {
      if (live(entry)) return key.first;
    }
    return std::nullopt;
  }

 private:
  using Key = std::pair<uint64_t, uint64_t>;  // due time, order pushed
  std::map<Key, Entry> entries_;
  uint64_t sequence_ = 0;
};

}  // namespace padwarden
