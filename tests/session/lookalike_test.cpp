// Stories of values another program sets that resemble the program's own mappings without
// being them: the program takes none of them for its own and writes over none of them.
#include "tests/session/session_world.h"

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

// Found by the randomized simulation (seed 24, mix 6): another program wrote a floating-point
// copy of the navigation mapping over it; the platform's equality took the copy for the
// program's own, and the disable wrote the original over it.
TEST_F(Lookalikes, FloatingPointCopyOfOursIsLeftAloneByTheRestore) {
  for (const bool numeric : {false, true}) {
    SCOPED_TRACE(numeric ? "numeric" : "navigation");
    startInNavigation("kb1", user_mapping(kCapsLock, 0xE0));
    if (numeric) tap("kb1", kNumLock);
    const plist::Value copy = as_reals(numeric ? numeric_mapping() : navigation_mapping());
    otherPartySets("kb1", copy);
    programWrites.clear();
    session->setEnabled(false);
    step();
    advance(12);
    EXPECT_TRUE(programWrites.empty());
    EXPECT_EQ(mapping("kb1")->asArray()->front().find("HIDKeyboardModifierMappingSrc")->kind(),
              plist::Kind::Real);
    EXPECT_FALSE(storedLease("kb1"));
    crash();
    world.unplug("kb1");
    world.disk().values.clear();
  }
}

}  // namespace
}  // namespace padwarden::testing
