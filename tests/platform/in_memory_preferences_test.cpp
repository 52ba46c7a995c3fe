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

Value lease(int64_t original) {
  return Dictionary{{"Version", 1},
                    {"Original", Array{Dictionary{{"HIDKeyboardModifierMappingSrc", original},
                                                  {"HIDKeyboardModifierMappingDst", 0}}}}};
}

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

TEST_F(InMemoryPreferencesTest, UnsynchronizedWritesAreLostInACrash) {
  auto process = start();
  process->prefs->setBool(false, "Enabled");
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(0x700000039));
  // The process itself sees its writes.
  EXPECT_EQ(process->prefs->objectForKey("Enabled"), Value(false));
  EXPECT_EQ(process->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(0x700000039));
  EXPECT_TRUE(process->prefs->hasPendingChanges());
  EXPECT_TRUE(disk.values.empty());

  process->crash();
  auto next = start();
  EXPECT_EQ(next->prefs->objectForKey("Enabled"), std::nullopt);
  EXPECT_EQ(next->prefs->CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
}

TEST_F(InMemoryPreferencesTest, SynchronizedWritesSurviveACrash) {
  auto process = start();
  process->prefs->setBool(false, "Enabled");
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(0x700000039));
  EXPECT_TRUE(process->prefs->CFPreferencesAppSynchronize());
  EXPECT_FALSE(process->prefs->hasPendingChanges());
  process->crash();

  auto next = start();
  EXPECT_EQ(next->prefs->objectForKey("Enabled"), Value(false));
  EXPECT_EQ(next->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(0x700000039));
  EXPECT_EQ(disk.values.size(), 2u);
}

TEST_F(InMemoryPreferencesTest, BooleansSavedByALaterSynchronizeAlsoSurvive) {
  // setBool is not followed by a synchronize, but any later synchronize saves it.
  auto process = start();
  process->prefs->setBool(true, "LogicalNumLockOn.dWlkOjE=");
  process->prefs->CFPreferencesAppSynchronize();
  process->crash();
  auto next = start();
  EXPECT_TRUE(next->prefs->boolForKey("LogicalNumLockOn.dWlkOjE="));
}

