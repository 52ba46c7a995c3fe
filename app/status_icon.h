// The two 16 x 16 point status-bar icons, described as drawing steps that each backend
// renders (the Linux build to PNG, a native backend with its own drawing calls). Used by the
// application delegate at launch.
#pragma once

#include <string>

namespace padwarden {

struct IconColour {
  double red, green, blue, alpha;  // calibrated RGB (grey: red = green = blue)
  friend bool operator==(const IconColour&, const IconColour&) = default;
};

struct StatusIconDrawing {
  double width = 16, height = 16;  // points; y grows upwards
  bool isTemplate = false;         // shown in its own colours on any menu bar
  // A rounded rectangle, stroked and not filled.
  double rectX = 1.25, rectY = 1.25, rectWidth = 13.5, rectHeight = 13.5;
  double cornerRadiusX = 2.75, cornerRadiusY = 2.75;
  double lineWidth = 1.35;
  IconColour stroke{};
  // The text, in the system font, centred and then lowered by `textDropY` points: its origin
  // is ((width - w) / 2, (height - h) / 2 - textDropY) for the measured size w x h.
  std::string text = "1";
  double fontSize = 11;
  bool semibold = true;
  double textDropY = 0.5;
  IconColour textColour{};
};

// The on icon (green) or the off icon (grey).
StatusIconDrawing create_status_icon(bool on);

}  // namespace padwarden
