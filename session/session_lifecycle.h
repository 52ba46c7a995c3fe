// The life of one keyboard session beside its attachment: live, a cleanup pending with what
// started it, or stopped; and how far its keyboard has come. Held by KeyboardSession, which
// changes its lifecycle in one place (setLifecycle).
#pragma once

#include <cstdint>
#include <variant>

namespace padwarden {

// What a session does once its pending restore of the original mapping completes.
enum class PostRestoreAction : uint64_t {
  None = 0,
  Reattach = 1,
  PermissionReset = 2,
  Stop = 3,
};

namespace lifecycle {

// Working (attached or not); nothing waits for a restore.
struct Live {};

// The program's mapping must come off before the session goes on: a disable waits for it, an
// action follows it, or both (a disable and an action complete together).
struct CleanupPending {
  bool disable = false;
  PostRestoreAction action = PostRestoreAction::None;
  // Reattach only: the restore had to wait, so the keyboards are enumerated again after it.
  bool reenumerate = false;
};

// A stop completed: device released, manager closed. Only start leaves it.
struct Stopped {};

}  // namespace lifecycle

using Lifecycle = std::variant<lifecycle::Live, lifecycle::CleanupPending, lifecycle::Stopped>;

// How far the attached keyboard has come: its event service and LED found (connected), then a
// first valid boot report read (reporting), which is when keys can be seen.
enum class Connection {
  NotConnected,
  WaitingForFirstReport,
  Reporting,
};

}  // namespace padwarden
