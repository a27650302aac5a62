#include "tools/lux/report/polar.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "tools/lux/report/picture.h"
#include "tools/lux/scene/scene.h"

namespace lux {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kHalfCircle = 180.0;
constexpr double kSpokeStep = 30.0;  // degrees between labelled spokes

// Colours of the two planes, as data sheets draw them: the C0–C180 plane
// solid, the C90–C270 plane dashed.
struct Rgb {
  double r, g, b;
};
constexpr Rgb kFirstPlaneColour{0.80, 0.12, 0.10};
constexpr Rgb kSecondPlaneColour{0.10, 0.28, 0.75};
constexpr Rgb kGridColour{0.72, 0.72, 0.72};
constexpr Rgb kTextColour{0.10, 0.10, 0.10};

std::string number_label(double v, double step) {
  int decimals = 0;
  while (decimals < 4 && std::fabs(step * std::pow(10.0, decimals) -
                                   std::round(step * std::pow(10.0, decimals))) > 1e-6)
    ++decimals;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

// Text at (x, y) with its baseline at y; `align` 0 left, 0.5 centred, 1
// right; `middle` puts the text's vertical centre at y instead.
void text(cairo_t* cr, double x, double y, const std::string& s, double size, double align,
          bool middle = false) {
  cairo_set_font_size(cr, size);
  cairo_text_extents_t e;
  cairo_text_extents(cr, s.c_str(), &e);
  const double dy = middle ? -(e.y_bearing + 0.5 * e.height) : 0.0;
  cairo_move_to(cr, x - align * e.x_advance, y + dy);
  cairo_show_text(cr, s.c_str());
}

void set_colour(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

// Where the diagram puts a value `r` (in drawing units from the centre) at
// γ on the right (side +1) or left (side −1) half.
struct Dial {
  double cx, cy, radius, full_scale;
  void point(double gamma_deg, double value, double side, double& x, double& y) const {
    const double r = radius * std::max(0.0, value) / full_scale;
    x = cx + side * r * std::sin(gamma_deg * kDegToRad);
    y = cy + r * std::cos(gamma_deg * kDegToRad);
  }
};

void draw_grid(cairo_t* cr, const Dial& d, const ColourScale& scale, double font, double line) {
  set_colour(cr, kGridColour);
  cairo_set_line_width(cr, 0.6 * line);
  for (double v = scale.step; v <= scale.hi + 1e-9 * scale.hi; v += scale.step) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, d.cx, d.cy, d.radius * v / d.full_scale, 0, 2 * kPi);
  }
  cairo_stroke(cr);
  for (double g = 0; g <= kHalfCircle + 1e-9; g += kSpokeStep)
    for (double side : {-1.0, 1.0}) {
      double x = 0, y = 0;
      d.point(g, d.full_scale, side, x, y);
      cairo_move_to(cr, d.cx, d.cy);
      cairo_line_to(cr, x, y);
    }
  cairo_stroke(cr);

  set_colour(cr, kTextColour);
  for (double g = 0; g <= kHalfCircle + 1e-9; g += kSpokeStep)
    for (double side : {-1.0, 1.0}) {
      if (side < 0 && (g == 0 || g == kHalfCircle)) continue;  // one label on the axis
      double x = 0, y = 0;
      d.point(g, d.full_scale * (1.0 + 1.3 * font / d.radius), side, x, y);
      char label[16];
      std::snprintf(label, sizeof label, "%g\u00b0", g);
      text(cr, x, y, label, 0.85 * font, 0.5, true);
    }
}

// Ring values up the zenith axis, where a downlight's curve leaves room;
// drawn over the curves on a pale ground, so that they stay readable where
// a curve runs up there too.
void draw_ring_labels(cairo_t* cr, const Dial& d, const ColourScale& scale, double font) {
  const double size = 0.75 * font;
  for (double v = scale.step; v <= scale.hi + 1e-9 * scale.hi; v += scale.step) {
    const std::string label = number_label(v, scale.step);
    const double x = d.cx + 0.3 * font, y = d.cy - d.radius * v / d.full_scale - 0.25 * font;
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, label.c_str(), &e);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.8);
    cairo_rectangle(cr, x + e.x_bearing - 0.1 * size, y + e.y_bearing - 0.1 * size,
                    e.width + 0.2 * size, e.height + 0.2 * size);
    cairo_fill(cr);
    set_colour(cr, kTextColour);
    text(cr, x, y, label, size, 0.0);
  }
}

