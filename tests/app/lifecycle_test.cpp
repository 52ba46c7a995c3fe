// The application's life around the controller, where the desk scripts cannot look: the alert
// of a quit held back and the menu around it as it ends, the one launch-time permission request and the
// one controller, and the unsaved-settings notice logged once.
#include <algorithm>

#include "tests/app/app_world.h"

namespace padwarden::testing {
namespace {

class Lifecycle : public AppWorld {};

TEST_F(Lifecycle, HeldQuitAlertsWithTheControllersReasonAndEndsOnceByItself) {
  // kb1 in navigation mode with a keypad key held: its mapping cannot be restored until release.
  plug("kb1");
  startReady();
  ASSERT_EQ(choose("Logical Num Lock"), sim::MenuChoice::Chosen);
  press("kb1", kKeypad4);
  std::string shownWithAlert;
  application().onAlert = [&](const AlertContent&) { shownWithAlert = title(kEnableLine); };
  ASSERT_EQ(choose("Quit Padwarden"), sim::MenuChoice::Chosen);
  EXPECT_EQ(shownWithAlert, "Stopping Padwarden...") << "the menu is refreshed before the alert";
  ASSERT_EQ(desktop().alerts.size(), 1u);
  const AlertContent& alert = desktop().alerts[0];
  EXPECT_EQ(alert.style, NSAlertStyle::Warning);
  EXPECT_EQ(alert.informativeText,
            "Release the held keyboard Num Lock or keypad key to finish restoring its mapping.");
  EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});

  ASSERT_EQ(choose("Quit Padwarden"), sim::MenuChoice::Chosen);
  EXPECT_EQ(application().terminateRequests(), 2u);
  release("kb1", kKeypad4);
  EXPECT_FALSE(running());
  EXPECT_EQ(application().terminateRequests(), 3u) << "the quit is issued again, once";
  EXPECT_EQ(desktop().alerts.size(), 2u) << "no alert when the quit is issued again";
  // The last refresh, just before the end, read the stopped controller.
  const std::vector<MenuItemRef>& last = delegate()->menu()->items();
  EXPECT_EQ(last[kConnectionLine]->title(), "Padwarden stopped");
  EXPECT_FALSE(last[kEnableLine]->isEnabled());
  EXPECT_FALSE(last[kPermissionLine]->isEnabled());
}

TEST_F(Lifecycle, LaunchWithoutPermissionAsksOnceAfterLaunchWithOneController) {
  world.setPermission(sim::InputMonitoring::UnknownGrantedOnRequest);
  launch();
  EXPECT_EQ(callsTo("IOHIDRequestAccess"), 0u) << "not while launching";
  EXPECT_EQ(title(kPermissionLine), "Input Monitoring: Request access");
  step();
  const std::shared_ptr<KeyboardController> first = delegate()->controller();
  delegate()->startController();
  advance(10);
  EXPECT_EQ(delegate()->controller(), first);
  EXPECT_EQ(callsTo("IOHIDRequestAccess"), 1u);
  EXPECT_TRUE(desktop().openedURLs.empty());
}

TEST_F(Lifecycle, UnsavedSettingsAreLoggedOnceNotAtEveryRefresh) {
  plug("kb1");
  world.recorder().failAlways("CFPreferencesAppSynchronize");
  startReady();
  ASSERT_EQ(choose("Logical Num Lock"), sim::MenuChoice::Chosen);
  for (int press = 0; press < 3; ++press) tap("kb1", kKeypad4);
  choose("Disable keypad handling");
  EXPECT_EQ(std::count_if(
                desktop().systemLog.begin(), desktop().systemLog.end(),
                [](const std::string& line) { return line.starts_with("Padwarden cannot save"); }),
            1);
}

}  // namespace
}  // namespace padwarden::testing
