// Launch, controller start, sleep and wake, and the termination handshake that holds a quit
// back until every keyboard's mapping is restored.
#include "app/app_texts.h"
#include "app/padwarden_app_delegate.h"
#include "platform/timer_queue.h"

namespace padwarden {

std::shared_ptr<PadwardenAppDelegate> PadwardenAppDelegate::create(const Platform& platform,
                                                                   const ApplicationPlatform& app) {
  return std::shared_ptr<PadwardenAppDelegate>(new PadwardenAppDelegate(platform, app));
}

PadwardenAppDelegate::PadwardenAppDelegate(const Platform& platform, const ApplicationPlatform& app)
    : _preferences(platform.preferences),
      _platform{platform.hid,     platform.cf,      platform.defaults,
                _preferences,     platform.runLoop, platform.clock},
      _app(app) {}

PadwardenAppDelegate::~PadwardenAppDelegate() = default;

void PadwardenAppDelegate::applicationDidFinishLaunching() {
  buildStatusItem();
  startController();
  configureAutomaticLaunchAtLogin();
  refreshMenu();
}

void PadwardenAppDelegate::startController() {
  if (_controller) return;

  // The controller may report from inside its own calls (HID callbacks, timers, commands);
  // the menu and a re-issued quit always run later, from the main queue.
  std::weak_ptr<PadwardenAppDelegate> weakSelf = weak_from_this();
  RunLoop& runLoop = _platform.runLoop;
  _controller = KeyboardController::create(_platform, [weakSelf, &runLoop] {
    runLoop.dispatch_async([weakSelf] {
      auto self = weakSelf.lock();
      if (!self) return;
      self->refreshMenu();
      if (self->_terminationRequested && self->_controller && self->_controller->isStopped()) {
        self->_terminationRequested = false;
        self->_app.application.terminate();
      }
    });
  });

  _app.workspace.addObserver(this, WorkspaceNotification::DidWake, [weakSelf] {
    if (auto self = weakSelf.lock()) self->workspaceDidWake();
  });
  _app.workspace.addObserver(this, WorkspaceNotification::WillSleep, [weakSelf] {
    if (auto self = weakSelf.lock()) self->workspaceWillSleep();
  });

  _controller->start();

  // At most one permission request at launch, once launch has finished and the menu exists.
  _platform.runLoop.dispatch_async([self = shared_from_this()] {
    if (self->_controller && !self->_controller->inputMonitoringGranted() &&
        !self->_controller->isStopped()) {
      self->requestInputMonitoringAccess();
      self->refreshMenu();
    }
  });
}

void PadwardenAppDelegate::workspaceWillSleep() { refreshMenu(); }

void PadwardenAppDelegate::workspaceDidWake() {
  _platform.runLoop.dispatch_after(seconds_to_nanoseconds(kWakeReconcileDelay),
                                   [self = shared_from_this()] {
                                     if (self->_controller) self->_controller->reconcile();
                                     self->refreshMenu();
                                   });
}

NSApplicationTerminateReply PadwardenAppDelegate::applicationShouldTerminate() {
  if (!_controller || _controller->stop()) {
    _terminationRequested = false;
    return NSApplicationTerminateReply::NSTerminateNow;
  }
  _terminationRequested = true;
  refreshMenu();
  const std::string& error = _controller->errorSummary();
  showAlertWithTitle(app_texts::kQuitWaitingTitle,
                     error.empty() ? app_texts::kQuitWaitingMessage : error);
  return NSApplicationTerminateReply::NSTerminateCancel;
}

void PadwardenAppDelegate::applicationWillTerminate() { _app.workspace.removeObserver(this); }

void PadwardenAppDelegate::quit() { _app.application.terminate(); }

void PadwardenAppDelegate::showAlertWithTitle(const std::string& title,
                                              const std::string& message) {
  _app.application.runModalAlert(
      AlertContent{NSAlertStyle::Warning, title, message, {app_texts::kAlertButton}});
}

}  // namespace padwarden
