// The status item, its button and menu, menu items whose target calls the item's action, and
// the status icons drawn into NSImages. Made by MacApplication only.
#pragma once

#ifdef __OBJC__
#import <AppKit/AppKit.h>
#endif

#include "platform/application.h"

namespace padwarden::macos {

StatusItemRef make_status_item(double length);
MenuRef make_menu(std::string title);
MenuItemRef make_menu_item(std::string title, MenuAction action, std::string keyEquivalent);
MenuItemRef make_separator_item();
// The icon at 1x and 2x (16 and 32 pixels square), each drawn once.
ImageRef make_status_icon(const StatusIconDrawing& drawing);

#ifdef __OBJC__
// The NSImage behind an image of make_status_icon, or nil.
NSImage* ns_image(const ImageRef& image);
#endif

}  // namespace padwarden::macos
