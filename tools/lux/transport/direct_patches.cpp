// Direct light on the pieces of the reflecting surfaces, light by light,
// cut where it changes, and the cutting of pieces that something hides in
// part.
#include <algorithm>
#include <cmath>
#include <limits>

#include "shaders/constants.h"
#include "tools/lux/transport/hierarchy.h"

namespace lux {

namespace {

// A piece larger than this fraction of its distance to a light is cut
// whatever its four samples say: the light's peak may fall between them.
constexpr double kNearLight = 0.5;
// A piece smaller than this fraction of its distance to a light takes the
// light at its centre alone: the light cannot change across it but by a
// shadow's edge, which the exchanges of light do not need to follow.
constexpr double kFarPiece = 0.1;
// Directions in which a light's intensity is sampled for its bound, and
// how far the bound is set above the largest sample (the samples may miss
// the peak of a narrow beam by this much).
constexpr int kBoundDirections = 256;
constexpr double kBoundMargin = 2.0;
// Beyond this many of its reaches a light's fixed count of emitter points
// is thinned for the pieces of surface (see piece_lux).
constexpr double kFullSampling = 4.0;

LightReach reach_of(const Light& light) {
  const Emitter& e = light.emitter;
  LightReach b{e.frame.origin, 0, 0, 0, false, -e.frame.ez};
  switch (e.kind) {
    case Emitter::None:
      break;
    case Emitter::Rectangle:
      b.reach = std::sqrt(e.half_u * e.half_u + e.half_v * e.half_v);
      b.flat = true;
      break;
    case Emitter::Disc:
      b.reach = e.radius;
      b.flat = true;
      break;
    case Emitter::Sphere:
      b.reach = e.radius;
      break;
    case Emitter::Cylinder:
      b.reach = std::sqrt(e.radius * e.radius + e.half_length * e.half_length);
      break;
    case Emitter::Solid: {
      const SolidDesc& g = e.solid;
      if (g.kind == SolidDesc::Rectangle) {
        b.center = g.corner + (g.u + g.v) * 0.5;
        b.reach = 0.5 * length(g.u + g.v) + 0.5 * length(g.u - g.v);
      } else if (g.kind == SolidDesc::Box) {
        b.center = (g.min + g.max) * 0.5;
        b.reach = 0.5 * length(g.max - g.min);
      } else {
        b.center = g.center;
        b.reach = g.radius;
      }
      break;
    }
  }
  return b;
}

// The light's peak and flux: its illuminance at points on a sphere around
// it, each facing it, times the sphere's radius squared is its intensity
// that way; the largest with a margin, and 4π times the mean.
void sample_intensity(const Light& light, LightReach& b, double radius,
                      refhost::ThreadContext& thread, size_t index) {
  double most = 0, sum = 0;
  const double golden = zel::kPi * (3 - std::sqrt(5.0));
  for (int k = 0; k < kBoundDirections; ++k) {
    const double z = 1 - 2 * (k + 0.5) / kBoundDirections, r = std::sqrt(1 - z * z);
    const Vec3 w{r * std::cos(golden * k), r * std::sin(golden * k), z};
    const Vec3 at = b.center + w * radius;
    thread.rng = point_seed(at, -w, index);
    thread.sample_index = 0;
    const double e = point_lux(light, at, -w, thread);
    most = std::max(most, e);
    sum += e;
  }
  b.peak = kBoundMargin * most * radius * radius;
  b.flux = 4 * zel::kPi * sum / kBoundDirections * radius * radius;
}

// The illuminance of one light at a sample point of a piece at distance d
// from it. A light with a fixed count of emitter points keeps it near its
// emitter; beyond kFullSampling of its reach, where the emitter is nearly
// a point, the host's own rule takes as few points as the light's accuracy
// needs (a thinned fixed pattern would not cover the emitter evenly).
double piece_lux(const Light& light, const LightReach& b, Vec3 at, Vec3 normal, double d,
                 refhost::ThreadContext& thread) {
  const bool far = light.samples > 1 && d > kFullSampling * b.reach;
  const refhost::EmitterSampling sampling{far ? 0 : light.samples, light.accuracy};
  const miColor c = refhost::illuminance(light.scene, to_mi(at), to_mi(normal), sampling, thread);
  return double(std::max({c.r, c.g, c.b}));
}

// Whether the light can reach any of the patch: some corner in front of a
// flat emitter, and the light not wholly behind the patch.
bool may_light(const LightReach& b, const Patch& p, double tolerance) {
  if (dot(b.center - p.center, p.normal) < -b.reach) return false;
  if (!b.flat) return true;
  for (int k = 0; k < p.corners; ++k)
    if (dot(p.corner[size_t(k)] - b.center, b.front) > tolerance) return true;
  return false;
}

double distance_to(const LightReach& b, const Patch& p) {
  double d = length(p.center - b.center);
  double r = 0;
  for (int k = 0; k < p.corners; ++k) r = std::max(r, length(p.corner[size_t(k)] - p.center));
  return d - r - b.reach;
}

struct DirectWork {
  const Model& model;
  const RadiositySolution& s;
  const Hiding& hiding;
  const DirectSettings& settings;
  const std::vector<LightReach>& reach;
};

void visit(const DirectWork& w, const Patch& p, uint64_t path, size_t l,
           refhost::ThreadContext& thread, std::vector<DirectValue>& out, double& skipped) {
  const LightReach& b = w.reach[l];
  if (!may_light(b, p, w.s.plane_tolerance)) return;
  const double d = distance_to(b, p);
  const double size = longest_edge(p);
  // Skipped whole at a root only: the pieces of a root the light was not
  // skipped on share its light, each little, all together not.
  if (d > 0 && path == 1) {
    const double bound = b.peak / (d * d) * p.area;
    if (bound < w.settings.skip_flux) {
      skipped += bound;
      return;
    }
  }
  const Light& light = w.model.lights()[l];
  const Face& f = w.s.faces[size_t(p.face)];
  if (size < kFarPiece * d) {
    // Far from the light: its light is even over the piece, one point: the
    // centre, or an open quarter's when something hides the centre.
    Vec3 points[4];
    sample_points(p, points);
    const Vec3* open = is_open(w.s, w.hiding, p.face, p.center) ? &p.center : nullptr;
    for (const Vec3& q : points)
      if (open == nullptr && is_open(w.s, w.hiding, p.face, q)) open = &q;
    if (open == nullptr) return;
    const Vec3 at = ray_end(f, *open);
    thread.rng = point_seed(at, p.normal, l);
    thread.sample_index = 0;
    const double e = piece_lux(light, b, at, p.normal, d, thread);
    out.push_back({path, light.maintenance_factor * e, e});
    return;
  }
  Vec3 points[4];
  sample_points(p, points);
  double sum = 0, lo = std::numeric_limits<double>::infinity(), hi = 0;
  int open = 0;
  for (const Vec3& q : points) {
    if (!is_open(w.s, w.hiding, p.face, q)) continue;
    const Vec3 at = ray_end(f, q);
    thread.rng = point_seed(at, p.normal, l);
    thread.sample_index = 0;
    const double e = piece_lux(light, b, at, p.normal, d, thread);
    sum += e;
    lo = std::min(lo, e);
    hi = std::max(hi, e);
    ++open;
  }
  if (open == 0) return;
  const bool splittable = size > w.settings.smallest && path_depth(path) < kMostDepth - 1;
  if (splittable &&
      (size > kNearLight * std::max(d, 0.0) || (hi - lo) * p.area > w.settings.flux_bound)) {
    for (int k = 0; k < 4; ++k)
      visit(w, quarter(p, k), child_path(path, k), l, thread, out, skipped);
    return;
  }
  const double mean = sum / open;
  out.push_back({path, light.maintenance_factor * mean, mean});
}

// Whether a solid or an opening reaches into the thin layer in front of
// the patch without covering all of it: its sample points may all be open
// while a desk's foot or a panel stands within it.
bool meets_hiding(const RadiositySolution& s, const Hiding& h, const Patch& p) {
  // The layer from half the offset to the offset in front: a solid the
  // patch is a face of does not reach into it.
  Vec3 lo = p.corner[0] + p.normal * h.offset, hi = lo;
  for (int k = 0; k < p.corners; ++k)
    for (const double t : {0.5, 1.0}) {
      const Vec3 c = p.corner[size_t(k)] + p.normal * (t * h.offset);
      lo = {std::min(lo.x, c.x), std::min(lo.y, c.y), std::min(lo.z, c.z)};
      hi = {std::max(hi.x, c.x), std::max(hi.y, c.y), std::max(hi.z, c.z)};
    }
  const auto overlaps = [&](Vec3 a, Vec3 b) {
    return !(a.x > hi.x + h.tolerance || b.x < lo.x - h.tolerance || a.y > hi.y + h.tolerance ||
             b.y < lo.y - h.tolerance || a.z > hi.z + h.tolerance || b.z < lo.z - h.tolerance);
  };
  for (const SolidDesc& g : h.solids) {
    const Vec3 a = g.kind == SolidDesc::Box ? g.min : g.center - Vec3{g.radius, g.radius, g.radius};
    const Vec3 b = g.kind == SolidDesc::Box ? g.max : g.center + Vec3{g.radius, g.radius, g.radius};
    if (overlaps(a, b)) return true;
  }
  for (int o : s.faces[size_t(p.face)].openings) {
    const auto& poly = s.faces[size_t(o)].surface.polygon;
    Vec3 a = poly[0], b = poly[0];
    for (const Vec3& c : poly) {
      a = {std::min(a.x, c.x), std::min(a.y, c.y), std::min(a.z, c.z)};
      b = {std::max(b.x, c.x), std::max(b.y, c.y), std::max(b.z, c.z)};
    }
    // An opening lies on the patch's plane: widened to the layer.
    const Vec3 n = p.normal * h.offset;
    if (overlaps(a + Vec3{std::min(n.x, 0.0), std::min(n.y, 0.0), std::min(n.z, 0.0)},
                 b + Vec3{std::max(n.x, 0.0), std::max(n.y, 0.0), std::max(n.z, 0.0)}))
      return true;
  }
  return false;
}

}  // namespace

std::vector<LightReach> light_reaches(const Model& model, double extent, int threads) {
  const auto& lights = model.lights();
  std::vector<LightReach> reach(lights.size());
  for_rows(static_cast<int>(lights.size()), threads, [&](int l, refhost::ThreadContext& thread) {
    LightReach b = reach_of(lights[size_t(l)]);
    const double radius = std::max(3 * b.reach, 0.05 * extent);
    sample_intensity(lights[size_t(l)], b, radius, thread, size_t(l));
    reach[size_t(l)] = b;
  });
  return reach;
}

DirectPieces direct_on_pieces(const Model& model, const RadiositySolution& s,
                              const std::vector<Patch>& roots, const Hiding& hiding,
                              const std::vector<LightReach>& reach, const DirectSettings& settings,
                              Progress* progress) {
  const auto& lights = model.lights();
  DirectPieces out;
  out.of_root.resize(roots.size());
  std::vector<double> skipped(roots.size(), 0.0);
  const DirectWork w{model, s, hiding, settings, reach};
  for_rows(static_cast<int>(roots.size()), settings.threads,
           [&](int r, refhost::ThreadContext& thread) {
             for (size_t l = 0; l < lights.size(); ++l)
               visit(w, roots[size_t(r)], 1, l, thread, out.of_root[size_t(r)], skipped[size_t(r)]);
             if (progress != nullptr) progress->add(1, thread.thread);
           });
  for (double x : skipped) out.skipped += x;
  return out;
}

std::vector<std::vector<uint64_t>> hiding_pieces(const RadiositySolution& s,
                                                 const std::vector<Patch>& roots,
                                                 const Hiding& hiding, double smallest,
                                                 int threads) {
  std::vector<std::vector<uint64_t>> out(roots.size());
  for_rows(static_cast<int>(roots.size()), threads, [&](int r, refhost::ThreadContext&) {
    const auto cut = [&](auto& self, const Patch& p, uint64_t path) -> void {
      // Open at the sample points and near the corners: all, none or some.
      Vec3 points[4];
      sample_points(p, points);
      int open = 0, tried = 0;
      for (const Vec3& q : points) open += is_open(s, hiding, p.face, q) ? 1 : 0;
      tried += 4;
      for (int k = 0; k < p.corners; ++k, ++tried)
        open += is_open(s, hiding, p.face,
                        p.corner[size_t(k)] + (p.center - p.corner[size_t(k)]) * 1e-3)
                    ? 1
                    : 0;
      const bool partly =
          (open > 0 && open < tried) || (open == tried && meets_hiding(s, hiding, p));
      if (!partly || !(longest_edge(p) > smallest) || path_depth(path) >= kMostDepth - 1) {
        out[size_t(r)].push_back(path);
        return;
      }
      for (int k = 0; k < 4; ++k) self(self, quarter(p, k), child_path(path, k));
    };
    cut(cut, roots[size_t(r)], 1);
  });
  return out;
}

}  // namespace lux
