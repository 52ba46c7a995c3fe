// KeyboardSession: everything done for one keyboard, from attachment to a verified restore of
// its own key mapping. Created, driven and dropped by the keyboard controller; each concern
// lives in its own source file (lifecycle, attachment, reports and LED, keypad mapping,
// mapping ownership, mapping lease, pending cleanup). Its facts are kept as states: the
// lifecycle and connection (session_lifecycle.h), the mapping ownership and the record's
// standing (mapping_ownership.h), each changed in one place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/numlock_state.h"
#include "platform/platform.h"
#include "platform/plist.h"
#include "session/mapping_history.h"
#include "session/mapping_ownership.h"
#include "session/mapping_read.h"
#include "session/session_lifecycle.h"

namespace padwarden {

// Timing of the session's retries and reconciliation.
inline constexpr uint64_t kEventServiceRetryDelayNs = 250'000'000;
inline constexpr uint64_t kEnumerationRetryDelayNs = 1'000'000'000;
inline constexpr double kReconcileTimerInterval = 5.0;
// Passes of the controller's discovery (1.5 s each) that a session waits, access granted, before
// it retries by itself after a refusal the system's access check did not explain.
inline constexpr unsigned kRefusedAccessRetryPasses = 20;

using StatusHandler = std::function<void()>;

class KeyboardSession : public std::enable_shared_from_this<KeyboardSession> {
 public:
  // A new session, not started. The registry-ID string names the one keyboard it serves; the
  // preference identity names the physical keyboard for its stored Num Lock state.
  static std::shared_ptr<KeyboardSession> create(const Platform& platform,
                                                 std::string targetRegistryID,
                                                 std::string preferenceIdentity,
                                                 StatusHandler statusHandler);
  ~KeyboardSession();
  KeyboardSession(const KeyboardSession&) = delete;
  KeyboardSession& operator=(const KeyboardSession&) = delete;

  // Commands (main thread only).
  void start();
  bool stop();
  void setEnabled(bool enabled);
  bool requestInputMonitoring();
  // What the system answered for Input Monitoring at the controller's discovery pass. A session
  // that lost access resumes without being asked (and without a prompt) once it is granted
  // again: at once when the system itself had withdrawn it, after a while when it had not.
  void accessCheckAnswered(bool granted);
  void toggleLogicalNumLock();
  void reconcile();
  bool deviceRemoved();

  // Status texts. Assigning either never notifies.
  const std::string& connectionSummary() const { return _connectionSummary; }
  const std::string& errorSummary() const { return _errorSummary; }
  void setConnectionSummary(std::string text) { _connectionSummary = std::move(text); }
  void setErrorSummary(std::string text) { _errorSummary = std::move(text); }

  // Read-only state.
  bool isConnected() const { return _connection != Connection::NotConnected; }
  bool isEnabled() const { return _enabled; }
  bool logicalNumLockOn() const { return _state.logical_on; }
  bool effectiveNumericMode() const { return _state.effective_numeric_mode; }
  bool isReady() const;
  bool isMappingDeferred() const;
  bool isMappingSynchronized() const;
  bool isCleanupPending() const;
  bool isDisablePending() const;
  bool isStopPending() const { return postRestoreAction() == PostRestoreAction::Stop; }
  bool isStopped() const { return std::holds_alternative<lifecycle::Stopped>(_lifecycle); }
  bool inputMonitoringGranted() const;

  const std::string& targetRegistryID() const { return _targetRegistryID; }
  const std::string& logicalStatePreferenceKey() const { return _logicalStatePreferenceKey; }
  const std::string& mappingLeasePreferenceKey() const { return _mappingLeasePreferenceKey; }

  // Entry points of the HID manager callbacks (free functions registered in start()).
  void processReport(const uint8_t* report, IOReturn result, IOHIDReportType type,
                     uint32_t reportID, int64_t length, void* sender);
  void enumerateAndAttach();
  void handleDeviceRemoval(const IOHIDDeviceRef& device);

 private:
  KeyboardSession(const Platform& platform, std::string targetRegistryID,
                  std::string preferenceIdentity, StatusHandler statusHandler);

