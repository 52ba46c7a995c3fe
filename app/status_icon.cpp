#include "app/status_icon.h"

namespace padwarden {

StatusIconDrawing create_status_icon(bool on) {
  StatusIconDrawing icon;
  if (on) {
    icon.stroke = {0.23, 0.88, 0.43, 1.0};
    icon.textColour = {0.39, 0.96, 0.54, 1.0};
  } else {
    icon.stroke = {0.42, 0.42, 0.42, 1.0};
    icon.textColour = {0.68, 0.68, 0.68, 1.0};
  }
  return icon;
}

}  // namespace padwarden
