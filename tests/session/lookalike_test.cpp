// Stories of values that resemble the program's own mappings without being its mappings, and of
// its own mapping where the platform said it was not written: the program takes none of the
// first for its own, and never takes the second for the keyboard's.
#include "tests/session/session_world.h"
#include "tests/support/program_facts.h"

namespace padwarden::testing {
namespace {

class Lookalikes : public SessionWorld {};

// The same mapping with every number made floating point.
plist::Value as_reals(const plist::Value& mapping) {
  plist::Array entries;
  for (const plist::Value& entry : *mapping.asArray()) {
    plist::Dictionary copy;
    for (const auto& [key, number] : *entry.asDictionary()) {
      copy.emplace(key, static_cast<double>(*number.asInt64()));
    }
    entries.push_back(copy);
  }
  return entries;
}

// Values that only resemble the program's mappings, set over its navigation mapping (or its
// numeric one): the disable leaves each alone and writes nothing.
// - Another keypad tool's value that begins like the program's (Num Lock gives nothing) and
//   differs after: a test of ownership that looked at the first entry alone took it for the
//   program's, and the disable wrote the original over it.
// - Found by the randomized simulation (seed 24, mix 6): a floating-point copy of the program's
//   mapping, which the platform's equality took for the program's own.
TEST_F(Lookalikes, AreLeftAloneByTheRestore) {
  plist::Array keypadFiveToPageUsage = *navigation_mode_mapping().asArray();
  keypadFiveToPageUsage[5] = mapping_entry(0x70000005D, 0x700000000);
  plist::Array swapped = *navigation_mode_mapping().asArray();
  std::swap(swapped[1], swapped[2]);
  plist::Array lastRowDiffers = *navigation_mode_mapping().asArray();
  lastRowDiffers.back() = mapping_entry(0x700000063, 0x70000004D);
  const std::pair<plist::Value, bool> values[] = {{keypadFiveToPageUsage, false},
                                                  {swapped, false},
                                                  {lastRowDiffers, false},
                                                  {plist::Array{mapping_entry(0x700000053, 1)}, false},
                                                  {as_reals(navigation_mode_mapping()), false},
                                                  {as_reals(numeric_mode_mapping()), true}};
  for (const auto& [value, overNumeric] : values) {
    SCOPED_TRACE(plist::describe(value));
    startInNavigation("kb1", user_mapping(kCapsLock, 0xE0));
    if (overNumeric) tap("kb1", kNumLock);
    otherPartySets("kb1", value);
    programWrites.clear();
    session->setEnabled(false);
    step();
    advance(12);
    EXPECT_TRUE(programWrites.empty());
    EXPECT_TRUE(identical(mapping("kb1"), value)) << "a floating-point copy stays one";
    EXPECT_FALSE(storedLease("kb1"));
    crash();
    world.unplug("kb1");
    world.disk().values.clear();
  }
}

// A write of the program's mapping that landed and answered failure, then a record check that
// could not synchronize: the program's mapping was taken for the keyboard's own, the record
// rewritten to name it, and the user's mapping was lost for good.
TEST_F(Lookalikes, LandedWriteThatFailedIsNotTakenForTheKeyboardsOwnLater) {
  plug("kb1", user_mapping(kCapsLock, 0xE0));
  startSession("kb1");
  sim::FaultRule landed{"IOHIDServiceClientSetProperty"};
  landed.lands = true;
  world.recorder().add(landed);
  press("kb1", kCapsLock);
  ASSERT_EQ(mapping("kb1"), numeric_mode_mapping());
  world.recorder().failOnce("CFPreferencesAppSynchronize");
  advance(5);
  release("kb1", kCapsLock);
  advance(5);
  session->setEnabled(false);
  step();
  advance(5);
  EXPECT_EQ(mapping("kb1"), user_mapping(kCapsLock, 0xE0));
  EXPECT_FALSE(storedLease("kb1"));
}

}  // namespace
}  // namespace padwarden::testing
