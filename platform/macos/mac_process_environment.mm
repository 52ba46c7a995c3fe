#import <Foundation/Foundation.h>

#include "platform/macos/mac_process_environment.h"
#include "platform/macos/ns_text.h"

namespace padwarden::macos {

MacProcessEnvironment::MacProcessEnvironment() {
  for (NSString* argument in NSProcessInfo.processInfo.arguments) {
    arguments_.push_back(std_string(argument));
  }
}

std::string MacProcessEnvironment::mainBundlePath() const {
  return std_string(NSBundle.mainBundle.bundlePath);
}

std::string MacProcessEnvironment::homeDirectory() const { return std_string(NSHomeDirectory()); }

std::string MacProcessEnvironment::stringByStandardizingPath(const std::string& path) const {
  return std_string(ns_string(path).stringByStandardizingPath);
}

void MacProcessEnvironment::NSLog(const std::string& line) { ::NSLog(@"%@", ns_string(line)); }

}  // namespace padwarden::macos
