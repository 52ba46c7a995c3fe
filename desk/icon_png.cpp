#include "desk/icon_png.h"

#include <cairo.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/status_icon.h"

namespace padwarden::desk {
namespace {

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

void set_colour(cairo_t* cr, const IconColour& c) {
  cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha);
}

// A rounded rectangle in cairo's (y-down) user space; radii larger than half a side are clamped
// so the corners meet instead of crossing.
void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double rx, double ry) {
  rx = std::min(rx, w / 2);
  ry = std::min(ry, h / 2);
  if (rx <= 0 || ry <= 0) {
    cairo_rectangle(cr, x, y, w, h);
    return;
  }
  const double pi = 3.14159265358979323846;
  struct Corner {
    double cx, cy, from;
  };
  const Corner corners[] = {{x + w - rx, y + ry, -pi / 2},
                            {x + w - rx, y + h - ry, 0},
                            {x + rx, y + h - ry, pi / 2},
                            {x + rx, y + ry, pi}};
  cairo_new_sub_path(cr);
  for (const Corner& corner : corners) {
    // The path is kept in device space, so the scaling only shapes this arc into an ellipse.
    cairo_save(cr);
    cairo_translate(cr, corner.cx, corner.cy);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, corner.from, corner.from + pi / 2);
    cairo_restore(cr);
  }
  cairo_close_path(cr);
}

void paint(cairo_t* cr, const StatusIconDrawing& icon) {
  // The drawing's y axis points up and cairo's down. The flip is applied to the coordinates
  // (y' = height - y) rather than through a mirrored matrix, which would draw the text upside
  // down.
  const auto flip = [&](double y) { return icon.height - y; };

  rounded_rect(cr, icon.rectX, flip(icon.rectY + icon.rectHeight), icon.rectWidth, icon.rectHeight,
               icon.cornerRadiusX, icon.cornerRadiusY);
  set_colour(cr, icon.stroke);
  cairo_set_line_width(cr, icon.lineWidth);
  cairo_stroke(cr);

  // The toy font API has no semibold; bold is the nearest weight it offers.
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                         icon.semibold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, icon.fontSize);
  cairo_text_extents_t ink;
  cairo_text_extents(cr, icon.text.c_str(), &ink);
  // The measured size is the ink box, not the advance and line height: a "1" has wide, uneven
  // side bearings and the line height carries descender room it never uses, so centring those
  // would leave the digit visibly off centre. The ink box's lower-left corner goes where the
  // drawing puts the text's origin.
  const double left = (icon.width - ink.width) / 2;
  const double bottom = (icon.height - ink.height) / 2 - icon.textDropY;
  const double top = flip(bottom + ink.height);
  cairo_move_to(cr, left - ink.x_bearing, top - ink.y_bearing);
  set_colour(cr, icon.textColour);
  cairo_show_text(cr, icon.text.c_str());
}

cairo_status_t write_to_file(void* file, const unsigned char* data, unsigned int length) {
  return std::fwrite(data, 1, length, static_cast<std::FILE*>(file)) == length
             ? CAIRO_STATUS_SUCCESS
             : CAIRO_STATUS_WRITE_ERROR;
}

}  // namespace

bool write_status_icon_png(const StatusIconDrawing& icon, int pixels, const std::string& path,
                           std::string& error) {
  if (pixels <= 0 || icon.width <= 0 || icon.height <= 0) {
    error = "cannot draw a status icon at " + std::to_string(pixels) + " pixels";
    return false;
  }
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixels, pixels),
                  cairo_surface_destroy);
  Context cr(cairo_create(surface.get()), cairo_destroy);
  // A new image surface is fully transparent, so only the frame and the text are painted.
  cairo_scale(cr.get(), pixels / icon.width, pixels / icon.height);
  cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  // Unhinted, so the text is measured and placed the same way at 1x and 2x.
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(cr.get(), options);
  cairo_font_options_destroy(options);
  paint(cr.get(), icon);
  cairo_surface_flush(surface.get());
  if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
    error = std::string("cannot draw the status icon: ") +
            cairo_status_to_string(cairo_status(cr.get()));
    return false;
  }

  // Written beside the target and renamed over it, so a reader never sees half an image.
  const std::string partial = path + ".partial";
  std::FILE* file = std::fopen(partial.c_str(), "wb");
  if (file == nullptr) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  const cairo_status_t written =
      cairo_surface_write_to_png_stream(surface.get(), write_to_file, file);
  const bool closed = std::fclose(file) == 0;
  if (written != CAIRO_STATUS_SUCCESS || !closed ||
      std::rename(partial.c_str(), path.c_str()) != 0) {
    error =
        "cannot write " + path + ": " +
        (written != CAIRO_STATUS_SUCCESS ? cairo_status_to_string(written) : std::strerror(errno));
    std::remove(partial.c_str());
    return false;
  }
  return true;
}

bool write_status_icons(const std::string& folder, std::string& error) {
  namespace fs = std::filesystem;
  // Each missing folder on the way is made with mode 0755 (umask permitting). A file on the way
  // fails the next mkdir with ENOTDIR; a file at `folder` itself only gives EEXIST, so it is
  // caught by the check after the loop.
  fs::path sofar;
  for (const fs::path& part : fs::path(folder)) {
    sofar /= part;
    if (::mkdir(sofar.c_str(), 0755) != 0 && errno != EEXIST) {
      error = "cannot create the folder " + sofar.string() + ": " + std::strerror(errno);
      return false;
    }
  }
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    error = "cannot write the status icons into " + folder + ": it is not a folder";
    return false;
  }
  for (const bool on : {false, true}) {
    for (const int pixels : {16, 32}) {
      const std::string name =
          std::string("padwarden-") + (on ? "on" : "off") + "-" + std::to_string(pixels) + ".png";
      if (!write_status_icon_png(create_status_icon(on), pixels, (fs::path(folder) / name).string(),
                                 error)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace padwarden::desk
