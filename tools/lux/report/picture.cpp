#include "tools/lux/report/picture.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tools/lux/scene/polygon.h"

namespace lux {

namespace {

struct CairoSurface {
  cairo_surface_t* s;
  explicit CairoSurface(cairo_surface_t* surface) : s(surface) {}
  CairoSurface(const CairoSurface&) = delete;
  CairoSurface& operator=(const CairoSurface&) = delete;
  ~CairoSurface() { cairo_surface_destroy(s); }
};
struct CairoContext {
  cairo_t* c;
  explicit CairoContext(cairo_t* context) : c(context) {}
  CairoContext(const CairoContext&) = delete;
  CairoContext& operator=(const CairoContext&) = delete;
  ~CairoContext() { cairo_destroy(c); }
};

void release_font_caches() {
  cairo_debug_reset_static_data();
  FcFini();
}

void save_png(cairo_surface_t* surface, const std::filesystem::path& file) {
  cairo_surface_flush(surface);
  const cairo_status_t status = cairo_surface_write_to_png(surface, file.c_str());
  if (status != CAIRO_STATUS_SUCCESS)
    throw Error(file.string() + ": cannot write the picture: " + cairo_status_to_string(status));
}

// The false-colour ramp's colours, linear in sRGB between its stops.
struct RampStop {
  double t, r, g, b;
};
constexpr RampStop kRampStops[] = {
    {0.00, 0.06, 0.03, 0.28}, {0.15, 0.12, 0.16, 0.62}, {0.30, 0.07, 0.45, 0.80},
    {0.45, 0.10, 0.68, 0.62}, {0.60, 0.45, 0.80, 0.28}, {0.75, 0.93, 0.82, 0.18},
    {0.90, 0.98, 0.52, 0.10}, {1.00, 0.86, 0.16, 0.10},
};

// A number as a label: no more digits than the step between labels needs.
std::string label(double v, double step) {
  int decimals = 0;
  while (decimals < 4 && std::fabs(step * std::pow(10.0, decimals) -
                                   std::round(step * std::pow(10.0, decimals))) > 1e-6)
    ++decimals;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

std::string length_label(double v, const std::string& unit) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.3g %s", v, unit.c_str());
  return buffer;
}

// Value of the lattice at fractional lattice coordinates, bilinear, clamped
// at the border.
double sample(const std::vector<double>& values, int nu, int nv, double x, double y) {
  // A coordinate that is not a number (a cell of no size) reads the first
  // point rather than far outside the lattice.
  x = std::clamp(std::isnan(x) ? 0.0 : x, 0.0, double(nu - 1));
  y = std::clamp(std::isnan(y) ? 0.0 : y, 0.0, double(nv - 1));
  const int i = std::min(static_cast<int>(x), std::max(nu - 2, 0));
  const int j = std::min(static_cast<int>(y), std::max(nv - 2, 0));
  const double fx = nu > 1 ? x - i : 0, fy = nv > 1 ? y - j : 0;
  const auto at = [&](int a, int b) {
    return values[size_t(std::min(b, nv - 1)) * size_t(nu) + size_t(std::min(a, nu - 1))];
  };
  return (at(i, j) * (1 - fx) + at(i + 1, j) * fx) * (1 - fy) +
         (at(i, j + 1) * (1 - fx) + at(i + 1, j + 1) * fx) * fy;
}

// The lattice refined k-fold (k up to 8, about 240 cells along the longer
// side) by the colours' own interpolation: iso-lines traced on it agree
// with the colours they separate.
struct FineLattice {
  int k = 1, nu = 0, nv = 0;
  std::vector<double> values;
};

FineLattice fine_lattice(const std::vector<double>& lux, int nu, int nv) {
  FineLattice f;
  f.k = std::clamp(240 / std::max(nu, nv), 1, 8);
  f.nu = (nu - 1) * f.k + 1;
  f.nv = (nv - 1) * f.k + 1;
  f.values.resize(size_t(f.nu) * size_t(f.nv));
  for (int j = 0; j < f.nv; ++j)
    for (int i = 0; i < f.nu; ++i)
      f.values[size_t(j) * size_t(f.nu) + size_t(i)] =
          sample(lux, nu, nv, double(i) / f.k, double(j) / f.k);
  return f;
}

void text(cairo_t* cr, double x, double y, const std::string& s, double size, double align = 0.0) {
  cairo_set_font_size(cr, size);
  cairo_text_extents_t e;
  cairo_text_extents(cr, s.c_str(), &e);
  cairo_move_to(cr, x - align * e.x_advance, y);
  cairo_show_text(cr, s.c_str());
}

// An iso-line's label in `box` on a white ground, centred on x at the
// baseline y, unless the box overlaps a label already placed.
bool place_label(cairo_t* cr, std::vector<std::array<double, 4>>& placed,
                 const std::array<double, 4>& box, const std::string& s, double x, double y,
                 double size) {
  const bool clear = std::none_of(placed.begin(), placed.end(), [&](const auto& o) {
    return box[0] < o[2] && o[0] < box[2] && box[1] < o[3] && o[1] < box[3];
  });
  if (!clear) return false;
  placed.push_back(box);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
  cairo_rectangle(cr, box[0], box[1], box[2] - box[0], box[3] - box[1]);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
  text(cr, x, y, s, size, 0.5);
  return true;
}

}  // namespace

void release_font_caches_at_exit() {
  static const bool registered = std::atexit(release_font_caches) == 0;
  (void)registered;
}

ColourScale nice_scale(double min, double max) {
  ColourScale s;
  if (!(max > min)) {
    const double pad = std::max(std::fabs(max) * 0.1, 1.0);
    min -= pad;
    max += pad;
    if (min < 0 && max > 0 && max - pad >= 0) min = 0;
  }
  const double raw = (max - min) / 6.0;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power;
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (m * power >= raw) {
      step = m * power;
      break;
    }
  s.step = step;
  s.lo = std::floor(min / step + 1e-9) * step;
  s.hi = std::ceil(max / step - 1e-9) * step;
  if (s.hi <= s.lo) s.hi = s.lo + step;
  for (double v = s.lo + step; v < s.hi - step * 1e-6; v += step) s.levels.push_back(v);
  return s;
}

std::array<double, 3> ramp(double t) {
  t = std::clamp(std::isfinite(t) ? t : 0.0, 0.0, 1.0);
  for (size_t k = 1; k < std::size(kRampStops); ++k)
    if (t <= kRampStops[k].t) {
      const RampStop& a = kRampStops[k - 1];
      const RampStop& b = kRampStops[k];
      const double f = (t - a.t) / (b.t - a.t);
      return {a.r + (b.r - a.r) * f, a.g + (b.g - a.g) * f, a.b + (b.b - a.b) * f};
    }
  const RampStop& last = kRampStops[std::size(kRampStops) - 1];
  return {last.r, last.g, last.b};
}

std::vector<Segment> iso_segments(const std::vector<double>& values, int nu, int nv, double level) {
  std::vector<Segment> out;
  const auto at = [&](int i, int j) { return values[size_t(j) * size_t(nu) + size_t(i)]; };
  for (int j = 0; j + 1 < nv; ++j)
    for (int i = 0; i + 1 < nu; ++i) {
      // Corners a (i, j), b (i+1, j), c (i+1, j+1), d (i, j+1); edges 0 a–b,
      // 1 b–c, 2 d–c, 3 a–d.
      const double v[4] = {at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)};
      const double px[4] = {double(i), double(i + 1), double(i + 1), double(i)};
      const double py[4] = {double(j), double(j), double(j + 1), double(j + 1)};
      const int edge_ends[4][2] = {{0, 1}, {1, 2}, {3, 2}, {0, 3}};
      double cx[4], cy[4];
      bool crossed[4];
      int n = 0;
      for (int e = 0; e < 4; ++e) {
        const int a = edge_ends[e][0], b = edge_ends[e][1];
        crossed[e] = (v[a] >= level) != (v[b] >= level);
        if (!crossed[e]) continue;
        const double f = (level - v[a]) / (v[b] - v[a]);
        cx[e] = px[a] + (px[b] - px[a]) * f;
        cy[e] = py[a] + (py[b] - py[a]) * f;
        ++n;
      }
      const auto add = [&](int e, int f) { out.push_back({cx[e], cy[e], cx[f], cy[f]}); };
      if (n == 2) {
        int first = -1;
        for (int e = 0; e < 4; ++e)
          if (crossed[e]) {
            if (first < 0) {
              first = e;
            } else {
              add(first, e);
            }
          }
      } else if (n == 4) {
        // A saddle: the mean of the corners says which diagonal corners the
        // level's region joins.
        const double centre = (v[0] + v[1] + v[2] + v[3]) / 4;
        if ((centre >= level) == (v[0] >= level)) {
          add(0, 1);
          add(2, 3);
        } else {
          add(0, 3);
          add(1, 2);
        }
      }
    }
  return out;
}

