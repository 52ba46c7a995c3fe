#include "tests/simulation/journeys.h"

#include "platform/hid.h"
#include "tests/simulation/simulation.h"
#include "tests/support/key_usages.h"

namespace padwarden::testing {

namespace {

void plug_kb1(Rig& rig) {
  rig.world.plug(sim::usb_keyboard("kb1"));
  rig.trueOriginal["kb1"] = kb1_own_mapping();
  rig.world.setUserKeyMapping("kb1", 0, kb1_own_mapping());
}

// kb1 taken over and switched to navigation mode.
void ready_in_navigation(Rig& rig) {
  plug_kb1(rig);
  rig.launch();
  rig.tap(kLetterA);
  rig.tap(kNumLock);
}

}  // namespace

plist::Value kb1_own_mapping() {
  return plist::Array{mapping_entry(0x700000039, 0x7000000E0)};
}

Rig::Rig() { world.setPermission(sim::InputMonitoring::Granted); }

Rig::~Rig() = default;

void Rig::launch() {
  delegate_ = simulation::launch_padwarden(world);
  world.runDue();
}

void Rig::tap(uint8_t usage) {
  world.press("kb1", usage);
  world.runDue();
  world.release("kb1", usage);
  world.runDue();
}

void Rig::click(const std::string& titlePrefix) {
  if (sim::Process* process = world.process()) process->application().choose(titlePrefix);
  world.runDue();
}

std::shared_ptr<KeyboardController> Rig::controller() {
  auto delegate = delegate_.lock();
  return delegate && running() ? delegate->controller() : nullptr;
}

void Rig::recover(bool keepCrashPoint) {
  world.recorder().clearFaults();
  if (!keepCrashPoint) world.recorder().crashAfterCall(std::nullopt);
  world.setPermission(sim::InputMonitoring::Granted);
  if (!world.isPlugged("kb1")) {
    world.plug(sim::usb_keyboard("kb1"));
    trueOriginal["kb1"] = std::nullopt;  // a new service has no mapping
  }
  world.advance(2);  // a quit held back finishes
  if (!running()) launch();
  click("Input Monitoring");
  world.advance(2);
  tap(kCapsLock);
  world.advance(6);
  tap(kCapsLock);
  world.advance(6);
  // A quit that waited may have finished meanwhile: the user starts the program again. A
  // keyboard that held a mapping and answers that it has none is believed only once it has gone
  // on answering so at four reconcile ticks in a row (the event system restarted).
  if (!running()) launch();
  tap(kCapsLock);
  world.advance(4 * kReconcileTimerInterval + 1);
}

std::vector<std::string> Rig::settledProblems() {
  std::vector<std::string> problems = rules.takeViolations();
  const std::optional<plist::Value> mapping = world.userKeyMapping("kb1");
  const std::optional<plist::Value> lease = rules.storedLease("kb1");
  const std::shared_ptr<KeyboardController> c = controller();
  if (is_program_mapping(mapping)) {
    // The keyboard's session decides (a misread preference can make it differ from the menu).
    const bool handling = c && !c->sessions().empty() && c->sessions().begin()->second->isEnabled();
    if (!handling) problems.push_back("the program's mapping stays while not handling");
    if (c && !c->sessions().empty() &&
        !identical(mapping,
                   mode_mapping(c->sessions().begin()->second->effectiveNumericMode()))) {
      problems.push_back("the keyboard carries the other mode's mapping");
    }
  } else {
    if (!stands_for_original(mapping, trueOriginal["kb1"])) {
      problems.push_back("kb1 holds " + (mapping ? plist::describe(*mapping) : "nothing") +
                         ", neither its own mapping nor the program's");
    }
    if (lease) problems.push_back("a stale record remains: " + plist::describe(*lease));
  }
  if (c && c->isCleanupPending()) problems.push_back("a cleanup is still pending");
  return problems;
}

const std::vector<Journey>& journeys() {
  static const std::vector<Journey> all{
      {"FirstInstall",
       [](Rig& rig) {
         plug_kb1(rig);
         rig.launch();
       },
       [](Rig& rig) { rig.tap(kLetterA); }},
      {"ModeSwitch",
       [](Rig& rig) {
         plug_kb1(rig);
         rig.launch();
         rig.tap(kLetterA);
       },
       [](Rig& rig) { rig.tap(kNumLock); }},
      {"Disable", ready_in_navigation, [](Rig& rig) { rig.click("Disable"); }},
      {"Quit", ready_in_navigation,
       [](Rig& rig) {
         rig.click("Quit Padwarden");
         rig.world.advance(1);
       }},
      {"PermissionLoss", ready_in_navigation,
       [](Rig& rig) {
         rig.world.setPermission(sim::InputMonitoring::Denied);
         rig.world.advance(6);
       }},
      {"Unplug", ready_in_navigation,
       [](Rig& rig) {
         rig.world.unplug("kb1");
         rig.world.advance(2);
       }},
      {"RecoveryAtLaunch",
       [](Rig& rig) {
         ready_in_navigation(rig);
         rig.world.crash();
       },
       [](Rig& rig) {
         rig.launch();
         rig.tap(kLetterA);
         rig.world.advance(1);
       }},
  };
  return all;
}

}  // namespace padwarden::testing
