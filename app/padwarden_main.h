// What main does, whatever the backend: take the per-user instance lock, and only then create
// the application delegate, install it and run the application. Called by the program's main
// (the native one) and by the desk for each simulated launch.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/application.h"

namespace padwarden {

using DelegateFactory = std::function<std::shared_ptr<ApplicationDelegate>()>;

// A program whose application has run: the locked descriptor and the one owning reference
// to its delegate, both held until the program ends.
struct StartedProgram {
  int lockFd = -1;
  std::shared_ptr<ApplicationDelegate> delegate;
};

// Takes the lock; on failure writes main's line on `err` and answers main's exit status (0
// when another copy holds the lock, 2 otherwise). With the lock held, creates the delegate,
// makes it the application's delegate and runs the application.
std::variant<StartedProgram, int> start_padwarden(const std::optional<std::string>& supportFolder,
                                                  std::FILE* err, Application& application,
                                                  const DelegateFactory& makeDelegate);

// The whole of main for a backend whose run() returns when the event loop has ended: the
// lock is held until then, then closed, then the delegate released. Answers the exit status.
int padwarden_main(const std::optional<std::string>& supportFolder, std::FILE* err,
                   Application& application, const DelegateFactory& makeDelegate);

}  // namespace padwarden
