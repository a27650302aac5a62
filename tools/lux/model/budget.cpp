#include "tools/lux/model/budget.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "tools/lux/grid/grids.h"

namespace lux {

namespace {

// Cells of a surface's grid along an edge, as make_grid lays them out.
double cells_along(const SurfaceDesc& s, const Vec3& edge) {
  return std::max(1.0, std::ceil(length(edge) / s.spacing - 1e-9));
}

uint64_t points_of(const SurfaceDesc& s, const SceneUnit& unit) {
  if (s.standard_spacing) {
    const PointCounts n = standard_counts(length(s.u) * unit.metres, length(s.v) * unit.metres);
    return uint64_t(n.along_a) * uint64_t(n.along_b);
  }
  return static_cast<uint64_t>(cells_along(s, s.u) * cells_along(s, s.v));
}

std::string count(double n) {
  char text[32];
  std::snprintf(text, sizeof text, n < 1e6 ? "%.0f" : "%.3g", n);
  return text;
}

}  // namespace

std::string gigabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
  return text;
}

WorkEstimate estimate_work(const Scene& scene, int samples, bool view, bool light_columns) {
  WorkEstimate w;
  w.lights = scene.lights.size() + scene.object_lights.size();
  double samples_per_point = 0;
  // With no fixed count the points follow the accuracy asked for and are
  // not known in advance; the estimate then takes a typical count.
  constexpr int kTypicalAdaptiveSamples = 64;
  const auto add = [&](int own) {
    samples_per_point += samples > 0         ? samples
                         : own > 0           ? own
                         : scene.samples > 0 ? scene.samples
                                             : kTypicalAdaptiveSamples;
  };
  for (const auto& l : scene.lights) add(l.samples);
  for (const auto& l : scene.object_lights) add(l.samples);
  // Each row of a grid (a point list is one row) keeps its sum per light
  // for the averages by light.
  uint64_t rows = 0;
  for (const auto& s : scene.surfaces) {
    w.points += points_of(s, scene.unit);  // a polygon's: its rectangle's
    rows += static_cast<uint64_t>(cells_along(s, s.v));
  }
  for (const auto& p : scene.point_lists) {
    w.points += p.points.size();
    rows += 1;
  }
  w.bytes = w.points * (kBytesPerPoint + (light_columns ? kBytesPerPointAndLight * w.lights : 0)) +
            rows * 8 * w.lights;
  w.samples = double(w.points) * samples_per_point;
  if (view && scene.view) {
    const uint64_t pixels = uint64_t(scene.view->width) * uint64_t(scene.view->height);
    w.bytes += pixels * kBytesPerPixel;
    w.samples += double(pixels) * double(w.lights) * scene.view->samples;
  }
  return w;
}

void check_work(const WorkEstimate& w, uint64_t max_bytes) {
  const std::string what = count(double(w.points)) + " grid points and " + count(double(w.lights)) +
                           (w.lights == 1 ? " light" : " lights");
  if (w.bytes > max_bytes)
    throw Error("the calculation needs about " + gigabytes(w.bytes) + " of memory (" + what +
                "), more than the " + gigabytes(max_bytes) +
                " allowed: use a coarser \"spacing\", smaller or fewer surfaces or fewer "
                "lights, or allow more with --max-memory");
  if (w.samples > kMaxSamples)
    throw Error("the calculation would draw about " + count(w.samples) + " light samples (" + what +
                "), more than the " + count(kMaxSamples) +
                " a run may take: lower \"samples\" (or --samples) or use a coarser \"spacing\"");
}

uint64_t default_memory_bound() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page <= 0) return uint64_t(8) << 30;
  return uint64_t(pages) * uint64_t(page) / 2;
}

}  // namespace lux