void draw_plane(cairo_t* cr, const Dial& d, const std::vector<double>& gamma,
                const PolarPlane& plane) {
  cairo_new_path(cr);
  double x = 0, y = 0;
  for (size_t k = gamma.size(); k-- > 0;) {
    d.point(gamma[k], plane.left[k], -1.0, x, y);
    cairo_line_to(cr, x, y);
  }
  for (size_t k = 0; k < gamma.size(); ++k) {
    d.point(gamma[k], plane.right[k], 1.0, x, y);
    cairo_line_to(cr, x, y);
  }
  cairo_stroke(cr);
}

std::string plane_name(const PolarPlane& p) {
  char s[48];
  std::snprintf(s, sizeof s, "C%g\u2013C%g", p.c_right, p.c_left);
  return s;
}

void legend_entry(cairo_t* cr, double x, double y, double font, double line, Rgb colour,
                  bool dashed, const std::string& label) {
  set_colour(cr, colour);
  cairo_set_line_width(cr, 1.8 * line);
  const double dash[] = {4 * line, 2.5 * line};
  cairo_set_dash(cr, dash, dashed ? 2 : 0, 0);
  cairo_move_to(cr, x, y);
  cairo_line_to(cr, x + 2.2 * font, y);
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
  set_colour(cr, kTextColour);
  text(cr, x + 2.6 * font, y, label, font, 0.0, true);
}

}  // namespace

double PolarCurves::peak() const {
  double m = 0;
  for (const PolarPlane* p : {&c0_c180, &c90_c270})
    for (const auto* side : {&p->right, &p->left})
      for (double v : *side) m = std::max(m, v);
  return m;
}

PolarCurves polar_curves(const refhost::ProfileTable& table, double scale, double step_deg) {
  PolarCurves c;
  const auto n = static_cast<size_t>(std::lround(kHalfCircle / step_deg));
  for (size_t k = 0; k <= n; ++k) c.gamma.push_back(std::min(kHalfCircle, double(k) * step_deg));
  for (PolarPlane* p : {&c.c0_c180, &c.c90_c270})
    for (double g : c.gamma) {
      p->right.push_back(
          scale * double(refhost::sample_table(table, refhost::profile_direction(g, p->c_right))));
      p->left.push_back(
          scale * double(refhost::sample_table(table, refhost::profile_direction(g, p->c_left))));
    }
  return c;
}

ProfilePolar profile_polar(const PhotometricFile& file, const ProfileSummary& summary,
                           double step_deg) {
  ProfilePolar p;
  char note[160];
  if (file.lamp_flux > 0 && summary.cd_per_klm_scale > 0) {
    p.curves = polar_curves(file.table, summary.cd_per_klm_scale, step_deg);
    std::snprintf(note, sizeof note, "cd/klm of the lamps' %.0f lm", file.lamp_flux);
  } else if (summary.cd_per_klm_scale > 0) {
    p.curves = polar_curves(file.table, summary.cd_per_klm_scale, step_deg);
    p.curves.unit = "cd/klm (luminaire)";
    std::snprintf(note, sizeof note, "absolute file, no lamp flux: cd/klm of its own %.0f lm",
                  summary.flux);
  } else {
    p.curves = polar_curves(file.table, 1.0, step_deg);
    p.curves.unit = "cd";
    std::snprintf(note, sizeof note, "cd as the file gives them (no flux)");
  }
  p.unit_note = note;
  return p;
}

