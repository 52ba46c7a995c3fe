#include "tests/support/safety_monitor.h"

#include <gtest/gtest.h>

namespace padwarden::testing {

void SafetyMonitor::check() {
  const std::vector<std::string> violations = rules_.takeViolations();
  EXPECT_TRUE(violations.empty()) << ::testing::PrintToString(violations);
}

}  // namespace padwarden::testing
