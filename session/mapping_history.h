// What a keyboard session knows of its event service's past, which decides whether a read that
// finds no "UserKeyMapping" is believed. Held by KeyboardSession for the service it attached
// (the mapping read and attachment change it) and forgotten with that service.
#pragma once

#include <cstdint>
#include <variant>

namespace padwarden {

// Reconcile ticks (5 s each) for which a service that held a mapping must go on answering that
// it has none before that is believed: 10 to 15 s of looks, which no passing failure spans.
inline constexpr uint64_t kAbsenceBelievedAfterTicks = 3;

namespace history {

// Not known to have held a mapping (just plugged in, or after a reboot): when it answers that it
// has none, it is believed.
struct NoneSeen {};

// It has held one: a value was read from it, the program wrote to it, or a record of this very
// service says an earlier run may have. A mapping can be replaced but never removed, so a read
// that finds none failed...
struct Held {};

// ...unless the service goes on answering so: the HID event system restarted and lost every
// mapping. Counted from the reconcile tick of its first such answer.
struct AnsweringNone {
  uint64_t sinceTick = 0;
};

}  // namespace history

using MappingHistory = std::variant<history::NoneSeen, history::Held, history::AnsweringNone>;

}  // namespace padwarden
