// One process's view of a preferences store: the values it reads and the keys it changed since
// its last save. Shared by the in-memory and the on-disk stores, which differ only in where a
// save goes.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/plist.h"

namespace padwarden {

class PreferencesCache {
 public:
  explicit PreferencesCache(plist::Dictionary values = {}) : values_(std::move(values)) {}

  std::optional<plist::Value> lookup(std::string_view key) const {
    if (auto it = values_.find(key); it != values_.end()) return it->second;
    return std::nullopt;
  }
  // Stores a value (none removes the key) and remembers the key as changed.
  void change(std::string_view key, std::optional<plist::Value> value) {
    if (value) {
      values_.insert_or_assign(std::string(key), std::move(*value));
    } else if (auto it = values_.find(key); it != values_.end()) {
      values_.erase(it);
    }
    pending_.emplace(key);
  }
  // What the store saved, with this process's changes on top: the content of the next save.
  plist::Dictionary merged(plist::Dictionary saved) const {
    for (const std::string& key : pending_) {
      if (auto it = values_.find(key); it != values_.end()) {
        saved.insert_or_assign(key, it->second);
      } else if (auto old = saved.find(key); old != saved.end()) {
        saved.erase(old);
      }
    }
    return saved;
  }
  // After a save: the view is exactly what the store holds, with nothing pending.
  void saved(plist::Dictionary values) {
    values_ = std::move(values);
    pending_.clear();
  }
  void forgetPending() { pending_.clear(); }
  bool hasPending() const { return !pending_.empty(); }
  size_t pendingCount() const { return pending_.size(); }

 private:
  plist::Dictionary values_;
  std::set<std::string, std::less<>> pending_;
};

}  // namespace padwarden
