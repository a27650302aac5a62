#include "tools/lux/report/pdf_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "tools/lux/grid/masking.h"
#include "tools/lux/report/picture.h"

namespace lux {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kUpwardCosine = 0.7071067811865476;  // cos 45°: facing up
constexpr double kWallCosine = 0.3;                   // |n·z| below this: a wall
constexpr double kPadding = 0.04;                     // of the extent, round the plan
constexpr double kAxisRoom = 26;                      // points left of and below the plot
constexpr double kLegendRoom = 46;                    // points for the colour legend
constexpr double kRasterPerPoint = 2.5;               // colour-field pixels per point
constexpr double kLabelSize = 6;
constexpr double kTopRoom = 12;      // points above the plot, for the y axis' unit
constexpr double kCaptionRoom = 64;  // points a plan page's heading and caption take
constexpr double kTickSize = 7;
constexpr int kCirclePieces = 32;

struct Extent {
  double xmin = std::numeric_limits<double>::infinity();
  double ymin = std::numeric_limits<double>::infinity();
  double xmax = -std::numeric_limits<double>::infinity();
  double ymax = -std::numeric_limits<double>::infinity();
  void add(Vec3 p) {
    xmin = std::min(xmin, p.x);
    xmax = std::max(xmax, p.x);
    ymin = std::min(ymin, p.y);
    ymax = std::max(ymax, p.y);
  }
  void add_disc(Vec3 c, double r) {
    add(c - Vec3{r, r, 0});
    add(c + Vec3{r, r, 0});
  }
};

void add_solid(Extent& e, const SolidDesc& s) {
  switch (s.kind) {
    case SolidDesc::Rectangle:
      for (const Vec3 p : {s.corner, s.corner + s.u, s.corner + s.v, s.corner + s.u + s.v})
        e.add(p);
      break;
    case SolidDesc::Disc:
    case SolidDesc::Sphere:
      e.add_disc(s.center, s.radius);
      break;
    case SolidDesc::Box:
      e.add(s.min);
      e.add(s.max);
      break;
  }
}

Extent scene_extent(const Model& model, const std::vector<MeshPart>& parts) {
  const Scene& scene = model.scene();
  Extent e;
  for (const auto& s : scene.surfaces)
    for (const Vec3 p : {s.corner, s.corner + s.u, s.corner + s.v, s.corner + s.u + s.v}) e.add(p);
  for (const auto& o : scene.occluders) add_solid(e, o.solid);
  for (const auto& part : parts) {
    e.add(part.min);
    e.add(part.max);
  }
  for (const auto& c : scene.cylindrical)
    for (const Vec3 p : {c.corner, c.corner + c.u, c.corner + c.v, c.corner + c.u + c.v}) e.add(p);
  for (const auto& light : model.lights()) {
    if (light.emitter.kind == Emitter::Solid) {
      add_solid(e, light.emitter.solid);
    } else {
      e.add(light.emitter.frame.origin);
    }
  }
  return e;
}

// A path through points of the scene as the plan shows them.
void path(cairo_t* cr, const std::vector<Vec3>& points,
          const std::function<PagePoint(Vec3)>& page) {
  for (size_t k = 0; k < points.size(); ++k) {
    const PagePoint p = page(points[k]);
    (k == 0 ? cairo_move_to : cairo_line_to)(cr, p[0], p[1]);
  }
  cairo_close_path(cr);
}

std::vector<Vec3> circle(Vec3 centre, Vec3 e1, Vec3 e2, double radius) {
  std::vector<Vec3> out;
  for (int k = 0; k < kCirclePieces; ++k) {
    const double a = 2 * kPi * k / kCirclePieces;
    out.push_back(centre + e1 * (radius * std::cos(a)) + e2 * (radius * std::sin(a)));
  }
  return out;
}

// The outline a solid shows from above.
std::vector<Vec3> footprint(const SolidDesc& s) {
  switch (s.kind) {
    case SolidDesc::Rectangle:
      return {s.corner, s.corner + s.u, s.corner + s.u + s.v, s.corner + s.v};
    case SolidDesc::Disc: {
      const Vec3 ref = std::fabs(s.normal.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
      const Vec3 e1 = normalize(cross(s.normal, ref));
      return circle(s.center, e1, cross(s.normal, e1), s.radius);
    }
    case SolidDesc::Sphere:
      return circle(s.center, {1, 0, 0}, {0, 1, 0}, s.radius);
    case SolidDesc::Box:
      return {{s.min.x, s.min.y, 0},
              {s.max.x, s.min.y, 0},
              {s.max.x, s.max.y, 0},
              {s.min.x, s.max.y, 0}};
  }
  return {};
}

// The outline of a luminaire's emitting shape from above; empty for a
// point light.
std::vector<Vec3> luminaire_outline(const Emitter& e) {
  const Frame& f = e.frame;
  switch (e.kind) {
    case Emitter::None:
      return {};
    case Emitter::Rectangle:
      return {f.origin + f.ex * e.half_u + f.ey * e.half_v,
              f.origin - f.ex * e.half_u + f.ey * e.half_v,
              f.origin - f.ex * e.half_u - f.ey * e.half_v,
              f.origin + f.ex * e.half_u - f.ey * e.half_v};
    case Emitter::Disc:
      return circle(f.origin, f.ex, f.ey, e.radius);
    case Emitter::Sphere:
    case Emitter::Cylinder:
      return circle(f.origin, {1, 0, 0}, {0, 1, 0}, e.radius);
    case Emitter::Solid:
      return footprint(e.solid);
  }
  return {};
}

Vec3 luminaire_centre(const Emitter& e) {
  if (e.kind != Emitter::Solid) return e.frame.origin;
  const SolidDesc& s = e.solid;
  switch (s.kind) {
    case SolidDesc::Rectangle:
      return s.corner + s.u * 0.5 + s.v * 0.5;
    case SolidDesc::Box:
      return (s.min + s.max) * 0.5;
    default:
      return s.center;
  }
}

void text_at(cairo_t* cr, double x, double baseline, const std::string& s, double size,
             double align) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t e;
  cairo_text_extents(cr, s.c_str(), &e);
  cairo_move_to(cr, x - align * e.x_advance, baseline);
  cairo_show_text(cr, s.c_str());
}

double text_width(cairo_t* cr, const std::string& s, double size) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t e;
  cairo_text_extents(cr, s.c_str(), &e);
  return e.x_advance;
}

