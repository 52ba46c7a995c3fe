// The status item, its icons and menu, the menu refresh from the controller's state and the
// commands that act on the controller.
#include "app/app_texts.h"
#include "app/menu_state.h"
#include "app/padwarden_app_delegate.h"
#include "app/status_icon.h"

namespace padwarden {

void PadwardenAppDelegate::buildStatusItem() {
  Application& app = _app.application;
  _statusItem = app.statusItemWithLength(NSVariableStatusItemLength);
  _statusIconOff = app.imageWithDrawing(create_status_icon(false));
  _statusIconOn = app.imageWithDrawing(create_status_icon(true));
  StatusBarButton& button = _statusItem->button();
  button.setImage(_statusIconOff);
  button.setImageScaling(NSImageScaleProportionallyUpOrDown);
  button.setToolTip(std::string(app_texts::kStatusToolTip));

  _menu = app.menuWithTitle(app_texts::kMenuTitle);
  _modeItem = itemWithTitle(app_texts::kModeItem, &PadwardenAppDelegate::toggleMode);
  _effectiveModeItem = itemWithTitle(app_texts::kEffectiveModeItem, nullptr);
  _connectionItem = itemWithTitle(app_texts::kConnectionItem, nullptr);
  _mappingItem = itemWithTitle(app_texts::kMappingItem, nullptr);
  _menu->addItem(_modeItem);
  _menu->addItem(_effectiveModeItem);
  _menu->addItem(_connectionItem);
  _menu->addItem(_mappingItem);
  _menu->addItem(app.separatorItem());
  _enabledItem = itemWithTitle(app_texts::kEnabledItem, &PadwardenAppDelegate::toggleEnabled);
  _menu->addItem(_enabledItem);
  _permissionItem =
      itemWithTitle(app_texts::kPermissionItem, &PadwardenAppDelegate::requestPermission);
  _menu->addItem(_permissionItem);
  _loginItem = itemWithTitle(app_texts::kLoginItem, &PadwardenAppDelegate::toggleLogin);
  _menu->addItem(_loginItem);
  _menu->addItem(app.separatorItem());
  _menu->addItem(itemWithTitle(app_texts::kQuitItem, &PadwardenAppDelegate::quit));
  _statusItem->setMenu(_menu);
}

MenuItemRef PadwardenAppDelegate::itemWithTitle(std::string title,
                                                void (PadwardenAppDelegate::*action)()) {
  MenuAction command;
  if (action) {
    // Menu items hold their target weakly.
    command = [weakSelf = weak_from_this(), action] {
      if (auto self = weakSelf.lock()) ((*self).*action)();
    };
  }
  return _app.application.menuItemWithTitle(std::move(title), std::move(command), "");
}

void PadwardenAppDelegate::refreshMenu() {
  if (!_controller || !_statusItem) return;
  const MenuState state = menu_state_for(ControllerView::of(*_controller));
  _statusItem->button().setImage(state.iconOn ? _statusIconOn : _statusIconOff);
  _modeItem->setTitle(state.modeTitle);
  _modeItem->setEnabled(state.modeEnabled);
  _effectiveModeItem->setTitle(state.effectiveModeTitle);
  _connectionItem->setTitle(state.connectionTitle);
  _mappingItem->setTitle(state.mappingTitle);
  _enabledItem->setTitle(state.enabledTitle);
  _enabledItem->setEnabled(state.enabledEnabled);
  _permissionItem->setTitle(state.permissionTitle);
  _permissionItem->setEnabled(state.permissionEnabled);
  _loginItem->setTitle(loginTitle());
  std::optional<std::string> toolTip = state.mappingToolTip;
  if (std::optional<std::string> notice = unsavedSettingsNotice()) {
    toolTip = toolTip ? *toolTip + " " + *notice : *notice;
  }
  _mappingItem->setToolTip(std::move(toolTip));
}

std::optional<std::string> PadwardenAppDelegate::unsavedSettingsNotice() {
  if (!_preferences.failing()) return std::nullopt;
  std::string notice = std::string(app_texts::kSettingsCannotBeSaved) + _preferences.location() + ".";
  if (!_toldUnsavedSettings) {
    _toldUnsavedSettings = true;
    _app.environment.NSLog(notice);
  }
  return notice;
}

void PadwardenAppDelegate::toggleMode() {
  if (_controller) _controller->toggleLogicalNumLock();
  refreshMenu();
}

void PadwardenAppDelegate::toggleEnabled() {
  if (_controller) _controller->setEnabled(!_controller->isEnabled());
  refreshMenu();
}

void PadwardenAppDelegate::requestPermission() {
  requestInputMonitoringAccess();
  refreshMenu();
}

}  // namespace padwarden
