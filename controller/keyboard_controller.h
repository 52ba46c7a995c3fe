// KeyboardController: finds the supported keyboards, keeps one session per keyboard, and
// presents one aggregate state and one set of commands to the application, which owns the one
// instance for the life of the process.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/platform.h"
#include "session/keyboard_session.h"

namespace padwarden {

inline constexpr double kDiscoveryTimerInterval = 1.5;

class KeyboardController : public std::enable_shared_from_this<KeyboardController> {
 public:
  // Moves an older single lease record to its per-keyboard key before any session exists.
  static std::shared_ptr<KeyboardController> create(const Platform& platform,
                                                    StatusHandler statusHandler);
  ~KeyboardController();
  KeyboardController(const KeyboardController&) = delete;
  KeyboardController& operator=(const KeyboardController&) = delete;

  // Commands (main thread only).
  void start();
  bool stop();
  bool requestInputMonitoring();
  void setEnabled(bool enabled);
  void toggleLogicalNumLock();
  void reconcile();
  void discover();
  void notifyStatus();

  const std::string& connectionSummary() const { return _connectionSummary; }
  const std::string& errorSummary() const { return _errorSummary; }
  void setConnectionSummary(std::string text) { _connectionSummary = std::move(text); }
  void setErrorSummary(std::string text) { _errorSummary = std::move(text); }

  // Aggregates over the sessions, in the table's order (ascending registry-ID string, i.e.
  // the order in which the registry numbered the keyboards).
  bool isConnected() const;
  bool isReady() const;
  bool isEnabled() const { return _enabled; }
  bool logicalNumLockOn() const;
  bool logicalStateMixed() const;
  bool effectiveNumericMode() const;
  bool effectiveModeMixed() const;
  bool isMappingDeferred() const;
  bool isMappingSynchronized() const;
  bool isCleanupPending() const;
  bool isDisablePending() const;
  bool isStopPending() const;
  bool isStopped() const { return _stopped; }
  bool inputMonitoringGranted() const;

  // The sessions by registry-ID string, for the menu's keyboard list and for tests.
  const std::map<std::string, std::shared_ptr<KeyboardSession>>& sessions() const {
    return _sessions;
  }

 private:
  KeyboardController(const Platform& platform, StatusHandler statusHandler);

  // What one discovery pass saw: every registry-ID string listed, and whether the list was whole.
  struct DiscoveryPass {
    std::set<std::string> seen;
    bool complete = false;
  };
  // One look with a short-lived manager, adding a session for each new supported keyboard;
  // none (the pass over, the error shown) when the manager
  // could not be made or opened.
  std::optional<DiscoveryPass> takeNewKeyboards();
  void addSession(const IOHIDDeviceRef& device, const std::string& key);
  void retireKeyboardsGone(const DiscoveryPass& pass);
  void summarizeDiscovery();
  void finishStop();
  // Whether the registry may still hold the entry (true when it cannot be told).
  bool registryEntryMayExist(const std::string& registryID);
  void setError(std::optional<std::string> text);
  void completeDisable();
  StatusHandler sessionStatusHandler();

  Platform _platform;
  std::map<std::string, std::shared_ptr<KeyboardSession>> _sessions;
  TimerRef _discoveryTimer;
  StatusHandler _statusHandler;
  bool _enabled = true;
  bool _stopped = false;
  bool _discoveryPending = false;
  bool _logicalFallback = true;
  bool _disablePending = false;
  bool _stopPending = false;
  // Started without Input Monitoring: the discovery timer only watches for access.
  bool _waitingForAccess = false;
  std::string _connectionSummary;
  std::string _errorSummary;
};

}  // namespace padwarden
