// KeyboardSession: everything done for one keyboard, from attachment to a verified restore of
// its own key mapping. Created, driven and dropped by the keyboard controller; each concern
// lives in its own source file (lifecycle, attachment, reports and LED, keypad mapping,
// mapping lease, pending cleanup).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/numlock_state.h"
#include "platform/platform.h"
#include "platform/plist.h"
#include "session/mapping_read.h"

namespace padwarden {

// What a session does once its pending restore of the original mapping completes.
enum class PostRestoreAction : uint64_t {
  None = 0,
  Reattach = 1,
  PermissionReset = 2,
  Stop = 3,
};

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
  bool isConnected() const { return _connected; }
  bool isEnabled() const { return _enabled; }
  bool logicalNumLockOn() const { return _state.logical_on; }
  bool effectiveNumericMode() const { return _state.effective_numeric_mode; }
  bool isReady() const;
  bool isMappingDeferred() const;
  bool isMappingSynchronized() const;
  bool isCleanupPending() const;
  bool isDisablePending() const { return _disablePending; }
  bool isStopPending() const { return _postRestoreAction == PostRestoreAction::Stop; }
  bool isStopped() const { return _stopped; }
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
  IOHIDServiceClientRef copyEventServiceForDevice(const IOHIDDeviceRef& device);
  void attachServiceIfAvailable();
  bool detachDeviceRestoringMapping(bool restore, bool reenumerateIfDeferred);
  void releaseDeviceHandles();
  void releaseDeviceSession();
  void closeManager();
  void ensureReconcileTimer();
  void scheduleEnumerationRetry();
  void reconcileTimerFired(Timer& timer);
  std::optional<plist::Value> copy_service_property(const IOHIDServiceClientRef& service,
                                                    const char* key);

  // Reports and LED.
  void handleFirstReport(numlock_physical_snapshot snapshot);
  void handleEnabledReport(numlock_physical_snapshot snapshot);
  void updatePhysicalSnapshot(numlock_physical_snapshot snapshot);
  bool applyLEDForLogicalState(bool state, bool persist);
  void rollBackToggle(bool logicalOn, bool appliedNumericMode, bool mappingSynchronized);

  // Keypad mapping.
  bool applyDesiredMappingIfReady();
  bool applyMappingForNumericMode(bool numericMode);
  bool clearMappingRestoringOriginal(bool restoreOriginal);
  bool relinquishMappingOwnershipForExternalValue(const MappingRead& read);
  // Reads the mapping, telling a failed read from a keyboard that has none.
  MappingRead copyUserKeyMapping();

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
    Withdrawn,  // the system's access check answered "not granted" since the loss
    Refused,    // a call was refused while the check kept answering granted
  };
  struct AccessLoss {
    AccessLossCause cause;
    unsigned grantedPasses = 0;  // discovery passes seen granted since a refusal
  };

  Platform _platform;

  IOHIDManagerRef _manager;
  IOHIDDeviceRef _device;
  bool _deviceOpened = false;
  IOHIDEventSystemClientRef _eventClient;
  IOHIDServiceClientRef _service;
  IOHIDElementRef _numLockElement;
  std::optional<plist::Value> _originalMapping;
  StatusHandler _statusHandler;
  numlock_state _state{};
  bool _stateInitialized = false;
  bool _connected = false;
  bool _enabled = false;
  bool _mappingSynchronized = false;
  bool _appMappingInstalled = false;
  bool _mappingLeaseActive = false;
  bool _leaseDeletionPending = false;
  bool _mappingConflict = false;
  // The last read of the keyboard's mapping gave nothing while the program's mapping may have
  // been on it; a second such read gives ownership up but keeps the record.
  bool _mappingUnreadable = false;
  bool _conflictKeptRecord = false;
  bool _mappingClearPending = false;
  bool _disablePending = false;
  PostRestoreAction _postRestoreAction = PostRestoreAction::None;
  bool _reenumerateAfterDetach = false;
  bool _ledSynchronized = false;
  bool _permissionLost = false;
  std::optional<AccessLoss> _accessLoss;
  bool _stopped = false;
  bool _serviceRetryScheduled = false;
  TimerRef _reconcileTimer;
  std::string _connectionSummary;
  std::string _errorSummary;
  std::string _targetRegistryID;
  std::string _logicalStatePreferenceKey;
  std::string _mappingLeasePreferenceKey;
};

}  // namespace padwarden