TEST_F(InMemoryPreferencesTest, ADeletionIsAPendingChange) {
  disk.values.emplace(kLeaseKey, lease(1));
  auto process = start();
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  EXPECT_EQ(process->prefs->CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
  EXPECT_TRUE(process->prefs->hasPendingChanges());
  process->crash();

  auto second = start();
  EXPECT_EQ(second->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(1)) << "not saved";
  second->prefs->CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  EXPECT_TRUE(second->prefs->CFPreferencesAppSynchronize());
  EXPECT_FALSE(disk.values.contains(kLeaseKey));
  second->crash();
  EXPECT_EQ(start()->prefs->CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
}

TEST_F(InMemoryPreferencesTest, DeletingAnAbsentKeyIsHarmless) {
  auto process = start();
  process->prefs->CFPreferencesSetAppValue("MappingLease", std::nullopt);
  EXPECT_TRUE(process->prefs->CFPreferencesAppSynchronize());
  EXPECT_TRUE(disk.values.empty());
}

TEST_F(InMemoryPreferencesTest, AnotherProcessesSaveIsSeenAfterTheNextSynchronize) {
  auto ours = start();
  auto theirs = start();
  EXPECT_EQ(ours->prefs->objectForKey("Enabled"), std::nullopt);

  theirs->prefs->setBool(false, "Enabled");
  EXPECT_TRUE(theirs->prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(ours->prefs->objectForKey("Enabled"), std::nullopt) << "not before a synchronize";

  EXPECT_TRUE(ours->prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(ours->prefs->objectForKey("Enabled"), Value(false));
}

TEST_F(InMemoryPreferencesTest, TheUserChangingTheDiskIsSeenAfterTheNextSynchronize) {
  auto ours = start();
  disk.values.insert_or_assign("Enabled", Value(false));  // `defaults write`, say
  disk.values.insert_or_assign("Stray", Value("x"));
  EXPECT_TRUE(ours->prefs->CFPreferencesAppSynchronize());
  EXPECT_FALSE(ours->prefs->boolForKey("Enabled"));
  EXPECT_EQ(ours->prefs->objectForKey("Stray"), Value("x"));
  disk.values.erase("Stray");  // `defaults delete`
  EXPECT_TRUE(ours->prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(ours->prefs->objectForKey("Stray"), std::nullopt);
}

TEST_F(InMemoryPreferencesTest, ALocalPendingChangeWinsOverAnotherProcessesSave) {
  auto ours = start();
  auto theirs = start();
  ours->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(1));
  theirs->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(2));
  theirs->prefs->setBool(true, "Enabled");
  EXPECT_TRUE(theirs->prefs->CFPreferencesAppSynchronize());

  EXPECT_TRUE(ours->prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(ours->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(1)) << "ours was pending";
  EXPECT_EQ(ours->prefs->objectForKey("Enabled"), Value(true)) << "theirs for other keys";
  EXPECT_EQ(disk.values.at(kLeaseKey), lease(1));

  // Once saved, our key is no longer ours alone: their next save comes in.
  theirs->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(3));
  EXPECT_TRUE(theirs->prefs->CFPreferencesAppSynchronize());
  EXPECT_TRUE(ours->prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(ours->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(3));
}

TEST_F(InMemoryPreferencesTest, ALocalPendingDeletionWinsToo) {
  disk.values.emplace(kLeaseKey, lease(1));
  auto ours = start();
  auto theirs = start();
  ours->prefs->CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  theirs->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(2));
  EXPECT_TRUE(theirs->prefs->CFPreferencesAppSynchronize());
  EXPECT_TRUE(ours->prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(ours->prefs->CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
  EXPECT_FALSE(disk.values.contains(kLeaseKey));
}

// --- Faults ----------------------------------------------------------------------------------

TEST_F(InMemoryPreferencesTest, AFailedSynchronizeSavesNothingAndKeepsTheChangePending) {
  auto process = start();
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(1));
  recorder.failOnce("CFPreferencesAppSynchronize");
  EXPECT_FALSE(process->prefs->CFPreferencesAppSynchronize());
  EXPECT_TRUE(disk.values.empty());
  EXPECT_TRUE(process->prefs->hasPendingChanges());
  ASSERT_FALSE(recorder.trace().empty());
  EXPECT_TRUE(recorder.trace().back().failed);

  EXPECT_TRUE(process->prefs->CFPreferencesAppSynchronize()) << "the fault was once";
  EXPECT_EQ(disk.values.at(kLeaseKey), lease(1));
}

TEST_F(InMemoryPreferencesTest, AFailedSynchronizeDoesNotBringInOthersSaves) {
  auto ours = start();
  disk.values.emplace("Enabled", false);
  recorder.failOnce("CFPreferencesAppSynchronize");
  EXPECT_FALSE(ours->prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(ours->prefs->objectForKey("Enabled"), std::nullopt);
}

TEST_F(InMemoryPreferencesTest, ALyingSynchronizeLosesTheChangeInACrash) {
  auto process = start();
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(1));
  FaultRule rule;
  rule.op = "CFPreferencesAppSynchronize";
  rule.lie = true;
  recorder.add(rule);
  EXPECT_TRUE(process->prefs->CFPreferencesAppSynchronize()) << "the lie";
  // The read-back the program does agrees: the lie cannot be seen from inside.
  EXPECT_EQ(process->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(1));
  EXPECT_FALSE(process->prefs->hasPendingChanges()) << "forgotten";
  EXPECT_TRUE(disk.values.empty());
  EXPECT_FALSE(recorder.trace().back().failed) << "a lie is not a visible failure";

  // Not even a later synchronize or a clean exit saves it now.
  EXPECT_TRUE(process->prefs->CFPreferencesAppSynchronize());
  process->prefs->saveOnExit();
  EXPECT_TRUE(disk.values.empty());
  process->crash();
  EXPECT_EQ(start()->prefs->CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
}

TEST_F(InMemoryPreferencesTest, DroppedWritesChangeNothing) {
  disk.values.emplace(kLeaseKey, lease(1));
  disk.values.emplace("Enabled", true);
  auto process = start();

  recorder.failOnce("CFPreferencesSetAppValue");
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(2));
  EXPECT_EQ(process->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(1));

  recorder.failOnce("CFPreferencesSetAppValue");
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  EXPECT_EQ(process->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(1)) << "deletion dropped";

  recorder.failOnce("setBool");
  process->prefs->setBool(false, "Enabled");
  EXPECT_TRUE(process->prefs->boolForKey("Enabled"));

  EXPECT_FALSE(process->prefs->hasPendingChanges());
  EXPECT_TRUE(process->prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(disk.values.at(kLeaseKey), lease(1));
  EXPECT_EQ(disk.values.at("Enabled"), Value(true));
}

TEST_F(InMemoryPreferencesTest, AFailedReadGivesSomethingElseThanWhatIsStored) {
  const std::vector<std::optional<Value>> stored = {
      std::nullopt,
      true,
      false,
      0,
      std::numeric_limits<int64_t>::max(),
      std::numeric_limits<int64_t>::min(),
      1.5,
      1e300,
      std::numeric_limits<double>::infinity(),
      std::nan(""),
      "",
      "text",
      Data{},
      Data{1, 2},
      Array{},
      Array{1, 2},
      Dictionary{},
      Dictionary{{"InjectedFault", true}},
      lease(1),
  };
  auto process = start();
  for (const auto& value : stored) {
    SCOPED_TRACE(value ? describe(*value) : "absent");
    if (value) {
      disk.values.insert_or_assign("Key", *value);
    } else {
      disk.values.erase("Key");
    }
    ASSERT_TRUE(process->prefs->CFPreferencesAppSynchronize());
    for (const char* op : {"CFPreferencesCopyAppValue", "objectForKey"}) {
      recorder.failOnce(op);
      const std::optional<Value> read = std::string(op) == "objectForKey"
                                            ? process->prefs->objectForKey("Key")
                                            : process->prefs->CFPreferencesCopyAppValue("Key");
      if (value) {
        EXPECT_TRUE(!read || !(*read == *value)) << op << " gave " << describe(*read);
      } else {
        EXPECT_TRUE(read.has_value()) << op;
      }
      EXPECT_TRUE(recorder.trace().back().failed);
    }
    recorder.failOnce("boolForKey");
    EXPECT_NE(process->prefs->boolForKey("Key"), preference_value_as_bool(value));
    // The fault was once: the next read is true to the store (NaN never equals itself).
    const auto again = process->prefs->CFPreferencesCopyAppValue("Key");
    EXPECT_EQ(again ? describe(*again) : "absent", value ? describe(*value) : "absent");
    EXPECT_EQ(process->prefs->boolForKey("Key"), preference_value_as_bool(value));
  }
}

TEST_F(InMemoryPreferencesTest, AFaultOnEveryOperationFailsEachKindOfCall) {
  auto process = start();
  process->prefs->setBool(true, "Enabled");
  ASSERT_TRUE(process->prefs->CFPreferencesAppSynchronize());
  FaultRule everything;
  everything.op = "";
  everything.times = std::nullopt;
  recorder.add(everything);
  process->prefs->setBool(false, "Enabled");
  process->prefs->CFPreferencesSetAppValue("Other", 1);
  EXPECT_FALSE(process->prefs->boolForKey("Enabled")) << "the read differs";
  EXPECT_FALSE(process->prefs->CFPreferencesAppSynchronize());
  recorder.clearFaults();
  EXPECT_TRUE(process->prefs->boolForKey("Enabled"));
  EXPECT_EQ(process->prefs->objectForKey("Other"), std::nullopt);
}

// --- Both interfaces, one store --------------------------------------------------------------

TEST_F(InMemoryPreferencesTest, BothInterfacesReachTheSameStore) {
  auto process = start();
  UserDefaults& defaults = *process->prefs;
  AppPreferences& app = *process->prefs;

  defaults.setBool(true, "Enabled");
  EXPECT_EQ(app.CFPreferencesCopyAppValue("Enabled"), Value(true));

  app.CFPreferencesSetAppValue("LastCommandedState", 0);
  EXPECT_EQ(defaults.objectForKey("LastCommandedState"), Value(0));
  EXPECT_FALSE(defaults.boolForKey("LastCommandedState"));

  app.CFPreferencesSetAppValue("Enabled", std::nullopt);
  EXPECT_EQ(defaults.objectForKey("Enabled"), std::nullopt);

  defaults.setBool(false, "Enabled");
  EXPECT_TRUE(app.CFPreferencesAppSynchronize()) << "saves the boolean too";
  EXPECT_EQ(disk.values.at("Enabled"), Value(false));
  EXPECT_EQ(disk.values.at("LastCommandedState"), Value(0));
}

TEST_F(InMemoryPreferencesTest, BoolForKeyReadsStoredValuesAsTheDefaultsDo) {
  struct Case {
    std::optional<Value> stored;
    bool expected;
  };
  const std::vector<Case> cases = {
      {std::nullopt, false},
      {true, true},
      {false, false},
      {1, true},
      {0, false},
      {-1, true},
      {2, true},
      {0.0, false},
      {-0.0, false},
      {0.5, true},
      {"YES", true},
      {"yes", true},
      {"Yes", true},
      {"true", true},
      {"TRUE", true},
      {"NO", false},
      {"false", false},
      {"1", true},
      {"0", false},
      {"-3", true},
      {"+7", true},
      {"00", false},
      {"0010", true},
      {" 1 ", true},
      {"", false},
      {"1.5", false},
      {"0x1", false},
      {"on", false},
      {"yes!", false},
      {"1a", false},
      {"-", false},
      {"99999999999999999999", true},
      {Data{1}, false},
      {Array{1}, false},
      {Dictionary{{"Enabled", true}}, false},
  };
  auto process = start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored ? describe(*c.stored) : "absent");
    EXPECT_EQ(preference_value_as_bool(c.stored), c.expected);
    process->prefs->CFPreferencesSetAppValue("Key", c.stored);
    EXPECT_EQ(process->prefs->boolForKey("Key"), c.expected);
  }
}

// --- The process's life ----------------------------------------------------------------------

TEST_F(InMemoryPreferencesTest, ADeadProcessChangesNothingAndReadsNothing) {
  disk.values.emplace("Enabled", true);
  auto process = start();
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(1));  // pending at the crash
  process->link.alive = false;
  const uint64_t calls = recorder.callCount();

  process->prefs->setBool(false, "Enabled");
  process->prefs->CFPreferencesSetAppValue("Other", 1);
  EXPECT_EQ(process->prefs->objectForKey("Enabled"), std::nullopt);
  EXPECT_FALSE(process->prefs->boolForKey("Enabled"));
  EXPECT_EQ(process->prefs->CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
  EXPECT_FALSE(process->prefs->CFPreferencesAppSynchronize());
  process->prefs->saveOnExit();

  EXPECT_EQ(recorder.callCount(), calls) << "calls of a dead process are not recorded";
  EXPECT_EQ(disk.values, (Dictionary{{"Enabled", true}}));
}

TEST_F(InMemoryPreferencesTest, TheCrashPointEndsTheProcessRightAfterThatCall) {
  auto process = start();
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(1));
  recorder.crashAfterCall(recorder.callCount() + 1);  // the synchronize below
  EXPECT_TRUE(process->prefs->CFPreferencesAppSynchronize());
  EXPECT_FALSE(process->link.alive);
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  EXPECT_FALSE(process->prefs->CFPreferencesAppSynchronize());
  process->crash();
  EXPECT_EQ(start()->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(1));
}

TEST_F(InMemoryPreferencesTest, ACleanExitSavesWhatIsPendingWithoutACall) {
  auto process = start();
  process->prefs->setBool(false, "Enabled");
  const uint64_t calls = recorder.callCount();
  process->prefs->saveOnExit();
  EXPECT_EQ(recorder.callCount(), calls);
  EXPECT_FALSE(process->prefs->hasPendingChanges());
  EXPECT_EQ(disk.values.at("Enabled"), Value(false));
}

TEST_F(InMemoryPreferencesTest, ValuesThatCannotBeStoredAreDropped) {
  auto process = start();
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(1));
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, Array{Value::opaque("IOHIDDeviceRef")});
  process->prefs->CFPreferencesSetAppValue("Name", "\xff");
  EXPECT_EQ(process->prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(1));
  EXPECT_EQ(process->prefs->CFPreferencesCopyAppValue("Name"), std::nullopt);
}

TEST_F(InMemoryPreferencesTest, EveryCallIsTraced) {
  auto process = start();
  const uint64_t before = recorder.callCount();
  process->prefs->setBool(true, "Enabled");
  process->prefs->objectForKey("Enabled");
  process->prefs->boolForKey("Enabled");
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, lease(1));
  process->prefs->CFPreferencesCopyAppValue(kLeaseKey);
  process->prefs->CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  recorder.failOnce("CFPreferencesAppSynchronize");
  process->prefs->CFPreferencesAppSynchronize();

  EXPECT_EQ(recorder.opsSince(before),
            (std::vector<std::string>{"setBool", "objectForKey", "boolForKey",
                                      "CFPreferencesSetAppValue", "CFPreferencesCopyAppValue",
                                      "CFPreferencesSetAppValue", "CFPreferencesAppSynchronize"}));
  const std::vector<Call>& trace = recorder.trace();
  ASSERT_EQ(trace.size(), 7u);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_NE(trace[i].detail.find(i < 3 ? "Enabled" : kLeaseKey), std::string::npos)
        << trace[i].detail;
    EXPECT_FALSE(trace[i].failed);
  }
  EXPECT_TRUE(trace[6].failed);
}

}  // namespace
}  // namespace padwarden::sim