// A tick's label: no more decimals than its step needs.
std::string tick_text(double v, double step) {
  int decimals = 0;
  while (decimals < 3 && std::fabs(step * std::pow(10.0, decimals) -
                                   std::round(step * std::pow(10.0, decimals))) > 1e-6)
    ++decimals;
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, std::fabs(v) < 1e-12 ? 0.0 : v);
  return text;
}

// The page of a scene point at the layout's scale, from the plot's top left.
PagePoint on_plot(Vec3 p, const PlanLayout& l) {
  return {(p.x - l.xmin) * l.scale, (l.ymax - p.y) * l.scale};
}

// Where a luminaire's label goes, from the plot's top left: centred under
// its symbol, its baseline below the symbol's lowest point.
PagePoint label_place(const Emitter& e, const PlanLayout& l) {
  const PagePoint c = on_plot(luminaire_centre(e), l);
  double below = 3.5;  // a point light's ringed cross
  for (const Vec3 p : luminaire_outline(e)) below = std::max(below, on_plot(p, l)[1] - c[1]);
  return {c[0], c[1] + below + kLabelSize + 1};
}

}  // namespace

double plan_room(const Document& doc) { return doc.page_room() - kCaptionRoom; }

PlanLayout plan_layout(const Model& model, double width, double height) {
  std::vector<MeshPart> parts;
  for (const auto& m : model.scene().meshes) {
    auto more = mesh_parts(m.mesh);
    parts.insert(parts.end(), more.begin(), more.end());
  }
  const Extent e = scene_extent(model, parts);
  PlanLayout l;
  const double dx = e.xmax - e.xmin, dy = e.ymax - e.ymin;
  if (!(dx > 0) || !(dy > 0) || !std::isfinite(dx) || !std::isfinite(dy)) return l;
  const double pad = kPadding * std::max(dx, dy);
  l.xmin = e.xmin - pad;
  l.xmax = e.xmax + pad;
  l.ymin = e.ymin - pad;
  l.ymax = e.ymax + pad;
  l.scale = std::min((width - kAxisRoom) / (l.xmax - l.xmin),
                     (height - kTopRoom - kAxisRoom - kLegendRoom) / (l.ymax - l.ymin));
  l.drawn = l.scale > 0;
  return l;
}

PlanLabels plan_labels(const Document& doc, const Model& model, const PlanLayout& layout) {
  PlanLabels labels;
  std::vector<std::array<double, 4>> boxes;
  for (const auto& light : model.lights()) {
    labels.text.push_back(light.name);
    const PagePoint c = label_place(light.emitter, layout);
    const double w = doc.text_width(light.name, kLabelSize);
    boxes.push_back({c[0] - w / 2, c[1] - kLabelSize, c[0] + w / 2, c[1] + 1});
  }
  for (size_t a = 0; a < boxes.size() && !labels.numbered; ++a)
    for (size_t b = a + 1; b < boxes.size(); ++b)
      if (boxes[a][0] < boxes[b][2] && boxes[b][0] < boxes[a][2] && boxes[a][1] < boxes[b][3] &&
          boxes[b][1] < boxes[a][3]) {
        labels.numbered = true;
        break;
      }
  if (labels.numbered)
    for (size_t l = 0; l < labels.text.size(); ++l) labels.text[l] = std::to_string(l + 1);
  return labels;
}

