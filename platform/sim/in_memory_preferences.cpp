#include "platform/sim/in_memory_preferences.h"

#include <limits>
#include <string>
#include <utility>

namespace padwarden::sim {

namespace {

// What a failing read gives instead of the stored value: never equal to it.
plist::Value different_from(const plist::Value& value) {
  using plist::Kind;
  switch (value.kind()) {
    case Kind::Boolean: return plist::Value(!*value.asBoolean());
    case Kind::Integer: {
      const int64_t i = *value.asInt64();
      return plist::Value(i == std::numeric_limits<int64_t>::max() ? i - 1 : i + 1);
    }
    case Kind::Real: {
      const double d = *value.asDouble();
      const double other = d + 1.0;
      // Large, infinite or NaN values do not change by adding one.
      if (other == d || other != other) return plist::Value(0.5);
      return plist::Value(other);
    }
    case Kind::String: return plist::Value(*value.asString() + "~");
    case Kind::Data: {
      plist::Data data = *value.asData();
      data.push_back(0xA5);
      return plist::Value(std::move(data));
    }
    case Kind::Array: {
      plist::Array array = *value.asArray();
      array.emplace_back(false);
      return plist::Value(std::move(array));
    }
    case Kind::Dictionary: {
      plist::Dictionary dict = *value.asDictionary();
      constexpr std::string_view kKey = "InjectedFault";
      auto it = dict.find(kKey);
      if (it == dict.end()) {
        dict.emplace(std::string(kKey), plist::Value(true));
      } else {
        it->second = different_from(it->second);
      }
      return plist::Value(std::move(dict));
    }
    case Kind::Opaque: return plist::Value::opaque(value.asOpaque()->typeName);
  }
  return plist::Value(false);
}

std::optional<plist::Value> different_from(const std::optional<plist::Value>& value) {
  if (!value) return plist::Value("injected fault");
  return different_from(*value);
}

}  // namespace

InMemoryPreferences::InMemoryPreferences(PreferencesDisk& disk, ProcessLink& link)
    : disk_(disk), link_(link), cache_(disk.values) {}

std::optional<plist::Value> InMemoryPreferences::read(std::string_view op, std::string_view key) {
  CallScope scope(link_, op, std::string(key));
  if (scope.dead()) return std::nullopt;
  std::optional<plist::Value> value = cache_.lookup(key);
  if (scope.fails()) return different_from(value);
  return value;
}

void InMemoryPreferences::write(std::string_view op, std::string_view key,
                                std::optional<plist::Value> value, std::string detail) {
  CallScope scope(link_, op, std::move(detail));
  if (!scope.dead() && disk_.onWrite) disk_.onWrite(key, value);
  if (scope.fails()) return;  // a dropped write, or a dead process
  if (value && !plist::CFPropertyListIsValid(*value, plist::Format::Binary)) return;
  cache_.change(key, std::move(value));
}

std::optional<plist::Value> InMemoryPreferences::objectForKey(std::string_view key) {
  return read("objectForKey", key);
}

bool InMemoryPreferences::boolForKey(std::string_view key) {
  CallScope scope(link_, "boolForKey", std::string(key));
  if (scope.dead()) return false;
  const std::optional<plist::Value> value = cache_.lookup(key);
  const bool result = preference_value_as_bool(value);
  return scope.fails() ? !result : result;
}

void InMemoryPreferences::setBool(bool value, std::string_view forKey) {
  write("setBool", forKey, plist::Value(value),
        std::string(forKey) + (value ? " = true" : " = false"));
}

std::optional<plist::Value> InMemoryPreferences::CFPreferencesCopyAppValue(std::string_view key) {
  return read("CFPreferencesCopyAppValue", key);
}

void InMemoryPreferences::CFPreferencesSetAppValue(std::string_view key,
                                                   std::optional<plist::Value> value) {
  std::string detail(key);
  if (!value) detail += " (remove)";
  write("CFPreferencesSetAppValue", key, std::move(value), std::move(detail));
}

bool InMemoryPreferences::CFPreferencesAppSynchronize() {
  CallScope scope(link_, "CFPreferencesAppSynchronize",
                  std::to_string(cache_.pendingCount()) + " pending");
  if (scope.fails()) return false;  // a failure, or a dead process
  if (scope.lies()) {
    // Answers true, saves nothing, and no longer knows that anything was pending; the cache
    // still shows the change, so a read-back agrees until the process dies.
    cache_.forgetPending();
    return true;
  }
  save();
  return true;
}

void InMemoryPreferences::save() {
  // Afterwards the view is exactly what the disk holds, including what others saved.
  std::optional<plist::Dictionary> before;
  if (disk_.onSave) before = disk_.values;
  disk_.values = cache_.merged(std::move(disk_.values));
  cache_.saved(disk_.values);
  if (before) disk_.onSave(*before);
}

void InMemoryPreferences::saveOnExit() {
  if (!link_.alive) return;
  if (cache_.hasPending()) save();
}

}  // namespace padwarden::sim