std::vector<double> filled_for_display(const std::vector<double>& values,
                                       const std::vector<PointState>& state, int nu, int nv) {
  std::vector<double> out = values;
  if (state.size() != values.size()) return out;
  std::vector<char> known(values.size());
  for (size_t k = 0; k < values.size(); ++k) known[k] = state[k] == PointState::Counted;
  // Grow the known region one lattice step at a time.
  for (bool changed = true; changed;) {
    changed = false;
    std::vector<char> next = known;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const size_t p = size_t(j) * size_t(nu) + size_t(i);
        if (known[p]) continue;
        const int di[4] = {-1, 1, 0, 0}, dj[4] = {0, 0, -1, 1};
        for (int n = 0; n < 4; ++n) {
          const int a = i + di[n], b = j + dj[n];
          if (a < 0 || b < 0 || a >= nu || b >= nv) continue;
          const size_t q = size_t(b) * size_t(nu) + size_t(a);
          if (!known[q]) continue;
          out[p] = out[q];
          next[p] = 1;
          changed = true;
          break;
        }
      }
    known.swap(next);
  }
  return out;
}

namespace {

// Where the parts of the false-colour figure go, in the units of the
// surface drawn on: the map's plot area, the colour scale beside it and the
// whole figure's extent.
struct MapLayout {
  double left = 64, top = 52, bar_gap = 28, bar_w = 20, right = 88, bottom = 44;
  double pw = 0, ph = 0;  // the plot area
  double bar_h = 0;
  double width = 0, height = 0;
};

// The proportions a grid is drawn with: its extent along u and v, or, when a
// cell has no size or an infinite one (a degenerate area), its cell counts,
// so that every length on the drawing stays finite.
std::pair<double, double> drawn_extent(const Grid& grid) {
  const double width = grid.nu * grid.du, height = grid.nv * grid.dv;
  const double ratio = width / height;
  if (width > 0 && height > 0 && std::isfinite(ratio) && ratio > 0) return {width, height};
  return {double(grid.nu), double(grid.nv)};
}

MapLayout map_layout(const Grid& grid, double size) {
  MapLayout m;
  const auto [width, height] = drawn_extent(grid);
  // Plot area: the longer side `size` wide, the shorter at least 60.
  const double scale = size / std::max(width, height);
  m.pw = std::max(60.0, std::round(width * scale));
  m.ph = std::max(60.0, std::round(height * scale));
  m.bar_h = std::max(m.ph, 220.0);
  m.width = m.left + m.pw + m.bar_gap + m.bar_w + m.right;
  m.height = m.top + std::max(m.ph, m.bar_h) + m.bottom;
  return m;
}

// Paints the colour field of the map into `image` (an RGB24 image surface),
// plot x along u, plot y up along v.
// Outside a polygon area's outline it stays white.
void fill_colour_field(cairo_surface_t* image, const SurfaceResult& r,
                       const std::vector<double>& lux, const ColourScale& scale) {
  const auto& outline = r.grid.outline;
  const int nu = r.grid.nu, nv = r.grid.nv;
  const int pw = cairo_image_surface_get_width(image), ph = cairo_image_surface_get_height(image);
  // Image pixels per lattice cell along u and v.
  const double cx = double(pw) / nu, cy = double(ph) / nv;
  cairo_surface_flush(image);
  unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  // Rows bottom up, so that the outline's crossings are found row by row.
  RowScanner rows(outline);
  for (int py = ph - 1; py >= 0; --py) {
    const double y = (ph - py - 0.5) / cy;  // in cells
    const std::vector<double>* crossings =
        outline.empty() ? nullptr : &rows.crossings(y * r.grid.dv);
    size_t below = 0;  // crossings at or left of the pixel
    for (int px = 0; px < pw; ++px) {
      const double x = (px + 0.5) / cx;
      const double e = sample(lux, nu, nv, x - 0.5, y - 0.5);
      bool off = false;
      if (crossings != nullptr) {
        const double s = x * r.grid.du;
        while (below < crossings->size() && (*crossings)[below] <= s) ++below;
        off = (crossings->size() - below) % 2 == 0;
      }
      const auto c =
          off ? std::array<double, 3>{1, 1, 1} : ramp((e - scale.lo) / (scale.hi - scale.lo));
      auto* pixel = reinterpret_cast<uint32_t*>(data + py * stride) + px;
      *pixel = uint32_t(std::lround(c[0] * 255)) << 16 | uint32_t(std::lround(c[1] * 255)) << 8 |
               uint32_t(std::lround(c[2] * 255));
    }
  }
  cairo_surface_mark_dirty(image);
}

}  // namespace

