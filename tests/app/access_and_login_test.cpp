// The application's dealings with the system's settings: asking for Input Monitoring (System
// Settings opened at the right pane and brought forward, or an explanation), and Launch at
// Login (registered once after installation, the menu command and its line).
#include <algorithm>
#include <set>

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
using sim::LoginRegistration;

class AccessRequest : public AppWorld {};

TEST_F(AccessRequest, DeniedOpensThePrivacyPaneAndBringsSettingsForwardLater) {
  world.setPermission(sim::InputMonitoring::Denied);
  start();
  EXPECT_EQ(desktop().openedURLs, std::vector<std::string>{kPrivacyPanes[0]});
  advance(kSettingsActivationDelay - 0.01);
  EXPECT_EQ(desktop().systemSettingsActivations, 0u);
  advance(0.01);
  EXPECT_EQ(desktop().systemSettingsActivations, 1u);
  EXPECT_TRUE(desktop().alerts.empty());

  // The user quits System Settings before it could be brought forward: it is left alone.
  ASSERT_EQ(choose("Input Monitoring: Request access"), sim::MenuChoice::Chosen);
  desktop().systemSettingsRunning = false;
  advance(1);
  EXPECT_EQ(desktop().openedURLs.size(), 2u);
  EXPECT_EQ(desktop().systemSettingsActivations, 1u);

  // Allowed in System Settings, then asked again: the keyboards are handled.
  plug("kb1");
  world.setPermission(sim::InputMonitoring::Granted);
  ASSERT_EQ(choose("Input Monitoring: Request access"), sim::MenuChoice::Chosen);
  EXPECT_EQ(title(kPermissionLine), "Input Monitoring: Granted");
  EXPECT_FALSE(enabled(kPermissionLine));
  EXPECT_EQ(title(kConnectionLine), "1 supported keyboard connected");
  EXPECT_EQ(toolTip(kMappingLine), std::nullopt);
  EXPECT_EQ(desktop().openedURLs.size(), 2u) << "granted: nothing more to open";
  // Discovery's timer runs from then on.
  plug("kb2");
  advance(kDiscoveryTimerInterval);
  EXPECT_EQ(title(kConnectionLine), "2 supported keyboards connected");
}

class AccessRefusal : public AppWorld, public ::testing::WithParamInterface<int> {};

// The first `refused` panes will not open: the next one does, or the user is told what to do.
TEST_P(AccessRefusal, FallsThroughThePanesInOrder) {
  const int refused = GetParam();
  for (int pane = 0; pane < refused; ++pane) desktop().refusedLocations.insert(kPrivacyPanes[pane]);
  world.setPermission(sim::InputMonitoring::Denied);
  start();
  advance(1);
  if (refused < 3) {
    EXPECT_EQ(desktop().openedURLs, std::vector<std::string>{kPrivacyPanes[refused]});
    EXPECT_EQ(desktop().systemSettingsActivations, 1u);
    EXPECT_TRUE(desktop().alerts.empty());
    return;
  }
  EXPECT_TRUE(desktop().openedURLs.empty());
  ASSERT_EQ(desktop().alerts.size(), 1u);
  const AlertContent& alert = desktop().alerts[0];
  EXPECT_EQ(alert.messageText, "Input Monitoring is required");
  EXPECT_EQ(alert.informativeText,
            "Allow Padwarden in System Settings > Privacy & Security > Input Monitoring, then "
            "choose Request access again.");
  EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});
  EXPECT_EQ(title(kPermissionLine), "Input Monitoring: Request access");
  EXPECT_TRUE(enabled(kPermissionLine));
}

std::string refused_panes(const ::testing::TestParamInfo<int>& info) {
  return info.param == 1 ? "OnePaneRefused" : info.param == 2 ? "TwoPanesRefused" : "AllRefused";
}

INSTANTIATE_TEST_SUITE_P(Access, AccessRefusal, ::testing::Values(1, 2, 3), refused_panes);

struct Install {
  const char* name;
  std::vector<std::string> arguments;
  std::string bundlePath;
  int status;
  size_t registrations;
  std::string home = "/Users/user";
  LoginRegistration onRegister = LoginRegistration::Enables;  // failures are only logged
};

class LoginAutomatic : public AppWorld, public ::testing::WithParamInterface<Install> {};

TEST_P(LoginAutomatic, RegistersOnlyAfterInstallIntoApplications) {
  const Install& row = GetParam();
  desktop().bundlePath = row.bundlePath;
  desktop().homeDirectory = row.home;
  desktop().loginItemStatus = row.status;
  desktop().onRegister = row.onRegister;
  start(row.arguments);
  advance(5);
  const bool enables = row.registrations && row.onRegister == LoginRegistration::Enables;
  EXPECT_EQ(desktop().registerCalls, row.registrations) << "never retried";
  EXPECT_EQ(desktop().unregisterCalls, 0u);
  EXPECT_EQ(desktop().loginItemStatus, enables ? SMAppServiceStatusEnabled : row.status);
  EXPECT_TRUE(desktop().openedURLs.empty());
  EXPECT_TRUE(desktop().alerts.empty());
  EXPECT_EQ(desktop().systemLog,
            row.onRegister == LoginRegistration::FailsWithError
                ? std::vector<std::string>{"Padwarden automatic Launch at Login registration "
                                           "failed: " +
                                           desktop().loginError}
                : std::vector<std::string>{});
}

constexpr const char* kApplications = "/Applications/Padwarden.app";

