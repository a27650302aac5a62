#include "tools/lux/grid/grids.h"

#include <algorithm>
#include <cmath>

namespace lux {

namespace {

constexpr double kLongestStandardSpacing = 10.0;  // metres
constexpr double kRoundingSlack = 1e-9;  // a ratio a hair above a whole number is that number
// From this ratio of its sides on, an area is gridded from its shorter side.
constexpr double kElongatedRatio = 2.0;

int ceil_count(double ratio) {
  return std::max(1, static_cast<int>(std::ceil(ratio - kRoundingSlack)));
}

// A rectangle inside a surface in the surface's own coordinates: [a0, a1]
// along u and [b0, b1] along v, in scene units.
struct Span {
  double a0, a1, b0, b1;
};

Span grown(const Span& s, double by, double lu, double lv) {
  return {std::max(0.0, s.a0 - by), std::min(lu, s.a1 + by), std::max(0.0, s.b0 - by),
          std::min(lv, s.b1 + by)};
}

bool within(const Span& s, double a, double b) {
  return a >= s.a0 && a <= s.a1 && b >= s.b0 && b <= s.b1;
}

// The lattice of cell centres over `span` of a surface, with the rule of
// the surface for the number of points.
GridArea span_lattice(const SurfaceDesc& surface, const Span& span, const SceneUnit& unit) {
  const Vec3 eu = normalize(surface.u), ev = normalize(surface.v);
  const double la = span.a1 - span.a0, lb = span.b1 - span.b0;
  int nu, nv;
  if (surface.standard_spacing) {
    const PointCounts c = standard_counts(la * unit.metres, lb * unit.metres);
    nu = c.along_a;
    nv = c.along_b;
  } else {
    nu = cells_for(la, surface.spacing);
    nv = cells_for(lb, surface.spacing);
  }
  GridArea g = lattice(surface.corner + eu * span.a0 + ev * span.b0, eu * la, ev * lb, nu, nv);
  g.normal = surface.normal;
  g.surface = surface.name;
  return g;
}

// Coordinates of a lattice point in the surface's frame.
std::pair<double, double> surface_coordinates(const SurfaceDesc& surface, Vec3 p) {
  const Vec3 d = p - surface.corner;
  return {dot(d, normalize(surface.u)), dot(d, normalize(surface.v))};
}

}  // namespace

double standard_spacing(double d_metres) {
  const double p = 0.2 * std::pow(5.0, std::log10(d_metres));
  return std::min(p, kLongestStandardSpacing);
}

PointCounts standard_counts(double a_metres, double b_metres) {
  const bool a_longer = a_metres >= b_metres;
  const double longer = a_longer ? a_metres : b_metres;
  const double shorter = a_longer ? b_metres : a_metres;
  const bool elongated = longer >= (kElongatedRatio - kRoundingSlack) * shorter;
  const double d = elongated ? shorter : longer;
  const double other = elongated ? longer : shorter;
  const int n_d = ceil_count(d / standard_spacing(d));
  const int n_other = ceil_count(other / (d / n_d));
  const int n_long = elongated ? n_other : n_d;
  const int n_short = elongated ? n_d : n_other;
  return a_longer ? PointCounts{n_long, n_short} : PointCounts{n_short, n_long};
}

int cells_for(double length, double spacing) { return ceil_count(length / spacing); }

GridArea lattice(Vec3 corner, Vec3 u, Vec3 v, int nu, int nv) {
  GridArea g;
  g.corner = corner;
  g.u = u;
  g.v = v;
  g.nu = nu;
  g.nv = nv;
  g.normal = normalize(cross(u, v));
  g.points.reserve(size_t(nu) * size_t(nv));
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i)
      g.points.push_back(corner + u * ((i + 0.5) / nu) + v * ((j + 0.5) / nv));
  g.state.assign(g.points.size(), PointState::Counted);
  return g;
}

void mask_points(GridArea& area, const MaskingSolids& solids, double tolerance) {
  for (size_t k = 0; k < area.points.size(); ++k)
    if (area.state[k] == PointState::Counted && masks(solids, area.points[k], tolerance))
      area.state[k] = PointState::Masked;
}

void clip_to_outline(GridArea& area, const SurfaceDesc& surface) {
  if (surface.outline.empty()) return;
  for (size_t k = 0; k < area.points.size(); ++k) {
    const auto [a, b] = surface_coordinates(surface, area.points[k]);
    if (!inside(surface.outline, a, b)) area.state[k] = PointState::Outside;
  }
  const double tol = 1e-9 * (length(surface.u) + length(surface.v));
  if (length(area.corner - surface.corner) <= tol &&
      std::fabs(length(area.u) - length(surface.u)) <= tol &&
      std::fabs(length(area.v) - length(surface.v)) <= tol)
    area.outline = surface.outline;
}

double masking_tolerance(const SceneUnit& unit) { return 1e-3 / unit.metres; }

std::vector<GridArea> surface_areas(const Scene& scene, const SurfaceDesc& surface) {
  return surface_areas(scene, surface, masking_solids(scene));
}

std::vector<GridArea> surface_areas(const Scene& scene, const SurfaceDesc& surface,
                                    const MaskingSolids& solids) {
  const double lu = length(surface.u), lv = length(surface.v);
  const double m = surface.margin;
  std::vector<GridArea> out;
  GridArea whole = span_lattice(surface, {m, lu - m, m, lv - m}, scene.unit);
  whole.name = surface.name;
  whole.role = "surface";
  out.push_back(std::move(whole));
  for (const auto& t : surface.task_areas) {
    const auto [ta, tb] = surface_coordinates(surface, t.corner);
    const Span task{ta, ta + t.size_u, tb, tb + t.size_v};
    const Span near = grown(task, t.surrounding, lu, lv);
    const Span far = grown(near, t.background, lu, lv);
    GridArea g = span_lattice(surface, task, scene.unit);
    g.name = surface.name + " / " + t.name + " (task)";
    g.role = "task";
    g.task = t.name;
    out.push_back(std::move(g));
    // Each band's lattice spans its outer rectangle; the points of the
    // rectangle inside it are not part of the band.
    const auto band = [&](const Span& outer, const Span& inner, const std::string& role) {
      GridArea b = span_lattice(surface, outer, scene.unit);
      b.name = surface.name + " / " + t.name + " (" + role + ")";
      b.role = role;
      b.task = t.name;
      for (size_t k = 0; k < b.points.size(); ++k) {
        const auto [pa, pb] = surface_coordinates(surface, b.points[k]);
        if (within(inner, pa, pb)) b.state[k] = PointState::Outside;
      }
      out.push_back(std::move(b));
    };
    band(near, task, "surrounding");
    band(far, near, "background");
  }
  for (auto& g : out) {
    clip_to_outline(g, surface);
    mask_points(g, solids, masking_tolerance(scene.unit));
  }
  return out;
}

}  // namespace lux
