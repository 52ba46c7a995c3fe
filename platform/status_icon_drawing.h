// A status-bar icon described as drawing steps (a stroked rounded rectangle and one line of
// text) that each backend renders: the simulated one keeps it, the Linux desk paints it to PNG,
// the native one draws it with AppKit. The application describes its icons with it.
#pragma once

#include <string>

namespace padwarden {

struct IconColour {
  // Calibrated RGB; a grey (red = green = blue) is the calibrated white of that level, and
  // a backend with both colour kinds draws it as such.
  double red, green, blue, alpha;
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

}  // namespace padwarden
