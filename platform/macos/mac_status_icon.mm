// The status icons: the shared icon description drawn into an NSImage of 16 x 16 points with
// one bitmap at 1x and one at 2x, each drawn once.
#import <AppKit/AppKit.h>

#include "platform/macos/mac_menus.h"
#include "platform/macos/ns_text.h"

namespace padwarden::macos {

class MacImage final : public Image {
 public:
  MacImage(StatusIconDrawing drawing, NSImage* image)
      : drawing_(std::move(drawing)), image_(image) {}
  const StatusIconDrawing& drawing() const override { return drawing_; }
  NSImage* image() const { return image_; }

 private:
  StatusIconDrawing drawing_;
  NSImage* image_;
};

NSImage* ns_image(const ImageRef& image) {
  auto* native = dynamic_cast<MacImage*>(image.get());
  return native ? native->image() : nil;
}

namespace {

// The description's greys (red = green = blue) are calibrated whites.
NSColor* ns_colour(const IconColour& colour) {
  if (colour.red == colour.green && colour.green == colour.blue) {
    return [NSColor colorWithCalibratedWhite:colour.red alpha:colour.alpha];
  }
  return [NSColor colorWithCalibratedRed:colour.red
                                   green:colour.green
                                    blue:colour.blue
                                   alpha:colour.alpha];
}

void draw_icon(const StatusIconDrawing& icon) {
  NSBezierPath* frame = [NSBezierPath
      bezierPathWithRoundedRect:NSMakeRect(icon.rectX, icon.rectY, icon.rectWidth, icon.rectHeight)
                        xRadius:icon.cornerRadiusX
                        yRadius:icon.cornerRadiusY];
  frame.lineWidth = icon.lineWidth;
  [ns_colour(icon.stroke) setStroke];
  [frame stroke];

  NSFont* font =
      [NSFont systemFontOfSize:icon.fontSize
                        weight:icon.semibold ? NSFontWeightSemibold : NSFontWeightRegular];
  NSDictionary* attributes = @{
    NSFontAttributeName : font,
    NSForegroundColorAttributeName : ns_colour(icon.textColour),
  };
  NSString* text = ns_string(icon.text);
  const NSSize size = [text sizeWithAttributes:attributes];
  [text drawAtPoint:NSMakePoint((icon.width - size.width) / 2,
                                (icon.height - size.height) / 2 - icon.textDropY)
      withAttributes:attributes];
}

// One bitmap of the icon at `scale` pixels per point. It is drawn in pixel units scaled by
// hand, and only then given its size in points, so no scale is left to AppKit's guess.
NSBitmapImageRep* icon_bitmap(const StatusIconDrawing& icon, int scale) {
  const NSInteger wide = static_cast<NSInteger>(icon.width * scale);
  const NSInteger high = static_cast<NSInteger>(icon.height * scale);
  NSBitmapImageRep* bitmap =
      [[NSBitmapImageRep alloc] initWithBitmapDataPlanes:nullptr
                                              pixelsWide:wide
                                              pixelsHigh:high
                                           bitsPerSample:8
                                         samplesPerPixel:4
                                                hasAlpha:YES
                                                isPlanar:NO
                                          colorSpaceName:NSCalibratedRGBColorSpace
                                             bytesPerRow:0
                                            bitsPerPixel:0];
  if (!bitmap) return nil;
  NSGraphicsContext* context = [NSGraphicsContext graphicsContextWithBitmapImageRep:bitmap];
  if (!context) return nil;
  [NSGraphicsContext saveGraphicsState];
  NSGraphicsContext.currentContext = context;
  NSAffineTransform* toPixels = [NSAffineTransform transform];
  [toPixels scaleBy:scale];
  [toPixels concat];
  draw_icon(icon);
  [context flushGraphics];
  [NSGraphicsContext restoreGraphicsState];
  bitmap.size = NSMakeSize(icon.width, icon.height);
  return bitmap;
}

}  // namespace

ImageRef make_status_icon(const StatusIconDrawing& drawing) {
  NSImage* image = [[NSImage alloc] initWithSize:NSMakeSize(drawing.width, drawing.height)];
  for (int scale : {1, 2}) {
    if (NSBitmapImageRep* bitmap = icon_bitmap(drawing, scale)) [image addRepresentation:bitmap];
  }
  [image setTemplate:drawing.isTemplate];
  return std::make_shared<MacImage>(drawing, image);
}

}  // namespace padwarden::macos
