// The shared application on AppKit: NSApplication with its delegate, the status bar item and
// its menu, the status icons and modal alerts. Created once by the macOS main; nothing of
// AppKit is touched before setDelegate (main takes its lock first). The program's delegate is
// held weakly, as AppKit holds its own.
#pragma once

#include <memory>

#include "platform/application.h"
#include "platform/termination_gate.h"

namespace padwarden::macos {

class MacApplication final : public Application {
 public:
  MacApplication();
  ~MacApplication() override;

  void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) override;
  // [NSApp run]. AppKit ends the process itself once a termination has been answered "now",
  // so this returns only if the event loop is stopped some other way.
  void run() override;
  // A request made while another is being answered (from main-queue work inside the quit
  // alert, say) is held and made again once that answer was to cancel: a quit is never lost.
  void terminate() override;

  StatusItemRef statusItemWithLength(double length) override;
  ImageRef imageWithDrawing(const StatusIconDrawing& drawing) override;
  MenuRef menuWithTitle(std::string title) override;
  MenuItemRef menuItemWithTitle(std::string title, MenuAction action,
                                std::string keyEquivalent) override;
  MenuItemRef separatorItem() override;
  // NSAlert's runModal. While it is up, main-queue work items run (and may call terminate,
  // see above); timers and HID callbacks wait in the default mode until it returns.
  size_t runModalAlert(const AlertContent& alert) override;

  // What AppKit's delegate callbacks pass on to the program's delegate.
  void didFinishLaunching();
  NSApplicationTerminateReply shouldTerminate();
  void willTerminate();

 private:
  struct Objects;
  std::unique_ptr<Objects> objects_;
  std::weak_ptr<ApplicationDelegate> delegate_;
  TerminationGate gate_;
};

}  // namespace padwarden::macos
