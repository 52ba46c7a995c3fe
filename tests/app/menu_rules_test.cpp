// The status item and its menu as the user sees them: every line, flag, the icon and the
// mapping tooltip for controller states reached on the simulated machine; the menu's fixed
// layout; the rules of precedence that real states reach only rarely; and the two icons.
#include <functional>

#include "app/menu_state.h"
#include "app/status_icon.h"
#include "tests/app/app_world.h"

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
  EXPECT_EQ(enabled(kPermissionLine), want.permission != std::string("Input Monitoring: Granted"));
  EXPECT_EQ(iconOn(), want.iconOn);
  EXPECT_EQ(toolTip(kMappingLine), want.mappingToolTip);
  EXPECT_EQ(title(kLoginLine), "Launch at Login: Off");
  EXPECT_EQ(title(kQuitLine), "Quit Padwarden");
}

constexpr const char* kGranted = "Input Monitoring: Granted";
constexpr const char* kOneKeyboard = "1 supported keyboard connected";
constexpr const char* kTwoKeyboards = "2 supported keyboards connected";
constexpr const char* kWaitingMode = "Keypad mode: waiting for controller sync";
constexpr const char* kWaitingMapping = "Mapping: waiting for controller sync";
constexpr const char* kDisable = "Disable keypad handling";
constexpr const char* kCleanup = "Keypad mode: cleanup pending";
constexpr const char* kHeldKey = "Mapping: waiting for keypad release";

INSTANTIATE_TEST_SUITE_P(
    Menu, MenuLines,
    ::testing::Values(
        Story{"ReadyNumeric",
              [](AppWorld& w) {
                w.plug("kb1");
                w.startReady();
              },
              {"Logical Num Lock: On", true, "Keypad mode: Numeric", kOneKeyboard,
               "Mapping: active", kDisable, true, kGranted, true, std::nullopt}},
        Story{"ReadyNavigation",
              [](AppWorld& w) {
                w.plug("kb1");
                w.startReady();
                w.choose("Logical Num Lock");
              },
              {"Logical Num Lock: Off", true, "Keypad mode: Navigation", kOneKeyboard,
               "Mapping: active", kDisable, true, kGranted, false, std::nullopt}},
        Story{
            "DisabledWithMappingRestored",
            [](AppWorld& w) {
              w.plug("kb1", user_mapping(kCapsLock, 0xE0));
              w.startReady();
              w.choose("Disable keypad handling");
            },
            {"Logical Num Lock: On", false, "Keypad mode: Native (handling disabled)", kOneKeyboard,
             "Mapping: restored", "Enable keypad handling", true, kGranted, true, std::nullopt}},
        // The icon follows the first keyboard.
        Story{"LogicalStatesDiffer",
              [](AppWorld& w) {
                w.plug("kb1");
                w.plug("kb2");
                w.world.disk().values.insert_or_assign(
                    "LogicalNumLockOn." + serial_identity(sim::usb_keyboard("kb2")), false);
                w.startReady();
              },
              {"Logical Num Lock: Mixed", true, "Keypad mode: Mixed", kTwoKeyboards,
               "Mapping: active", kDisable, true, kGranted, true, std::nullopt}},
        Story{"DisableWaitsForHeldKeypadKey",
              [](AppWorld& w) {
                w.holdKeypadKeyInNavigation();
                w.choose("Disable keypad handling");
              },
              {"Logical Num Lock: Off", false, kCleanup, kOneKeyboard, kHeldKey,
               "Disabling keypad handling...", false, kGranted, false, kReleaseHeldKey}},
        Story{
            "PermissionDenied",
            [](AppWorld& w) {
              w.world.setPermission(sim::InputMonitoring::Denied);
              w.plug("kb1");
              w.start();
            },
            {"Logical Num Lock: On", false, kWaitingMode, "Waiting for Input Monitoring permission",
             kWaitingMapping, kDisable, true, "Input Monitoring: Request access", true,
             "Input Monitoring permission is required before keyboard control can start."}}),
    [](const auto& info) { return std::string(info.param.name); });

class MenuLayout : public AppWorld {};

TEST_F(MenuLayout, IsBuiltOnceInOrderWithoutKeyEquivalents) {
  start();
  EXPECT_EQ(callsTo("IOHIDRequestAccess"), 0u) << "granted: no request at launch";
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

  // Refreshes rewrite the same items; nothing is added, removed or replaced.
  plug("kb1");
  advance(kDiscoveryTimerInterval);
  wake("kb1");
  choose("Logical Num Lock");
  world.sleep();
  EXPECT_EQ(title(kConnectionLine), kOneKeyboard);
  EXPECT_EQ(statusItem().menu(), menu);
  EXPECT_EQ(statusItem().menu()->items(), built);
}

