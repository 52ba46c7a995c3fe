#import <AppKit/AppKit.h>
#include <dispatch/dispatch.h>

#include "platform/macos/mac_application.h"
#include "platform/macos/mac_menus.h"
#include "platform/macos/ns_text.h"

using padwarden::macos::MacApplication;

// AppKit's delegate: hands each callback to the MacApplication, which asks the program's.
@interface PWApplicationDelegate : NSObject <NSApplicationDelegate>
- (instancetype)initWithApplication:(MacApplication*)application;
@end

@implementation PWApplicationDelegate {
  MacApplication* _application;
}

- (instancetype)initWithApplication:(MacApplication*)application {
  if ((self = [super init])) _application = application;
  return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
  (void)notification;
  _application->didFinishLaunching();
}

- (NSApplicationTerminateReply)applicationShouldTerminate:(NSApplication*)sender {
  (void)sender;
  return _application->shouldTerminate() == padwarden::NSApplicationTerminateReply::NSTerminateNow
             ? NSTerminateNow
             : NSTerminateCancel;
}

- (void)applicationWillTerminate:(NSNotification*)notification {
  (void)notification;
  _application->willTerminate();
}

@end

namespace padwarden::macos {

namespace {

::NSAlertStyle alert_style(padwarden::NSAlertStyle style) {
  switch (style) {
    case padwarden::NSAlertStyle::Warning: return NSAlertStyleWarning;
    case padwarden::NSAlertStyle::Informational: return NSAlertStyleInformational;
    case padwarden::NSAlertStyle::Critical: return NSAlertStyleCritical;
  }
  return NSAlertStyleWarning;
}

}  // namespace

struct MacApplication::Objects {
  PWApplicationDelegate* delegate;
};

MacApplication::MacApplication() : objects_(std::make_unique<Objects>()) {}

MacApplication::~MacApplication() {
  if (objects_->delegate && NSApp.delegate == objects_->delegate) NSApp.delegate = nil;
}

// The shared application is made here, once main holds the instance lock, not before.
void MacApplication::setDelegate(std::weak_ptr<ApplicationDelegate> delegate) {
  delegate_ = std::move(delegate);
  [NSApplication sharedApplication];
  if (!objects_->delegate) {
    objects_->delegate = [[PWApplicationDelegate alloc] initWithApplication:this];
  }
  NSApp.delegate = objects_->delegate;  // AppKit holds it weakly; objects_ keeps it
}

void MacApplication::run() { [NSApp run]; }

void MacApplication::terminate() {
  if (gate_.answering()) {
    gate_.enter();  // held; made again when the answer under way is to cancel
    return;
  }
  [NSApp terminate:nil];
}

void MacApplication::didFinishLaunching() {
  if (auto delegate = delegate_.lock()) delegate->applicationDidFinishLaunching();
}

NSApplicationTerminateReply MacApplication::shouldTerminate() {
  if (!gate_.enter()) return NSApplicationTerminateReply::NSTerminateCancel;
  auto delegate = delegate_.lock();
  const NSApplicationTerminateReply reply = delegate ? delegate->applicationShouldTerminate()
                                                     : NSApplicationTerminateReply::NSTerminateNow;
  if (gate_.leave(reply)) {
    dispatch_async(dispatch_get_main_queue(), ^{
      this->terminate();
    });
  }
  return reply;
}

void MacApplication::willTerminate() {
  if (auto delegate = delegate_.lock()) delegate->applicationWillTerminate();
}

StatusItemRef MacApplication::statusItemWithLength(double length) {
  return make_status_item(length);
}

ImageRef MacApplication::imageWithDrawing(const StatusIconDrawing& drawing) {
  return make_status_icon(drawing);
}

MenuRef MacApplication::menuWithTitle(std::string title) { return make_menu(std::move(title)); }

MenuItemRef MacApplication::menuItemWithTitle(std::string title, MenuAction action,
                                              std::string keyEquivalent) {
  return make_menu_item(std::move(title), std::move(action), std::move(keyEquivalent));
}

MenuItemRef MacApplication::separatorItem() { return make_separator_item(); }

size_t MacApplication::runModalAlert(const AlertContent& content) {
  NSAlert* alert = [[NSAlert alloc] init];
  alert.alertStyle = alert_style(content.style);
  alert.messageText = ns_string(content.messageText);
  alert.informativeText = ns_string(content.informativeText);
  for (const std::string& button : content.buttons) [alert addButtonWithTitle:ns_string(button)];
  const NSModalResponse response = [alert runModal];
  if (response < NSAlertFirstButtonReturn) return 0;
  return static_cast<size_t>(response - NSAlertFirstButtonReturn);
}

}  // namespace padwarden::macos
