// Text between the program (UTF-8) and Foundation (NSString), for the Objective-C++ files of
// the native backend.
#pragma once

#import <Foundation/Foundation.h>

#include <string>
#include <string_view>

namespace padwarden::macos {

// Text that is not UTF-8 becomes the empty string.
inline NSString* ns_string(std::string_view text) {
  NSString* string = [[NSString alloc] initWithBytes:text.data()
                                              length:text.size()
                                            encoding:NSUTF8StringEncoding];
  return string ? string : @"";
}

inline std::string std_string(NSString* string) {
  const char* utf8 = string.UTF8String;
  return utf8 ? std::string(utf8) : std::string();
}

}  // namespace padwarden::macos
