// The application's two status-bar icons, green while the logical Num Lock is on and grey
// while it is off. Drawn once by the application delegate at launch.
#pragma once

#include "platform/status_icon_drawing.h"

namespace padwarden {

// The on icon (green) or the off icon (grey).
StatusIconDrawing create_status_icon(bool on);

}  // namespace padwarden
