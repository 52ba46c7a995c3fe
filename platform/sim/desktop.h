// The simulated machine's desktop, which outlives any program process: the login-item
// service's state, System Settings (whether its locations open, whether it runs, what it
// shows), the system log, every alert shown and where the application is installed. Owned by
// the Machine; each process's SimApplication reads and changes it; tests and the desk set it.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "platform/application.h"

namespace padwarden::sim {

// What registering the main application as a login item does.
enum class LoginRegistration {
  Enables,           // status becomes 1
  RequiresApproval,  // status becomes 2; the user must allow it in System Settings
  FailsWithError,    // fails, supplying an error; status unchanged
  FailsSilently,     // fails without an error object; status unchanged
};

struct Desktop {
  static constexpr const char* kSystemSettingsIdentifier = "com.apple.systempreferences";
  static constexpr const char* kSettingsScheme = "x-apple.systempreferences:";
  static constexpr const char* kLoginItemsPane = "login items";

  std::string homeDirectory = "/Users/user";
  std::string bundlePath = "/Applications/Padwarden.app";

  // Login items.
  int loginItemStatus = SMAppServiceStatusNotRegistered;
  LoginRegistration onRegister = LoginRegistration::Enables;
  bool unregisterFails = false;  // with an error
  std::string loginError = "The operation couldn't be completed. Operation not permitted";
  size_t registerCalls = 0;
  size_t unregisterCalls = 0;

  // System Settings. A location opens when the application is installed and the location is
  // not refused; opening launches it and shows that location.
  bool systemSettingsInstalled = true;
  std::set<std::string> refusedLocations;
  bool systemSettingsRunning = false;
  std::string systemSettingsShows;  // the last location opened, or kLoginItemsPane
  size_t systemSettingsActivations = 0;
  std::vector<std::string> openedURLs;  // every URL opened, in order

  std::vector<std::string> systemLog;
  std::vector<AlertContent> alerts;  // every alert shown, oldest first
};

}  // namespace padwarden::sim
