// What a keyboard session knows of its event service's past, which decides whether a read that
// finds no "UserKeyMapping" is believed. Held by KeyboardSession for the service it last
// attached (the mapping read, its writes and attachment change it), kept while it lets the
// keyboard go and takes the same service again, and forgotten for any other service.
#pragma once

#include <cstdint>
#include <variant>

namespace padwarden {

// Reconcile ticks (5 s each) in a row at each of which a service that held a mapping must have
// answered that it has none, with no value read between, before that is believed: looks over
// 10 to 15 s, which no passing failure spans.
inline constexpr uint64_t kAbsenceBelievedAfterTicks = 4;

namespace history {

// Not known to have held a mapping (just plugged in, or after a reboot, as far as this session
// has seen of this very service): when it answers that it has none, it is believed.
struct NoneSeen {};

// It has held one: a value was read from it, the program wrote to it, or a record of this very
// service says an earlier run may have. A mapping can be replaced but never removed, so a read
// that finds none failed...
struct Held {};

// ...unless the service goes on answering so: the HID event system restarted and lost every
// mapping. The reconcile ticks in a row at which it answered none, the last one's number.
struct AnsweringNone {
  uint64_t lastTick = 0;
  uint64_t ticksInARow = 1;
};

}  // namespace history

using MappingHistory = std::variant<history::NoneSeen, history::Held, history::AnsweringNone>;

}  // namespace padwarden
