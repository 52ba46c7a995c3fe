// Input Monitoring allowed again in System Settings, without anything chosen in the menu: the
// keyboards come back by themselves within one discovery pass, and no prompt is shown again.
#include "tests/app/app_world.h"

namespace padwarden::testing {
namespace {

constexpr const char* kWaitingForAccess = "keyboard waiting for Input Monitoring";

// How the program learns that access went.
struct Withdrawal {
  const char* name;
  bool noticedByKey;     // a key press (the report is refused), else the session's timer
  bool grantedAtOnce;    // allowed again before the controller's next pass
};

// What the program's one keyboard says of itself (the fixture's sessions are the delegate's).
std::string keyboard_state(AppWorld& w) {
  const auto delegate = w.delegate();
  if (!delegate || !delegate->controller() || delegate->controller()->sessions().size() != 1) {
    return "no single keyboard session";
  }
  return delegate->controller()->sessions().begin()->second->connectionSummary();
}

class AccessAllowedAgain : public AppWorld, public ::testing::WithParamInterface<Withdrawal> {};
class AccessAllowedAgainAfterLaunch : public AppWorld {};

TEST_P(AccessAllowedAgain, KeyboardsResumeWithinOnePassWithoutAPrompt) {
  const Withdrawal& how = GetParam();
  const plist::Value own = user_mapping(kCapsLock, 0xE0);
  plug("kb1", own);
  startReady();
  ASSERT_EQ(choose("Logical Num Lock"), sim::MenuChoice::Chosen);
  ASSERT_EQ(mapping("kb1"), navigation_mapping());
  const size_t requestsBefore = callsTo("IOHIDRequestAccess");

  world.setPermission(sim::InputMonitoring::Denied);
  if (how.noticedByKey) {
    tap("kb1", kKeypad4);
  } else {
    advance(kReconcileTimerInterval);
  }
  ASSERT_EQ(mapping("kb1"), own) << "the keyboard's own mapping goes back when access goes";
  ASSERT_EQ(keyboard_state(*this), kWaitingForAccess);
  if (!how.grantedAtOnce) {
    advance(3 * kDiscoveryTimerInterval);
    EXPECT_EQ(title(kPermissionLine), "Input Monitoring: Request access");
  }

  world.setPermission(sim::InputMonitoring::Granted);
  advance(kDiscoveryTimerInterval);
  EXPECT_NE(keyboard_state(*this), kWaitingForAccess);
  EXPECT_EQ(title(kPermissionLine), "Input Monitoring: Granted");
  wake("kb1");
  EXPECT_EQ(mapping("kb1"), navigation_mapping()) << "the remembered Num Lock state comes back";
  EXPECT_EQ(title(kMappingLine), "Mapping: active");
  EXPECT_EQ(callsTo("IOHIDRequestAccess"), requestsBefore) << "no prompt";
  EXPECT_TRUE(desktop().openedURLs.empty());
  EXPECT_TRUE(desktop().alerts.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Access, AccessAllowedAgain,
    ::testing::Values(Withdrawal{"NoticedByAKey", true, false},
                      Withdrawal{"NoticedByTheTimer", false, false},
                      Withdrawal{"AllowedAgainBeforeTheNextPass", true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AccessAllowedAgainAfterLaunch, LaunchWithoutAccessAsksOnceThenStartsWhenAllowed) {
  plug("kb1");
  world.setPermission(sim::InputMonitoring::Denied);
  start();
  advance(1);
  EXPECT_EQ(desktop().openedURLs.size(), 1u) << "asked once, at launch";
  EXPECT_EQ(title(kConnectionLine), "Waiting for Input Monitoring permission");
  advance(10 * kDiscoveryTimerInterval);
  EXPECT_EQ(desktop().openedURLs.size(), 1u) << "never asked again by itself";

  world.setPermission(sim::InputMonitoring::Granted);
  advance(kDiscoveryTimerInterval);
  EXPECT_EQ(title(kConnectionLine), "1 supported keyboard connected");
  EXPECT_EQ(toolTip(kMappingLine), std::nullopt) << "the permission error is gone";
  wake("kb1");
  EXPECT_EQ(title(kMappingLine), "Mapping: active");
  EXPECT_EQ(callsTo("IOHIDRequestAccess"), 1u);
}

// A refusal the system's check does not explain (access still reported granted) is retried by
// itself only after a while, not at every pass.
TEST_F(AccessAllowedAgainAfterLaunch, ARefusalWhileGrantedIsRetriedAfterHalfAMinute) {
  plug("kb1", user_mapping(kCapsLock, 0xE0));
  startReady();
  world.recorder().add({"IOHIDDeviceSetValue", 0, 1, static_cast<int32_t>(kIOReturnNotPermitted)});
  ASSERT_EQ(choose("Logical Num Lock"), sim::MenuChoice::Chosen);
  ASSERT_EQ(keyboard_state(*this), kWaitingForAccess);
  const size_t opensBefore = callsTo("IOHIDManagerOpen");

  advance((kRefusedAccessRetryPasses - 1) * kDiscoveryTimerInterval);
  EXPECT_EQ(keyboard_state(*this), kWaitingForAccess);
  // Only the controller's own discovery managers opened meanwhile, one a pass.
  EXPECT_EQ(callsTo("IOHIDManagerOpen"), opensBefore + kRefusedAccessRetryPasses - 1);

  advance(kDiscoveryTimerInterval);
  EXPECT_NE(keyboard_state(*this), kWaitingForAccess);
  wake("kb1");
  EXPECT_EQ(title(kMappingLine), "Mapping: active");
  EXPECT_EQ(callsTo("IOHIDRequestAccess"), 0u);
}

}  // namespace
}  // namespace padwarden::testing
