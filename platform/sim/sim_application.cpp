#include "platform/sim/sim_application.h"

#include <utility>

#include "platform/standardize_path.h"

namespace padwarden::sim {

namespace {

// System Settings as the running-application list shows it.
class SystemSettingsApplication final : public RunningApplication {
 public:
  explicit SystemSettingsApplication(Desktop& desktop) : desktop_(desktop) {}
  bool activateWithOptions(unsigned) override {
    if (!desktop_.systemSettingsRunning) return false;
    ++desktop_.systemSettingsActivations;
    return true;
  }

 private:
  Desktop& desktop_;
};

}  // namespace

SimApplication::SimApplication(Desktop& desktop, std::vector<std::string> arguments,
                               std::function<void()> exitProcess)
    : desktop_(desktop), arguments_(std::move(arguments)), exitProcess_(std::move(exitProcess)) {}

SimApplication::~SimApplication() = default;

void SimApplication::setDelegate(std::weak_ptr<ApplicationDelegate> delegate) {
  delegate_ = std::move(delegate);
}

void SimApplication::run() {
  // The event loop itself is the process's run loop, driven by the world; running the
  // application finishes launching.
  if (!alive_ || launched_) return;
  launched_ = true;
  if (auto delegate = delegate_.lock()) delegate->applicationDidFinishLaunching();
}

void SimApplication::terminate() {
  if (!alive_) return;
  ++terminateRequests_;
  auto delegate = delegate_.lock();
  if (delegate) {
    if (delegate->applicationShouldTerminate() != NSApplicationTerminateReply::NSTerminateNow) {
      return;
    }
    if (!alive_) return;
    delegate->applicationWillTerminate();
  }
  exitProcess_();
}

StatusItemRef SimApplication::statusItemWithLength(double length) {
  auto item = std::make_shared<SimStatusItem>(length);
  if (alive_) statusItems_.push_back(item);
  return item;
}

ImageRef SimApplication::imageWithDrawing(const StatusIconDrawing& drawing) {
  return std::make_shared<SimImage>(drawing);
}

MenuRef SimApplication::menuWithTitle(std::string title) {
  return std::make_shared<SimMenu>(std::move(title));
}

MenuItemRef SimApplication::menuItemWithTitle(std::string title, MenuAction action,
                                              std::string keyEquivalent) {
  return std::make_shared<SimMenuItem>(std::move(title), std::move(action),
                                       std::move(keyEquivalent), false);
}

MenuItemRef SimApplication::separatorItem() {
  return std::make_shared<SimMenuItem>("", nullptr, "", true);
}

size_t SimApplication::runModalAlert(const AlertContent& alert) {
  if (!alive_) return 0;
  // The simulated user reads it and presses the first button at once.
  desktop_.alerts.push_back(alert);
  if (onAlert) onAlert(alert);
  return 0;
}

void SimApplication::addObserver(const void* observer, WorkspaceNotification name,
                                 std::function<void()> handler) {
  if (!alive_) return;
  observers_.emplace(observer, std::make_pair(name, std::move(handler)));
}

void SimApplication::removeObserver(const void* observer) { observers_.erase(observer); }

bool SimApplication::openURL(const std::string& url) {
  if (!alive_) return false;
  if (!url.starts_with(Desktop::kSettingsScheme) || !desktop_.systemSettingsInstalled ||
      desktop_.refusedLocations.contains(url)) {
    return false;
  }
  desktop_.openedURLs.push_back(url);
  desktop_.systemSettingsRunning = true;
  desktop_.systemSettingsShows = url;
  return true;
}

std::vector<RunningApplicationRef> SimApplication::runningApplicationsWithBundleIdentifier(
    const std::string& bundleIdentifier) {
  if (!alive_ || bundleIdentifier != Desktop::kSystemSettingsIdentifier ||
      !desktop_.systemSettingsRunning) {
    return {};
  }
  return {std::make_shared<SystemSettingsApplication>(desktop_)};
}

int SimApplication::status() { return desktop_.loginItemStatus; }

bool SimApplication::registerAndReturnError(std::optional<NSError>& error) {
  if (!alive_) return false;
  ++desktop_.registerCalls;
  switch (desktop_.onRegister) {
    case LoginRegistration::Enables:
      desktop_.loginItemStatus = SMAppServiceStatusEnabled;
      return true;
    case LoginRegistration::RequiresApproval:
      // Registered, but the user still has to allow it in System Settings.
      desktop_.loginItemStatus = SMAppServiceStatusRequiresApproval;
      return true;
    case LoginRegistration::FailsWithError: error = NSError{desktop_.loginError}; return false;
    case LoginRegistration::FailsSilently: return false;
  }
  return false;
}

bool SimApplication::unregisterAndReturnError(std::optional<NSError>& error) {
  if (!alive_) return false;
  ++desktop_.unregisterCalls;
  if (desktop_.unregisterFails) {
    error = NSError{desktop_.loginError};
    return false;
  }
  desktop_.loginItemStatus = SMAppServiceStatusNotRegistered;
  return true;
}

void SimApplication::openSystemSettingsLoginItems() {
  if (!alive_ || !desktop_.systemSettingsInstalled) return;
  desktop_.openedURLs.push_back(Desktop::kLoginItemsPane);
  desktop_.systemSettingsRunning = true;
  desktop_.systemSettingsShows = Desktop::kLoginItemsPane;
}

std::string SimApplication::stringByStandardizingPath(const std::string& path) const {
  return standardize_path(path, desktop_.homeDirectory);
}

void SimApplication::NSLog(const std::string& line) {
  if (alive_) desktop_.systemLog.push_back(line);
}

void SimApplication::post(WorkspaceNotification name) {
  if (!alive_) return;
  // Copied first: a handler may remove observations.
  std::vector<std::function<void()>> handlers;
  for (const auto& [observer, entry] : observers_) {
    if (entry.first == name) handlers.push_back(entry.second);
  }
  for (const auto& handler : handlers) {
    if (!alive_) return;
    handler();
  }
}

MenuChoice SimApplication::choose(std::string_view titlePrefix) {
  const SimStatusItem* item = statusItem();
  if (!alive_ || !item || !item->menu()) return MenuChoice::NotFound;
  for (const MenuItemRef& entry : item->menu()->items()) {
    if (entry->isSeparatorItem() || !entry->title().starts_with(titlePrefix)) continue;
    auto* simItem = static_cast<SimMenuItem*>(entry.get());
    if (!simItem->hasAction()) return MenuChoice::DisplayOnly;
    const MenuAction action = simItem->action();  // survives a menu rebuilt by the action
    action();
    return MenuChoice::Chosen;
  }
  return MenuChoice::NotFound;
}

void SimApplication::processDied() {
  alive_ = false;
  statusItems_.clear();
  observers_.clear();
}

const SimStatusItem* SimApplication::statusItem() const {
  return statusItems_.empty() ? nullptr : statusItems_.front().get();
}

}  // namespace padwarden::sim
