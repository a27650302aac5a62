// Direct light on the pieces of the reflecting surfaces, light by light,
// cut where it changes, and the cutting of pieces that something hides in
// part.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

#include "shaders/constants.h"
#include "tools/lux/transport/hierarchy.h"

namespace lux {

namespace {

// A piece larger than this fraction of its distance to a light is cut
// whatever its four samples say: the light's peak may fall between them.
constexpr double kNearLight = 0.5;
// A piece smaller than this fraction of its distance to a light is not cut
// for the light's smooth change across it, which the mean of its four
// stratified samples integrates; only a shadow's edge or a beam missed
// between the samples cuts it further.
constexpr double kFarPiece = 0.1;
// How much a light's smooth fall-off can change its illuminance across a
// piece, per unit of the piece's size over its distance, as a fraction of
// the largest sample: the inverse square (2), the receiver's cosine and the
// light's own distribution (a steep one, 2 more). Samples differing by more
// see a shadow's edge.
constexpr double kSmoothChange = 3.0;
// Directions in which a light's intensity is sampled for its bounds, and
// how far a bound is set above the largest sample (the samples may miss
// the peak of a narrow beam by this much).
constexpr int kBoundDirections = 1024;
constexpr double kBoundMargin = 2.0;
// The relative error of the illuminance those samples are taken with.
constexpr double kBoundAccuracy = 1e-2;
// The largest angle between a direction and the nearest of the sampled
// ones (radians): about the spacing of kBoundDirections points on the
// sphere, sqrt(4π / n), so that a cone takes every sample that may hold
// its peak.
const double kBoundSpacing = std::sqrt(4 * zel::kPi / kBoundDirections);
// A piece towards which a light's intensity bound (with its margin)
// exceeds this many times its intensity in the directions of the piece's
// samples may have a beam between them. (Compared with the light's own
// distribution, not with what the samples received: a piece in a shadow
// has no beam to look for.) Well above what the bound's margin and the spread of its sampled
// directions give a smooth distribution near its edge (a Lambertian panel
// seen almost edge-on, about 8).
constexpr double kMissedBeam = 32.0;
// A light's intensity bound towards a cone no wider than kCellCone is
// looked up in a table over the sphere, kCellRows by kCellColumns cells of
// equal angles, each holding the most of the sampled directions within its
// own radius, the cone and the samples' spacing of its centre: a piece far
// from a light asks for one cell instead of going through every direction.
constexpr int kCellRows = 32, kCellColumns = 64;
constexpr double kCellCone = 0.1;
// Farthest a direction lies from its cell's centre: half a row's angle
// plus half a column's.
constexpr double kCellRadius = 0.5 * zel::kPi / kCellRows + zel::kPi / kCellColumns;
// Beyond this many of its reaches from a light, the samples that decide
// whether a piece is cut take the host's adaptive rule (see piece_lux).
constexpr double kFullSampling = 4.0;
// The seeds of a piece's two sets of stratified samples: one decides
// whether it is cut, the other gives its light.
constexpr uint64_t kDecidingSet = 0x637574, kValueSet = 0x99887766;
// Coordinates within this fraction of a piece's place and size are the same
// in the order of its corners; a piece's samples are seeded by its centre
// on a grid of this many steps a unit.
constexpr double kSameCoordinate = 1e-9;
constexpr double kSeedGrid = 1e6;

// The directions sampled around every light: a Fibonacci sphere, even in
// solid angle; made once.
const std::vector<Vec3>& bound_directions() {
  static const std::vector<Vec3> directions = [] {
    std::vector<Vec3> out(kBoundDirections);
    const double golden = zel::kPi * (3 - std::sqrt(5.0));
    for (int k = 0; k < kBoundDirections; ++k) {
      const double z = 1 - 2 * (k + 0.5) / kBoundDirections, r = std::sqrt(1 - z * z);
      out[size_t(k)] = {r * std::cos(golden * k), r * std::sin(golden * k), z};
    }
    return out;
  }();
  return directions;
}

// The most of `intensity` (per sampled direction) within `angle` radians
// of the unit vector `axis`.
double most_within(const std::vector<double>& intensity, Vec3 axis, double angle) {
  const double widest = std::cos(angle);
  const std::vector<Vec3>& directions = bound_directions();
  double most = 0;
  for (size_t k = 0; k < directions.size(); ++k)
    if (dot(directions[k], axis) >= widest) most = std::max(most, intensity[k]);
  return most;
}

// The cell of the unit vector w: rows by the angle from +z, columns by the
// angle around it.
int cell_of(Vec3 w) {
  const double theta = std::acos(std::clamp(w.z, -1.0, 1.0));
  const double phi = std::atan2(w.y, w.x);
  const int row = std::min(kCellRows - 1, int(theta / zel::kPi * kCellRows));
  const int column =
      std::min(kCellColumns - 1, int((phi + zel::kPi) / (2 * zel::kPi) * kCellColumns));
  return row * kCellColumns + std::max(column, 0);
}

// Uniform numbers in [0, 1) from a seed, one after another (splitmix64).
double next_uniform(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return double((z ^ (z >> 31)) >> 11) * 0x1.0p-53;
}

// Whether point a comes before point b in a fixed order (x, then y, then
// z), coordinates within `tolerance` counting as equal.
bool before(Vec3 a, Vec3 b, double tolerance) {
  if (std::fabs(a.x - b.x) > tolerance) return a.x < b.x;
  if (std::fabs(a.y - b.y) > tolerance) return a.y < b.y;
  return a.z < b.z - tolerance;
}

// A uniformly random point of the patch: of a parallelogram by its two
// edges, of a triangle by the square-root map of its corners' weights. The
// corners are taken in a fixed order of points, so that the same piece
// gets the same point whichever corner its surface starts from and which
// way it runs (a mesh's face and a room's).
Vec3 random_point(const Patch& p, double u1, double u2) {
  const double tolerance = kSameCoordinate * (1 + length(p.center) + longest_edge(p));
  const auto& c = p.corner;
  if (p.corners == 4) {
    size_t first = 0;
    for (size_t k = 1; k < 4; ++k)
      if (before(c[k], c[first], tolerance)) first = k;
    const Vec3 a = c[first];
    Vec3 next = c[(first + 1) % 4], prev = c[(first + 3) % 4];
    if (before(prev, next, tolerance)) std::swap(next, prev);
    return a + (next - a) * u1 + (prev - a) * u2;
  }
  std::array<Vec3, 3> t{c[0], c[1], c[2]};
  std::sort(t.begin(), t.end(), [&](Vec3 x, Vec3 y) { return before(x, y, tolerance); });
  const double r = std::sqrt(u1);
  return t[0] * (1 - r) + t[1] * (r * (1 - u2)) + t[2] * (r * u2);
}

// A seed from where a piece lies: its centre on a grid of kSeedGrid steps
// a unit, so that the same piece reached another way gets the same one.
uint64_t seed_of(Vec3 center) {
  const auto grid = [](double x) { return uint64_t(std::llround(x * kSeedGrid)); };
  return sample_seed(grid(center.x), grid(center.y), grid(center.z));
}

// One random point in each quarter of the piece: stratified samples whose
// mean integrates the light over the piece without a bias along straight
// edges. Each point depends on where its quarter lies (its centre, to a
// millionth of a unit) and on `set` alone.
void stratified_points(const Patch& p, uint64_t set, Vec3 out[4]) {
  for (int k = 0; k < 4; ++k) {
    const Patch q = quarter(p, k);
    uint64_t state = sample_seed(seed_of(q.center), set, 0);
    const double u1 = next_uniform(state), u2 = next_uniform(state);
    out[k] = random_point(q, u1, u2);
  }
}

// One random point of the whole piece, placed like those of
// stratified_points.
Vec3 one_point(const Patch& p, uint64_t set) {
  uint64_t state = sample_seed(seed_of(p.center), set, 1);
  const double u1 = next_uniform(state), u2 = next_uniform(state);
  return random_point(p, u1, u2);
}

// Whether the piece is narrower than the smallest piece: a mesh's faces
// this narrow (the sides of a chair's thin legs) are not cut where the
// mesh's other parts enclose them. Parts cross each other all along where
// legs meet, the slivers are small, and their open part is measured on the
// finer grid.
bool is_narrow(const Patch& p, double smallest) {
  const double width = (p.corners == 3 ? 2 : 1) * p.area / longest_edge(p);
  return !(width > smallest);
}

// Whether `path` lies strictly above a piece of `cut` (sorted in preorder):
// something hides part of it, and it was cut for that.
bool cut_below(const std::vector<uint64_t>& cut, uint64_t path) {
  const auto it = std::lower_bound(cut.begin(), cut.end(), path, PathBefore{});
  return it != cut.end() && strictly_above(path, *it);
}

LightReach reach_of(const Light& light) {
  const Emitter& e = light.emitter;
  LightReach b;
  b.center = e.frame.origin;
  b.front = -e.frame.ez;
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

// The light's intensity, peak and flux: its illuminance at points on a
// sphere around it, each facing it, times the sphere's radius squared is
// its intensity that way; the largest with a margin, and 4π times the mean.
void sample_intensity(const Light& light, LightReach& b, double radius,
                      refhost::ThreadContext& thread, size_t index) {
  double most = 0, sum = 0;
  const std::vector<Vec3>& directions = bound_directions();
  b.intensity.assign(directions.size(), 0.0);
  const refhost::EmitterSampling sampling{0, kBoundAccuracy};
  for (size_t k = 0; k < directions.size(); ++k) {
    const Vec3 w = directions[k];
    const Vec3 at = b.center + w * radius;
    thread.rng = point_seed(at, -w, index);
    thread.sample_index = 0;
    const miColor c = refhost::illuminance(light.scene, to_mi(at), to_mi(-w), sampling, thread);
    const double e = double(std::max({c.r, c.g, c.b}));
    b.intensity[k] = e * radius * radius;
    most = std::max(most, e);
    sum += e;
  }
  b.peak = kBoundMargin * most * radius * radius;
  b.flux = 4 * zel::kPi * sum / kBoundDirections * radius * radius;
}

// How many of a light's `samples` emitter points a piece's light takes at
// gap d: all within kFullSampling of the emitter's reach; beyond, in
// proportion to the solid angle the emitter fills, for the same number of
// points per steradian of it. A piece's value is the mean over random
// points of the piece, so a shadow's edge moving across the emitter's
// fixed points as the receiving point moves integrates the penumbra; the
// emitter's points only have to cover it as finely as it is seen.
int emitter_points(int samples, double reach, double d) {
  const double full = kFullSampling * reach;
  if (samples <= 1 || !(d > full)) return samples;
  // A power of two: the host's emitter points fill the emitter evenly in
  // both directions only for such counts (for others their mean lies off
  // its centre, and the light's fall-off makes that a bias).
  const double wanted = std::ceil(double(samples) * (full / d) * (full / d));
  const int points = static_cast<int>(std::bit_ceil(static_cast<unsigned>(std::max(1.0, wanted))));
  return std::min(samples, points);
}

// The illuminance of one light at a sample point of a piece at gap d from
// it. A piece's light is taken from a fixed count of emitter points: the
// host's adaptive rule takes fewer far from the emitter, but it stops early
// in a penumbra whose first points all fall the same way, taking a point
// half shadowed as lit or dark (several per cent too little on the floor
// around furniture). The samples that only decide whether a piece is cut
// (`deciding`) may take that rule beyond kFullSampling of the emitter's
// reach, where it needs few points.
double piece_lux(const Light& light, const LightReach& b, Vec3 at, Vec3 normal, double d,
                 bool deciding, refhost::ThreadContext& thread) {
  const bool adaptive = deciding && light.samples > 1 && d > kFullSampling * b.reach;
  const refhost::EmitterSampling sampling{adaptive ? 0 : emitter_points(light.samples, b.reach, d),
                                          light.accuracy};
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

double piece_radius(const Patch& p) {
  double r = 0;
  for (int k = 0; k < p.corners; ++k) r = std::max(r, length(p.corner[size_t(k)] - p.center));
  return r;
}

// The gap between the light's emitter and the piece: the distance of their
// centres less both radii.
double distance_to(const LightReach& b, const Patch& p) {
  return length(p.center - b.center) - piece_radius(p) - b.reach;
}

// The most the light can give the piece: its intensity bound within the
// cone the piece fills seen from the light (lux × square units), and that
// over the gap squared, times the largest cosine at which the light can
// arrive, the most illuminance at any point of the piece (lux). Infinite
// where the piece and the emitter are too close for a bound.
struct Bound {
  double intensity = std::numeric_limits<double>::infinity();
  double illuminance = std::numeric_limits<double>::infinity();
  double per_intensity = 0;  // illuminance per unit of intensity at the piece's centre
};
Bound light_bound(const LightReach& b, const Patch& p, double gap) {
  if (!(gap > 0)) return {};
  const Vec3 to = p.center - b.center;
  const double d = length(to);
  const Vec3 axis = to * (1 / d);
  const double half_angle = std::asin(std::min(1.0, (piece_radius(p) + b.reach) / d));
  // The light arrives at most this far from the normal.
  const double incidence = std::acos(std::clamp(-dot(axis, p.normal), -1.0, 1.0));
  const double cosine = std::cos(std::max(0.0, incidence - half_angle));
  const double intensity = intensity_towards(b, axis, half_angle);
  return {intensity, intensity * cosine / (gap * gap), cosine / (d * d)};
}

// Samples of a light's illuminance on a piece: their sum, least and most,
// and the most of the light's intensity (as sampled around it, shadows
// aside) in their directions: what the samples can have seen of its
// distribution.
struct Samples {
  double sum = 0, lo = std::numeric_limits<double>::infinity(), hi = 0, towards = 0;
  int open = 0;
  void add(double e, const LightReach& b, Vec3 q) {
    sum += e;
    lo = std::min(lo, e);
    hi = std::max(hi, e);
    ++open;
    const Vec3 w = q - b.center;
    const double d = length(w);
    if (d > 0) towards = std::max(towards, intensity_near(b, w * (1 / d)));
  }
};

struct DirectWork {
  const Model& model;
  const RadiositySolution& s;
  const Hiding& hiding;
  const DirectSettings& settings;
  const std::vector<LightReach>& reach;
  const std::vector<std::vector<uint64_t>>& hidden;
};

// The illuminance of light l at the point q of a piece of face f, at gap d
// from the light.
double sample(const DirectWork& w, const Face& f, size_t l, Vec3 normal, double d, Vec3 q,
              bool deciding, refhost::ThreadContext& thread) {
  const Vec3 at = ray_end(f, q);
  thread.rng = point_seed(at, normal, l);
  thread.sample_index = 0;
  return piece_lux(w.model.lights()[l], w.reach[l], at, normal, d, deciding, thread);
}

// The light of one light on a piece of root `r` and below: a mean recorded
// at the piece, or at pieces it is cut into.
void visit(const DirectWork& w, uint32_t r, const Patch& p, uint64_t path, size_t l,
           refhost::ThreadContext& thread, std::vector<DirectValue>& out, double& skipped) {
  const LightReach& b = w.reach[l];
  if (!may_light(b, p, w.s.plane_tolerance)) return;
  const double d = distance_to(b, p);
  const double size = longest_edge(p);
  const Bound bound = light_bound(b, p, d);
  // Skipped whole at a root only: the pieces of a root the light was not
  // skipped on share its light, each little, all together not.
  if (path == 1 && bound.illuminance * p.area < w.settings.skip_flux) {
    skipped += bound.illuminance * p.area;
    return;
  }
  const Face& f = w.s.faces[size_t(p.face)];
  const bool splittable = size > w.settings.smallest && path_depth(path) < kMostDepth - 1;
  const auto split = [&] {
    for (int k = 0; k < 4; ++k)
      visit(w, r, quarter(p, k), child_path(path, k), l, thread, out, skipped);
  };
  // On a mesh's narrow faces, points its other parts enclose are sampled
  // (their light is nil, as the shadow rays find) rather than found by rays
  // of their own for every light, as when cutting.
  const bool meshes =
      w.s.elements[size_t(f.surface.element)].mesh < 0 || !is_narrow(p, w.settings.smallest);
  const auto take = [&](const Vec3* points, int n, bool deciding, Samples& into) {
    for (int k = 0; k < n; ++k)
      if (is_open(w.s, w.hiding, p.face, points[k], meshes))
        into.add(sample(w, f, l, p.normal, d, points[k], deciding, thread), b, points[k]);
  };
  Vec3 points[4];
  if (splittable) {
    // Samples that decide whether the piece is cut.
    stratified_points(p, kDecidingSet, points);
    Samples first;
    take(points, 4, true, first);
    // A piece partly hidden takes its light from its open part: a sliver
    // along a solid's foot that one sample or none falls on, where the
    // solid's own shadow begins, and one sample cannot show the light
    // changing. It is cut along the hiding while what the light could give
    // it unshadowed is above the bound.
    if (cut_below(w.hidden[r], path) &&
        (first.open == 0 || (first.open < 2 && bound.illuminance * p.area > w.settings.flux_bound)))
      return split();
    // All in a shadow, where the light is strong: a lit sliver along the
    // piece's edge (the penumbra beside a desk) would fall between the
    // samples, but not past all the corners.
    if (first.open > 0 && first.hi == 0 && bound.illuminance * p.area > w.settings.flux_bound) {
      Vec3 corners[4];
      for (int k = 0; k < p.corners; ++k) corners[k] = inside_corner(p, k);
      Samples edge;
      take(corners, p.corners, true, edge);
      if (edge.hi > 0) return split();
    }
    if (first.open > 0) {
      const double reach = std::max(d, 0.0);
      const double hi = first.hi, lo = first.lo;
      const bool near = size > kNearLight * reach;
      const bool changes = (hi - lo) * p.area > w.settings.flux_bound;
      const bool smooth = hi - lo <= kSmoothChange * size / std::max(reach, size) * hi;
      const bool missed =
          bound.intensity > kMissedBeam * first.towards &&
          (bound.intensity - first.towards) * bound.per_intensity * p.area > w.settings.flux_bound;
      const bool edge = !smooth && (hi - lo) * p.area > w.settings.edge_bound;
      if (near || missed || (changes && size >= kFarPiece * reach) || edge) return split();
    }
  }
  // The piece's light from samples of its own: a mean of the samples that
  // found it even would be biased towards light, for a shadow they missed
  // is left uncut. A piece that cannot be cut takes one random point, as
  // unbiased and a quarter of the work: the smallest pieces are many, and
  // their errors average out over a surface.
  Samples value;
  if (splittable) {
    stratified_points(p, kValueSet, points);
    take(points, 4, false, value);
  } else {
    points[0] = one_point(p, kValueSet);
    take(points, 1, false, value);
  }
  if (value.open == 0) {
    // All on the hidden part: the points that measure its open part.
    sample_points(p, points);
    take(points, 4, false, value);
  }
  if (value.open == 0) {
    // A sliver open beyond those four (a piece along a solid's foot): four
    // of the finer grid's open points that gave it its open area, spread
    // over them, so that the light on that area is not lost.
    Vec3 grid[kOpenGridPoints];
    const int n = open_grid_points(w.s, w.hiding, p, grid);
    if (n == 0) return;
    const int taken = std::min(n, 4);
    for (int k = 0; k < taken; ++k) points[k] = grid[k * n / taken];
    take(points, taken, false, value);
  }
  const double mean = value.sum / value.open;
  out.push_back({path, w.model.lights()[l].maintenance_factor * mean, mean});
}

// Whether a solid, a mesh part or an opening reaches into the thin layer in front of
// the patch without covering all of it: its sample points may all be open
// while a desk's foot or a panel stands within it.
bool meets_hiding(const RadiositySolution& s, const Hiding& h, const Patch& p, bool meshes) {
  const int part = h.face_part.empty() ? -1 : h.face_part[size_t(p.face)];
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
  // A part of a mesh standing on the piece: a leg's foot, a crate, a leg
  // passing through a table's top (not on a mesh's narrow faces).
  if (meshes && meets_mesh_part(h, lo, hi, part)) return true;
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
    b.cell_intensity.resize(size_t(kCellRows * kCellColumns));
    b.cell_near.resize(size_t(kCellRows * kCellColumns));
    for (int row = 0; row < kCellRows; ++row)
      for (int column = 0; column < kCellColumns; ++column) {
        const double theta = (row + 0.5) * zel::kPi / kCellRows;
        const double phi = -zel::kPi + (column + 0.5) * 2 * zel::kPi / kCellColumns;
        const Vec3 centre{std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                          std::cos(theta)};
        b.cell_intensity[size_t(row * kCellColumns + column)] =
            most_within(b.intensity, centre, kCellRadius + kCellCone + kBoundSpacing);
        b.cell_near[size_t(row * kCellColumns + column)] =
            most_within(b.intensity, centre, kCellRadius + kBoundSpacing);
      }
    reach[size_t(l)] = b;
  });
  return reach;
}

double intensity_towards(const LightReach& b, Vec3 axis, double half_angle) {
  if (b.intensity.empty() || half_angle + kBoundSpacing >= zel::kPi) return b.peak;
  if (half_angle <= kCellCone && !b.cell_intensity.empty())
    return kBoundMargin * b.cell_intensity[size_t(cell_of(axis))];
  return kBoundMargin * most_within(b.intensity, axis, half_angle + kBoundSpacing);
}

double intensity_near(const LightReach& b, Vec3 w) {
  return b.cell_near.empty() ? b.peak : b.cell_near[size_t(cell_of(w))];
}

DirectPieces direct_on_pieces(const Model& model, const RadiositySolution& s,
                              const std::vector<Patch>& roots, const Hiding& hiding,
                              const std::vector<std::vector<uint64_t>>& hidden,
                              const std::vector<LightReach>& reach, const DirectSettings& settings,
                              Progress* progress) {
  const auto& lights = model.lights();
  DirectPieces out;
  out.of_root.resize(roots.size());
  std::vector<double> skipped(roots.size(), 0.0);
  const DirectWork w{model, s, hiding, settings, reach, hidden};
  for_rows(static_cast<int>(roots.size()), settings.threads,
           [&](int r, refhost::ThreadContext& thread) {
             if (!s.faces[size_t(roots[size_t(r)].face)].surface.passes_direct)
               for (size_t l = 0; l < lights.size(); ++l)
                 visit(w, uint32_t(r), roots[size_t(r)], 1, l, thread, out.of_root[size_t(r)],
                       skipped[size_t(r)]);
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
    const ReflectingSurface& surface = s.faces[size_t(roots[size_t(r)].face)].surface;
    const bool on_mesh = s.elements[size_t(surface.element)].mesh >= 0;
    const auto cut = [&](auto& self, const Patch& p, uint64_t path) -> void {
      const bool meshes = !on_mesh || !is_narrow(p, smallest);
      // Open at the sample points and near the corners: all, none or some.
      Vec3 points[4];
      sample_points(p, points);
      int open = 0, tried = 0;
      for (const Vec3& q : points) open += is_open(s, hiding, p.face, q, meshes) ? 1 : 0;
      tried += 4;
      for (int k = 0; k < p.corners; ++k, ++tried)
        open += is_open(s, hiding, p.face, inside_corner(p, k), meshes) ? 1 : 0;
      const bool partly =
          (open > 0 && open < tried) || (open == tried && meets_hiding(s, hiding, p, meshes));
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
