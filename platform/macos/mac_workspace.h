// The shared workspace on AppKit: sleep and wake notifications, URL opening and running
// applications (System Settings, brought forward). Created once by the macOS main.
#pragma once

#include <memory>

#include "platform/application.h"

namespace padwarden::macos {

class MacWorkspace final : public Workspace {
 public:
  MacWorkspace();
  ~MacWorkspace() override;
  // Handlers run on the main queue, in any run-loop mode.
  void addObserver(const void* observer, WorkspaceNotification name,
                   std::function<void()> handler) override;
  void removeObserver(const void* observer) override;
  bool openURL(const std::string& url) override;
  std::vector<RunningApplicationRef> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier) override;

 private:
  struct Observations;
  std::unique_ptr<Observations> observations_;
};

}  // namespace padwarden::macos
