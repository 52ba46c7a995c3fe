// Padwarden on the Mac: main takes the per-user instance lock in Application Support, then
// runs the application on the native backend.
#import <Foundation/Foundation.h>

#include <cstdio>
#include <optional>
#include <string>

#include "app/padwarden_app_delegate.h"
#include "app/padwarden_main.h"
#include "platform/macos/mac_application.h"
#include "platform/macos/mac_core_foundation.h"
#include "platform/macos/mac_hid.h"
#include "platform/macos/mac_login_items.h"
#include "platform/macos/mac_preferences.h"
#include "platform/macos/mac_process_environment.h"
#include "platform/macos/mac_run_loop.h"
#include "platform/macos/mac_system_clock.h"
#include "platform/macos/mac_workspace.h"

namespace {

// The first Application Support folder the file manager gives for the user, or none.
std::optional<std::string> application_support_folder() {
  NSURL* folder = [NSFileManager.defaultManager URLsForDirectory:NSApplicationSupportDirectory
                                                       inDomains:NSUserDomainMask]
                      .firstObject;
  if (!folder || !folder.fileURL) return std::nullopt;
  return std::string(folder.fileSystemRepresentation);
}

}  // namespace

int main(int, char**) {
  using namespace padwarden;
  using namespace padwarden::macos;
  @autoreleasepool {
    MacApplication application;
    MacHID hid;
    MacCoreFoundation cf;
    MacUserDefaults defaults;
    MacAppPreferences preferences;
    MacRunLoop runLoop;
    MacSystemClock clock;
    MacWorkspace workspace;
    MacLoginItems loginItems;
    MacProcessEnvironment environment;
    const Platform platform{hid, cf, defaults, preferences, runLoop, clock};
    const ApplicationPlatform app{application, workspace, loginItems, environment};
    return padwarden_main(application_support_folder(), stderr, application,
                          [&] { return PadwardenAppDelegate::create(platform, app); });
  }
}
