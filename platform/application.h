// The application framework the menu-bar application is built on: the shared application
// (delegate, event loop, termination, status bar, menus, images, modal alerts), the workspace
// (sleep and wake notifications, URL opening, running applications), the login-item service
// and what the process knows about itself. Called by app/; implemented by platform/sim (the
// tests' and the Linux desk's) and platform/macos (AppKit, ServiceManagement).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/status_icon_drawing.h"

namespace padwarden {

// The platform's constants, with the values the application passes or relies on.
inline constexpr double NSVariableStatusItemLength = -1;
inline constexpr int NSImageScaleProportionallyUpOrDown = 3;
inline constexpr unsigned NSApplicationActivateIgnoringOtherApps = 2;
enum class NSAlertStyle { Warning = 0, Informational = 1, Critical = 2 };
enum class NSApplicationTerminateReply { NSTerminateCancel = 0, NSTerminateNow = 1 };
enum class WorkspaceNotification { DidWake, WillSleep };

// A target-action pair: what choosing a menu item does. The target is held weakly by whoever
// builds the action, as the platform's menu items hold theirs.
using MenuAction = std::function<void()>;

class Image {
 public:
  virtual ~Image() = default;
  virtual const StatusIconDrawing& drawing() const = 0;
};
using ImageRef = std::shared_ptr<Image>;

class MenuItem {
 public:
  virtual ~MenuItem() = default;
  virtual const std::string& title() const = 0;
  virtual void setTitle(std::string title) = 0;
  virtual bool isEnabled() const = 0;
  virtual void setEnabled(bool enabled) = 0;
  // None: no tooltip.
  virtual const std::optional<std::string>& toolTip() const = 0;
  virtual void setToolTip(std::optional<std::string> toolTip) = 0;
  virtual const std::string& keyEquivalent() const = 0;
  virtual bool isSeparatorItem() const = 0;
  virtual bool hasAction() const = 0;
};
using MenuItemRef = std::shared_ptr<MenuItem>;

class Menu {
 public:
  virtual ~Menu() = default;
  virtual const std::string& title() const = 0;
  virtual void addItem(MenuItemRef item) = 0;
  virtual const std::vector<MenuItemRef>& items() const = 0;
};
using MenuRef = std::shared_ptr<Menu>;

class StatusBarButton {
 public:
  virtual ~StatusBarButton() = default;
  virtual void setImage(ImageRef image) = 0;
  virtual const ImageRef& image() const = 0;
  virtual void setImageScaling(int scaling) = 0;
  virtual void setToolTip(std::optional<std::string> toolTip) = 0;
};

class StatusItem {
 public:
  virtual ~StatusItem() = default;
  virtual StatusBarButton& button() = 0;
  virtual void setMenu(MenuRef menu) = 0;
};
using StatusItemRef = std::shared_ptr<StatusItem>;

struct AlertContent {
  NSAlertStyle style = NSAlertStyle::Warning;
  std::string messageText;
  std::string informativeText;
  std::vector<std::string> buttons;
};

// What the application tells its delegate. All on the main thread.
class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching() = 0;
  virtual NSApplicationTerminateReply applicationShouldTerminate() = 0;
  virtual void applicationWillTerminate() = 0;
};

// The shared application object.
class Application {
 public:
  virtual ~Application() = default;
  // Held weakly, as the platform holds its delegate; whoever runs the application owns it.
  virtual void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) = 0;
  // Finishes launching (the delegate hears of it) and runs the event loop.
  virtual void run() = 0;
  // Asks the delegate; on NSTerminateNow tells it the application will terminate and ends the
  // process. On NSTerminateCancel nothing else happens.
  virtual void terminate() = 0;

  // The system status bar's new item.
  virtual StatusItemRef statusItemWithLength(double length) = 0;
  virtual ImageRef imageWithDrawing(const StatusIconDrawing& drawing) = 0;
  virtual MenuRef menuWithTitle(std::string title) = 0;
  virtual MenuItemRef menuItemWithTitle(std::string title, MenuAction action,
                                        std::string keyEquivalent) = 0;
  virtual MenuItemRef separatorItem() = 0;
  // Modal: returns when the user has dismissed it, with the index of the button chosen.
  // While it is up the platform may run main-queue work items (AppKit does: the main queue
  // runs in the modal mode) but no timer or HID callback. Such an item may call terminate()
  // while the alert belongs to an answer of applicationShouldTerminate; the request is then
  // held and made again once that answer has been given (see termination_gate.h).
  virtual size_t runModalAlert(const AlertContent& alert) = 0;
};

class RunningApplication {
 public:
  virtual ~RunningApplication() = default;
  virtual bool activateWithOptions(unsigned options) = 0;
};
using RunningApplicationRef = std::shared_ptr<RunningApplication>;

class Workspace {
 public:
  virtual ~Workspace() = default;
  // Observations on the workspace's notification center, keyed by an observer identity.
  virtual void addObserver(const void* observer, WorkspaceNotification name,
                           std::function<void()> handler) = 0;
  virtual void removeObserver(const void* observer) = 0;
  // True when the URL was opened.
  virtual bool openURL(const std::string& url) = 0;
  virtual std::vector<RunningApplicationRef> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier) = 0;
};

struct NSError {
  std::string localizedDescription;
};

// Login-item status values of the main application's service.
inline constexpr int SMAppServiceStatusNotRegistered = 0;
inline constexpr int SMAppServiceStatusEnabled = 1;
inline constexpr int SMAppServiceStatusRequiresApproval = 2;
inline constexpr int SMAppServiceStatusNotFound = 3;

// The login-item service for the main application.
class LoginItemService {
 public:
  virtual ~LoginItemService() = default;
  virtual int status() = 0;
  // False on failure; the error is set when the platform supplies one.
  virtual bool registerAndReturnError(std::optional<NSError>& error) = 0;
  virtual bool unregisterAndReturnError(std::optional<NSError>& error) = 0;
  virtual void openSystemSettingsLoginItems() = 0;
};

// What the process knows about itself, and its line in the system log.
class ProcessEnvironment {
 public:
  virtual ~ProcessEnvironment() = default;
  virtual const std::vector<std::string>& arguments() const = 0;
  virtual std::string mainBundlePath() const = 0;
  virtual std::string homeDirectory() const = 0;
  virtual std::string stringByStandardizingPath(const std::string& path) const = 0;
  virtual void NSLog(const std::string& line) = 0;
};

// The services the application delegate reaches, besides the controller's Platform.
struct ApplicationPlatform {
  Application& application;
  Workspace& workspace;
  LoginItemService& loginItems;
  ProcessEnvironment& environment;
};

}  // namespace padwarden