  // Lifecycle and status.
  // Every change of the session's lifecycle goes through here.
  void setLifecycle(Lifecycle next);
  // The cleanup now pending, or a new one with no reason yet, to add a reason to.
  lifecycle::CleanupPending cleanupWithReasons() const;
  // Adds a reason to put the keyboard's own mapping back (a disable, what to do once it is
  // back) to those pending, and arms the restore.
  void armCleanup(const std::function<void(lifecycle::CleanupPending&)>& addReason);
  PostRestoreAction postRestoreAction() const;
  bool stateInitialized() const { return _connection == Connection::Reporting; }
  bool permissionLost() const { return _accessLoss.has_value(); }
  void notifyStatus();
  void setError(std::optional<std::string> text);
  void armMappingRestore();
  bool keyHeld() const;

  // Attachment.
  struct ServiceMatch {
    IOHIDEventSystemClientRef client;
    IOHIDServiceClientRef service;
    uint64_t registryID = 0;
  };
  // One look through the event system's services for the one that matches the device.
  std::optional<ServiceMatch> matchEventService(const IOHIDDeviceRef& device);
  // The service's registry ID when it is the device's event service (conformance, transport,
  // location, usages, and its registry entry at or below the device's IOService).
  std::optional<uint64_t> serviceOfDevice(const IOHIDServiceClientRef& service,
                                          const IOHIDDeviceRef& device,
                                          std::optional<int64_t> location);
  IOHIDServiceClientRef copyEventServiceForDevice(const IOHIDDeviceRef& device,
                                                  uint64_t& registryID);
  void attachServiceIfAvailable();
  void waitForEventService();
  // Judges the keyboard's mapping against any valid record left by an earlier run. Answers
  // whether the program's mapping must come off first, or none when attachment stops here.
  std::optional<bool> takeOverMappingState(const MappingRead& read);
  std::optional<bool> takeOverRecordedMapping(const MappingRead& read, plist::Value recorded);
  // Exactly one Num Lock LED output element, held in _numLockElement.
  bool findNumLockElement();
  void completeAttachment(bool restoreFirst);
  bool detachDeviceRestoringMapping(bool restore, bool reenumerateIfDeferred);
  void releaseDeviceHandles();
  void releaseDeviceSession();
  void closeManager();
  void ensureReconcileTimer();
  void scheduleEnumerationRetry();
  // Lets the keyboard go and looks for it again a second later.
  void letGoAndRetry();
  // Lets the keyboard go until the reconcile tick has deleted its record.
  void letGoUntilRecordDeleted();
  void reconcileTimerFired(Timer& timer);
  std::optional<plist::Value> copy_service_property(const IOHIDServiceClientRef& service,
                                                    const char* key);

  // Reports and LED.
  void handleFirstReport(numlock_physical_snapshot snapshot);
  void handleEnabledReport(numlock_physical_snapshot snapshot);
  void updatePhysicalSnapshot(numlock_physical_snapshot snapshot);
  bool applyLEDForLogicalState(bool state, bool persist);
  // After a refused LED write: the permission reset when access is gone, else the news.
  void ledRefused();
  void rollBackToggle(bool logicalOn, bool appliedNumericMode, bool mappingSynchronized);

  // Mapping ownership. Every change of ownership or of the record's standing goes through
  // changeOwnership or changeLease.
  void changeOwnership(MappingOwnership next);
  // A change that keeps what the last look told (every named transition but setLookFailed).
  void moveOwnershipTo(MappingOwnership next);
  void changeLease(Lease next);
  bool appMappingInstalled() const;
  bool mappingConflict() const;
  // A conflict kept the record (and handling may have been switched off since).
  bool conflictKeptRecord() const;
  bool lookFailed() const;
  void setLookFailed(bool failed);
  // The program's mapping is (or is not) on the keyboard after all; a conflict or kept record
  // ends when it is found on.
  void markInstalled();
  void markNotInstalled();
  // Somebody else changed the mapping, or two looks in a row told nothing (the record kept).
  void giveUpOwnership(bool keepRecord);
  // Handling switched on again ends a conflict and forgets a kept record; switched off, it ends
  // the conflict but keeps a kept record watched.
  void endConflictByEnabling();
  void endConflictByDisabling();
  // Somebody else's value was read after all: a record kept for the program's mapping is no
  // longer kept for it.
  void forgetKeptRecord();
  bool leaseActive() const { return _lease == Lease::Active; }
  bool leaseDeletionPending() const { return _lease == Lease::DeletionPending; }
  // The record is no longer vouched for; a deletion still pending stays pending.
  void dropActiveLease();