void draw_polar(cairo_t* cr, const PolarCurves& curves, const std::string& title,
                const PolarBox& box) {
  release_font_caches_at_exit();
  cairo_save(cr);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  const double small = std::min(box.width, box.height);
  const double font = std::clamp(small / 30.0, 5.0, 14.0);
  const double line = std::max(0.4, small / 400.0);
  const double title_h = title.empty() ? 0.0 : 1.8 * font;
  const double legend_h = 2.2 * font;
  const double rim = 2.6 * font;  // room for the angle labels outside the dial
  const double diameter =
      std::max(1.0, std::min(box.width - 2 * rim, box.height - title_h - legend_h - 2 * rim));

  const ColourScale scale = nice_scale(0.0, std::max(curves.peak(), 1e-12));
  const Dial dial{box.x + 0.5 * box.width, box.y + title_h + rim + 0.5 * diameter, 0.5 * diameter,
                  scale.hi};

  set_colour(cr, kTextColour);
  if (!title.empty()) text(cr, box.x + 0.5 * box.width, box.y + 1.2 * font, title, font, 0.5);
  draw_grid(cr, dial, scale, font, line);

  // Which half of each plane lies on which side.
  set_colour(cr, kTextColour);
  const double side_y = dial.cy - dial.radius - 0.6 * rim;
  const std::string left = "C" + number_label(curves.c0_c180.c_left, 1) + " / C" +
                           number_label(curves.c90_c270.c_left, 1);
  const std::string right = "C" + number_label(curves.c0_c180.c_right, 1) + " / C" +
                            number_label(curves.c90_c270.c_right, 1);
  text(cr, dial.cx - dial.radius, side_y, left, 0.8 * font, 0.0);
  text(cr, dial.cx + dial.radius, side_y, right, 0.8 * font, 1.0);

  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  set_colour(cr, kFirstPlaneColour);
  cairo_set_line_width(cr, 1.8 * line);
  draw_plane(cr, dial, curves.gamma, curves.c0_c180);
  set_colour(cr, kSecondPlaneColour);
  const double dash[] = {4 * line, 2.5 * line};
  cairo_set_dash(cr, dash, 2, 0);
  draw_plane(cr, dial, curves.gamma, curves.c90_c270);
  cairo_set_dash(cr, nullptr, 0, 0);
  draw_ring_labels(cr, dial, scale, font);

  const double legend_y = box.y + box.height - 0.5 * legend_h;
  const double quarter = 0.25 * box.width;
  legend_entry(cr, box.x + 0.04 * box.width, legend_y, 0.85 * font, line, kFirstPlaneColour, false,
               plane_name(curves.c0_c180));
  legend_entry(cr, box.x + 0.04 * box.width + 1.35 * quarter, legend_y, 0.85 * font, line,
               kSecondPlaneColour, true, plane_name(curves.c90_c270));
  set_colour(cr, kTextColour);
  text(cr, box.x + 0.96 * box.width, legend_y, curves.unit, 0.85 * font, 1.0, true);
  cairo_restore(cr);
}

std::optional<PolarFormat> polar_format_named(const std::string& name) {
  std::string ext = name;
  if (const size_t dot = ext.rfind('.'); dot != std::string::npos) ext = ext.substr(dot + 1);
  for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (ext == "png") return PolarFormat::Png;
  if (ext == "svg") return PolarFormat::Svg;
  if (ext == "pdf") return PolarFormat::Pdf;
  return std::nullopt;
}

void write_polar(const PolarCurves& curves, const std::string& title,
                 const std::filesystem::path& path, PolarFormat format, int size) {
  const double s = size;
  cairo_surface_t* surface = nullptr;
  switch (format) {
    case PolarFormat::Png:
      surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, size, size);
      break;
    case PolarFormat::Svg:
      surface = cairo_svg_surface_create(path.c_str(), s, s);
      break;
    case PolarFormat::Pdf:
      surface = cairo_pdf_surface_create(path.c_str(), s, s);
      break;
  }
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  draw_polar(cr, curves, title, {0, 0, s, s});
  cairo_destroy(cr);
  cairo_status_t status = CAIRO_STATUS_SUCCESS;
  if (format == PolarFormat::Png) {
    cairo_surface_flush(surface);
    status = cairo_surface_write_to_png(surface, path.c_str());
  } else {
    cairo_surface_finish(surface);
    status = cairo_surface_status(surface);
  }
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS)
    throw Error(path.string() +
                ": cannot write the polar diagram: " + cairo_status_to_string(status));
}

}  // namespace lux
