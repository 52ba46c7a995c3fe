#import <Foundation/Foundation.h>

#include "platform/macos/mac_preferences.h"
#include "platform/macos/ns_text.h"
#include "platform/macos/plist_cf.h"

namespace padwarden::macos {

struct MacUserDefaults::Defaults {
  NSUserDefaults* defaults;
};

MacUserDefaults::MacUserDefaults(std::optional<std::string> suiteName)
    : defaults_(std::make_unique<Defaults>()) {
  defaults_->defaults = suiteName ? [[NSUserDefaults alloc] initWithSuiteName:ns_string(*suiteName)]
                                  : [NSUserDefaults standardUserDefaults];
}

MacUserDefaults::~MacUserDefaults() = default;

std::optional<plist::Value> MacUserDefaults::objectForKey(std::string_view key) {
  NSString* name = ns_string(key);
  id value = [defaults_->defaults objectForKey:name];
  return plist_from_cf((__bridge CFTypeRef)value);
}

bool MacUserDefaults::boolForKey(std::string_view key) {
  return [defaults_->defaults boolForKey:ns_string(key)];
}

void MacUserDefaults::setBool(bool value, std::string_view forKey) {
  [defaults_->defaults setBool:value forKey:ns_string(forKey)];
}

}  // namespace padwarden::macos