const SurfaceResult* plan_area(const Model& model, const std::vector<SurfaceResult>& results) {
  const SurfaceResult* first = nullptr;
  for (const auto& r : results) {
    if (r.role != "surface" || r.grid.is_point_list() || !(r.grid.normal.z > kUpwardCosine))
      continue;
    for (const auto& s : model.scene().surfaces)
      if (s.name == r.surface && !s.targets.empty()) return &r;
    if (first == nullptr) first = &r;
  }
  return first;
}

void plan_page(Document& doc, const Model& model, const std::vector<SurfaceResult>& results,
               const OutputUnits& units, const PlanLayout& layout, const PlanLabels& labels) {
  if (!layout.drawn) return;
  const Scene& scene = model.scene();
  std::vector<MeshPart> parts;
  for (const auto& m : scene.meshes) {
    auto more = mesh_parts(m.mesh);
    parts.insert(parts.end(), more.begin(), more.end());
  }
  const SurfaceResult* area = plan_area(model, results);
  doc.new_page();
  doc.heading("Plan");
  doc.paragraph("The room seen from above, in its own coordinates (" + units.length +
                    "): walls as heavy "
                    "lines, furniture and other solids as outlines, luminaires as their emitting "
                    "shapes with " +
                    (labels.numbered ? std::string("their numbers in the luminaire schedule")
                                     : std::string("their names")) +
                    (area != nullptr ? ", over the iso-lux map of \"" + area->name + "\" (" +
                                           (units.relative      ? std::string("relative")
                                            : units.footcandles ? "fc"
                                                                : "lx") +
                                           ", maintained)."
                                     : "."),
                8);
  const double scale = layout.scale;
  const double width = layout.xmax - layout.xmin, height = layout.ymax - layout.ymin;
  doc.figure(kTopRoom + height * scale + kAxisRoom + kLegendRoom, [&](double fx, double fy) {
    cairo_t* cr = doc.cr();
    const double ox = fx + kAxisRoom, oy = fy + kTopRoom;
    const auto page = [&](Vec3 p) {
      const PagePoint q = on_plot(p, layout);
      return PagePoint{ox + q[0], oy + q[1]};
    };
    const double plot_w = width * scale, plot_h = height * scale;
    const PlanLayout& e = layout;

    // The main work plane's map, and its colour scale.
    std::optional<ColourScale> colours;
    if (area != nullptr) {
      const SurfaceResult shown = for_display(*area, units);
      colours = nice_scale(shown.stats.min, shown.stats.max);
      draw_area_on_plan(cr, shown, *colours, page, kRasterPerPoint);
    }

    // Floors and ceilings that reflect: thin outlines; walls: heavy lines.
    for (const auto& s : scene.surfaces) {
      const Vec3 corners[4] = {s.corner, s.corner + s.u, s.corner + s.u + s.v, s.corner + s.v};
      if (std::fabs(s.normal.z) < kWallCosine) {
        // A vertical surface is a segment from above: its farthest corners.
        double best = -1;
        Vec3 a = corners[0], b = corners[0];
        for (const Vec3 p : corners)
          for (const Vec3 q : corners) {
            const double d = std::hypot(p.x - q.x, p.y - q.y);
            if (d > best) {
              best = d;
              a = p;
              b = q;
            }
          }
        const PagePoint pa = page(a), pb = page(b);
        const bool wall = s.role == SurfaceRole::Reflecting;
        cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
        cairo_set_line_width(cr, wall ? 2.4 : 0.8);
        if (!wall) {
          const double dash[] = {3, 2};
          cairo_set_dash(cr, dash, 2, 0);
        }
        cairo_move_to(cr, pa[0], pa[1]);
        cairo_line_to(cr, pb[0], pb[1]);
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0);
      } else if (s.role == SurfaceRole::Reflecting && s.normal.z > 0) {
        cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
        cairo_set_line_width(cr, 0.6);
        if (s.outline.empty()) {
          path(cr, {corners[0], corners[1], corners[2], corners[3]}, page);
        } else {
          for (const auto& piece : convex_pieces(s.outline, s.corner, s.u, s.v))
            path(cr, piece, page);
        }
        cairo_stroke(cr);
      }
    }

    // Furniture and other solids: outlines.
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_set_line_width(cr, 0.7);
    for (const auto& o : scene.occluders) {
      path(cr, footprint(o.solid), page);
      cairo_stroke(cr);
    }
    for (const auto& part : parts) {
      path(cr,
           {{part.min.x, part.min.y, 0},
            {part.max.x, part.min.y, 0},
            {part.max.x, part.max.y, 0},
            {part.min.x, part.max.y, 0}},
           page);
      cairo_stroke(cr);
    }

    // Luminaires: their emitting shapes, a point light as a ringed cross,
    // each labelled below.
    for (size_t l = 0; l < model.lights().size(); ++l) {
      const Light& light = model.lights()[l];
      const PagePoint c = page(luminaire_centre(light.emitter));
      const std::vector<Vec3> outline = luminaire_outline(light.emitter);
      if (outline.empty()) {
        cairo_arc(cr, c[0], c[1], 2.5, 0, 2 * kPi);
        cairo_set_source_rgb(cr, 1, 0.97, 0.75);
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_set_line_width(cr, 0.6);
        cairo_stroke(cr);
        cairo_move_to(cr, c[0] - 3.5, c[1]);
        cairo_line_to(cr, c[0] + 3.5, c[1]);
        cairo_move_to(cr, c[0], c[1] - 3.5);
        cairo_line_to(cr, c[0], c[1] + 3.5);
        cairo_stroke(cr);
      } else {
        path(cr, outline, page);
        cairo_set_source_rgb(cr, 1, 0.97, 0.75);
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_set_line_width(cr, 0.6);
        cairo_stroke(cr);
      }
      const PagePoint at = label_place(light.emitter, layout);
      const double x = ox + at[0], baseline = oy + at[1];
      const std::string& label = labels.text[l];
      const double w = text_width(cr, label, kLabelSize);
      cairo_set_source_rgba(cr, 1, 1, 1, 0.8);
      cairo_rectangle(cr, x - w / 2 - 1, baseline - kLabelSize, w + 2, kLabelSize + 2);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 0, 0, 0);
      text_at(cr, x, baseline, label, kLabelSize, 0.5);
    }

    // Frame and ticks along x (below) and y (left), in the output length unit.
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    cairo_set_line_width(cr, 0.5);
    cairo_rectangle(cr, ox, oy, plot_w, plot_h);
    cairo_stroke(cr);
    const auto ticks = [&](double lo, double hi, bool along_x) {
      const ColourScale t = nice_scale(units.length_of(lo), units.length_of(hi));
      for (double v = std::ceil(units.length_of(lo) / t.step - 1e-9) * t.step;
           v <= units.length_of(hi) + 1e-9; v += t.step) {
        const double at = v / units.length_of(1.0);
        if (along_x) {
          const double x = page({at, e.ymin, 0})[0];
          cairo_move_to(cr, x, oy + plot_h);
          cairo_line_to(cr, x, oy + plot_h + 3);
          cairo_stroke(cr);
          text_at(cr, x, oy + plot_h + 4 + kTickSize, tick_text(v, t.step), kTickSize, 0.5);
        } else {
          const double y = page({e.xmin, at, 0})[1];
          cairo_move_to(cr, ox, y);
          cairo_line_to(cr, ox - 3, y);
          cairo_stroke(cr);
          text_at(cr, ox - 4, y + kTickSize * 0.35, tick_text(v, t.step), kTickSize, 1);
        }
      }
    };
    ticks(e.xmin, e.xmax, true);
    ticks(e.ymin, e.ymax, false);
    text_at(cr, ox + plot_w, oy + plot_h + 8 + 2 * kTickSize, "x " + units.length, kTickSize, 1);
    text_at(cr, fx, fy + kTickSize, "y " + units.length, kTickSize, 0);

    // The map's colours and their values.
    if (colours) {
      const double bar_w = std::min(260.0, plot_w), bar_h = 8;
      const double bx = ox, by = oy + plot_h + kAxisRoom + 8;
      for (int k = 0; k < 100; ++k) {
        const auto c = ramp((k + 0.5) / 100);
        cairo_set_source_rgb(cr, c[0], c[1], c[2]);
        cairo_rectangle(cr, bx + bar_w * k / 100, by, bar_w / 100 + 0.3, bar_h);
        cairo_fill(cr);
      }
      cairo_set_source_rgb(cr, 0, 0, 0);
      const auto value_at = [&](double v) {
        return bx + bar_w * (v - colours->lo) / (colours->hi - colours->lo);
      };
      for (double v = colours->lo; v <= colours->hi + colours->step * 1e-6; v += colours->step)
        text_at(cr, value_at(v), by + bar_h + 8, tick_text(v, colours->step), kTickSize, 0.5);
      text_at(cr, bx + bar_w + 8, by + bar_h, units.relative ? "relative" : units.illuminance,
              kTickSize, 0);
    }
  });
}

}  // namespace lux
