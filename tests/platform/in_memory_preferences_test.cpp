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

Value lease(int64_t original) { return Dictionary{{"Version", 1}, {"Original", Array{original}}}; }

// One program process: its link to the world and its view of the store.
struct Process {
  Process(CallRecorder& recorder, PreferencesDisk& disk)
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

TEST_F(InMemoryPreferencesTest, ChangesOutliveTheProcessOnlyWhenSynchronizedOrAtACleanExit) {
  disk.values.emplace("Old", 1);
  auto first = start();
  first->prefs->setBool(false, "Enabled");
  first->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(1));
  first->prefs->CFPreferencesSetAppValue("Old", std::nullopt);
  // It sees its own writes, through either interface.
  EXPECT_EQ(first->prefs->CFPreferencesCopyAppValue("Enabled"), Value(false));
  EXPECT_EQ(first->prefs->objectForKey(kLeaseKey), lease(1));
  EXPECT_EQ(first->prefs->objectForKey("Old"), std::nullopt);
  EXPECT_TRUE(first->prefs->hasPendingChanges());
  first->crash();
  EXPECT_EQ(disk.values, (Dictionary{{"Old", 1}}));

  auto second = start();
  EXPECT_EQ(second->prefs->objectForKey("Enabled"), std::nullopt);
  second->prefs->setBool(true, "Enabled");  // no synchronize of its own: the next one saves it
  second->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(2));
  second->prefs->CFPreferencesSetAppValue("Old", std::nullopt);
  second->prefs->CFPreferencesSetAppValue("Absent", std::nullopt);  // harmless
  EXPECT_TRUE(second->prefs->CFPreferencesAppSynchronize());
  EXPECT_FALSE(second->prefs->hasPendingChanges());
  second->crash();
  EXPECT_EQ(disk.values, (Dictionary{{"Enabled", true}, {kLeaseKey, lease(2)}}));

  // A clean exit saves what is pending; it is not a call of the program.
  auto third = start();
  EXPECT_TRUE(third->prefs->boolForKey("Enabled"));
  third->prefs->setBool(false, "Enabled");
  const uint64_t calls = recorder.callCount();
  third->prefs->saveOnExit();
  EXPECT_EQ(recorder.callCount(), calls);
  EXPECT_EQ(disk.values.at("Enabled"), Value(false));
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
  EXPECT_EQ(ours->prefs->objectForKey("Enabled"), Value(true)) << "their other keys come in";
  EXPECT_EQ(ours->prefs->objectForKey("Stray"), std::nullopt) << "so do their deletions";
  EXPECT_EQ(disk.values, (Dictionary{{kLeaseKey, lease(1)}, {"Enabled", true}}));

  // Once saved, our key is no longer ours alone: their next save comes in.
  theirs->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(3));
  EXPECT_TRUE(theirs->prefs->CFPreferencesAppSynchronize());
  EXPECT_TRUE(ours->prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(ours->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(3));
}

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
}

TEST_F(InMemoryPreferencesTest, DroppedWritesAndUnstorableValuesChangeNothing) {
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
  // Values the binary format cannot hold are dropped like a failed write.
  prefs.CFPreferencesSetAppValue("Name", "\xff");
  prefs.CFPreferencesSetAppValue(kLeaseKey, Array{Value::opaque("IOHIDDeviceRef")});
  EXPECT_EQ(prefs.CFPreferencesCopyAppValue(kLeaseKey), lease(1));
  EXPECT_EQ(prefs.CFPreferencesCopyAppValue("Name"), std::nullopt);
  EXPECT_TRUE(prefs.boolForKey("Enabled"));
  EXPECT_FALSE(prefs.hasPendingChanges());
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  EXPECT_EQ(disk.values, before);
}

TEST_F(InMemoryPreferencesTest, AFailedReadGivesSomethingElseThanWhatIsStored) {
  // Edge cases of the replacement: the largest integer, reals that adding one does not change,
  // and a dictionary that already holds the key the fault adds.
  const std::vector<std::optional<Value>> stored = {std::nullopt,
                                                    true,
                                                    false,
                                                    0,
                                                    std::numeric_limits<int64_t>::max(),
                                                    1.5,
                                                    1e300,
                                                    std::nan(""),
                                                    "text",
                                                    Data{},
                                                    Array{},
                                                    lease(1),
                                                    Dictionary{{"InjectedFault", true}}};
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
    }
    recorder.failOnce("boolForKey");
    EXPECT_NE(prefs.boolForKey("Key"), preference_value_as_bool(value));
    // The fault was once: the next read is true to the store (NaN never equals itself).
    const auto again = prefs.CFPreferencesCopyAppValue("Key");
    EXPECT_EQ(again ? describe(*again) : "absent", value ? describe(*value) : "absent");
  }
}

TEST_F(InMemoryPreferencesTest, BoolForKeyReadsStoredValuesAsTheDefaultsDo) {
  // Strings: "YES" or "true" in any case, or a decimal integer that is not zero, trimmed.
  const std::vector<std::optional<Value>> truthy = {
      true, -1, 0.5, "YES", "yes", "TRUE", "-3", "+7", "0010", " 1 ", "99999999999999999999"};
  const std::vector<std::optional<Value>> falsy = {
      std::nullopt, false, 0, -0.0, "NO", "0", "00", "", "1.5", "0x1", "yes!", "-", Data{1}};
  auto process = start();
  for (const bool expected : {true, false}) {
    for (const auto& stored : expected ? truthy : falsy) {
      SCOPED_TRACE(stored ? describe(*stored) : "absent");
      process->prefs->CFPreferencesSetAppValue("Key", stored);
      EXPECT_EQ(process->prefs->boolForKey("Key"), expected);
    }
  }
}

TEST_F(InMemoryPreferencesTest, ADeadProcessChangesNothingAndReadsNothing) {
  disk.values.emplace("Enabled", true);
  auto process = start();
  InMemoryPreferences& prefs = *process->prefs;
  prefs.CFPreferencesSetAppValue(kLeaseKey, lease(1));  // pending at the crash
  process->link.alive = false;
  const uint64_t calls = recorder.callCount();
  prefs.setBool(false, "Enabled");
  EXPECT_EQ(prefs.objectForKey("Enabled"), std::nullopt);
  EXPECT_FALSE(prefs.boolForKey("Enabled"));
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
  prefs.saveOnExit();
  EXPECT_EQ(recorder.callCount(), calls) << "calls of a dead process are not recorded";
  EXPECT_EQ(disk.values, (Dictionary{{"Enabled", true}}));
}

}  // namespace
}  // namespace padwarden::sim