void draw_area_on_plan(cairo_t* cr, const SurfaceResult& r, const ColourScale& scale,
                       const std::function<PagePoint(Vec3)>& to_page, double raster_per_point) {
  const int nu = r.grid.nu, nv = r.grid.nv;
  const double W = nu * r.grid.du, H = nv * r.grid.dv;
  const Vec3 eu = normalize(r.grid.u), ev = normalize(r.grid.v);
  // The lattice's own coordinates (s along u, t along v, from its corner)
  // on the page: an affine map, fixed by three corners.
  const PagePoint p0 = to_page(r.grid.corner), pu = to_page(r.grid.corner + eu * W),
                  pv = to_page(r.grid.corner + ev * H);
  const auto page = [&](double s, double t) {
    return PagePoint{p0[0] + (pu[0] - p0[0]) * s / W + (pv[0] - p0[0]) * t / H,
                     p0[1] + (pu[1] - p0[1]) * s / W + (pv[1] - p0[1]) * t / H};
  };
  const std::vector<double> lux = filled_outside(nu, nv, r.grid.inside, r.lux);
  const auto& outline = r.grid.outline;
  const auto outline_path = [&] {
    for (const auto& ring : outline) {
      for (size_t q = 0; q < ring.size(); ++q) {
        const PagePoint p = page(ring[q][0], ring[q][1]);
        (q == 0 ? cairo_move_to : cairo_line_to)(cr, p[0], p[1]);
      }
      cairo_close_path(cr);
    }
  };
  release_font_caches_at_exit();
  cairo_save(cr);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  if (!outline.empty()) {
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    outline_path();
    cairo_clip(cr);
  }

  // The colour field: an image whose pixel (x, y) is the lattice point
  // (x W/iw, H − y H/ih), laid on the page by the same affine map.
  {
    const double along_u = std::hypot(pu[0] - p0[0], pu[1] - p0[1]);
    const double along_v = std::hypot(pv[0] - p0[0], pv[1] - p0[1]);
    const int iw = std::max(1, static_cast<int>(std::lround(along_u * raster_per_point)));
    const int ih = std::max(1, static_cast<int>(std::lround(along_v * raster_per_point)));
    const CairoSurface field{cairo_image_surface_create(CAIRO_FORMAT_RGB24, iw, ih)};
    fill_colour_field(field.s, r, lux, scale);
    cairo_save(cr);
    cairo_matrix_t m;
    cairo_matrix_init(&m, (pu[0] - p0[0]) / iw, (pu[1] - p0[1]) / iw, -(pv[0] - p0[0]) / ih,
                      -(pv[1] - p0[1]) / ih, pv[0], pv[1]);
    cairo_transform(cr, &m);
    cairo_rectangle(cr, 0, 0, iw, ih);
    cairo_clip(cr);
    cairo_set_source_surface(cr, field.s, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
  }

  // Masked cells: grey.
  cairo_set_source_rgb(cr, 0.72, 0.72, 0.72);
  for (int j = 0; j < nv && r.grid.state.size() == r.lux.size(); ++j)
    for (int i = 0; i < nu; ++i) {
      if (r.grid.state[size_t(j) * size_t(nu) + size_t(i)] != PointState::Masked) continue;
      const double s0 = i * r.grid.du, t0 = j * r.grid.dv;
      const PagePoint corners[4] = {page(s0, t0), page(s0 + r.grid.du, t0),
                                    page(s0 + r.grid.du, t0 + r.grid.dv), page(s0, t0 + r.grid.dv)};
      cairo_move_to(cr, corners[0][0], corners[0][1]);
      for (int c = 1; c < 4; ++c) cairo_line_to(cr, corners[c][0], corners[c][1]);
      cairo_close_path(cr);
    }
  cairo_fill(cr);

  // Iso-lux lines on a finer lattice of the colours' interpolation, each
  // labelled once where it lies farthest inside the area and clear of the
  // other labels.
  const FineLattice f = fine_lattice(lux, nu, nv);
  const int k = f.k, fu = f.nu, fv = f.nv;
  const std::vector<double>& fine = f.values;
  const auto at = [&](double x, double y) {  // fine lattice to the page
    return page((x / k + 0.5) * r.grid.du, (y / k + 0.5) * r.grid.dv);
  };
  constexpr double kLabelSize = 6.5;
  std::vector<std::array<double, 4>> placed;
  cairo_set_line_width(cr, 0.6);
  for (const double level : scale.levels) {
    const auto segments = iso_segments(fine, fu, fv, level);
    if (segments.empty()) continue;
    cairo_set_source_rgba(cr, 0.1, 0.1, 0.1, 0.75);
    for (const auto& g : segments) {
      const PagePoint a = at(g.x0, g.y0), b = at(g.x1, g.y1);
      cairo_move_to(cr, a[0], a[1]);
      cairo_line_to(cr, b[0], b[1]);
    }
    cairo_stroke(cr);
    const std::string s = label(level, scale.step);
    cairo_set_font_size(cr, kLabelSize);
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    const double half_w = e.x_advance / 2 + 1.5, half_h = kLabelSize * 0.7;
    // Farthest from the lattice's edges first.
    std::vector<std::pair<double, PagePoint>> spots;
    for (const auto& g : segments) {
      const double x = (g.x0 + g.x1) / 2, y = (g.y0 + g.y1) / 2;
      // A polygon area's label stays inside its outline.
      if (!outline.empty() &&
          !inside(outline, (x / k + 0.5) * r.grid.du, (y / k + 0.5) * r.grid.dv))
        continue;
      const double room = std::min({x, double(fu - 1) - x, y, double(fv - 1) - y});
      spots.push_back({room, at(x, y)});
    }
    std::stable_sort(spots.begin(), spots.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [room, p] : spots) {
      const std::array<double, 4> box{p[0] - half_w, p[1] - half_h, p[0] + half_w, p[1] + half_h};
      if (!place_label(cr, placed, box, s, p[0], box[3] - 1.5, kLabelSize)) continue;
      break;
    }
  }
  cairo_restore(cr);

  // The area's edge.
  cairo_set_source_rgb(cr, 0.25, 0.25, 0.25);
  cairo_set_line_width(cr, 0.5);
  if (!outline.empty()) {
    outline_path();
  } else {
    const PagePoint c[4] = {page(0, 0), page(W, 0), page(W, H), page(0, H)};
    cairo_move_to(cr, c[0][0], c[0][1]);
    for (int q = 1; q < 4; ++q) cairo_line_to(cr, c[q][0], c[q][1]);
    cairo_close_path(cr);
  }
  cairo_stroke(cr);
}

MapExtent false_colour_extent(const Grid& grid, double size) {
  const MapLayout m = map_layout(grid, size);
  return {m.width, m.height, m.left, m.top, m.pw, m.ph};
}

void draw_false_colour(cairo_t* cr, const SurfaceResult& r, const std::string& unit, double size,
                       double raster_scale, const OutputUnits& units, const std::string& note) {
  const int nu = r.grid.nu, nv = r.grid.nv;
  const std::vector<double> lux = filled_outside(nu, nv, r.grid.inside, r.lux);
  const double width = nu * r.grid.du, height = nv * r.grid.dv;
  const MapLayout m = map_layout(r.grid, size);
  const double left = m.left, top = m.top, bar_gap = m.bar_gap, bar_w = m.bar_w;
  const double pw = m.pw, ph = m.ph, bar_h = m.bar_h;
  // Picture units per lattice cell, and per length of the surface for the
  // outline; a grid whose cells have no finite size draws no outline.
  const double cw = pw / nu, ch = ph / nv;
  const double sx = cw / r.grid.du, sy = ch / r.grid.dv;
  const bool to_scale = std::isfinite(sx) && std::isfinite(sy) && sx > 0 && sy > 0;
  const std::vector<Ring> no_outline;
  const auto& outline = to_scale ? r.grid.outline : no_outline;
  const ColourScale scale_of = nice_scale(r.stats.min, r.stats.max);
  const auto t_of = [&](double e) { return (e - scale_of.lo) / (scale_of.hi - scale_of.lo); };

  release_font_caches_at_exit();
  cairo_save(cr);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);

  // The colour field, as an image `raster_scale` pixels per unit of the
  // surface drawn on, placed over the plot area.
  {
    const int iw = std::max(1, static_cast<int>(std::lround(pw * raster_scale)));
    const int ih = std::max(1, static_cast<int>(std::lround(ph * raster_scale)));
    const CairoSurface field{cairo_image_surface_create(CAIRO_FORMAT_RGB24, iw, ih)};
    fill_colour_field(field.s, r, lux, scale_of);
    cairo_save(cr);
    cairo_rectangle(cr, left, top, pw, ph);
    cairo_clip(cr);
    cairo_translate(cr, left, top);
    cairo_scale(cr, pw / iw, ph / ih);
    cairo_set_source_surface(cr, field.s, 0, 0);
    // One image pixel to one picture pixel as it is; finer or coarser, smoothed.
    cairo_pattern_set_filter(cairo_get_source(cr),
                             raster_scale == 1.0 ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
  }

  // Lattice coordinates to picture coordinates.
  const auto X = [&](double i) { return left + (i + 0.5) * cw; };
  const auto Y = [&](double j) { return top + ph - (j + 0.5) * ch; };

  // Grid points, when the cells are large enough to show them.
  if (cw >= 14 && ch >= 14) {
    cairo_set_source_rgba(cr, 0, 0, 0, 0.35);
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        if (!r.grid.counts(size_t(j) * size_t(nu) + size_t(i))) continue;
        cairo_arc(cr, X(i), Y(j), 1.2, 0, 2 * M_PI);
        cairo_fill(cr);
      }
  }

  // Iso-lux lines, traced on a finer lattice of the same interpolation as
  // the colours so that lines and colours agree, each labelled once where
  // it runs farthest from the edges and clear of the other labels.
  const FineLattice f = fine_lattice(lux, nu, nv);
  const int k = f.k, fu = f.nu, fv = f.nv;
  const std::vector<double>& fine = f.values;
  std::vector<std::array<double, 4>> placed;  // label boxes: x0, y0, x1, y1
  // A label box lies wholly on the figures: inside a polygon area's outline
  // (which clips the lines and would cut the label) and off masked cells
  // (whose hatching is drawn over it).
  const auto on_the_figures = [&](const std::array<double, 4>& box) {
    for (const double bx : {box[0], box[2]})
      for (const double by : {box[1], box[3]}) {
        const double x = (bx - left) / cw, y = (top + ph - by) / ch;  // in cells
        if (!outline.empty() && !inside(outline, x * r.grid.du, y * r.grid.dv)) return false;
        const int i = std::clamp(static_cast<int>(x), 0, nu - 1);
        const int j = std::clamp(static_cast<int>(y), 0, nv - 1);
        const size_t p = size_t(j) * size_t(nu) + size_t(i);
        if (p < r.grid.state.size() && r.grid.state[p] == PointState::Masked) return false;
      }
    return true;
  };
  cairo_set_line_width(cr, 1.0);
  // A polygon area's outline, in picture coordinates (s, t along u and v).
  const auto outline_path = [&] {
    for (const auto& ring : outline) {
      for (size_t q = 0; q < ring.size(); ++q)
        (q == 0 ? cairo_move_to : cairo_line_to)(cr, left + ring[q][0] * sx,
                                                 top + ph - ring[q][1] * sy);
      cairo_close_path(cr);
    }
  };
  cairo_save(cr);
  if (!outline.empty()) {
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    outline_path();
    cairo_clip(cr);
  }
  for (double level : scale_of.levels) {
    const auto segments = iso_segments(fine, fu, fv, level);
    if (segments.empty()) continue;
    const auto FX = [&](double x) { return X(x / k); };
    const auto FY = [&](double y) { return Y(y / k); };
    cairo_set_source_rgba(cr, 0.1, 0.1, 0.1, 0.75);
    for (const auto& g : segments) {
      cairo_move_to(cr, FX(g.x0), FY(g.y0));
      cairo_line_to(cr, FX(g.x1), FY(g.y1));
    }
    cairo_stroke(cr);
    const std::string s = label(level, scale_of.step);
    cairo_set_font_size(cr, 10);
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    const double half_w = e.x_advance / 2 + 2, half_h = 7;
    // A place's room: its distance from the picture's edges and from the
    // neighbouring levels (the step over the gradient there, in pixels).
    std::vector<std::pair<double, std::array<double, 4>>> spots;
    const double px_u = cw, px_v = ch;  // pixels per lattice step
    for (const auto& g : segments) {
      const double x = (g.x0 + g.x1) / (2.0 * k), y = (g.y0 + g.y1) / (2.0 * k);
      const double mx = X(x), my = Y(y);
      const double gx =
          (sample(lux, nu, nv, x + 0.25, y) - sample(lux, nu, nv, x - 0.25, y)) / (0.5 * px_u);
      const double gy =
          (sample(lux, nu, nv, x, y + 0.25) - sample(lux, nu, nv, x, y - 0.25)) / (0.5 * px_v);
      const double gradient = std::hypot(gx, gy);
      const double clearance = gradient > 0 ? scale_of.step / gradient : 1e9;
      const double room = std::min({mx - left, left + pw - mx, my - top, top + ph - my, clearance});
      spots.push_back({room, {mx - half_w, my - half_h, mx + half_w, my + half_h}});
    }
    std::stable_sort(spots.begin(), spots.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& spot : spots) {
      const double room = spot.first;
      const std::array<double, 4>& box = spot.second;
      if (room < 2 * half_h) break;
      if (!on_the_figures(box)) continue;
      if (!place_label(cr, placed, box, s, (box[0] + box[2]) / 2, box[3] - 3, 10)) continue;
      break;
    }
  }

  cairo_restore(cr);
  if (!outline.empty()) {
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_set_line_width(cr, 1.5);
    outline_path();
    cairo_stroke(cr);
    cairo_set_line_width(cr, 1.0);
  }

  // Cells that are not part of the figures: masked ones grey and hatched,
  // ones outside the area white.
  for (int j = 0; j < nv && r.grid.state.size() == r.lux.size(); ++j)
    for (int i = 0; i < nu; ++i) {
      const PointState st = r.grid.state[size_t(j) * size_t(nu) + size_t(i)];
      if (st == PointState::Counted) continue;
      const double x0 = left + i * cw, y1 = top + ph - j * ch;
      // A polygon area's outside is already white, and a rectangle left in
      // the path would be stroked with the next hatching as a cell border.
      if (st == PointState::Outside && !outline.empty()) continue;
      cairo_rectangle(cr, x0, y1 - ch, cw, ch);
      if (st == PointState::Outside) {
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_fill(cr);
        continue;
      }
      cairo_set_source_rgb(cr, 0.72, 0.72, 0.72);
      cairo_fill_preserve(cr);
      cairo_save(cr);
      cairo_clip(cr);
      cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
      cairo_set_line_width(cr, 1.0);
      for (double d = -ch; d < cw + ch; d += 6) {
        cairo_move_to(cr, x0 + d, y1);
        cairo_line_to(cr, x0 + d + ch, y1 - ch);
      }
      cairo_stroke(cr);
      cairo_restore(cr);
    }

  // Frame and axes.
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  cairo_rectangle(cr, left + 0.5, top + 0.5, pw - 1, ph - 1);
  cairo_stroke(cr);
  text(cr, left, top + ph + 16, "0", 11, 0.5);
  const std::string length_unit = units.footcandles ? units.length : unit;
  text(cr, left + pw, top + ph + 16, length_label(units.length_of(width), length_unit), 11, 0.5);
  text(cr, left + pw / 2.0, top + ph + 32, "along u", 11, 0.5);
  text(cr, left - 6, top + ph, "0", 11, 1.0);
  text(cr, left - 6, top + 10, length_label(units.length_of(height), length_unit), 11, 1.0);
  cairo_save(cr);
  cairo_translate(cr, left - 30, top + ph / 2.0);
  cairo_rotate(cr, -M_PI / 2);
  text(cr, 0, 0, "along v", 11, 0.5);
  cairo_restore(cr);

  // Title.
  char title[256];
  std::snprintf(title, sizeof title, "E avg %.0f %s   min %.0f   max %.0f   U0 %.2f%s%s",
                r.stats.avg, units.illuminance.c_str(), r.stats.min, r.stats.max, r.stats.u0,
                note.empty() ? "" : "   ", note.c_str());
  cairo_set_source_rgb(cr, 0, 0, 0);
  text(cr, left, 20, r.name, 14);
  text(cr, left, 40, title, 11);

  // Colour scale.
  const double bx = left + pw + bar_gap, by = top;
  // The ramp is linear between its stops, so a linear gradient through the
  // same stops draws it exactly, as vector graphics where the surface has them.
  cairo_pattern_t* gradient = cairo_pattern_create_linear(0, by + bar_h, 0, by);
  for (const RampStop& stop : kRampStops)
    cairo_pattern_add_color_stop_rgb(gradient, stop.t, stop.r, stop.g, stop.b);
  cairo_set_source(cr, gradient);
  cairo_rectangle(cr, bx, by, bar_w, bar_h);
  cairo_fill(cr);
  cairo_pattern_destroy(gradient);
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  cairo_rectangle(cr, bx + 0.5, by + 0.5, bar_w - 1, bar_h - 1);
  cairo_stroke(cr);
  std::vector<double> ticks{scale_of.lo};
  ticks.insert(ticks.end(), scale_of.levels.begin(), scale_of.levels.end());
  ticks.push_back(scale_of.hi);
  for (double v : ticks) {
    const double y = by + bar_h * (1 - t_of(v));
    cairo_move_to(cr, bx + bar_w, std::round(y) + 0.5);
    cairo_line_to(cr, bx + bar_w + 5, std::round(y) + 0.5);
    cairo_stroke(cr);
    text(cr, bx + bar_w + 8, y + 4, label(v, scale_of.step), 11);
  }
  text(cr, bx, by - 8, units.relative ? "relative" : units.footcandles ? "fc" : "lux", 11);
  cairo_restore(cr);
}

