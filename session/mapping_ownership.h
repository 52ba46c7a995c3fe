// What a keyboard session owns of its keyboard's mapping: whose value the event service holds
// as far as the session knows, and where its crash-recovery record stands in the store. Held by
// KeyboardSession, which changes either only through changeOwnership and changeLease; the
// states and their transitions are drawn in docs/architecture.md.
#pragma once

#include <variant>

namespace padwarden {

namespace ownership {

// Every state remembers whether the last look at the mapping failed (nothing came back while
// the program's mapping may have been on): a second failure gives ownership up, keeping the
// record.

// Nothing of the program's is on the keyboard, as far as it knows.
struct Unowned {
  bool lookFailed = false;
};

// One of the program's two mappings is on the keyboard, or was last seen there: installed by
// this session, or left by an earlier run and adopted under its record.
struct Installed {
  bool lookFailed = false;
};

// Somebody else's value met the program's, or two looks in a row told nothing: ownership is
// given up and the mapping left alone until handling is switched off or on. The record is kept
// when the program's mapping might still be on (the looks told nothing), else deleted.
struct Conflict {
  bool recordKept = false;
  bool lookFailed = false;
};

// Handling was switched off during a conflict that kept the record: the conflict is over, but
// the program's mapping may still be on, so the record stays until a look tells.
struct KeptRecord {
  bool lookFailed = false;
};

}  // namespace ownership

using MappingOwnership = std::variant<ownership::Unowned, ownership::Installed,
                                      ownership::Conflict, ownership::KeptRecord>;

// The session's crash-recovery record in the store.
enum class Lease {
  // None of the session's, as far as it knows (or one it does not vouch for).
  None,
  // Saved and read back, naming the present original, device and event service.
  Active,
  // Its deletion failed and is retried; nothing of the program's is written meanwhile.
  DeletionPending,
};

}  // namespace padwarden
