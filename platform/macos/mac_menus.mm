// The status item, its button and menu, and menu items whose target calls the item's action.
// The menu keeps AppKit's automatic item enabling: an item with an action is enabled (and can
// be chosen) whatever flag the program set, one without is shown disabled. The program's flag
// is recorded and reported back, as on the simulated platform.
#import <AppKit/AppKit.h>

#include "platform/macos/mac_menus.h"
#include "platform/macos/ns_text.h"

// The target of one menu item: choosing the item calls its action.
@interface PWMenuTarget : NSObject
- (instancetype)initWithAction:(padwarden::MenuAction)action;
- (void)choose:(id)sender;
@end

@implementation PWMenuTarget {
  padwarden::MenuAction _action;
}

- (instancetype)initWithAction:(padwarden::MenuAction)action {
  if ((self = [super init])) _action = std::move(action);
  return self;
}

- (void)choose:(id)sender {
  (void)sender;
  const padwarden::MenuAction action = _action;  // survives a menu rebuilt by the action
  if (action) action();
}

@end

namespace padwarden::macos {

namespace {

class MacMenuItem final : public MenuItem {
 public:
  MacMenuItem(NSMenuItem* item, PWMenuTarget* target, std::string title, std::string keyEquivalent)
      : item_(item),
        target_(target),
        title_(std::move(title)),
        keyEquivalent_(std::move(keyEquivalent)) {}

  const std::string& title() const override { return title_; }
  void setTitle(std::string title) override {
    title_ = std::move(title);
    item_.title = ns_string(title_);
  }
  bool isEnabled() const override { return enabled_; }
  void setEnabled(bool enabled) override {
    enabled_ = enabled;
    item_.enabled = enabled;  // overridden by automatic enabling while the menu is shown
  }
  const std::optional<std::string>& toolTip() const override { return toolTip_; }
  void setToolTip(std::optional<std::string> toolTip) override {
    toolTip_ = std::move(toolTip);
    item_.toolTip = toolTip_ ? ns_string(*toolTip_) : nil;
  }
  const std::string& keyEquivalent() const override { return keyEquivalent_; }
  bool isSeparatorItem() const override { return item_.separatorItem; }
  bool hasAction() const override { return target_ != nil; }
  NSMenuItem* item() const { return item_; }

 private:
  NSMenuItem* item_;
  PWMenuTarget* target_;  // the item holds its target weakly; this keeps it
  std::string title_;
  std::string keyEquivalent_;
  bool enabled_ = true;
  std::optional<std::string> toolTip_;
};

class MacMenu final : public Menu {
 public:
  explicit MacMenu(std::string title)
      : menu_([[NSMenu alloc] initWithTitle:ns_string(title)]), title_(std::move(title)) {}
  const std::string& title() const override { return title_; }
  void addItem(MenuItemRef item) override {
    auto* native = dynamic_cast<MacMenuItem*>(item.get());
    if (!native) return;
    [menu_ addItem:native->item()];
    items_.push_back(std::move(item));
  }
  const std::vector<MenuItemRef>& items() const override { return items_; }
  NSMenu* menu() const { return menu_; }

 private:
  NSMenu* menu_;
  std::string title_;
  std::vector<MenuItemRef> items_;
};

class MacStatusBarButton final : public StatusBarButton {
 public:
  explicit MacStatusBarButton(NSStatusItem* item) : item_(item) {}
  void setImage(ImageRef image) override {
    image_ = std::move(image);
    item_.button.image = ns_image(image_);
  }
  const ImageRef& image() const override { return image_; }
  void setImageScaling(int scaling) override {
    item_.button.imageScaling = static_cast<NSImageScaling>(scaling);
  }
  void setToolTip(std::optional<std::string> toolTip) override {
    item_.button.toolTip = toolTip ? ns_string(*toolTip) : nil;
  }

 private:
  NSStatusItem* item_;
  ImageRef image_;
};

class MacStatusItem final : public StatusItem {
 public:
  explicit MacStatusItem(NSStatusItem* item) : item_(item), button_(item) {}
  ~MacStatusItem() override { [[NSStatusBar systemStatusBar] removeStatusItem:item_]; }
  StatusBarButton& button() override { return button_; }
  void setMenu(MenuRef menu) override {
    auto* native = dynamic_cast<MacMenu*>(menu.get());
    item_.menu = native ? native->menu() : nil;
    menu_ = std::move(menu);
  }

 private:
  NSStatusItem* item_;
  MacStatusBarButton button_;
  MenuRef menu_;
};

}  // namespace

StatusItemRef make_status_item(double length) {
  NSStatusItem* item = [[NSStatusBar systemStatusBar] statusItemWithLength:length];
  return std::make_shared<MacStatusItem>(item);
}

MenuRef make_menu(std::string title) { return std::make_shared<MacMenu>(std::move(title)); }

MenuItemRef make_menu_item(std::string title, MenuAction action, std::string keyEquivalent) {
  PWMenuTarget* target = action ? [[PWMenuTarget alloc] initWithAction:std::move(action)] : nil;
  NSMenuItem* item = [[NSMenuItem alloc] initWithTitle:ns_string(title)
                                                action:target ? @selector(choose:) : nil
                                         keyEquivalent:ns_string(keyEquivalent)];
  item.target = target;
  return std::make_shared<MacMenuItem>(item, target, std::move(title), std::move(keyEquivalent));
}

MenuItemRef make_separator_item() {
  return std::make_shared<MacMenuItem>([NSMenuItem separatorItem], nil, "", "");
}

}  // namespace padwarden::macos
