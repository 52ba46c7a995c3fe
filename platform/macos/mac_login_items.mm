#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>

#include "platform/macos/mac_login_items.h"
#include "platform/macos/ns_text.h"

namespace padwarden::macos {

namespace {

void keep_error(::NSError* failure, std::optional<padwarden::NSError>& error) {
  if (failure) error = padwarden::NSError{std_string(failure.localizedDescription)};
}

}  // namespace

int MacLoginItems::status() { return static_cast<int>(SMAppService.mainAppService.status); }

bool MacLoginItems::registerAndReturnError(std::optional<padwarden::NSError>& error) {
  ::NSError* failure = nil;
  const BOOL done = [SMAppService.mainAppService registerAndReturnError:&failure];
  if (!done) keep_error(failure, error);
  return done;
}

bool MacLoginItems::unregisterAndReturnError(std::optional<padwarden::NSError>& error) {
  ::NSError* failure = nil;
  const BOOL done = [SMAppService.mainAppService unregisterAndReturnError:&failure];
  if (!done) keep_error(failure, error);
  return done;
}

void MacLoginItems::openSystemSettingsLoginItems() { [SMAppService openSystemSettingsLoginItems]; }

}  // namespace padwarden::macos
