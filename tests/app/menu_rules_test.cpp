// The status item and its menu: the fixed layout, built once and rewritten in place; the rules
// of precedence between the controller's states, most of which the desk scripts never reach;
// and the two icons. The titles real stories show are checked by the desk scripts.
#include <functional>

#include "app/menu_state.h"
#include "app/status_icon.h"
#include "tests/app/app_world.h"

namespace padwarden::testing {
namespace {

class MenuLayout : public AppWorld {};

TEST_F(MenuLayout, IsBuiltOnceInOrderWithoutKeyEquivalents) {
  start();
  EXPECT_EQ(callsTo("IOHIDRequestAccess"), 0u) << "granted: no request at launch";
  const sim::SimStatusItem& item = statusItem();
  EXPECT_EQ(item.length(), NSVariableStatusItemLength);
  EXPECT_EQ(item.simButton().toolTip(), "Padwarden for supported external keyboards");
  EXPECT_EQ(item.simButton().imageScaling(), 3);

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

  // Refreshes rewrite the same items; nothing is added, removed or replaced. What they write
  // is checked by the desk scripts.
  plug("kb1");
  advance(kDiscoveryTimerInterval);
  wake("kb1");
  choose("Logical Num Lock");
  world.sleep();
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
constexpr const char* kDisable = "Disable keypad handling";
constexpr const char* kCleanup = "Keypad mode: cleanup pending";
constexpr const char* kHeldKey = "Mapping: waiting for keypad release";
constexpr const char* kRestoreRetry = "Mapping: restore retry pending";
constexpr const char* kWaitingMode = "Keypad mode: waiting for controller sync";
constexpr const char* kWaitingMapping = "Mapping: waiting for controller sync";

INSTANTIATE_TEST_SUITE_P(
    Cases, MenuRules,
    ::testing::Values(Row{"WithoutPermission",
                          [](ControllerView& v) {
                            v.isReady = v.isMappingSynchronized = v.inputMonitoringGranted = false;
                          },
                          kWaitingMode, kWaitingMapping, kDisable, false, true, true},
                      Row{"DeferredWhileReady",
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
