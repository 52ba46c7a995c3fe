// The menu's titles, flags, icon and tooltip from the controller's state: each rule's order of
// precedence, and the state a freshly started controller without keyboards shows.
#include "app/menu_state.h"

#include <gtest/gtest.h>

#include <functional>

#include "controller/vevozo_vudararire.h"
#include "platform/sim/world.h"

namespace padwarden {
namespace {

// An enabled, ready, synchronized controller with one keyboard in numeric mode.
ControllerView running() {
  ControllerView v;
  v.isReady = true;
  v.isMappingSynchronized = true;
  v.inputMonitoringGranted = true;
  v.connectionSummary = "1 supported keyboard connected";
  return v;
}

struct Row {
  const char* name;
  std::function<void(ControllerView&)> change;
  std::function<void(const MenuState&)> check;
};

class MenuRules : public ::testing::TestWithParam<Row> {};

TEST_P(MenuRules, FollowTheirOrderOfPrecedence) {
  ControllerView view = running();
  GetParam().change(view);
  GetParam().check(menu_state_for(view));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MenuRules,
    ::testing::Values(
        Row{"Running", [](ControllerView&) {},
            [](const MenuState& m) {
              EXPECT_TRUE(m.iconOn);
              EXPECT_EQ(m.modeTitle, "Logical Num Lock: On");
              EXPECT_TRUE(m.modeEnabled);
              EXPECT_EQ(m.effectiveModeTitle, "Keypad mode: Numeric");
              EXPECT_EQ(m.connectionTitle, "1 supported keyboard connected");
              EXPECT_EQ(m.mappingTitle, "Mapping: active");
              EXPECT_EQ(m.enabledTitle, "Disable keypad handling");
              EXPECT_TRUE(m.enabledEnabled);
              EXPECT_EQ(m.permissionTitle, "Input Monitoring: Granted");
              EXPECT_FALSE(m.permissionEnabled);
              EXPECT_FALSE(m.mappingToolTip);
            }},
        Row{"NavigationWithError",
            [](ControllerView& v) {
              v.logicalNumLockOn = false;
              v.effectiveNumericMode = false;
              v.errorSummary = "Could not set the keyboard keypad mapping.";
            },
            [](const MenuState& m) {
              EXPECT_FALSE(m.iconOn);
              EXPECT_EQ(m.modeTitle, "Logical Num Lock: Off");
              EXPECT_EQ(m.effectiveModeTitle, "Keypad mode: Navigation");
              EXPECT_EQ(m.mappingToolTip, "Could not set the keyboard keypad mapping.");
            }},
        Row{"MixedKeyboards",
            [](ControllerView& v) {
              v.logicalStateMixed = true;
              v.effectiveModeMixed = true;
            },
            [](const MenuState& m) {
              EXPECT_EQ(m.modeTitle, "Logical Num Lock: Mixed");
              EXPECT_TRUE(m.iconOn) << "the icon follows the first keyboard";
              EXPECT_EQ(m.effectiveModeTitle, "Keypad mode: Mixed");
            }},
        Row{"CleanupWaitingForHeldKey",
            [](ControllerView& v) {
              v.isCleanupPending = true;
              v.isMappingDeferred = true;
              v.isDisablePending = true;
              v.isStopPending = true;
              v.isEnabled = false;
            },
            [](const MenuState& m) {
              EXPECT_EQ(m.effectiveModeTitle, "Keypad mode: cleanup pending");
              EXPECT_EQ(m.mappingTitle, "Mapping: waiting for keypad release");
              EXPECT_EQ(m.enabledTitle, "Disabling keypad handling...") << "disable wins";
              EXPECT_FALSE(m.modeEnabled);
              EXPECT_FALSE(m.enabledEnabled);
            }},
        Row{"CleanupRetrying", [](ControllerView& v) { v.isCleanupPending = true; },
            [](const MenuState& m) {
              EXPECT_EQ(m.mappingTitle, "Mapping: restore retry pending");
            }},
        Row{"DisabledAndRestored", [](ControllerView& v) { v.isEnabled = false; },
            [](const MenuState& m) {
              EXPECT_EQ(m.effectiveModeTitle, "Keypad mode: Native (handling disabled)");
              EXPECT_EQ(m.mappingTitle, "Mapping: restored");
              EXPECT_EQ(m.enabledTitle, "Enable keypad handling");
              EXPECT_FALSE(m.modeEnabled);
            }},
        Row{"DisabledNotYetRestored",
            [](ControllerView& v) {
              v.isEnabled = false;
              v.isMappingSynchronized = false;
            },
            [](const MenuState& m) {
              EXPECT_EQ(m.mappingTitle, "Mapping: restore retry pending");
            }},
        Row{"EnabledNotSynchronized", [](ControllerView& v) { v.isMappingSynchronized = false; },
            [](const MenuState& m) { EXPECT_EQ(m.mappingTitle, "Mapping: retry pending"); }},
        Row{"DeferredWhileReady", [](ControllerView& v) { v.isMappingDeferred = true; },
            [](const MenuState& m) {
              EXPECT_EQ(m.mappingTitle, "Mapping: waiting for keypad release");
            }},
        Row{"HeldBackQuit", [](ControllerView& v) { v.isStopPending = true; },
            [](const MenuState& m) { EXPECT_EQ(m.enabledTitle, "Stopping Padwarden..."); }},
        Row{"Stopped",
            [](ControllerView& v) {
              v.isStopped = true;
              v.inputMonitoringGranted = false;
            },
            [](const MenuState& m) {
              EXPECT_FALSE(m.enabledEnabled);
              EXPECT_EQ(m.permissionTitle, "Input Monitoring: Request access");
              EXPECT_FALSE(m.permissionEnabled);
            }},
        Row{"PermissionMissing", [](ControllerView& v) { v.inputMonitoringGranted = false; },
            [](const MenuState& m) {
              EXPECT_EQ(m.permissionTitle, "Input Monitoring: Request access");
              EXPECT_TRUE(m.permissionEnabled);
            }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MenuStateOfController, NoKeyboardWaitsForSyncAndFollowsTheFallback) {
  sim::World world;
  world.launch();
  auto controller = VevozoVudararire::create(world.process()->platform(), [] {});
  controller->start();
  world.runDue();

  MenuState m = menu_state_for(ControllerView::of(*controller));
  EXPECT_TRUE(m.iconOn);
  EXPECT_EQ(m.effectiveModeTitle, "Keypad mode: waiting for controller sync");
  EXPECT_EQ(m.mappingTitle, "Mapping: waiting for controller sync");
  EXPECT_FALSE(m.modeEnabled);
  EXPECT_EQ(m.connectionTitle, "No supported external keyboard connected");

  controller->toggleLogicalNumLock();
  EXPECT_FALSE(menu_state_for(ControllerView::of(*controller)).iconOn);
  world.crash();  // the discovery timer holds the controller; end the process first
}

}  // namespace
}  // namespace padwarden
