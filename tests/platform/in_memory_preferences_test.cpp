// The simulated preferences store: what synchronize saves outlives the process, what it does
// not is lost in a crash, other processes' saves merge in, and every fault behaves as the
// header documents.
#include "platform/sim/in_memory_preferences.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/preferences.h"
#include "platform/sim/call_recorder.h"

namespace padwarden::sim {
namespace {

using plist::Array;
using plist::Data;
using plist::Dictionary;
using plist::Value;

const std::string kLeaseKey = "MappingLease.0000000100000abc";
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

Value lease(int64_t original) { return Dictionary{{"Version", 1}, {"Original", Array{original}}}; }

// One program process: its link to the world and its view of the store.
struct Process {
  explicit Process(CallRecorder& recorder, PreferencesDisk& disk)
      : link(recorder), prefs(std::make_unique<InMemoryPreferences>(disk, link)) {}
  // The process dies: its view, with whatever it had not saved, is gone.
  void crash() {
    link.alive = false;
    prefs.reset();
  }
  ProcessLink link;
  std::unique_ptr<InMemoryPreferences> prefs;
};

class InMemoryPreferencesTest : public testing::Test {
 protected:
  std::unique_ptr<Process> start() { return std::make_unique<Process>(recorder, disk); }

  CallRecorder recorder;
  PreferencesDisk disk;
};

TEST_F(InMemoryPreferencesTest, WritesOutliveTheProcessOnlyWhenSynchronizedOrAtACleanExit) {
  auto first = start();
  first->prefs->setBool(false, "Enabled");
  first->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(1));
  // It sees its own writes, through either interface.
  EXPECT_EQ(first->prefs->CFPreferencesCopyAppValue("Enabled"), Value(false));
  EXPECT_EQ(first->prefs->objectForKey(kLeaseKey), lease(1));
  EXPECT_TRUE(first->prefs->hasPendingChanges());
  EXPECT_TRUE(disk.values.empty());
  first->crash();

  auto second = start();
  EXPECT_EQ(second->prefs->objectForKey("Enabled"), std::nullopt);
  EXPECT_EQ(second->prefs->CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
  second->prefs->setBool(true, "Enabled");  // no synchronize of its own: the next one saves it
  second->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(2));
  EXPECT_TRUE(second->prefs->CFPreferencesAppSynchronize());
  EXPECT_FALSE(second->prefs->hasPendingChanges());
  second->crash();

  auto third = start();
  EXPECT_TRUE(third->prefs->boolForKey("Enabled"));
  EXPECT_EQ(third->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(2));
  // A clean exit saves what is pending; it is not a call of the program.
  third->prefs->setBool(false, "Enabled");
  const uint64_t calls = recorder.callCount();
  third->prefs->saveOnExit();
  EXPECT_EQ(recorder.callCount(), calls);
  EXPECT_EQ(disk.values.at("Enabled"), Value(false));
}

TEST_F(InMemoryPreferencesTest, ADeletionIsAPendingChange) {
  disk.values.emplace(kLeaseKey, lease(1));
  auto first = start();
  first->prefs->CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  EXPECT_EQ(first->prefs->CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
  EXPECT_TRUE(first->prefs->hasPendingChanges());
  first->crash();

  auto second = start();
  EXPECT_EQ(second->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(1)) << "not saved";
  second->prefs->CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  second->prefs->CFPreferencesSetAppValue("Absent", std::nullopt);  // harmless
  EXPECT_TRUE(second->prefs->CFPreferencesAppSynchronize());
  EXPECT_TRUE(disk.values.empty());
}

TEST_F(InMemoryPreferencesTest, ASynchronizeBringsInOthersSavesExceptOverOurPendingChanges) {
  disk.values = {{"Other", 0}, {"Stray", "x"}};
  auto ours = start();
  auto theirs = start();
  ours->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(1));
  ours->prefs->CFPreferencesSetAppValue("Other", std::nullopt);
  theirs->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(2));
  theirs->prefs->CFPreferencesSetAppValue("Other", 5);
  theirs->prefs->CFPreferencesSetAppValue("Stray", std::nullopt);
  theirs->prefs->setBool(true, "Enabled");
  EXPECT_TRUE(theirs->prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(ours->prefs->objectForKey("Enabled"), std::nullopt) << "not before a synchronize";

  EXPECT_TRUE(ours->prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(ours->prefs->objectForKey("Enabled"), Value(true)) << "theirs for other keys";
  EXPECT_EQ(ours->prefs->objectForKey("Stray"), std::nullopt) << "their deletion too";
  EXPECT_EQ(ours->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(1)) << "ours was pending";
  EXPECT_EQ(disk.values, (Dictionary{{kLeaseKey, lease(1)}, {"Enabled", true}}));

  // Once saved, our key is no longer ours alone: their next save comes in.
  theirs->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(3));
  EXPECT_TRUE(theirs->prefs->CFPreferencesAppSynchronize());
  EXPECT_TRUE(ours->prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(ours->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(3));
}

// --- Faults ----------------------------------------------------------------------------------

TEST_F(InMemoryPreferencesTest, AFailedSynchronizeSavesNothingAndBringsInNothing) {
  auto process = start();
  InMemoryPreferences& prefs = *process->prefs;
  prefs.CFPreferencesSetAppValue(kLeaseKey, lease(1));
  disk.values.emplace("Enabled", false);
  recorder.failOnce("CFPreferencesAppSynchronize");
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
  EXPECT_TRUE(recorder.trace().back().failed);
  EXPECT_EQ(disk.values, (Dictionary{{"Enabled", false}}));
  EXPECT_TRUE(prefs.hasPendingChanges());
  EXPECT_EQ(prefs.objectForKey("Enabled"), std::nullopt);

  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize()) << "the fault was once";
  EXPECT_EQ(disk.values.at(kLeaseKey), lease(1));
}

TEST_F(InMemoryPreferencesTest, ALyingSynchronizeLosesTheChangeInACrash) {
  auto process = start();
  InMemoryPreferences& prefs = *process->prefs;
  prefs.CFPreferencesSetAppValue(kLeaseKey, lease(1));
  FaultRule rule;
  rule.op = "CFPreferencesAppSynchronize";
  rule.lie = true;
  recorder.add(rule);
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize()) << "the lie";
  // The read-back the program does agrees: the lie cannot be seen from inside.
  EXPECT_EQ(prefs.CFPreferencesCopyAppValue(kLeaseKey), lease(1));
  EXPECT_FALSE(prefs.hasPendingChanges()) << "forgotten";
  EXPECT_FALSE(recorder.trace().back().failed) << "a lie is not a visible failure";

