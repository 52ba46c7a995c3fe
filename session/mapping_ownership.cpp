// The session's mapping ownership and record standing: the one place where either changes, and
// the questions the mapping, lease and cleanup code ask of them.
#include "session/keyboard_session.h"

namespace padwarden {

void KeyboardSession::changeOwnership(MappingOwnership next) { _ownership = next; }

void KeyboardSession::changeLease(Lease next) { _lease = next; }

bool KeyboardSession::appMappingInstalled() const {
  return std::holds_alternative<ownership::Installed>(_ownership);
}

bool KeyboardSession::mappingConflict() const {
  return std::holds_alternative<ownership::Conflict>(_ownership);
}

bool KeyboardSession::conflictKeptRecord() const {
  if (const auto* conflict = std::get_if<ownership::Conflict>(&_ownership)) {
    return conflict->recordKept;
  }
  return std::holds_alternative<ownership::KeptRecord>(_ownership);
}

bool KeyboardSession::lookFailed() const {
  return std::visit([](const auto& state) { return state.lookFailed; }, _ownership);
}

void KeyboardSession::setLookFailed(bool failed) {
  MappingOwnership next = _ownership;
  std::visit([failed](auto& state) { state.lookFailed = failed; }, next);
  changeOwnership(next);
}

void KeyboardSession::moveOwnershipTo(MappingOwnership next) {
  const bool failed = lookFailed();
  std::visit([failed](auto& state) { state.lookFailed = failed; }, next);
  changeOwnership(std::move(next));
}

void KeyboardSession::markInstalled() { moveOwnershipTo(ownership::Installed{}); }

void KeyboardSession::markNotInstalled() {
  if (appMappingInstalled()) moveOwnershipTo(ownership::Unowned{});
}

void KeyboardSession::giveUpOwnership(bool keepRecord) {
  moveOwnershipTo(ownership::Conflict{keepRecord});
}

void KeyboardSession::endConflictByEnabling() {
  if (mappingConflict() || conflictKeptRecord()) moveOwnershipTo(ownership::Unowned{});
}

void KeyboardSession::endConflictByDisabling() {
  const auto* conflict = std::get_if<ownership::Conflict>(&_ownership);
  if (!conflict) return;
  // A record kept because nothing could be read stays watched: the program's mapping may
  // still be on, and the reconcile tick takes it off once a read tells.
  if (conflict->recordKept) {
    moveOwnershipTo(ownership::KeptRecord{});
  } else {
    moveOwnershipTo(ownership::Unowned{});
  }
}

void KeyboardSession::forgetKeptRecord() {
  if (const auto* conflict = std::get_if<ownership::Conflict>(&_ownership)) {
    if (conflict->recordKept) moveOwnershipTo(ownership::Conflict{false});
  } else if (std::holds_alternative<ownership::KeptRecord>(_ownership)) {
    moveOwnershipTo(ownership::Unowned{});
  }
}

void KeyboardSession::dropActiveLease() {
  if (_lease == Lease::Active) changeLease(Lease::None);
}

}  // namespace padwarden
