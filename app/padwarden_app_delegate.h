// PadwardenAppDelegate: the application delegate that main installs. It owns the process's one
// controller and the status item with its menu, starts the controller at launch, refreshes it
// after wake, holds a quit back until every keyboard's mapping is restored, asks for Input
// Monitoring and arranges Launch at Login. Owned by main (the only owning reference).
#pragma once

#include <memory>
#include <string>

#include "app/preferences_watch.h"
#include "controller/keyboard_controller.h"
#include "platform/application.h"
#include "platform/platform.h"

namespace padwarden {

inline constexpr double kWakeReconcileDelay = 0.5;
inline constexpr double kSettingsActivationDelay = 0.25;
inline constexpr double kLoginApprovalDelay = 0.75;

class PadwardenAppDelegate final : public ApplicationDelegate,
                                   public std::enable_shared_from_this<PadwardenAppDelegate> {
 public:
  static std::shared_ptr<PadwardenAppDelegate> create(const Platform& platform,
                                                      const ApplicationPlatform& app);
  ~PadwardenAppDelegate() override;
  PadwardenAppDelegate(const PadwardenAppDelegate&) = delete;
  PadwardenAppDelegate& operator=(const PadwardenAppDelegate&) = delete;

  // Lifecycle.
  void applicationDidFinishLaunching() override;
  void startController();
  void workspaceDidWake();
  void workspaceWillSleep();
  NSApplicationTerminateReply applicationShouldTerminate() override;
  void applicationWillTerminate() override;
  void quit();
  void showAlertWithTitle(const std::string& title, const std::string& message);

  // Status item and menu.
  void refreshMenu();
  MenuItemRef itemWithTitle(std::string title, void (PadwardenAppDelegate::*action)());
  void toggleMode();
  void toggleEnabled();
  void requestPermission();

  // Input Monitoring and Launch at Login.
  void requestInputMonitoringAccess();
  void configureAutomaticLaunchAtLogin();
  void toggleLogin();
  std::string loginTitle();

  bool terminationRequested() const { return _terminationRequested; }
  const StatusItemRef& statusItem() const { return _statusItem; }
  const ImageRef& statusIconOff() const { return _statusIconOff; }
  const ImageRef& statusIconOn() const { return _statusIconOn; }
  const MenuRef& menu() const { return _menu; }
  const std::shared_ptr<KeyboardController>& controller() const { return _controller; }

 private:
  PadwardenAppDelegate(const Platform& platform, const ApplicationPlatform& app);
  void buildStatusItem();
  // The line telling the user that the settings cannot be saved, while they cannot; the first
  // time also written to the system log.
  std::optional<std::string> unsavedSettingsNotice();

  PreferencesWatch _preferences;  // what the controller's platform stores through
  Platform _platform;
  bool _toldUnsavedSettings = false;
  ApplicationPlatform _app;
  bool _terminationRequested = false;
  StatusItemRef _statusItem;
  ImageRef _statusIconOff;
  ImageRef _statusIconOn;
  MenuRef _menu;
  MenuItemRef _modeItem;
  MenuItemRef _effectiveModeItem;
  MenuItemRef _connectionItem;
  MenuItemRef _mappingItem;
  MenuItemRef _permissionItem;
  MenuItemRef _enabledItem;
  MenuItemRef _loginItem;
  std::shared_ptr<KeyboardController> _controller;
};

}  // namespace padwarden
