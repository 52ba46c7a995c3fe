// Keeps termination requests from nesting. The delegate's answer to one request may run a
// modal alert, and the platform keeps running main-queue work while the alert is up; a work
// item that asks to terminate from there (the re-issued quit of a finished cleanup) must not
// be answered inside the first answer, nor be lost. It is held, and made again once the first
// answer has been given, if that answer was to cancel. Used by the native application.
#pragma once

#include "platform/application.h"

namespace padwarden {

class TerminationGate {
 public:
  // A request arrives: true when the delegate may be asked now; false when an answer is under
  // way, in which case the request is held.
  bool enter() {
    if (answering_) {
      held_ = true;
      return false;
    }
    answering_ = true;
    return true;
  }

  // The answer has been given: true when a held request must now be made again.
  bool leave(NSApplicationTerminateReply reply) {
    answering_ = false;
    const bool again = held_ && reply == NSApplicationTerminateReply::NSTerminateCancel;
    held_ = false;
    return again;
  }

  bool answering() const { return answering_; }

 private:
  bool answering_ = false;
  bool held_ = false;
};

}  // namespace padwarden
