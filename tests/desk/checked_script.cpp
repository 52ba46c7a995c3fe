// Runs a desk script as `padwarden --script` does, and checks the product's safety rules after
// every line, so that each script is a scenario test of the whole program.
#include <iostream>
#include <memory>
#include <string>

#include "desk/desk.h"
#include "desk/script.h"
#include "tests/support/safety_rules.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: checked_script FILE\n";
    return 2;
  }
  std::unique_ptr<padwarden::testing::SafetyRules> rules;
  const auto watch = [&rules](padwarden::desk::Desk& desk) -> padwarden::desk::LineCheck {
    rules = std::make_unique<padwarden::testing::SafetyRules>(desk.world(), desk.originals());
    return [&rules] {
      std::string broken;
      for (const std::string& violation : rules->takeViolations()) {
        broken += (broken.empty() ? "a safety rule broke: " : "; ") + violation;
      }
      return broken;
    };
  };
  return padwarden::desk::run_script_file(argv[1], std::cout, std::cerr, watch);
}
