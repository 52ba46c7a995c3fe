// The simulated machine's IORegistry: entries with 64-bit IDs, class names and an IOService
// parent, rooted at one root entry. Owned by the Machine; read through SimHID's registry calls.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace padwarden::sim {

// The first ID handed out in every boot (the root takes it), so that IDs repeat across boots.
inline constexpr uint64_t kFirstRegistryEntryID = 0x100000100;

struct RegistryEntry {
  uint64_t id = 0;
  std::string className;
  // None for the root and for an entry that has left the registry (terminated entries are
  // detached from the plane, so their ancestry is empty).
  std::shared_ptr<RegistryEntry> parent;
  bool registered = true;
};
using RegistryEntryRef = std::shared_ptr<RegistryEntry>;

class Registry {
 public:
  Registry();

  const RegistryEntryRef& root() const { return root_; }
  // A new registered entry below `parent` with the next ID.
  RegistryEntryRef add(std::string className, const RegistryEntryRef& parent);
  // Takes the entry and everything below it out of the registry. Handles to them stay valid
  // objects; matching by their IDs finds nothing.
  void remove(const RegistryEntryRef& entry);
  // The registered entry with this ID, or none.
  RegistryEntryRef find(uint64_t id) const;
  // Parent first, root last; empty for the root and for removed entries.
  static std::vector<RegistryEntryRef> ancestors(const RegistryEntryRef& entry);

  // A new boot: every entry leaves, the ID counter restarts, a fresh root is made.
  void reset();
  size_t size() const { return entries_.size(); }

 private:
  std::map<uint64_t, RegistryEntryRef> entries_;  // ordered by ID = registration order
  uint64_t nextID_ = kFirstRegistryEntryID;
  RegistryEntryRef root_;
};

}  // namespace padwarden::sim
