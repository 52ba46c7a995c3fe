// Test bed for the menu-bar application: the controller's test bed, with the program launched
// the way main launches it (the delegate owned by the process, a real controller underneath)
// and readers for the status item and its menu as the user sees them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/padwarden_app_delegate.h"
#include "tests/controller/controller_world.h"

namespace padwarden::testing {

// The menu's lines, by position: the order is part of what the user sees.
enum MenuLine : size_t {
  kModeLine = 0,
  kKeypadLine = 1,
  kConnectionLine = 2,
  kMappingLine = 3,
  kFirstSeparator = 4,
  kEnableLine = 5,
  kPermissionLine = 6,
  kLoginLine = 7,
  kSecondSeparator = 8,
  kQuitLine = 9,
};

// The fixture's own `controller` stays empty: the delegate owns the program's controller.
class AppWorld : public ControllerWorld {
 public:
  // Starts the program as main does and finishes launching, without running anything queued.
  sim::Process& launch(const std::vector<std::string>& arguments = {});
  // Launches and runs what is due.
  void start(const std::vector<std::string>& arguments = {});
  // Starts, and lets every plugged keyboard read its first report.
  void startReady(const std::vector<std::string>& arguments = {});

  // The user chooses the first menu line starting with the prefix; then a step.
  sim::MenuChoice choose(std::string_view titlePrefix);

  bool running() { return world.process() != nullptr; }
  std::shared_ptr<PadwardenAppDelegate> delegate() const { return delegate_.lock(); }
  // The last launched process's application; it stays readable (and inert) once it has ended.
  sim::SimApplication& application();
  // The status item in the menu bar, and its menu's lines (the test fails when there is none).
  const sim::SimStatusItem& statusItem();
  const MenuItem& line(size_t index);
  std::string title(size_t index) { return line(index).title(); }

  sim::Desktop& desktop() { return world.desktop(); }
  // How many calls of the platform operation the program has made.
  size_t callsTo(std::string_view op);

 private:
  std::weak_ptr<PadwardenAppDelegate> delegate_;
  sim::Process* process_ = nullptr;  // lives as long as the world
};

}  // namespace padwarden::testing
