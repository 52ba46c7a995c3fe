// The status item and its menu as the user sees them, for controller states reached on the
// simulated machine: every line, flag, the icon and the mapping tooltip; and the menu's fixed
// layout.
#include <functional>

#include "app/status_icon.h"
#include "tests/app/app_world.h"
#include "tests/controller/controller_world.h"

namespace padwarden::testing {
namespace {

// What the menu shows after a story.
struct Shown {
  const char* mode;
  bool modeEnabled;
  const char* keypad;
  const char* connection;
  const char* mapping;
  const char* enable;
  bool enableEnabled;
  const char* permission;
  bool permissionEnabled;
  bool iconOn;
  std::optional<std::string> mappingToolTip;
};

struct Story {
  const char* name;
  std::function<void(AppWorld&)> play;
  Shown shown;
};

class MenuLines : public AppWorld, public ::testing::WithParamInterface<Story> {};

TEST_P(MenuLines, ShowTheControllerState) {
  GetParam().play(*this);
  ASSERT_TRUE(running());
  const Shown& want = GetParam().shown;
  EXPECT_EQ(title(kModeLine), want.mode);
  EXPECT_EQ(enabled(kModeLine), want.modeEnabled);
  EXPECT_EQ(title(kKeypadLine), want.keypad);
  EXPECT_EQ(title(kConnectionLine), want.connection);
  EXPECT_EQ(title(kMappingLine), want.mapping);
  EXPECT_EQ(title(kEnableLine), want.enable);
  EXPECT_EQ(enabled(kEnableLine), want.enableEnabled);
  EXPECT_EQ(title(kPermissionLine), want.permission);
  EXPECT_EQ(enabled(kPermissionLine), want.permissionEnabled);
  EXPECT_EQ(iconOn(), want.iconOn);
  EXPECT_EQ(toolTip(kMappingLine), want.mappingToolTip);
  EXPECT_EQ(title(kLoginLine), "Launch at Login: Off");
  EXPECT_EQ(title(kQuitLine), "Quit Padwarden");
}

constexpr const char* kGranted = "Input Monitoring: Granted";
constexpr const char* kNoKeyboard = "No supported external keyboard connected";
constexpr const char* kOneKeyboard = "1 supported keyboard connected";
constexpr const char* kWaitingMode = "Keypad mode: waiting for controller sync";
constexpr const char* kWaitingMapping = "Mapping: waiting for controller sync";

INSTANTIATE_TEST_SUITE_P(
    Menu, MenuLines,
    ::testing::Values(
        Story{"NoKeyboard", [](AppWorld& w) { w.start(); },
              {"Logical Num Lock: On", false, kWaitingMode, kNoKeyboard, kWaitingMapping,
               "Disable keypad handling", true, kGranted, false, true, std::nullopt}},
        // The line is disabled, but the command is still reachable (automatic item enabling);
        // the icon follows the controller's fallback.
        Story{"NoKeyboardFallbackToggled",
              [](AppWorld& w) {
                w.start();
                w.delegate()->toggleMode();
              },
              {"Logical Num Lock: Off", false, kWaitingMode, kNoKeyboard, kWaitingMapping,
               "Disable keypad handling", true, kGranted, false, false, std::nullopt}},
        Story{"KeyboardBeforeItsFirstReport",
              [](AppWorld& w) {
                w.plug("kb1");
                w.start();
              },
              {"Logical Num Lock: On", false, kWaitingMode, kOneKeyboard, kWaitingMapping,
               "Disable keypad handling", true, kGranted, false, true, std::nullopt}},
        Story{"ReadyNumeric",
              [](AppWorld& w) {
                w.plug("kb1");
                w.startReady();
              },
              {"Logical Num Lock: On", true, "Keypad mode: Numeric", kOneKeyboard,
               "Mapping: active", "Disable keypad handling", true, kGranted, false, true,
               std::nullopt}},
        Story{"ReadyNavigation",
              [](AppWorld& w) {
                w.plug("kb1");
                w.startReady();
                w.choose("Logical Num Lock");
              },
              {"Logical Num Lock: Off", true, "Keypad mode: Navigation", kOneKeyboard,
               "Mapping: active", "Disable keypad handling", true, kGranted, false, false,
               std::nullopt}},
        Story{"DisabledWithMappingRestored",
              [](AppWorld& w) {
                w.plug("kb1", user_mapping(kCapsLock, 0xE0));
                w.startReady();
                w.choose("Disable keypad handling");
              },
              {"Logical Num Lock: On", false, "Keypad mode: Native (handling disabled)",
               kOneKeyboard, "Mapping: restored", "Enable keypad handling", true, kGranted, false,
               true, std::nullopt}},
        Story{"LogicalStatesDiffer",
              [](AppWorld& w) {
                w.plug("kb1");
                w.plug("kb2");
                w.world.disk().values.insert_or_assign(
                    "LogicalNumLockOn." + serial_identity(sim::usb_keyboard("kb2")), false);
                w.startReady();
              },
              {"Logical Num Lock: Mixed", true, "Keypad mode: Mixed",
               "2 supported keyboards connected", "Mapping: active", "Disable keypad handling",
               true, kGranted, false, true, std::nullopt}},
        Story{"EffectiveModesDiffer",
              [](AppWorld& w) {
                w.plug("kb1");
                w.plug("kb2");
                w.startReady();
                w.choose("Logical Num Lock");
                w.press("kb2", kLeftShift);
              },
              {"Logical Num Lock: Off", true, "Keypad mode: Mixed",
               "2 supported keyboards connected", "Mapping: active", "Disable keypad handling",
               true, kGranted, false, false, std::nullopt}},
        Story{"DisableWaitsForHeldKeypadKey",
              [](AppWorld& w) {
                w.holdKeypadKeyInNavigation();
                w.choose("Disable keypad handling");
              },
              {"Logical Num Lock: Off", false, "Keypad mode: cleanup pending", kOneKeyboard,
               "Mapping: waiting for keypad release", "Disabling keypad handling...", false,
               kGranted, false, false, kReleaseHeldKey}},
        Story{"QuitWaitsForHeldKeypadKey",
              [](AppWorld& w) {
                w.holdKeypadKeyInNavigation();
                w.choose("Quit Padwarden");
              },
              {"Logical Num Lock: Off", false, "Keypad mode: cleanup pending", kOneKeyboard,
               "Mapping: waiting for keypad release", "Stopping Padwarden...", false, kGranted,
               false, false, kReleaseHeldKey}},
        Story{"DisableInProgressOutranksStop",
              [](AppWorld& w) {
                w.holdKeypadKeyInNavigation();
                w.choose("Disable keypad handling");
                w.choose("Quit Padwarden");
              },
              {"Logical Num Lock: Off", false, "Keypad mode: cleanup pending", kOneKeyboard,
               "Mapping: waiting for keypad release", "Disabling keypad handling...", false,
               kGranted, false, false, kReleaseHeldKey}},
        Story{"RestoreFailsAndWaitsForRetry",
              [](AppWorld& w) {
                w.plug("kb1");
                w.startReady();
                w.world.recorder().failOnce("IOHIDServiceClientSetProperty");
                w.choose("Disable keypad handling");
              },
              {"Logical Num Lock: On", false, "Keypad mode: cleanup pending", kOneKeyboard,
               "Mapping: restore retry pending", "Disabling keypad handling...", false, kGranted,
               false, true, "Could not restore the keyboard keypad mapping."}},
        Story{"PermissionDenied",
              [](AppWorld& w) {
                w.world.setPermission(sim::InputMonitoring::Denied);
                w.plug("kb1");
                w.start();
              },
              {"Logical Num Lock: On", false, kWaitingMode,
               "Waiting for Input Monitoring permission", kWaitingMapping,
               "Disable keypad handling", true, "Input Monitoring: Request access", true, true,
               "Input Monitoring permission is required before keyboard control can start."}}),
    [](const auto& info) { return std::string(info.param.name); });

class MenuLayout : public AppWorld {};

TEST_F(MenuLayout, IsBuiltOnceInOrderWithoutKeyEquivalents) {
  start();
  const sim::SimStatusItem& item = statusItem();
  EXPECT_EQ(item.length(), NSVariableStatusItemLength);
  EXPECT_EQ(item.simButton().toolTip(), "Padwarden for supported external keyboards");
  EXPECT_EQ(item.simButton().imageScaling(), 3);
  EXPECT_EQ(delegate()->statusIconOff()->drawing().stroke, create_status_icon(false).stroke);
  EXPECT_EQ(delegate()->statusIconOn()->drawing().stroke, create_status_icon(true).stroke);

  const MenuRef menu = item.menu();
  EXPECT_EQ(menu->title(), "Padwarden");
  ASSERT_EQ(menu->items().size(), 10u);
  const std::vector<MenuItemRef> built = menu->items();
  for (size_t i = 0; i < built.size(); ++i) {
    const bool separator = i == kFirstSeparator || i == kSecondSeparator;
    const bool displayOnly = i == kKeypadLine || i == kConnectionLine || i == kMappingLine;
    EXPECT_EQ(built[i]->isSeparatorItem(), separator) << "line " << i;
    EXPECT_EQ(built[i]->hasAction(), !separator && !displayOnly) << "line " << i;
    EXPECT_EQ(built[i]->keyEquivalent(), "") << "line " << i;
  }
  EXPECT_EQ(title(kQuitLine), "Quit Padwarden");

  // Refreshes rewrite the same items; nothing is added, removed or replaced.
  plug("kb1");
  advance(kDiscoveryTimerInterval);
  wakeKeyboard("kb1");
  choose("Logical Num Lock");
  world.sleep();
  EXPECT_EQ(title(kConnectionLine), "1 supported keyboard connected");
  EXPECT_EQ(statusItem().menu(), menu);
  EXPECT_EQ(statusItem().menu()->items(), built);
}

TEST_F(MenuLayout, ErrorTextIsOnlyATooltipAndGoesWithTheError) {
  holdKeypadKeyInNavigation();
  choose("Disable keypad handling");
  EXPECT_EQ(toolTip(kMappingLine), kReleaseHeldKey);
  EXPECT_TRUE(desktop().alerts.empty());

  release("kb1", kKeypad4);
  EXPECT_EQ(title(kEnableLine), "Enable keypad handling");
  EXPECT_TRUE(enabled(kEnableLine));
  // The controller drops the text on its next discovery pass, and the tooltip goes with it.
  advance(kDiscoveryTimerInterval);
  EXPECT_EQ(toolTip(kMappingLine), std::nullopt);
}

}  // namespace
}  // namespace padwarden::testing
