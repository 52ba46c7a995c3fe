// Paints the status-icon drawings to PNG files with cairo, at 1x and 2x. Called by the
// desk's --icons.
#pragma once

#include <string>

#include "platform/status_icon_drawing.h"

namespace padwarden::desk {

// Renders `icon` into a `pixels` x `pixels` image (its 16 points scaled to fit, so 16 is 1x and
// 32 is 2x) on a transparent background and writes it to `path` as PNG, replacing any file
// there in one step. On failure returns false with the reason in `error`; `path` is untouched.
bool write_status_icon_png(const StatusIconDrawing& icon, int pixels, const std::string& path,
                           std::string& error);

// Writes padwarden-{off,on}-{16,32}.png into `folder`, creating it (mode 0755, parents
// included) if it is missing. Fails if `folder` names something that is not a folder.
bool write_status_icons(const std::string& folder, std::string& error);

}  // namespace padwarden::desk
