#import <AppKit/AppKit.h>

#include <map>

#include "platform/macos/mac_workspace.h"
#include "platform/macos/ns_text.h"

namespace padwarden::macos {

namespace {

class MacRunningApplication final : public RunningApplication {
 public:
  explicit MacRunningApplication(NSRunningApplication* application) : application_(application) {}

  // "Ignoring other applications" stopped having any effect in macOS 14, where one
  // application activates another cooperatively: it yields its activation first. A
  // background application rarely has activation to yield, so when that is refused the
  // application is opened again by Launch Services, which brings a running one forward.
  bool activateWithOptions(unsigned options) override {
    const bool ignoringOthers = (options & padwarden::NSApplicationActivateIgnoringOtherApps) != 0;
    if (@available(macOS 14, *)) {
      if (!ignoringOthers) return [application_ activateWithOptions:0];
      [NSApp yieldActivationToApplication:application_];
      if ([application_ activateFromApplication:NSRunningApplication.currentApplication
                                        options:0]) {
        return true;
      }
      return reopen();
    }
    return [application_
        activateWithOptions:ignoringOthers ? ::NSApplicationActivateIgnoringOtherApps : 0];
  }

 private:
  bool reopen() {
    NSURL* bundle = application_.bundleURL;
    if (!bundle) return false;
    NSWorkspaceOpenConfiguration* configuration = [NSWorkspaceOpenConfiguration configuration];
    configuration.activates = YES;
    [NSWorkspace.sharedWorkspace openApplicationAtURL:bundle
                                        configuration:configuration
                                    completionHandler:nil];
    return true;
  }

  NSRunningApplication* application_;
};

NSNotificationName notification_name(WorkspaceNotification name) {
  switch (name) {
    case WorkspaceNotification::DidWake: return NSWorkspaceDidWakeNotification;
    case WorkspaceNotification::WillSleep: return NSWorkspaceWillSleepNotification;
  }
  return NSWorkspaceDidWakeNotification;
}

}  // namespace

struct MacWorkspace::Observations {
  std::multimap<const void*, id> tokens;
};

MacWorkspace::MacWorkspace() : observations_(std::make_unique<Observations>()) {}

MacWorkspace::~MacWorkspace() {
  NSNotificationCenter* center = NSWorkspace.sharedWorkspace.notificationCenter;
  for (const auto& [observer, token] : observations_->tokens) [center removeObserver:token];
}

void MacWorkspace::addObserver(const void* observer, WorkspaceNotification name,
                               std::function<void()> handler) {
  NSNotificationCenter* center = NSWorkspace.sharedWorkspace.notificationCenter;
  id token = [center addObserverForName:notification_name(name)
                                 object:nil
                                  queue:NSOperationQueue.mainQueue
                             usingBlock:^(NSNotification* notification) {
                               (void)notification;
                               if (handler) handler();
                             }];
  observations_->tokens.emplace(observer, token);
}

void MacWorkspace::removeObserver(const void* observer) {
  NSNotificationCenter* center = NSWorkspace.sharedWorkspace.notificationCenter;
  auto [first, last] = observations_->tokens.equal_range(observer);
  for (auto it = first; it != last; ++it) [center removeObserver:it->second];
  observations_->tokens.erase(first, last);
}

bool MacWorkspace::openURL(const std::string& url) {
  NSURL* location = [NSURL URLWithString:ns_string(url)];
  return location && [NSWorkspace.sharedWorkspace openURL:location];
}

std::vector<RunningApplicationRef> MacWorkspace::runningApplicationsWithBundleIdentifier(
    const std::string& bundleIdentifier) {
  std::vector<RunningApplicationRef> out;
  for (NSRunningApplication* application in
       [NSRunningApplication runningApplicationsWithBundleIdentifier:ns_string(bundleIdentifier)]) {
    out.push_back(std::make_shared<MacRunningApplication>(application));
  }
  return out;
}

}  // namespace padwarden::macos