  // Keypad mapping.
  bool applyDesiredMappingIfReady();
  bool applyMappingForNumericMode(bool numericMode);
  // Reads the keyboard's mapping and judges whether the program may change it: the value to
  // check again just before the write, or none (ownership given up, or nothing to go by).
  std::optional<plist::Value> captureBeforeInstall();
  bool unchangedSinceCapture(const plist::Value& captured);
  // Writes the program's mapping and reads it back.
  bool writeDesiredMapping(const plist::Value& desired);
  bool clearMappingRestoringOriginal(bool restoreOriginal);
  // What the read before a restore decides: none to go on, else the restore's result.
  std::optional<bool> settleBeforeRestore(const MappingRead& read, bool ours,
                                          bool matchesOriginal);
  // Puts the original (or no mapping) back and reads it back.
  bool writeOriginalBack(bool restoreOriginal);
  bool relinquishMappingOwnershipForExternalValue(const MappingRead& read);
  // Reads the mapping, telling a failed read from a keyboard that has none.
  MappingRead copyUserKeyMapping();
  // What an answer of no mapping (the service answering its other properties) tells, by what
  // the service has held before.
  MappingRead judgeAnswerOfNoMapping();

  // Mapping lease.
  bool persistMappingLease();
  // Takes a record whose save the store refused out of its pending changes; false when it stays.
  bool takeBackUnsavedLease();
  bool storedLeaseMatchesCurrentState();
  std::optional<plist::Value> copyOriginalMappingFromValidLease(bool* identityUnavailable);
  bool clearPersistentMappingLease();
  // Settles a conflict that kept the record: true when the program's mapping turned out to be
  // still on the keyboard (ownership resumes).
  bool settleKeptRecord();

  // Pending cleanup.
  bool advancePendingCleanup();
  void completePendingCleanupReleasingSession(bool releaseSession);
  void beginPermissionReset();
  bool resumeWithGrantedAccess();

  // Why the session last lost Input Monitoring, which decides when it resumes by itself.
  enum class AccessLossCause {
    Unjudged,   // a call was refused; the reset that follows asks the system's access check
    Withdrawn,  // the system's access check answered "not granted" since the loss
    Refused,    // a call was refused while the check kept answering granted
  };
  struct AccessLoss {
    AccessLossCause cause;
    unsigned grantedPasses = 0;  // discovery passes seen granted since a refusal
  };

  Platform _platform;

  IOHIDManagerRef _manager;
  // The attached keyboard, held while it is open.
  IOHIDDeviceRef _device;
  IOHIDEventSystemClientRef _eventClient;
  IOHIDServiceClientRef _service;
  IOHIDElementRef _numLockElement;
  std::optional<plist::Value> _originalMapping;
  StatusHandler _statusHandler;
  numlock_state _state{};
  Connection _connection = Connection::NotConnected;
  Lifecycle _lifecycle;
  bool _enabled = false;
  bool _mappingSynchronized = false;
  MappingOwnership _ownership;
  Lease _lease = Lease::None;
  MappingHistory _mappingHistory;
  // The registry ID of the service the history is of.
  uint64_t _mappingHistoryService = 0;
  // Reconcile ticks run so far: the measure of how long a service has answered no mapping.
  uint64_t _reconcileTicks = 0;
  // The keyboard's own mapping goes back at the next chance (no key held, a report seen).
  bool _mappingClearPending = false;
  bool _ledSynchronized = false;
  // Input Monitoring found missing while the session worked: the restore no longer waits for
  // keys, and the session waits for access. Cleared by a granted request or a working LED write.
  std::optional<AccessLoss> _accessLoss;
  bool _serviceRetryScheduled = false;
  TimerRef _reconcileTimer;
  std::string _connectionSummary;
  std::string _errorSummary;
  std::string _targetRegistryID;
  std::string _logicalStatePreferenceKey;
  std::string _mappingLeasePreferenceKey;
};

}  // namespace padwarden
