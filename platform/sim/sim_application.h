// One program process's application framework on the simulated machine: the shared
// application (delegate, launch, termination, status items, menus, images, alerts), its view
// of the workspace, the login-item service and the process environment. Owned by the Process;
// the World posts sleep and wake to it, and tests and the desk read its status item and choose
// menu items through it. Machine-wide state (login items, System Settings, the log) lives in
// the Desktop.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/application.h"
#include "platform/sim/desktop.h"

namespace padwarden::sim {

class SimStatusItem;

// The platform's automatic item enabling decides what can be chosen: every item with a command,
// whatever enabled flag the program set (the flag is what a refresh recorded); items without a
// command cannot be chosen.
enum class MenuChoice { Chosen, DisplayOnly, NotFound };

class SimApplication final : public Application,
                             public Workspace,
                             public LoginItemService,
                             public ProcessEnvironment {
 public:
  // `exitProcess` ends the process normally (preferences saved); called by terminate.
  SimApplication(Desktop& desktop, std::vector<std::string> arguments,
                 std::function<void()> exitProcess);
  ~SimApplication() override;

  ApplicationPlatform platform() { return {*this, *this, *this, *this}; }

  // Application.
  void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) override;
  void run() override;
  void terminate() override;
  StatusItemRef statusItemWithLength(double length) override;
  ImageRef imageWithDrawing(const StatusIconDrawing& drawing) override;
  MenuRef menuWithTitle(std::string title) override;
  MenuItemRef menuItemWithTitle(std::string title, MenuAction action,
                                std::string keyEquivalent) override;
  MenuItemRef separatorItem() override;
  size_t runModalAlert(const AlertContent& alert) override;

  // Workspace.
  void addObserver(const void* observer, WorkspaceNotification name,
                   std::function<void()> handler) override;
  void removeObserver(const void* observer) override;
  bool openURL(const std::string& url) override;
  std::vector<RunningApplicationRef> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier) override;

  // Login items.
  int status() override;
  bool registerAndReturnError(std::optional<NSError>& error) override;
  bool unregisterAndReturnError(std::optional<NSError>& error) override;
  void openSystemSettingsLoginItems() override;

  // Process environment.
  const std::vector<std::string>& arguments() const override { return arguments_; }
  std::string mainBundlePath() const override { return desktop_.bundlePath; }
  std::string homeDirectory() const override { return desktop_.homeDirectory; }
  std::string stringByStandardizingPath(const std::string& path) const override;
  void NSLog(const std::string& line) override;

  // The world's side.
  void post(WorkspaceNotification name);
  // The user chooses the first item of the status item's menu whose title starts with
  // `titlePrefix`; items without a command are not chosen.
  MenuChoice choose(std::string_view titlePrefix);
  // The process is gone: its status item leaves the menu bar and nothing is observed.
  void processDied();

  bool launched() const { return launched_; }
  size_t terminateRequests() const { return terminateRequests_; }
  // The status item shown in the menu bar, or null.
  const SimStatusItem* statusItem() const;
  // Called after each alert is recorded (the desk prints it).
  std::function<void(const AlertContent&)> onAlert;

 private:
  Desktop& desktop_;
  std::vector<std::string> arguments_;
  std::function<void()> exitProcess_;
  std::weak_ptr<ApplicationDelegate> delegate_;
  std::vector<std::shared_ptr<SimStatusItem>> statusItems_;
  std::multimap<const void*, std::pair<WorkspaceNotification, std::function<void()>>> observers_;
  bool launched_ = false;
  bool alive_ = true;
  size_t terminateRequests_ = 0;
};

// The simulated status item and menu, readable by tests and the desk.
class SimMenuItem final : public MenuItem {
 public:
  SimMenuItem(std::string title, MenuAction action, std::string keyEquivalent, bool separator)
      : title_(std::move(title)),
        action_(std::move(action)),
        keyEquivalent_(std::move(keyEquivalent)),
        separator_(separator) {}
  const std::string& title() const override { return title_; }
  void setTitle(std::string title) override { title_ = std::move(title); }
  bool isEnabled() const override { return enabled_; }
  void setEnabled(bool enabled) override { enabled_ = enabled; }
  const std::optional<std::string>& toolTip() const override { return toolTip_; }
  void setToolTip(std::optional<std::string> toolTip) override { toolTip_ = std::move(toolTip); }
  const std::string& keyEquivalent() const override { return keyEquivalent_; }
  bool isSeparatorItem() const override { return separator_; }
  bool hasAction() const override { return static_cast<bool>(action_); }
  const MenuAction& action() const { return action_; }

 private:
  std::string title_;
  MenuAction action_;
  std::string keyEquivalent_;
  bool separator_;
  bool enabled_ = true;
  std::optional<std::string> toolTip_;
};

class SimMenu final : public Menu {
 public:
  explicit SimMenu(std::string title) : title_(std::move(title)) {}
  const std::string& title() const override { return title_; }
  void addItem(MenuItemRef item) override { items_.push_back(std::move(item)); }
  const std::vector<MenuItemRef>& items() const override { return items_; }

 private:
  std::string title_;
  std::vector<MenuItemRef> items_;
};

class SimImage final : public Image {
 public:
  explicit SimImage(StatusIconDrawing drawing) : drawing_(std::move(drawing)) {}
  const StatusIconDrawing& drawing() const override { return drawing_; }

 private:
  StatusIconDrawing drawing_;
};

class SimStatusBarButton final : public StatusBarButton {
 public:
  void setImage(ImageRef image) override { image_ = std::move(image); }
  const ImageRef& image() const override { return image_; }
  void setImageScaling(int scaling) override { imageScaling_ = scaling; }
  void setToolTip(std::optional<std::string> toolTip) override { toolTip_ = std::move(toolTip); }
  int imageScaling() const { return imageScaling_; }
  const std::optional<std::string>& toolTip() const { return toolTip_; }

 private:
  ImageRef image_;
  int imageScaling_ = 0;
  std::optional<std::string> toolTip_;
};

class SimStatusItem final : public StatusItem {
 public:
  explicit SimStatusItem(double length) : length_(length) {}
  StatusBarButton& button() override { return button_; }
  void setMenu(MenuRef menu) override { menu_ = std::move(menu); }
  const SimStatusBarButton& simButton() const { return button_; }
  const MenuRef& menu() const { return menu_; }
  double length() const { return length_; }

 private:
  double length_;
  SimStatusBarButton button_;
  MenuRef menu_;
};

}  // namespace padwarden::sim