  // Not even a later synchronize or a clean exit saves it now.
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  prefs.saveOnExit();
  EXPECT_TRUE(disk.values.empty());
  process->crash();
  EXPECT_EQ(start()->prefs->CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
}

TEST_F(InMemoryPreferencesTest, DroppedWritesChangeNothing) {
  const Dictionary before = {{kLeaseKey, lease(1)}, {"Enabled", true}};
  disk.values = before;
  auto process = start();
  InMemoryPreferences& prefs = *process->prefs;
  recorder.failAlways("CFPreferencesSetAppValue");
  recorder.failAlways("setBool");
  prefs.CFPreferencesSetAppValue(kLeaseKey, lease(2));
  prefs.CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  prefs.setBool(false, "Enabled");
  recorder.clearFaults();
  EXPECT_EQ(prefs.CFPreferencesCopyAppValue(kLeaseKey), lease(1));
  EXPECT_TRUE(prefs.boolForKey("Enabled"));
  EXPECT_FALSE(prefs.hasPendingChanges());
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  EXPECT_EQ(disk.values, before);
}

TEST_F(InMemoryPreferencesTest, AFailedReadGivesSomethingElseThanWhatIsStored) {
  // Edge cases of the replacement: the largest integer, reals that adding one does not change,
  // and a dictionary that already holds the key the fault adds.
  const Value injected = Dictionary{{"InjectedFault", true}};
  const std::vector<std::optional<Value>> stored = {
      std::nullopt, true,         false,  0,      kMax,    1.5,      1e300,
      HUGE_VAL,     std::nan(""), "text", Data{}, Array{}, lease(1), injected};
  auto process = start();
  InMemoryPreferences& prefs = *process->prefs;
  for (const auto& value : stored) {
    SCOPED_TRACE(value ? describe(*value) : "absent");
    if (value) {
      disk.values.insert_or_assign("Key", *value);
    } else {
      disk.values.erase("Key");
    }
    ASSERT_TRUE(prefs.CFPreferencesAppSynchronize());
    for (const bool copy : {true, false}) {
      recorder.failOnce(copy ? "CFPreferencesCopyAppValue" : "objectForKey");
      const auto read = copy ? prefs.CFPreferencesCopyAppValue("Key") : prefs.objectForKey("Key");
      EXPECT_TRUE(read.has_value() != value.has_value() || (read && !(*read == *value))) << copy;
      EXPECT_TRUE(recorder.trace().back().failed);
    }
    recorder.failOnce("boolForKey");
    EXPECT_NE(prefs.boolForKey("Key"), preference_value_as_bool(value));
    // The fault was once: the next read is true to the store (NaN never equals itself).
    const auto again = prefs.CFPreferencesCopyAppValue("Key");
    EXPECT_EQ(again ? describe(*again) : "absent", value ? describe(*value) : "absent");
    EXPECT_EQ(prefs.boolForKey("Key"), preference_value_as_bool(value));
  }
}

TEST_F(InMemoryPreferencesTest, BoolForKeyReadsStoredValuesAsTheDefaultsDo) {
  // Strings: "YES" or "true" in any case, or a decimal integer that is not zero, trimmed.
  const std::vector<std::optional<Value>> truthy = {
      true,   1,      -1,  2,    0.5,  "YES",  "yes", "Yes",
      "true", "TRUE", "1", "-3", "+7", "0010", " 1 ", "99999999999999999999"};
  const std::vector<std::optional<Value>> falsy = {
      std::nullopt, false, 0,    0.0,    -0.0, "NO", "false", "0",      "00",    "",
      "1.5",        "0x1", "on", "yes!", "1a", "-",  Data{1}, Array{1}, lease(1)};
  auto process = start();
  for (const bool expected : {true, false}) {
    for (const auto& stored : expected ? truthy : falsy) {
      SCOPED_TRACE(stored ? describe(*stored) : "absent");
      EXPECT_EQ(preference_value_as_bool(stored), expected);
      process->prefs->CFPreferencesSetAppValue("Key", stored);
      EXPECT_EQ(process->prefs->boolForKey("Key"), expected);
    }
  }
}

// --- The process's life ----------------------------------------------------------------------

TEST_F(InMemoryPreferencesTest, ADeadProcessChangesNothingAndReadsNothing) {
  disk.values.emplace("Enabled", true);
  auto process = start();
  InMemoryPreferences& prefs = *process->prefs;
  prefs.CFPreferencesSetAppValue(kLeaseKey, lease(1));  // pending at the crash
  process->link.alive = false;
  const uint64_t calls = recorder.callCount();

  prefs.setBool(false, "Enabled");
  prefs.CFPreferencesSetAppValue("Other", 1);
  EXPECT_EQ(prefs.objectForKey("Enabled"), std::nullopt);
  EXPECT_FALSE(prefs.boolForKey("Enabled"));
  EXPECT_EQ(prefs.CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
  prefs.saveOnExit();
  EXPECT_EQ(recorder.callCount(), calls) << "calls of a dead process are not recorded";
  EXPECT_EQ(disk.values, (Dictionary{{"Enabled", true}}));
}

TEST_F(InMemoryPreferencesTest, ValuesThatCannotBeStoredAreDropped) {
  auto process = start();
  InMemoryPreferences& prefs = *process->prefs;
  prefs.CFPreferencesSetAppValue("Name", "\xff");
  EXPECT_FALSE(prefs.hasPendingChanges());
  prefs.CFPreferencesSetAppValue(kLeaseKey, lease(1));
  prefs.CFPreferencesSetAppValue(kLeaseKey, Array{Value::opaque("IOHIDDeviceRef")});
  EXPECT_EQ(prefs.CFPreferencesCopyAppValue(kLeaseKey), lease(1));
  EXPECT_EQ(prefs.CFPreferencesCopyAppValue("Name"), std::nullopt);
}

TEST_F(InMemoryPreferencesTest, EveryCallIsTracedWithItsKey) {
  auto process = start();
  InMemoryPreferences& prefs = *process->prefs;
  prefs.setBool(true, "Enabled");
  prefs.objectForKey("Enabled");
  prefs.boolForKey("Enabled");
  prefs.CFPreferencesSetAppValue(kLeaseKey, lease(1));
  prefs.CFPreferencesCopyAppValue(kLeaseKey);
  prefs.CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  recorder.failOnce("CFPreferencesAppSynchronize");
  prefs.CFPreferencesAppSynchronize();

  EXPECT_EQ(recorder.opsSince(0),
            (std::vector<std::string>{"setBool", "objectForKey", "boolForKey",
                                      "CFPreferencesSetAppValue", "CFPreferencesCopyAppValue",
                                      "CFPreferencesSetAppValue", "CFPreferencesAppSynchronize"}));
  const std::vector<Call>& trace = recorder.trace();
  ASSERT_EQ(trace.size(), 7u);
  for (size_t i = 0; i < trace.size(); ++i) {
    EXPECT_TRUE(i == 6 || trace[i].detail.find(i < 3 ? "Enabled" : kLeaseKey) != std::string::npos)
        << trace[i].detail;
    EXPECT_EQ(trace[i].failed, i == 6) << i;
  }
}

}  // namespace
}  // namespace padwarden::sim