INSTANTIATE_TEST_SUITE_P(
    Login, LoginAutomatic,
    ::testing::Values(
        Install{"NoPostInstall", {}, kApplications, 0, 0},
        Install{"OptionMustBeWhole", {"--post-install=1"}, kApplications, 0, 0},
        Install{"DiskImage", kPostInstall, "/Volumes/Padwarden/Padwarden.app", 0, 0},
        Install{"OtherUsersApplications", kPostInstall, "/Users/other/Applications/Padwarden.app",
                0, 0},
        Install{"Applications", kPostInstall, kApplications, 0, 1},
        Install{"OptionAmongOthers",
                {"-NSDocumentRevisionsDebugMode", "YES", "--post-install"},
                kApplications,
                0,
                1},
        Install{"UserApplications", kPostInstall, "~/Applications/Padwarden.app", 0, 1},
        Install{"ApplicationsSpelledOddly", kPostInstall, "/Applications/./Padwarden.app/", 0, 1},
        Install{"HomeWithTrailingSlash", kPostInstall, "/Users/user/Applications/Padwarden.app", 0,
                1, "/Users/user/"},
        Install{"AlreadyEnabled", kPostInstall, kApplications, 1, 0},
        Install{"NotFound", kPostInstall, kApplications, 3, 0},
        Install{"RegistrationFails", kPostInstall, kApplications, 0, 1, "/Users/user",
                LoginRegistration::FailsWithError},
        Install{"RegistrationFailsSilently", kPostInstall, kApplications, 0, 1, "/Users/user",
                LoginRegistration::FailsSilently}),
    [](const auto& info) { return std::string(info.param.name); });

class LoginApproval : public AppWorld {};

TEST_F(LoginApproval, OpensLoginItemsThreeQuartersOfASecondLaterUnlessGivenMeanwhile) {
  for (const int status : {SMAppServiceStatusNotRegistered, SMAppServiceStatusRequiresApproval}) {
    SCOPED_TRACE(status);
    desktop().openedURLs.clear();
    desktop().registerCalls = 0;
    desktop().loginItemStatus = status;
    desktop().onRegister = LoginRegistration::RequiresApproval;
    start(kPostInstall);
    EXPECT_EQ(desktop().registerCalls, status == SMAppServiceStatusNotRegistered ? 1u : 0u);
    EXPECT_EQ(title(kLoginLine), "Launch at Login: Approval required");
    advance(0.7);
    EXPECT_TRUE(desktop().openedURLs.empty());
    advance(kLoginApprovalDelay - 0.7);
    EXPECT_EQ(desktop().openedURLs, std::vector<std::string>{kLoginItemsPane});
  }
  desktop().openedURLs.clear();
  start(kPostInstall);
  advance(0.5);
  desktop().loginItemStatus = SMAppServiceStatusEnabled;
  advance(1);
  EXPECT_TRUE(desktop().openedURLs.empty());
}

struct Toggle {
  const char* name;
  int status;
  LoginRegistration onRegister;
  bool unregisterFails;
  const char* before;
  size_t registrations, unregistrations;
  bool opensLoginItems;
  bool alerts;
  const char* after;
};

class LoginMenu : public AppWorld, public ::testing::WithParamInterface<Toggle> {};

TEST_P(LoginMenu, CommandFollowsTheCurrentStatus) {
  const Toggle& row = GetParam();
  // The command applies no location test and needs no installation option.
  desktop().bundlePath = "/Volumes/Padwarden/Padwarden.app";
  desktop().loginItemStatus = row.status;
  desktop().onRegister = row.onRegister;
  desktop().unregisterFails = row.unregisterFails;
  start();
  EXPECT_EQ(title(kLoginLine), row.before);

  ASSERT_EQ(choose("Launch at Login"), sim::MenuChoice::Chosen);
  EXPECT_EQ(desktop().registerCalls, row.registrations);
  EXPECT_EQ(desktop().unregisterCalls, row.unregistrations);
  EXPECT_EQ(desktop().openedURLs, row.opensLoginItems ? std::vector<std::string>{kLoginItemsPane}
                                                      : std::vector<std::string>{});
  if (row.alerts) {
    ASSERT_EQ(desktop().alerts.size(), 1u);
    EXPECT_EQ(desktop().alerts[0].messageText, "Launch at Login was not changed");
    EXPECT_EQ(desktop().alerts[0].informativeText, desktop().loginError);
  } else {
    EXPECT_TRUE(desktop().alerts.empty());
  }
  EXPECT_EQ(title(kLoginLine), row.after);
  EXPECT_TRUE(desktop().systemLog.empty());
}

constexpr const char* kOff = "Launch at Login: Off";
constexpr const char* kOn = "Launch at Login: On";
constexpr const char* kApproval = "Launch at Login: Approval required";
constexpr auto kEnables = LoginRegistration::Enables;

INSTANTIATE_TEST_SUITE_P(
    Login, LoginMenu,
    ::testing::Values(Toggle{"Off", 0, kEnables, false, kOff, 1, 0, false, false, kOn},
                      Toggle{"On", 1, kEnables, false, kOn, 0, 1, false, false, kOff},
                      Toggle{"ApprovalRequired", 2, kEnables, false, kApproval, 0, 0, true, false,
                             kApproval},
                      Toggle{"Unsigned", 3, kEnables, false,
                             "Launch at Login: Unavailable until signed", 1, 0, false, false, kOn},
                      // A status the platform added since reads as on, and the command registers.
                      Toggle{"UnknownStatus", 7, LoginRegistration::RequiresApproval, false, kOn, 1,
                             0, false, false, kApproval},
                      Toggle{"RegisterFails", 0, LoginRegistration::FailsWithError, false, kOff, 1,
                             0, false, true, kOff},
                      Toggle{"RegisterFailsSilently", 0, LoginRegistration::FailsSilently, false,
                             kOff, 1, 0, false, false, kOff},
                      Toggle{"UnregisterFails", 1, kEnables, true, kOn, 0, 1, false, true, kOn}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace padwarden::testing
