// The Input Monitoring request (with System Settings opened at the right pane) and Launch at
// Login: the automatic registration after installation, the menu command and its line.
#include "app/app_texts.h"
#include "app/padwarden_app_delegate.h"
#include "platform/timer_queue.h"

namespace padwarden {

void PadwardenAppDelegate::requestInputMonitoringAccess() {
  if (!_controller) return;
  if (_controller->requestInputMonitoring()) return;
  if (_controller->inputMonitoringGranted()) return;

  for (const char* location : app_texts::kInputMonitoringLocations) {
    if (!_app.workspace.openURL(location)) continue;
    // Bring System Settings to the front once it has had a moment to come up.
    _platform.runLoop.dispatch_after(
        seconds_to_nanoseconds(kSettingsActivationDelay), [self = shared_from_this()] {
          auto running = self->_app.workspace.runningApplicationsWithBundleIdentifier(
              app_texts::kSystemSettingsIdentifier);
          if (!running.empty() && running.front()) {
            running.front()->activateWithOptions(NSApplicationActivateIgnoringOtherApps);
          }
        });
    return;
  }
  showAlertWithTitle(app_texts::kInputMonitoringRequiredTitle,
                     app_texts::kInputMonitoringRequiredMessage);
}

void PadwardenAppDelegate::configureAutomaticLaunchAtLogin() {
  ProcessEnvironment& env = _app.environment;
  bool postInstall = false;
  for (const std::string& argument : env.arguments()) {
    if (argument == app_texts::kPostInstallOption) postInstall = true;
  }
  if (!postInstall) return;

  const std::string bundle = env.stringByStandardizingPath(env.mainBundlePath());
  const std::string userApplications =
      env.stringByStandardizingPath(env.homeDirectory() + "/Applications/Padwarden.app");
  const std::string applications = env.stringByStandardizingPath(app_texts::kApplicationsLocation);
  if (bundle != userApplications && bundle != applications) return;

  LoginItemService& login = _app.loginItems;
  int status = login.status();
  if (status == SMAppServiceStatusEnabled || status == SMAppServiceStatusNotFound) return;
  if (status == SMAppServiceStatusNotRegistered) {
    std::optional<NSError> error;
    if (!login.registerAndReturnError(error) && error) {
      env.NSLog(app_texts::kAutomaticLoginFailure + error->localizedDescription);
    }
  }
  if (login.status() == SMAppServiceStatusRequiresApproval) {
    _platform.runLoop.dispatch_after(seconds_to_nanoseconds(kLoginApprovalDelay),
                                     [self = shared_from_this()] {
                                       LoginItemService& service = self->_app.loginItems;
                                       if (service.status() == SMAppServiceStatusRequiresApproval) {
                                         service.openSystemSettingsLoginItems();
                                       }
                                     });
  }
}

void PadwardenAppDelegate::toggleLogin() {
  // While a quit is held back, no command changes a setting.
  if (_controller && _controller->isStopPending()) {
    refreshMenu();
    return;
  }
  LoginItemService& login = _app.loginItems;
  const int status = login.status();
  if (status == SMAppServiceStatusRequiresApproval) {
    login.openSystemSettingsLoginItems();
    refreshMenu();
    return;
  }
  std::optional<NSError> error;
  const bool changed = status == SMAppServiceStatusEnabled ? login.unregisterAndReturnError(error)
                                                           : login.registerAndReturnError(error);
  if (!changed && error) {
    showAlertWithTitle(app_texts::kLoginNotChangedTitle, error->localizedDescription);
  }
  refreshMenu();
}

std::string PadwardenAppDelegate::loginTitle() {
  switch (_app.loginItems.status()) {
    case SMAppServiceStatusNotRegistered: return app_texts::kLoginOff;
    case SMAppServiceStatusRequiresApproval: return app_texts::kLoginApproval;
    case SMAppServiceStatusNotFound: return app_texts::kLoginUnsigned;
    default:  // enabled, or a value the platform added since
      return app_texts::kLoginOn;
  }
}

}  // namespace padwarden
