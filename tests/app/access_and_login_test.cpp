// The application's dealings with the system's settings where the desk scripts cannot look:
// which System Settings pane opens for Input Monitoring and when it is brought forward, the
// explanation when none opens; how often Launch at Login is registered, when the Login Items
// pane opens, and the alerts of a menu command that fails.
#include "tests/app/app_world.h"

namespace padwarden::testing {
namespace {

const std::string kPrivacyPanes[] = {
    "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_ListenEvent",
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ListenEvent",
    "x-apple.systempreferences:com.apple.preference.security",
};
constexpr const char* kLoginItemsPane = sim::Desktop::kLoginItemsPane;
const std::vector<std::string> kPostInstall{"--post-install"};
const std::vector<std::string> kNothing;
using sim::LoginRegistration;

class AccessRequest : public AppWorld, public ::testing::WithParamInterface<int> {};

// The first `refused` panes will not open: the next one does, and System Settings is brought
// forward a moment later; or the user is told what to do. Either way only once at launch,
// and again each time the user asks until access is granted.
TEST_P(AccessRequest, OpensTheFirstPaneThatOpensOrExplains) {
  const int refused = GetParam();
  for (int pane = 0; pane < refused; ++pane) desktop().refusedLocations.insert(kPrivacyPanes[pane]);
  world.setPermission(sim::InputMonitoring::Denied);
  start();
  advance(0.24);
  EXPECT_EQ(desktop().systemSettingsActivations, 0u);
  advance(0.01);  // a quarter of a second after it was opened
  if (refused < 3) {
    EXPECT_EQ(desktop().openedURLs, std::vector<std::string>{kPrivacyPanes[refused]});
    EXPECT_EQ(desktop().systemSettingsActivations, 1u);
    EXPECT_TRUE(desktop().alerts.empty());
  } else {
    EXPECT_TRUE(desktop().openedURLs.empty());
    ASSERT_EQ(desktop().alerts.size(), 1u);
    EXPECT_EQ(desktop().alerts[0].informativeText,
              "Allow Padwarden in System Settings > Privacy & Security > Input Monitoring, then "
              "choose Request access again.");
    EXPECT_EQ(desktop().alerts[0].buttons, std::vector<std::string>{"OK"});
  }
  advance(10 * kDiscoveryTimerInterval);
  EXPECT_EQ(desktop().openedURLs.size() + desktop().alerts.size(), 1u) << "never asked again";

  // Asked again from the menu; System Settings quit before it is due is not brought back.
  const size_t activations = desktop().systemSettingsActivations;
  ASSERT_EQ(choose("Input Monitoring: Request access"), sim::MenuChoice::Chosen);
  desktop().systemSettingsRunning = false;
  advance(1);
  EXPECT_EQ(desktop().openedURLs.size() + desktop().alerts.size(), 2u);
  EXPECT_EQ(desktop().systemSettingsActivations, activations);
  // Once granted, the command opens nothing.
  world.setPermission(sim::InputMonitoring::Granted);
  ASSERT_EQ(choose("Input Monitoring: Request access"), sim::MenuChoice::Chosen);
  EXPECT_EQ(desktop().openedURLs.size() + desktop().alerts.size(), 2u);
}

std::string refused_panes(const ::testing::TestParamInfo<int>& info) {
  const char* const names[] = {"NoneRefused", "FirstRefused", "TwoRefused", "AllRefused"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Access, AccessRequest, ::testing::Values(0, 1, 2, 3), refused_panes);

struct Install {
  const char* name;
  std::string bundlePath;
  std::string home;
  int status;
  LoginRegistration onRegister;
  size_t registrations;
  bool opensLoginItems;
  bool approvedMeanwhile = false;  // before the Login Items pane was due
};

class LoginAutomatic : public AppWorld, public ::testing::WithParamInterface<Install> {};

TEST_P(LoginAutomatic, RegistersAtMostOnceAndOpensLoginItemsOnlyForApproval) {
  const Install& row = GetParam();
  desktop().bundlePath = row.bundlePath;
  desktop().homeDirectory = row.home;
  desktop().loginItemStatus = row.status;
  desktop().onRegister = row.onRegister;
  start(kPostInstall);
  advance(0.74);
  EXPECT_TRUE(desktop().openedURLs.empty());
  if (row.approvedMeanwhile) desktop().loginItemStatus = SMAppServiceStatusEnabled;
  advance(0.01);  // three quarters of a second after launch
  EXPECT_EQ(desktop().openedURLs,
            row.opensLoginItems ? std::vector<std::string>{kLoginItemsPane} : kNothing);
  advance(5);
  EXPECT_EQ(desktop().registerCalls, row.registrations) << "never retried";
  EXPECT_EQ(desktop().unregisterCalls, 0u);
  EXPECT_TRUE(desktop().alerts.empty());
  EXPECT_TRUE(desktop().systemLog.empty()) << "a failure without an error is not logged";
}

constexpr const char* kApplications = "/Applications/Padwarden.app";
constexpr const char* kHome = "/Users/user";

INSTANTIATE_TEST_SUITE_P(
    Login, LoginAutomatic,
    ::testing::Values(
        Install{"HomeWithTrailingSlash", "/Users/user/Applications/Padwarden.app", "/Users/user/",
                0, LoginRegistration::Enables, 1, false},
        Install{"AlreadyEnabled", kApplications, kHome, 1, LoginRegistration::Enables, 0, false},
        Install{"FailsSilently", kApplications, kHome, 0, LoginRegistration::FailsSilently, 1,
                false},
        Install{"NeedsApproval", kApplications, kHome, 0, LoginRegistration::RequiresApproval, 1,
                true},
        Install{"AwaitsApproval", kApplications, kHome, 2, LoginRegistration::Enables, 0, true},
        Install{"ApprovedMeanwhile", kApplications, kHome, 2, LoginRegistration::Enables, 0, false,
                true}),
    [](const auto& info) { return std::string(info.param.name); });

struct Toggle {
  const char* name;
  int status;
  LoginRegistration onRegister;
  bool unregisterFails;
  size_t registrations, unregistrations;
  bool opensLoginItems;
  bool alerts;
  const char* after;
};

class LoginMenu : public AppWorld, public ::testing::WithParamInterface<Toggle> {};

TEST_P(LoginMenu, CommandFollowsTheCurrentStatus) {
  const Toggle& row = GetParam();
  desktop().loginItemStatus = row.status;
  desktop().onRegister = row.onRegister;
  desktop().unregisterFails = row.unregisterFails;
  start();
  ASSERT_EQ(choose("Launch at Login"), sim::MenuChoice::Chosen);
  EXPECT_EQ(desktop().registerCalls, row.registrations);
  EXPECT_EQ(desktop().unregisterCalls, row.unregistrations);
  EXPECT_EQ(desktop().openedURLs,
            row.opensLoginItems ? std::vector<std::string>{kLoginItemsPane} : kNothing);
  ASSERT_EQ(desktop().alerts.size(), row.alerts ? 1u : 0u);
  if (row.alerts) {
    EXPECT_EQ(desktop().alerts[0].messageText, "Launch at Login was not changed");
    EXPECT_EQ(desktop().alerts[0].informativeText, desktop().loginError);
  }
  EXPECT_EQ(title(kLoginLine), row.after);
  EXPECT_TRUE(desktop().systemLog.empty());
}

constexpr const char* kOff = "Launch at Login: Off";
constexpr auto kEnables = LoginRegistration::Enables;

INSTANTIATE_TEST_SUITE_P(
    Login, LoginMenu,
    ::testing::Values(Toggle{"ApprovalRequired", 2, kEnables, false, 0, 0, true, false,
                             "Launch at Login: Approval required"},
                      Toggle{"RegisterFails", 0, LoginRegistration::FailsWithError, false, 1, 0,
                             false, true, kOff},
                      Toggle{"RegisterFailsSilently", 0, LoginRegistration::FailsSilently, false, 1,
                             0, false, false, kOff},
                      Toggle{"UnregisterFails", 1, kEnables, true, 0, 1, false, true,
                             "Launch at Login: On"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace padwarden::testing
