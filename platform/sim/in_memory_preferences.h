// The preferences store in memory, for the simulated world: what synchronize saved lives in
// a PreferencesDisk that outlives the program's process; each process sees it through an
// InMemoryPreferences view that loses its unsaved writes when the process dies. Created by
// the world for each program process; tests reach the disk to play another process.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/plist.h"
#include "platform/preferences.h"
#include "platform/preferences_cache.h"
#include "platform/sim/call_recorder.h"

namespace padwarden::sim {

// What the store holds durably. Tests may read and change it directly, as another process
// (or the user with a command-line tool) would.
struct PreferencesDisk {
  plist::Dictionary values;
  // Called after each save by a program process, with what the disk held before it.
  std::function<void(const plist::Dictionary& before)> onSave;
  // Called when a live program process asks to store a value (none: to remove the key), as it
  // asks, whether or not the store then keeps it.
  std::function<void(std::string_view key, const std::optional<plist::Value>& value)> onWrite;
};

// One process's view: reads come from its cache; writes stay in the cache (and are pending)
// until a synchronize saves them; a synchronize also brings in what others saved for keys
// this process has not changed since. Both interfaces reach the same cache.
//
// Faults (through the process's CallRecorder, by operation name):
//   "CFPreferencesAppSynchronize" fails: answers false, saves nothing, pending stays pending;
//     with FaultRule::lie it answers true, saves nothing and forgets that anything was
//     pending, so the change is lost when the process dies.
//   "CFPreferencesSetAppValue" / "setBool" fail: the write is silently dropped.
//   "CFPreferencesCopyAppValue" / "objectForKey" / "boolForKey" fail: the read gives a value
//     different from the stored one (none becomes a value, a value becomes another).
// Every call is traced (the key is the detail). Once the process has died a call changes
// nothing and reads nothing (none, false; synchronize answers false).
//
// A value that cannot be stored in the binary property-list format (CFPropertyListIsValid
// false: an opaque object inside, or a string that is not UTF-8) is dropped like a failed
// write: the old value stays and nothing becomes pending, as in the on-disk store.
class InMemoryPreferences final : public UserDefaults, public AppPreferences {
 public:
  InMemoryPreferences(PreferencesDisk& disk, ProcessLink& link);

  std::optional<plist::Value> objectForKey(std::string_view key) override;
  bool boolForKey(std::string_view key) override;
  void setBool(bool value, std::string_view forKey) override;

  std::optional<plist::Value> CFPreferencesCopyAppValue(std::string_view key) override;
  void CFPreferencesSetAppValue(std::string_view key, std::optional<plist::Value> value) override;
  bool CFPreferencesAppSynchronize() override;
  // Where the Mac keeps the application's preferences, in the simulated home folder.
  std::string location() const override {
    return "/Users/user/Library/Preferences/app.padwarden.Padwarden.plist";
  }

  // A normal exit saves what is pending (the platform flushes preferences at termination).
  // Not a call of the program: not recorded, cannot fail. Does nothing once the process has
  // died: a crash loses what is pending.
  void saveOnExit();
  bool hasPendingChanges() const { return cache_.hasPending(); }
  // What this process's view holds for the key, read without a call of the program (for the
  // tests' oracles): nothing is traced and no fault applies.
  std::optional<plist::Value> peek(std::string_view key) const { return cache_.lookup(key); }

 private:
  PreferencesDisk& disk_;
  ProcessLink& link_;
  std::optional<plist::Value> read(std::string_view op, std::string_view key);
  void write(std::string_view op, std::string_view key, std::optional<plist::Value> value,
             std::string detail);
  void save();

  PreferencesCache cache_;
};

}  // namespace padwarden::sim
