// What main does, whatever the backend: take the per-user instance lock, and only then create
// the application delegate, install it and run the application until it ends. Called by the
// program's main (the desk's on Linux, the native one later).
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/application.h"

namespace padwarden {

using DelegateFactory = std::function<std::shared_ptr<ApplicationDelegate>()>;

// Answers the exit status: 0 after a normal end of the event loop or when another copy holds
// the lock (one line on `err`), 2 for any other failure to take the lock (one line on `err`).
// The delegate factory runs only once the lock is held; `application.run()` returns when the
// event loop has ended, and the lock is held until then.
int padwarden_main(const std::optional<std::string>& supportFolder, std::FILE* err,
                   Application& application, const DelegateFactory& makeDelegate);

}  // namespace padwarden
