// The per-user single-instance lock taken by main before anything else runs: an exclusive,
// non-blocking advisory lock on "instance.lock" in the user's "Padwarden" support folder.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace padwarden {

inline constexpr const char* kAlreadyRunningMessage = "Padwarden is already running.\n";
inline constexpr const char* kLockFailureFormat =
    "Padwarden could not acquire its per-user instance lock: %s.\n";

struct InstanceLock {
  int fd = -1;    // the locked descriptor (held for the whole run), or -1
  int error = 0;  // the errno of the failure when fd is -1
  bool held() const { return fd >= 0; }
};

// Takes the lock in <supportFolder>/Padwarden/instance.lock, creating the folders as needed.
// No support folder (none) fails with ENOENT; a folder that cannot be created with EACCES; a
// symbolic link, a file that is not regular or that belongs to another user fail too; a lock
// held by another process fails with EWOULDBLOCK.
InstanceLock acquire_instance_lock(const std::optional<std::string>& supportFolder);

// The lock file's path in that support folder, or none without one.
std::optional<std::string> instance_lock_path(const std::optional<std::string>& supportFolder);

// The user's per-user data folder standing in for Application Support on Linux:
// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share; none without a home.
std::optional<std::string> user_support_folder();

// Writes the failure line to `err` and answers the exit status: 0 when another copy runs,
// 2 for any other failure.
int report_instance_lock_failure(int error, std::FILE* err);

}  // namespace padwarden
