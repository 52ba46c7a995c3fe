// The application's life around the controller: a quit held back until every keyboard's
// mapping is restored and then completed by itself, the refresh after wake, the one launch-time
// permission request and the one controller.
#include "tests/app/app_world.h"

namespace padwarden::testing {
namespace {

class Termination : public AppWorld {};

TEST_F(Termination, QuitWithNothingToRestoreEndsAtOnce) {
  for (const bool withKeyboard : {false, true}) {
    SCOPED_TRACE(withKeyboard ? "idle keyboard" : "no keyboard");
    if (withKeyboard) plug("kb1", user_mapping(kCapsLock, 0xE0));
    startReady();
    ASSERT_EQ(choose("Quit Padwarden"), sim::MenuChoice::Chosen);
    EXPECT_FALSE(running());
    EXPECT_EQ(application().terminateRequests(), 1u);
    EXPECT_TRUE(desktop().alerts.empty());
  }
}

TEST_F(Termination, QuitWaitsForHeldKeyThenEndsByItself) {
  holdKeypadKeyInNavigation();
  std::string shownWithAlert;
  application().onAlert = [&](const AlertContent&) { shownWithAlert = title(kEnableLine); };
  ASSERT_EQ(choose("Quit Padwarden"), sim::MenuChoice::Chosen);
  ASSERT_TRUE(running());
  EXPECT_EQ(shownWithAlert, "Stopping Padwarden...") << "the menu is refreshed before the alert";
  ASSERT_EQ(desktop().alerts.size(), 1u);
  const AlertContent& alert = desktop().alerts[0];
  EXPECT_EQ(alert.style, NSAlertStyle::Warning);
  EXPECT_EQ(alert.messageText, "Quit is waiting for keyboard cleanup");
  EXPECT_EQ(alert.informativeText, kReleaseHeldKey) << "the controller's own explanation";
  EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});

  // No time limit, and the quit cannot be withdrawn: handling does not come back.
  advance(30);
  EXPECT_TRUE(running());
  EXPECT_FALSE(enabled(kEnableLine));
  EXPECT_FALSE(enabled(kModeLine));
  // Chosen anyway (the platform enables every command): the quit still goes through, and no
  // command changes a setting meanwhile.
  EXPECT_EQ(choose("Stopping Padwarden..."), sim::MenuChoice::Chosen);
  EXPECT_EQ(title(kEnableLine), "Stopping Padwarden...");
  EXPECT_EQ(choose("Logical Num Lock"), sim::MenuChoice::Chosen);
  EXPECT_EQ(choose("Launch at Login"), sim::MenuChoice::Chosen);
  EXPECT_EQ(desktop().loginItemStatus, SMAppServiceStatusNotRegistered);

  // A report before the stop completes only refreshes the menu (which learns of a change).
  desktop().loginItemStatus = SMAppServiceStatusEnabled;
  press("kb1", kKeypad8);
  EXPECT_EQ(title(kLoginLine), "Launch at Login: On");
  release("kb1", kKeypad8);
  EXPECT_TRUE(running()) << "one key is still held";
  EXPECT_EQ(application().terminateRequests(), 1u);

  release("kb1", kKeypad4);
  EXPECT_FALSE(running());
  EXPECT_EQ(application().terminateRequests(), 2u) << "the quit is issued again, once";
  EXPECT_EQ(mapping("kb1"), user_mapping(kCapsLock, 0xE0));
  EXPECT_EQ(desktop().alerts.size(), 1u);
  // The last refresh, just before the end, read the stopped controller.
  const std::vector<MenuItemRef>& last = delegate()->menu()->items();
  EXPECT_EQ(last[kConnectionLine]->title(), "Padwarden stopped");
  EXPECT_FALSE(last[kEnableLine]->isEnabled());
  EXPECT_FALSE(last[kPermissionLine]->isEnabled());

  // The next start has handling enabled, as the user left it.
  start();
  EXPECT_EQ(title(kEnableLine), "Disable keypad handling");
  EXPECT_EQ(title(kModeLine), "Logical Num Lock: Off");
}

TEST_F(Termination, QuitWaitsForFailedRestoreRetryWithItsErrorText) {
  plug("kb1");
  startReady();
  world.recorder().failOnce("IOHIDServiceClientSetProperty");
  choose("Quit Padwarden");
  ASSERT_EQ(desktop().alerts.size(), 1u);
  EXPECT_EQ(desktop().alerts[0].informativeText, "Could not restore the keyboard keypad mapping.");
  EXPECT_EQ(title(kMappingLine), "Mapping: restore retry pending");
  // The session retries on its own timer; the application follows without user action.
  advance(kReconcileTimerInterval);
  EXPECT_FALSE(running());
  EXPECT_EQ(desktop().alerts.size(), 1u);
}

TEST_F(Termination, SecondQuitDuringCleanupAlertsAgainAndEndsOnce) {
  holdKeypadKeyInNavigation();
  choose("Quit Padwarden");
  ASSERT_EQ(choose("Quit Padwarden"), sim::MenuChoice::Chosen);
  ASSERT_EQ(desktop().alerts.size(), 2u);
  EXPECT_EQ(desktop().alerts[1].messageText, "Quit is waiting for keyboard cleanup");
  release("kb1", kKeypad4);
  EXPECT_FALSE(running());
  EXPECT_EQ(application().terminateRequests(), 3u);
  EXPECT_EQ(desktop().alerts.size(), 2u) << "no alert when the quit is issued again";
}

TEST_F(Termination, SleepRefreshesTheMenuAndWakeReconcilesHalfASecondLater) {
  start();
  desktop().loginItemStatus = SMAppServiceStatusRequiresApproval;
  world.sleep();
  EXPECT_EQ(title(kLoginLine), "Launch at Login: Approval required");
  // Just after a discovery pass, so that the next one is far enough away.
  advance(kDiscoveryTimerInterval);
  plug("kb1");
  world.wake();
  advance(kWakeReconcileDelay - 0.01);
  EXPECT_EQ(title(kConnectionLine), "No supported external keyboard connected");
  advance(0.01);
  EXPECT_EQ(title(kConnectionLine), "1 supported keyboard connected");
}

TEST_F(Termination, LaunchWithoutPermissionAsksOnceAfterLaunch) {
  world.setPermission(sim::InputMonitoring::UnknownGrantedOnRequest);
  launch();
  EXPECT_EQ(callsTo("IOHIDRequestAccess"), 0u) << "not while launching";
  EXPECT_EQ(title(kPermissionLine), "Input Monitoring: Request access");
  step();
  EXPECT_EQ(callsTo("IOHIDRequestAccess"), 1u);
  EXPECT_EQ(title(kPermissionLine), "Input Monitoring: Granted");
  EXPECT_EQ(title(kConnectionLine), "No supported external keyboard connected");
  EXPECT_EQ(toolTip(kMappingLine), std::nullopt);

  // A second start keeps the one controller and makes no second launch-time request.
  const std::shared_ptr<KeyboardController> first = delegate()->controller();
  delegate()->startController();
  advance(10);
  EXPECT_EQ(delegate()->controller(), first);
  EXPECT_EQ(callsTo("IOHIDRequestAccess"), 1u);
  EXPECT_TRUE(desktop().openedURLs.empty());
}

}  // namespace
}  // namespace padwarden::testing
