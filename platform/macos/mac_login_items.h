// The login-item service on ServiceManagement: SMAppService's main application service.
// Created once by the macOS main.
#pragma once

#include "platform/application.h"

namespace padwarden::macos {

class MacLoginItems final : public LoginItemService {
 public:
  int status() override;
  bool registerAndReturnError(std::optional<NSError>& error) override;
  bool unregisterAndReturnError(std::optional<NSError>& error) override;
  void openSystemSettingsLoginItems() override;
};

}  // namespace padwarden::macos
