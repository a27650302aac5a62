#include "tools/lux/model/budget.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "tools/lux/grid/grids.h"

namespace lux {

namespace {

// Photons a traced photon's path takes on average in a room before it is
// absorbed or lost: each reflection a further call of the host's tracing.
constexpr double kPhotonBounces = 3;

std::string count_text(double n) {
  char text[32];
  std::snprintf(text, sizeof text, n < 1e6 ? "%.0f" : "%.3g", n);
  return text;
}

// A rectangle inside a surface in the surface's own coordinates: [a0, a1]
// along u and [b0, b1] along v, as the grid lays out task areas.
struct Span {
  double a0, a1, b0, b1;
};

Span grown(const Span& s, double by, double lu, double lv) {
  return {std::max(0.0, s.a0 - by), std::min(lu, s.a1 + by), std::max(0.0, s.b0 - by),
          std::min(lv, s.b1 + by)};
}

// Points of a lattice over a span by a surface's rule.
uint64_t span_points(const Scene& scene, double spacing, bool standard, double la, double lb) {
  if (standard) {
    const PointCounts c = standard_counts(la * scene.unit.metres, lb * scene.unit.metres);
    return uint64_t(c.along_a) * uint64_t(c.along_b);
  }
  return uint64_t(cells_for(la, spacing)) * uint64_t(cells_for(lb, spacing));
}

// Rows of a surface's lattices: each keeps its sums per light.
uint64_t surface_rows(const Scene& scene, const SurfaceDesc& s) {
  const double lv = length(s.v) - 2 * s.margin, lu = length(s.u) - 2 * s.margin;
  if (s.standard_spacing)
    return uint64_t(standard_counts(lu * scene.unit.metres, lv * scene.unit.metres).along_b) *
           (1 + 3 * s.task_areas.size());
  return uint64_t(cells_for(lv, s.spacing)) * (1 + 3 * s.task_areas.size());
}

// Emitter points per receiver of a light, as the run will take them.
double samples_of(const Scene& scene, int own, int run_samples) {
  return run_samples > 0     ? run_samples
         : own > 0           ? own
         : scene.samples > 0 ? scene.samples
                             : kTypicalAdaptiveSamples;
}

// Whether the scene has anything that reflects, so that the interreflection
// runs (unless left out).
bool reflects(const Scene& scene) {
  if (!scene.occluders.empty() || !scene.meshes.empty()) return true;
  return std::any_of(scene.surfaces.begin(), scene.surfaces.end(),
                     [](const SurfaceDesc& s) { return s.role == SurfaceRole::Reflecting; });
}

}  // namespace

uint64_t surface_points(const Scene& scene, const SurfaceDesc& s) {
  const double lu = length(s.u), lv = length(s.v), m = s.margin;
  uint64_t points = span_points(scene, s.spacing, s.standard_spacing, lu - 2 * m, lv - 2 * m);
  const Vec3 eu = normalize(s.u), ev = normalize(s.v);
  for (const auto& t : s.task_areas) {
    const double ta = dot(t.corner - s.corner, eu), tb = dot(t.corner - s.corner, ev);
    const Span task{ta, ta + t.size_u, tb, tb + t.size_v};
    const Span near = grown(task, t.surrounding, lu, lv);
    const Span far = grown(near, t.background, lu, lv);
    for (const Span& a : {task, near, far})
      points += span_points(scene, s.spacing, s.standard_spacing, a.a1 - a.a0, a.b1 - a.b0);
  }
  return points;
}

uint64_t cylindrical_points(const Scene& scene, const CylindricalDesc& c) {
  return span_points(scene, c.spacing, c.standard_spacing, length(c.u) - 2 * c.margin,
                     length(c.v) - 2 * c.margin);
}

StageCost interreflection_cost(const Scene&, const RunSettings&) {
  return {"the interreflection", 0, 0, "a larger \"patch_size\" or --direct-only"};
}

WorkEstimate estimate_work(const Scene& scene, const RunSettings& run) {
  WorkEstimate w;
  w.lights = scene.lights.size() + scene.object_lights.size();
  const double lights = double(w.lights);
  const bool columns = run.light_columns;
  // Emitter points of all lights together per receiver, and the kinds of
  // light: copies of one array entry share their flux integral.
  double samples_per_point = 0;
  std::set<std::string> kinds, kinds_with_flux;
  uint64_t stated = 0;  // lights whose flux is set, so the glare needs no photons of them
  for (const auto& l : scene.lights) {
    samples_per_point += samples_of(scene, l.samples, run.samples);
    const std::string own = light_kind(l);
    const std::string kind = own.empty() ? "\n" + l.name : own;
    kinds.insert(kind);
    if (l.flux) {
      kinds_with_flux.insert(kind);
      ++stated;
    }
  }
  for (const auto& l : scene.object_lights) {
    samples_per_point += samples_of(scene, l.samples, run.samples);
    if (l.flux) ++stated;
  }
  const double object_kinds = double(scene.object_lights.size());
  const double unscaled_kinds = double(kinds.size() - kinds_with_flux.size()) + object_kinds;

  // The scene as read.
  StageCost read{"the scene as read", 0, 0, "fewer lights, smaller meshes or point lists"};
  for (const auto& l : scene.lights) read.bytes += double(light_read_bytes(l));
  for (const auto& m : scene.meshes)
    read.bytes += double(m.mesh.vertices.size()) * sizeof(Vec3) +
                  double(m.mesh.triangles.size()) * (3 * sizeof(uint32_t) + sizeof(double));
  for (const auto& p : scene.point_lists)
    read.bytes += double(p.points.size()) * double(kBytesPerListedPoint);
  for (const auto& s : scene.surfaces)
    for (const auto& ring : s.outline)
      read.bytes += double(ring.size()) * double(kPolygonBytesPerCorner);

  // The lights in the host, and their scaling to a flux.
  StageCost host{"the lights in the host", lights * double(kBytesPerHostLight),
                 2 * kFluxIntegralCalls * double(kinds_with_flux.size()),
                 "fewer lights, or fewer kinds of light scaled to a \"flux\""};
  for (const auto& l : scene.object_lights)
    if (l.flux) host.calls += 2 * kFluxIntegralCalls;

  // The meshes in the host.
  StageCost meshes{"the meshes in the host", 0, 0, "meshes of fewer faces"};
  for (const auto& m : scene.meshes)
    meshes.bytes += double(m.mesh.triangles.size()) * double(kBytesPerHostTriangle);
  if (!scene.meshes.empty()) meshes.bytes += double(kHostMeshBytes);

  // The grids' results.
  uint64_t rows = 0;
  for (const auto& s : scene.surfaces) {
    w.points += surface_points(scene, s);  // a polygon's: its rectangle's
    rows += surface_rows(scene, s);
  }
  for (const auto& p : scene.point_lists) {
    w.points += p.points.size();
    rows += 1;
  }
  const double points = double(w.points);
  StageCost grids{
      "the grids' results",
      points * double(kBytesPerPoint + (columns ? kBytesPerPointAndLight * w.lights : 0)) +
          double(rows) * 8 * lights,
      points * samples_per_point,
      "a coarser \"spacing\", smaller or fewer surfaces or fewer lights, or fewer "
      "\"samples\" (--samples)"};

  // The outputs: tables, report, pictures and the PDF.
  StageCost outputs{"the outputs",
                    points * double(kOutputBytesPerPoint +
                                    (columns ? kOutputBytesPerPointAndLight * w.lights : 0)),
                    0, "a coarser \"spacing\", or no --pdf"};
  if (run.pictures) {
    // One picture at a time: its image and the finer lattice of its lines.
    const double side = double(run.picture_size) + 240;
    outputs.bytes += side * side * 4 * 2;
  }
  if (run.pdf) outputs.bytes += double(kPdfBytes) + points * double(kPdfBytesPerPoint);

  // Cylindrical illuminance.
  StageCost cylindrical{"the cylindrical areas", 0, 0,
                        "a coarser \"spacing\" or fewer \"heights\" of the cylindrical areas"};
  for (const auto& c : scene.cylindrical) {
    const double n = double(cylindrical_points(scene, c)) * double(c.heights.size());
    cylindrical.bytes += n * double(kBytesPerCylindricalPoint);
    cylindrical.calls += n * samples_per_point;
  }

  // The glare ratings.
  StageCost glare{"the glare ratings", 0, 0, "fewer observers, directions or lights"};
  const bool interreflection = !run.direct_only && reflects(scene);
  if (scene.glare) {
    double directions = scene.glare->default_observers ? 4 : 0;
    for (const auto& o : scene.observers) directions += double(o.directions.size());
    glare.bytes = directions * lights * double(kBytesPerGlareSource);
    glare.calls = directions * samples_per_point;
    // Without the interreflection, the background comes from the room
    // estimate, which needs the flux of every light that states none.
    if (!interreflection) glare.calls += double(kGlareFluxPhotons) * unscaled_kinds;
  }

  // The camera view.
  StageCost view{"the camera view", 0, 0,
                 "a smaller view \"width\" and \"height\", or fewer view \"samples\""};
  if (run.view && scene.view) {
    const double pixels = double(scene.view->width) * double(scene.view->height);
    view.bytes = pixels * double(kBytesPerPixel);
    view.calls = pixels * lights * scene.view->samples;
  }

  // Photons: each light's flux measured, and traced through the room.
  StageCost photons{"the photons", 0, 0, "fewer --photons"};
  if (run.photons > 0) {
    photons.calls = lights * run.photons;
    if (interreflection) photons.calls += lights * run.photons * kPhotonBounces;
  }

  w.stages = {read, host, meshes, grids, outputs, cylindrical, glare, view, photons};
  if (interreflection) w.stages.push_back(interreflection_cost(scene, run));
  double bytes = 0;
  for (const auto& s : w.stages) {
    bytes += s.bytes;
    w.samples += s.calls;
  }
  w.bytes = bytes >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(bytes);
  return w;
}

WorkEstimate estimate_work(const Scene& scene, int samples, bool view, bool light_columns) {
  RunSettings run;
  run.samples = samples;
  run.view = view;
  run.light_columns = light_columns;
  run.pictures = false;
  return estimate_work(scene, run);
}

void check_work(const WorkEstimate& w, uint64_t max_bytes) {
  const std::string what = count_text(double(w.points)) + " grid points and " +
                           count_text(double(w.lights)) + (w.lights == 1 ? " light" : " lights");
  const auto largest = [&](auto figure) {
    return *std::max_element(
        w.stages.begin(), w.stages.end(),
        [&](const StageCost& a, const StageCost& b) { return figure(a) < figure(b); });
  };
  if (w.bytes > max_bytes) {
    const StageCost& s = largest([](const StageCost& c) { return c.bytes; });
    throw Error("the calculation needs about " + gigabytes(w.bytes) + " of memory (" + what +
                "), more than the " + gigabytes(max_bytes) + " allowed; most of it (" +
                gigabytes(s.bytes) + ") for " + s.stage + ": " + s.lower +
                ", or allow more with --max-memory");
  }
  if (w.samples > kMaxSamples) {
    const StageCost& s = largest([](const StageCost& c) { return c.calls; });
    throw Error("the calculation would draw about " + count_text(w.samples) + " light samples (" +
                what + "), more than the " + count_text(kMaxSamples) +
                " a run may take; most of them (" + count_text(s.calls) + ") for " + s.stage +
                ": " + s.lower);
  }
}

uint64_t default_memory_bound() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page <= 0) return uint64_t(8) << 30;
  return uint64_t(pages) * uint64_t(page) / 2;
}

uint64_t memory_bound_of(double gb) {
  const double bytes = gb * 1e9;
  return bytes >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(bytes);
}

}  // namespace lux