SurfaceResult for_display(const SurfaceResult& result, const OutputUnits& units) {
  // Drawn in the output units, with masked points filled from their
  // neighbours for the colours; their cells are covered afterwards.
  SurfaceResult r;
  r.name = result.name;
  r.grid = result.grid;
  r.stats = result.stats;
  r.lux = filled_for_display(result.lux, result.grid.state, result.grid.nu, result.grid.nv);
  for (double& v : r.lux) v = units.illuminance_of(v);
  r.stats.min = units.illuminance_of(r.stats.min);
  r.stats.avg = units.illuminance_of(r.stats.avg);
  r.stats.max = units.illuminance_of(r.stats.max);
  return r;
}

void write_false_colour(const SurfaceResult& result, const std::string& unit,
                        const std::filesystem::path& file, int size, const OutputUnits& units,
                        const std::string& note) {
  const SurfaceResult r = for_display(result, units);
  const MapExtent extent = false_colour_extent(r.grid, size);
  CairoSurface surface{cairo_image_surface_create(CAIRO_FORMAT_RGB24,
                                                  static_cast<int>(std::lround(extent.width)),
                                                  static_cast<int>(std::lround(extent.height)))};
  CairoContext ctx{cairo_create(surface.s)};
  cairo_set_source_rgb(ctx.c, 1, 1, 1);
  cairo_paint(ctx.c);
  draw_false_colour(ctx.c, r, unit, size, 1.0, units, note);
  save_png(surface.s, file);
}

void write_png(const Image& image, const std::filesystem::path& file) {
  CairoSurface surface{cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width, image.height)};
  cairo_surface_flush(surface.s);
  unsigned char* data = cairo_image_surface_get_data(surface.s);
  const int stride = cairo_image_surface_get_stride(surface.s);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const auto& p = image.pixels[size_t(y) * size_t(image.width) + size_t(x)];
      reinterpret_cast<uint32_t*>(data + y * stride)[x] =
          uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[2]);
    }
  cairo_surface_mark_dirty(surface.s);
  save_png(surface.s, file);
}

}  // namespace lux
