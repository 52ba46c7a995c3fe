// The preferences store as the application hands it to the controller: every call goes on to
// the platform's store, and the watch remembers whether the latest synchronize failed, so that
// the delegate can tell the user that settings cannot be saved, and where. Owned by the delegate.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/preferences.h"

namespace padwarden {

class PreferencesWatch final : public AppPreferences {
 public:
  explicit PreferencesWatch(AppPreferences& store) : store_(store) {}

  std::optional<plist::Value> CFPreferencesCopyAppValue(std::string_view key) override {
    return store_.CFPreferencesCopyAppValue(key);
  }
  void CFPreferencesSetAppValue(std::string_view key,
                                std::optional<plist::Value> value) override {
    store_.CFPreferencesSetAppValue(key, std::move(value));
  }
  bool CFPreferencesAppSynchronize() override {
    const bool saved = store_.CFPreferencesAppSynchronize();
    failing_ = !saved;
    return saved;
  }
  std::string location() const override { return store_.location(); }

  // The latest synchronize answered false.
  bool failing() const { return failing_; }

 private:
  AppPreferences& store_;
  bool failing_ = false;
};

}  // namespace padwarden
