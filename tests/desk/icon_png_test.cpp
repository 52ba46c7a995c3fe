// The status icons as the desk's tray sees them: PNG files read back pixel by pixel. The frame
// must land on its ring in the stroke colour and the digit be centred, half a point lower (the
// drawing's y axis points up), in the text colour; failures must say why and leave no debris.
#include "desk/icon_png.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "app/status_icon.h"

// fontconfig, loaded by cairo for the digit, leaks a fixed 651 bytes the first time it reads
// its configuration (however many icons are drawn); LeakSanitizer reads this list at exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace padwarden::desk {
namespace {

namespace fs = std::filesystem;

struct Pixel {
  int r, g, b, a;  // 0..255, alpha not premultiplied
  bool near(const IconColour& c, int tolerance) const {
    return std::abs(r - c.red * 255) <= tolerance && std::abs(g - c.green * 255) <= tolerance &&
           std::abs(b - c.blue * 255) <= tolerance;
  }
};

Pixel pixel_at(cairo_surface_t* image, int x, int y) {
  const unsigned char* row =
      cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
  const uint32_t argb = reinterpret_cast<const uint32_t*>(row)[x];
  const int a = static_cast<int>(argb >> 24);
  const auto straight = [a](uint32_t c) { return a == 0 ? 0 : int((c & 0xff) * 255 / a); };
  return {straight(argb >> 16), straight(argb >> 8), straight(argb), a};
}

class IconPngTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "padwarden-icons-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// One row per state and size; `ring` is the row or column that the 1.35-point line centred
// 1.25 points in covers (nearly) whole.
TEST_F(IconPngTest, FrameAndDigitLandInTheirColoursAtBothScales) {
  std::string error;
  const fs::path folder = dir_ / "made" / "here";  // missing folders are created
  ASSERT_TRUE(write_status_icons(folder.string(), error)) << error;
  const struct {
    const char* name;
    bool on;
    int pixels, ring;
  } cases[] = {{"off-16", false, 16, 1}, {"off-32", false, 32, 2}, {"on-16", true, 16, 1},
               {"on-32", true, 32, 2}};
  for (const auto& [name, on, pixels, ring] : cases) {
    SCOPED_TRACE(name);
    const StatusIconDrawing icon = create_status_icon(on);
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> image(
        cairo_image_surface_create_from_png(
            (folder / (std::string("padwarden-") + name + ".png")).c_str()),
        cairo_surface_destroy);
    ASSERT_EQ(cairo_image_surface_get_width(image.get()), pixels);  // 0 when unreadable
    ASSERT_EQ(cairo_image_surface_get_height(image.get()), pixels);
    const auto at = [&](int x, int y) { return pixel_at(image.get(), x, y); };
    const int last = pixels - 1, mid = pixels / 2;
    EXPECT_EQ(at(0, 0).a + at(last, 0).a + at(0, last).a + at(last, last).a, 0) << "corners";
    for (const auto& [x, y] :
         {std::pair{mid, ring}, {mid, last - ring}, {ring, mid}, {last - ring, mid}}) {
      const Pixel p = at(x, y);
      EXPECT_TRUE(p.a >= 200 && p.near(icon.stroke, 4))
          << x << "," << y << ": " << p.r << " " << p.g << " " << p.b << " " << p.a;
    }
    // The digit's ink inside the frame: its bounding box, and a pixel in the text colour.
    int top = pixels, bottom = -1, left = pixels, right = -1;
    bool text_coloured = false;
    for (int y = 2 * ring + 1; y < last - 2 * ring; ++y) {
      for (int x = 2 * ring + 1; x < last - 2 * ring; ++x) {
        const Pixel p = at(x, y);
        if (p.a == 0) continue;
        top = std::min(top, y), bottom = std::max(bottom, y);
        left = std::min(left, x), right = std::max(right, x);
        text_coloured |= p.a >= 160 && p.near(icon.textColour, 6);
      }
    }
    EXPECT_TRUE(text_coloured);
    EXPECT_NEAR((left + right + 1) / 2.0, mid, 0.75 * ring);
    EXPECT_NEAR((top + bottom + 1) / 2.0, mid + 0.5 * ring, 0.5 * ring);
  }
}

// The folder's own failures are checked through the program by command_line_test.sh.
TEST_F(IconPngTest, FailuresSayWhyAndLeaveNoDebris) {
  fs::create_directory(dir_ / "folder");
  const struct {
    fs::path path;
    int pixels;
  } bad_pngs[] = {{dir_ / "missing" / "icon.png", 16}, {dir_ / "folder", 16}, {dir_ / "z.png", 0}};
  for (const auto& [path, pixels] : bad_pngs) {
    std::string error;
    EXPECT_FALSE(write_status_icon_png(create_status_icon(true), pixels, path.string(), error));
    EXPECT_NE(error.find(pixels ? path.string() : "0 pixels"), std::string::npos) << error;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);  // only the test's own folder
  EXPECT_TRUE(fs::is_empty(dir_ / "folder"));
}

}  // namespace
}  // namespace padwarden::desk
