// The two status icons differ only in colour; both keep their colours on any menu bar.
#include "app/status_icon.h"

#include <gtest/gtest.h>

namespace padwarden {
namespace {

TEST(StatusIcon, OnIsGreenOffIsGreySameShape) {
  const StatusIconDrawing on = create_status_icon(true);
  const StatusIconDrawing off = create_status_icon(false);
  EXPECT_EQ(on.stroke, (IconColour{0.23, 0.88, 0.43, 1.0}));
  EXPECT_EQ(on.textColour, (IconColour{0.39, 0.96, 0.54, 1.0}));
  EXPECT_EQ(off.stroke, (IconColour{0.42, 0.42, 0.42, 1.0}));
  EXPECT_EQ(off.textColour, (IconColour{0.68, 0.68, 0.68, 1.0}));
  for (const StatusIconDrawing& icon : {on, off}) {
    EXPECT_FALSE(icon.isTemplate);
    EXPECT_EQ(icon.text, "1");
    EXPECT_DOUBLE_EQ(icon.lineWidth, 1.35);
    // The stroked frame stays inside the 16-point square, line width included.
    EXPECT_GE(icon.rectX - icon.lineWidth / 2, 0.0);
    EXPECT_LE(icon.rectX + icon.rectWidth + icon.lineWidth / 2, icon.width);
  }
}

}  // namespace
}  // namespace padwarden
