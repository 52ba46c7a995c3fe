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

void KeyboardSession::markInstalled() {
  changeOwnership(ownership::Installed{lookFailed()});
}

void KeyboardSession::markNotInstalled() {
  if (appMappingInstalled()) changeOwnership(ownership::Unowned{lookFailed()});
}

void KeyboardSession::giveUpOwnership(bool keepRecord) {
  changeOwnership(ownership::Conflict{keepRecord, lookFailed()});
}

void KeyboardSession::endConflictByEnabling() {
  if (mappingConflict() || conflictKeptRecord()) changeOwnership(ownership::Unowned{lookFailed()});
}

void KeyboardSession::endConflictByDisabling() {
  const auto* conflict = std::get_if<ownership::Conflict>(&_ownership);
  if (!conflict) return;
  // A record kept because nothing could be read stays watched: the program's mapping may
  // still be on, and the reconcile tick takes it off once a read tells.
  if (conflict->recordKept) {
    changeOwnership(ownership::KeptRecord{conflict->lookFailed});
  } else {
    changeOwnership(ownership::Unowned{conflict->lookFailed});
  }
}

void KeyboardSession::forgetKeptRecord() {
  if (const auto* conflict = std::get_if<ownership::Conflict>(&_ownership)) {
    if (conflict->recordKept) changeOwnership(ownership::Conflict{false, conflict->lookFailed});
  } else if (std::holds_alternative<ownership::KeptRecord>(_ownership)) {
    changeOwnership(ownership::Unowned{lookFailed()});
  }
}

void KeyboardSession::dropActiveLease() {
  if (_lease == Lease::Active) changeLease(Lease::None);
}

}  // namespace padwarden
