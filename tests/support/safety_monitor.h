// The safety rules as a GoogleTest check, for the scenario fixtures: every broken rule since
// the last check becomes a test failure.
#pragma once

#include <string>

#include "tests/support/safety_rules.h"

namespace padwarden::testing {

class SafetyMonitor {
 public:
  SafetyMonitor(sim::World& world, const TrueOriginals& trueOriginal)
      : rules_(world, trueOriginal) {}

  // Reports (as test failures) what broke a rule since the last check.
  void check();

 private:
  SafetyRules rules_;
};

}  // namespace padwarden::testing
