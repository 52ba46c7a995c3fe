#include "platform/sim/registry.h"

#include <utility>

namespace padwarden::sim {

Registry::Registry() { reset(); }

RegistryEntryRef Registry::add(std::string className, const RegistryEntryRef& parent) {
  auto entry = std::make_shared<RegistryEntry>();
  entry->id = nextID_++;
  entry->className = std::move(className);
  entry->parent = parent;
  entries_.emplace(entry->id, entry);
  return entry;
}

void Registry::remove(const RegistryEntryRef& entry) {
  if (!entry || !entry->registered) return;
  // Children have higher IDs than their parents, so one ordered pass after the entry finds
  // every descendant once its own parent has been marked.
  std::vector<RegistryEntryRef> removed{entry};
  entry->registered = false;
  auto it = entries_.find(entry->id);
  if (it != entries_.end()) it = entries_.erase(it);
  while (it != entries_.end()) {
    const RegistryEntryRef& candidate = it->second;
    if (candidate->parent && !candidate->parent->registered) {
      candidate->registered = false;
      removed.push_back(candidate);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  // Detach only now: the pass above followed the parent links.
  for (const RegistryEntryRef& gone : removed) gone->parent.reset();
}

RegistryEntryRef Registry::find(uint64_t id) const {
  auto it = entries_.find(id);
  return it == entries_.end() ? nullptr : it->second;
}

std::vector<RegistryEntryRef> Registry::ancestors(const RegistryEntryRef& entry) {
  std::vector<RegistryEntryRef> chain;
  if (!entry || !entry->registered) return chain;
  for (RegistryEntryRef up = entry->parent; up; up = up->parent) chain.push_back(up);
  return chain;
}

void Registry::reset() {
  for (auto& [id, entry] : entries_) {
    entry->registered = false;
    entry->parent.reset();
  }
  entries_.clear();
  nextID_ = kFirstRegistryEntryID;
  root_ = add("IORegistryEntry", nullptr);
}

}  // namespace padwarden::sim