struct Row {
  const char* name;
  std::function<void(ControllerView&)> change;  // applied to an enabled, ready, synced view
  const char* keypad;
  const char* mapping;
  const char* enable;
  bool modeEnabled, enableEnabled, permissionEnabled;
};

class MenuRules : public ::testing::TestWithParam<Row> {};

TEST_P(MenuRules, FollowTheirOrderOfPrecedence) {
  const Row& row = GetParam();
  ControllerView view;
  view.isReady = view.isMappingSynchronized = view.inputMonitoringGranted = true;
  row.change(view);
  const MenuState m = menu_state_for(view);
  EXPECT_EQ(m.effectiveModeTitle, row.keypad);
  EXPECT_EQ(m.mappingTitle, row.mapping);
  EXPECT_EQ(m.enabledTitle, row.enable);
  EXPECT_EQ(m.modeEnabled, row.modeEnabled);
  EXPECT_EQ(m.enabledEnabled, row.enableEnabled);
  EXPECT_EQ(m.permissionEnabled, row.permissionEnabled);
}

constexpr const char* kNumeric = "Keypad mode: Numeric";
constexpr const char* kRestoreRetry = "Mapping: restore retry pending";

INSTANTIATE_TEST_SUITE_P(
    Cases, MenuRules,
    ::testing::Values(Row{"DeferredWhileReady",
                          [](ControllerView& v) { v.isMappingDeferred = true; }, kNumeric, kHeldKey,
                          kDisable, true, true, false},
                      Row{"EnabledNotSynchronized",
                          [](ControllerView& v) { v.isMappingSynchronized = false; }, kNumeric,
                          "Mapping: retry pending", kDisable, true, true, false},
                      Row{"DisabledNotYetRestored",
                          [](ControllerView& v) { v.isEnabled = v.isMappingSynchronized = false; },
                          "Keypad mode: Native (handling disabled)", kRestoreRetry,
                          "Enable keypad handling", false, true, false},
                      Row{"NotReadyOutranksDeferred",
                          [](ControllerView& v) {
                            v.isReady = false;
                            v.isMappingDeferred = true;
                          },
                          kWaitingMode, kWaitingMapping, kDisable, false, true, false},
                      Row{"CleanupOutranksDisabledAndDisableOutranksStop",
                          [](ControllerView& v) {
                            v.isCleanupPending = v.isMappingDeferred = true;
                            v.isDisablePending = v.isStopPending = true;
                            v.isEnabled = false;
                          },
                          kCleanup, kHeldKey, "Disabling keypad handling...", false, false, false},
                      Row{"CleanupRetrying", [](ControllerView& v) { v.isCleanupPending = true; },
                          kCleanup, kRestoreRetry, kDisable, false, false, false},
                      Row{"StoppedWithoutPermission",
                          [](ControllerView& v) {
                            v.isStopped = true;
                            v.inputMonitoringGranted = false;
                          },
                          kNumeric, "Mapping: active", kDisable, true, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The two icons differ only in colour and keep their colours on any menu bar.
TEST(StatusIcon, OnIsGreenOffIsGreySameShape) {
  const StatusIconDrawing on = create_status_icon(true);
  const StatusIconDrawing off = create_status_icon(false);
  EXPECT_EQ(on.stroke, (IconColour{0.23, 0.88, 0.43, 1.0}));
  EXPECT_EQ(on.textColour, (IconColour{0.39, 0.96, 0.54, 1.0}));
  EXPECT_EQ(off.stroke, (IconColour{0.42, 0.42, 0.42, 1.0}));
  EXPECT_EQ(off.textColour, (IconColour{0.68, 0.68, 0.68, 1.0}));
  for (const StatusIconDrawing& icon : {on, off}) {
    EXPECT_FALSE(icon.isTemplate);
    EXPECT_EQ(icon.text, "1");
    EXPECT_DOUBLE_EQ(icon.lineWidth, 1.35);
    // The stroked frame stays inside the 16-point square, line width included.
    EXPECT_GE(icon.rectX - icon.lineWidth / 2, 0.0);
    EXPECT_LE(icon.rectX + icon.rectWidth + icon.lineWidth / 2, icon.width);
  }
}

}  // namespace
}  // namespace padwarden::testing
