// Ray tracing against the scene's simple geometry (probe and shadow rays).
//
// The objects the rays see (every instance of an object by its placement,
// and every object no instance places) are gathered from the database once
// after each edit, into a view that render threads share: a ray walks that
// list only, allocates nothing and locks nothing, so any number of render
// threads may trace at once while the scene is not being edited. Scenes of
// the reference host hold a handful of objects, for which the walk is cheap. All intersection
// arithmetic is in double precision so that hit distances are exact to well
// below single-precision rounding.
#include "refhost/trace.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "refhost/embree.h"
#include "refhost/internal.h"

namespace refhost {

namespace {

constexpr double kNoHit = std::numeric_limits<double>::infinity();

// Hits closer than this fraction of the scene's extent to either end of a
// ray are the surfaces the ray starts or ends on (the emitter, the
// receiver), not occluders. Single-precision points carry a relative error
// near 6e-8, so the margin leaves two orders of magnitude to spare.
constexpr double kSelfHitFraction = 1e-5;

double dot(const Vec3d& a, const Vec3d& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3d sub(const Vec3d& a, const Vec3d& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3d along(const Vec3d& o, const Vec3d& d, double t) {
  return {o.x + t * d.x, o.y + t * d.y, o.z + t * d.z};
}
Vec3d cross(const Vec3d& a, const Vec3d& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3d widen(const miVector& v) { return {v.x, v.y, v.z}; }
float narrow(double v) { return static_cast<float>(v); }

// Row-vector transforms p' = p · M, with the matrix's entries as stored
// (float) or widened once (double): the arithmetic is the same.
template <typename Entry>
Vec3d transform_point(const Vec3d& p, const Entry* m) {
  return {p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12],
          p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
          p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]};
}
template <typename Entry>
Vec3d transform_vector(const Vec3d& v, const Entry* m) {
  return {v.x * m[0] + v.y * m[4] + v.z * m[8], v.x * m[1] + v.y * m[5] + v.z * m[9],
          v.x * m[2] + v.y * m[6] + v.z * m[10]};
}

// The smaller of the crossings a and b that lies inside (t_min, t_max).
double first_inside(double a, double b, double t_min, double t_max) {
  if (a > b) std::swap(a, b);
  if (a > t_min && a < t_max) return a;
  if (b > t_min && b < t_max) return b;
  return kNoHit;
}

// Crossing of the plane through `c` with normal `n`; NaN when the ray runs
// parallel to it (or the normal is null).
double plane_crossing(const Vec3d& c, const Vec3d& n, const Vec3d& o, const Vec3d& d) {
  const double facing = dot(d, n);
  if (facing == 0.0) return std::numeric_limits<double>::quiet_NaN();
  return dot(sub(c, o), n) / facing;
}

double hit_plane(const Geometry& g, const Vec3d& o, const Vec3d& d, double t_min, double t_max) {
  const double t = plane_crossing(widen(g.center), widen(g.normal), o, d);
  return t > t_min && t < t_max ? t : kNoHit;
}

// The rectangle c ± u ± v with what its hits need: the normal u × v and
// the Gram matrix of u and v, whose determinant is 0 for a degenerate one.
struct RectangleFrame {
  Vec3d c, u, v, n;
  double uu, uv, vv, det;
};

RectangleFrame rectangle_frame(const Geometry& g) {
  RectangleFrame f;
  f.u = widen(g.u);
  f.v = widen(g.v);
  f.c = widen(g.center);
  f.n = cross(f.u, f.v);
  f.uu = dot(f.u, f.u);
  f.uv = dot(f.u, f.v);
  f.vv = dot(f.v, f.v);
  f.det = f.uu * f.vv - f.uv * f.uv;
  return f;
}

// The plane crossing, then its coordinates along u and v (which need not
// be perpendicular) must both lie within ±1.
double hit_rectangle(const RectangleFrame& f, const Vec3d& o, const Vec3d& d, double t_min,
                     double t_max) {
  const double t = plane_crossing(f.c, f.n, o, d);
  if (!(t > t_min && t < t_max)) return kNoHit;
  const Vec3d p = sub(along(o, d, t), f.c);
  if (f.det <= 0.0) return kNoHit;
  const double pu = dot(p, f.u), pv = dot(p, f.v);
  const double a = (pu * f.vv - pv * f.uv) / f.det;
  const double b = (pv * f.uu - pu * f.uv) / f.det;
  return std::fabs(a) <= 1.0 && std::fabs(b) <= 1.0 ? t : kNoHit;
}

double hit_rectangle(const Geometry& g, const Vec3d& o, const Vec3d& d, double t_min,
                     double t_max) {
  return hit_rectangle(rectangle_frame(g), o, d, t_min, t_max);
}

double hit_disc(const Geometry& g, const Vec3d& o, const Vec3d& d, double t_min, double t_max) {
  const Vec3d c = widen(g.center);
  const double t = plane_crossing(c, widen(g.normal), o, d);
  if (!(t > t_min && t < t_max)) return kNoHit;
  const Vec3d p = sub(along(o, d, t), c);
  const double r = g.radius;
  return dot(p, p) <= r * r ? t : kNoHit;
}

// Both roots of |o + t·d − c|² = r², in the cancellation-free form.
double hit_sphere(const Geometry& g, const Vec3d& o, const Vec3d& d, double t_min, double t_max) {
  const Vec3d oc = sub(o, widen(g.center));
  const double a = dot(d, d);
  const double half_b = dot(oc, d);
  const double r = g.radius;
  const double c = dot(oc, oc) - r * r;
  const double discriminant = half_b * half_b - a * c;
  if (a == 0.0 || discriminant < 0.0) return kNoHit;
  const double q = -(half_b + std::copysign(std::sqrt(discriminant), half_b));
  if (q == 0.0) return first_inside(0.0, 0.0, t_min, t_max);  // ray from the centre, r = 0
  return first_inside(q / a, c / q, t_min, t_max);
}

// Slab test of an axis-aligned box: the entry and the exit are the two
// crossings of its surface.
double hit_box(const Geometry& g, const Vec3d& o, const Vec3d& d, double t_min, double t_max) {
  const double lo[3] = {g.min.x, g.min.y, g.min.z};
  const double hi[3] = {g.max.x, g.max.y, g.max.z};
  const double os[3] = {o.x, o.y, o.z};
  const double ds[3] = {d.x, d.y, d.z};
  double enter = -kNoHit, leave = kNoHit;
  for (int i = 0; i < 3; ++i) {
    if (ds[i] == 0.0) {
      if (os[i] < lo[i] || os[i] > hi[i]) return kNoHit;
      continue;
    }
    double t0 = (lo[i] - os[i]) / ds[i];
    double t1 = (hi[i] - os[i]) / ds[i];
    if (t0 > t1) std::swap(t0, t1);
    enter = std::max(enter, t0);
    leave = std::min(leave, t1);
  }
  if (enter > leave) return kNoHit;
  return first_inside(enter, leave, t_min, t_max);
}

// An object placed in the world, seen by one ray: the ray carried into the
// object's own space keeps its parameter, since the direction is carried as
// a vector without renormalising.
double crossing(const Placement& p, const Vec3d& o, const Vec3d& d, double t_min, double t_max) {
  if (p.world_to_local == nullptr) return first_crossing(*p.geometry, o, d, t_min, t_max);
  return first_crossing(*p.geometry, transform_point(o, p.world_to_local),
                        transform_vector(d, p.world_to_local), t_min, t_max);
}

miTag instance_item(const detail::Element& e) {
  miTag item = 0;
  std::memcpy(&item, e.bytes() + kInstanceItemOffset, sizeof item);
  return item;
}

}  // namespace

namespace {

// An object that casts shadows, as shadow rays test it: its placement
// widened to double once, what it lets through, and for a rectangle the
// frame its hits need.
struct Caster {
  const Geometry* geometry = nullptr;
  bool placed = false;       // whether `to_local` applies
  double to_local[16] = {};  // the instance's world-to-local matrix
  double through[3] = {};    // transparency per channel, within [0, 1]
  RectangleFrame rectangle{};
  // A sphere in the world that holds the whole object, or none (radius
  // +∞): a ray that passes it by cannot cross the object.
  Vec3d bound_centre{0, 0, 0};
  double bound_radius_squared = kNoHit;
};

// The bounding sphere's slack, relative to its radius and to its distance
// from the world's origin: the object's own test carries the ray into the
// object's space by the instance's stored world-to-local matrix, the sphere
// is placed by the stored local-to-world one, and the two, each rounded to
// single precision, are inverses only to about 1e-7 of those lengths.
constexpr double kBoundSlack = 1e-4;

// A sphere in the object's own space that holds it (centre, radius); false
// for a plane, which has no bound, and for a mesh.
bool local_bound(const Geometry& g, Vec3d& centre, double& radius) {
  switch (g.kind) {
    case Geometry::Rectangle:
      centre = widen(g.center);
      radius = std::sqrt(dot(widen(g.u), widen(g.u))) + std::sqrt(dot(widen(g.v), widen(g.v)));
      return true;
    case Geometry::Disc:
    case Geometry::Sphere:
      centre = widen(g.center);
      radius = std::fabs(double(g.radius));
      return true;
    case Geometry::Box: {
      const Vec3d lo = widen(g.min), hi = widen(g.max);
      centre = {0.5 * (lo.x + hi.x), 0.5 * (lo.y + hi.y), 0.5 * (lo.z + hi.z)};
      const Vec3d half = sub(hi, centre);
      radius = std::sqrt(dot(half, half));
      return true;
    }
    default:
      return false;
  }
}

// The caster's bound carried into the world: the centre by the instance's
// local-to-world matrix, the radius by that matrix's Frobenius norm, which
// no stretch of a length exceeds.
void place_bound(Caster& k, const Placement& p) {
  Vec3d centre;
  double radius = 0.0;
  if (!local_bound(*p.geometry, centre, radius)) return;
  if (p.local_to_world != nullptr) {
    const float* m = p.local_to_world;
    double norm = 0.0;
    for (const int i : {0, 1, 2, 4, 5, 6, 8, 9, 10}) norm += double(m[i]) * double(m[i]);
    centre = transform_point(centre, m);
    radius *= std::sqrt(norm);
  }
  const double reach = radius + kBoundSlack * (radius + std::sqrt(dot(centre, centre)));
  if (!std::isfinite(reach)) return;
  k.bound_centre = centre;
  k.bound_radius_squared = reach * reach;
}

// Whether the segment o + t·d, t within [t_min, t_max], keeps out of the
// caster's bounding sphere (`d` of unit length).
bool passes_bound(const Caster& k, const Vec3d& o, const Vec3d& d, double t_min, double t_max) {
  const double t = std::clamp(dot(sub(k.bound_centre, o), d), t_min, t_max);
  const Vec3d gap = sub(along(o, d, t), k.bound_centre);
  return dot(gap, gap) > k.bound_radius_squared;
}

Caster caster_of(const Placement& p) {
  Caster k;
  k.geometry = p.geometry;
  k.placed = p.world_to_local != nullptr;
  if (k.placed)
    for (int i = 0; i < 16; ++i) k.to_local[i] = p.world_to_local[i];
  const miColor& t = p.geometry->transparency;
  k.through[0] = std::clamp(double(t.r), 0.0, 1.0);
  k.through[1] = std::clamp(double(t.g), 0.0, 1.0);
  k.through[2] = std::clamp(double(t.b), 0.0, 1.0);
  if (p.geometry->kind == Geometry::Rectangle) k.rectangle = rectangle_frame(*p.geometry);
  place_bound(k, p);
  return k;
}

// Whether the caster crosses the ray: for a mesh the cheaper question,
// since a shadow needs no nearest hit.
bool crosses(const Caster& k, const Vec3d& o, const Vec3d& d, double t_min, double t_max) {
  const Vec3d lo = k.placed ? transform_point(o, k.to_local) : o;
  const Vec3d ld = k.placed ? transform_vector(d, k.to_local) : d;
  const Geometry& g = *k.geometry;
  switch (g.kind) {
    case Geometry::Rectangle:
      return hit_rectangle(k.rectangle, lo, ld, t_min, t_max) != kNoHit;
    case Geometry::Mesh:
      return g.mesh && mesh_crossed(*g.mesh, lo, ld, t_min, t_max);
    default:
      return first_crossing(g, lo, ld, t_min, t_max) != kNoHit;
  }
}

}  // namespace

// Every object in the world as the rays see it (see trace.h), in the
// database's order, and those of them that cast shadows. The casters hold
// their instances' matrices as they stood when the view was built: an
// instance is moved through the host's editing calls, which rebuild it.
struct detail::TraceView {
  uint64_t generation = 0;
  std::vector<Placement> placed;
  std::vector<Caster> casters;
};

namespace {

// Which tags some instance places: one pass over the scene instead of a
// search per object.
std::vector<bool> instanced_items(const detail::Database& d) {
  std::vector<bool> instanced(d.elements.size() + 1, false);
  for (const auto& e : d.elements) {
    if (e->type != miSCENE_INSTANCE) continue;
    const miTag item = instance_item(*e);
    if (item < instanced.size()) instanced[item] = true;
  }
  return instanced;
}

std::shared_ptr<detail::TraceView> build_view(const detail::Database& d, uint64_t generation) {
  auto view = std::make_shared<detail::TraceView>();
  view->generation = generation;
  const std::vector<bool> instanced = instanced_items(d);
  for (size_t i = 0; i < d.elements.size(); ++i) {
    const auto tag = static_cast<miTag>(i + 1);
    const detail::Element& e = *d.elements[i];
    Placement p;
    if (e.type == miSCENE_INSTANCE) {
      if (!placement_of(tag, p)) continue;
    } else if (e.type == miSCENE_OBJECT && !instanced[tag]) {
      p.geometry = &e.geometry;
    } else {
      continue;
    }
    view->placed.push_back(p);
    if (p.geometry->casts_shadow) view->casters.push_back(caster_of(p));
  }
  return view;
}

// A view of the scene as it stands now, built unless another thread just
// did.
[[gnu::cold, gnu::noinline]] const detail::TraceView& rebuilt_view(detail::Database& d) {
  std::lock_guard<std::mutex> lock(d.mutex);
  const uint64_t now = d.generation.load(std::memory_order_acquire);
  const detail::TraceView* view = d.trace_view.load(std::memory_order_acquire);
  if (view != nullptr && view->generation == now) return *view;
  std::shared_ptr<const detail::TraceView> fresh = build_view(d, now);
  d.trace_view_owners.push_back(fresh);
  d.trace_view.store(fresh.get(), std::memory_order_release);
  return *fresh;
}

// The view of the scene as it stands: the published one while no edit has
// come since it was built, else a fresh one. Rendering threads share it;
// the first of them after an edit builds it.
const detail::TraceView& current_view() {
  detail::Database& d = detail::db();
  const uint64_t generation = d.generation.load(std::memory_order_acquire);
  const detail::TraceView* view = d.trace_view.load(std::memory_order_acquire);
  if (view != nullptr && view->generation == generation) [[likely]]
    return *view;
  return rebuilt_view(d);
}

// Calls `visit(placement)` for every object in the world (see trace.h)
// until it answers false.
template <typename Visit>
void for_each_placed_object(Visit&& visit) {
  for (const Placement& p : current_view().placed)
    if (!visit(p)) return;
}

// The instance whose object is the emitter of `light_instance`'s light, or 0.
miTag emitting_instance(miTag light_instance) {
  const detail::Element* e = detail::element(light_instance);
  if (e == nullptr || e->type != miSCENE_INSTANCE) return 0;
  const LightRecord* light = light_record(instance_item(*e));
  return light != nullptr && light->area == miLIGHT_OBJECT ? light->obj_instance : 0;
}

double largest_coordinate(const Vec3d& a) {
  return std::max({std::fabs(a.x), std::fabs(a.y), std::fabs(a.z)});
}

// Unit vector along v, or false when v has no usable length.
bool normalise(Vec3d& v) {
  const double length = std::sqrt(dot(v, v));
  if (!(length > 0.0) || !std::isfinite(length)) return false;
  v = {v.x / length, v.y / length, v.z / length};
  return true;
}

// The direction towards the state's point when the state's own has no
// usable length; false when that has none either.
[[gnu::cold, gnu::noinline]] bool direction_to_point(const miState& state, const Vec3d& origin,
                                                     Vec3d& direction) {
  direction = sub(widen(state.point), origin);
  return normalise(direction);
}

// The shadow along the segment of `state` (from `origin` along the unit
// `direction`) past the casters from `first` on, `first` being the first
// whose bounding sphere the segment does not pass by (see mi_trace_shadow).
[[gnu::noinline]] miBoolean shadow_from(const Caster* first, const Caster* end, miColor* colour,
                                        const miState& state, const Vec3d& origin,
                                        const Vec3d& direction) {
  const double length = state.dist;
  // The ends of the segment are left out by a margin: hits that near them
  // are the surfaces the segment starts and ends on.
  const double extent =
      std::max({1.0, std::isfinite(length) ? length : 0.0, largest_coordinate(origin),
                largest_coordinate(widen(state.point))});
  const double margin = kSelfHitFraction * extent;
  const double t_min = margin, t_max = length - margin;
  if (!(t_max > t_min)) return 1;
  double through[3] = {1.0, 1.0, 1.0};
  bool crossed = false, blocked = false;
  for (const Caster* k = first; k != end; ++k) {
    if (k != first && passes_bound(*k, origin, direction, 0.0, length)) continue;
    if (!crosses(*k, origin, direction, t_min, t_max)) continue;
    crossed = true;
    through[0] *= k->through[0];
    through[1] *= k->through[1];
    through[2] *= k->through[2];
    blocked = through[0] == 0.0 && through[1] == 0.0 && through[2] == 0.0;
    if (blocked) break;
  }
  if (!crossed) return 1;  // the colour passes unchanged
  colour->r = narrow(colour->r * through[0]);
  colour->g = narrow(colour->g * through[1]);
  colour->b = narrow(colour->b * through[2]);
  return blocked ? 0 : 1;
}

}  // namespace

double first_crossing(const Geometry& g, const Vec3d& o, const Vec3d& d, double t_min,
                      double t_max) {
  switch (g.kind) {
    case Geometry::Plane:
      return hit_plane(g, o, d, t_min, t_max);
    case Geometry::Rectangle:
      return hit_rectangle(g, o, d, t_min, t_max);
    case Geometry::Disc:
      return hit_disc(g, o, d, t_min, t_max);
    case Geometry::Sphere:
      return hit_sphere(g, o, d, t_min, t_max);
    case Geometry::Box:
      return hit_box(g, o, d, t_min, t_max);
    case Geometry::Mesh:
      return g.mesh ? mesh_first_crossing(*g.mesh, o, d, t_min, t_max) : kNoHit;
  }
  return kNoHit;
}

bool placement_of(miTag tag, Placement& out) {
  const detail::Element* e = detail::element(tag);
  if (e == nullptr) return false;
  if (e->type == miSCENE_OBJECT) {
    out = Placement{0, &e->geometry, nullptr, nullptr};
    return true;
  }
  if (e->type != miSCENE_INSTANCE) return false;
  const detail::Element* item = detail::element(instance_item(*e));
  if (item == nullptr || item->type != miSCENE_OBJECT) return false;
  out = Placement{tag, &item->geometry, detail::instance_local_to_world(tag),
                  detail::instance_world_to_local(tag)};
  return true;
}

void placed_objects(std::vector<Placement>& out) {
  out.clear();
  for_each_placed_object([&](const Placement& p) {
    out.push_back(p);
    return true;
  });
}

}  // namespace refhost

extern "C" {

// The shadow of the current light ray: the segment from the state's ray
// origin (the point on the light) along its direction, of the state's
// length, ending at the illuminated point. Each object that the segment
// crosses lets through its transparency, once per object however often the
// segment crosses its surface; objects that cast no shadow are passed by.
// Red, green and blue of `colour` are multiplied by what gets through; the
// answer is false when nothing gets through in any of them.
//
// Most light rays pass every caster's bounding sphere by: that walk is all
// this function does itself, so that it stays small enough to keep its
// values in registers. The first caster the segment comes near hands the
// rest of the work to shadow_from.
miBoolean mi_trace_shadow(miColor* colour, miState* state) {
  using namespace refhost;
  if (colour == nullptr || state == nullptr) return 1;
  const Vec3d origin = widen(state->org);
  Vec3d direction = widen(state->dir);
  if (!normalise(direction)) [[unlikely]] {
    if (!direction_to_point(*state, origin, direction)) return 1;
  }
  const double length = state->dist;
  if (!(length > 0.0)) return 1;
  const std::vector<Caster>& casters = current_view().casters;
  for (const Caster *k = casters.data(), *end = k + casters.size(); k != end; ++k)
    if (!passes_bound(*k, origin, direction, 0.0, length))
      return shadow_from(k, end, colour, *state, origin, direction);
  return 1;  // the colour passes unchanged
}

// The first surface along `direction` from `origin` (the state's ray origin
// when null). The direction's length does not matter: the distance in the
// probe record is in scene units. The emitting object of the state's light
// is passed by: a probe from a light asks where its beam meets the rest of
// the scene. On a miss the probe record holds distance −1 and no instance.
miBoolean mi_trace_probe(miState* state, const miVector* direction, const miVector* origin) {
  using namespace refhost;
  if (state == nullptr || direction == nullptr) return 0;
  const Vec3d o = widen(origin != nullptr ? *origin : state->org);
  Vec3d d = widen(*direction);
  state->probe.dist = -1.0;
  state->probe.instance = 0;
  state->probe.point = {narrow(o.x), narrow(o.y), narrow(o.z)};
  if (!normalise(d)) return 0;
  const miTag own_emitter = emitting_instance(state->light_instance);
  const double t_min = kSelfHitFraction * std::max(1.0, largest_coordinate(o));
  double nearest = kNoHit;
  miTag hit_instance = 0;
  for_each_placed_object([&](const Placement& p) {
    if (p.instance != 0 && p.instance == own_emitter) return true;
    const double t = crossing(p, o, d, t_min, nearest);
    if (t < nearest) {
      nearest = t;
      hit_instance = p.instance;
    }
    return true;
  });
  if (nearest == kNoHit) return 0;
  const Vec3d hit = along(o, d, nearest);
  state->probe.dist = nearest;
  state->probe.instance = hit_instance;
  state->probe.point = {narrow(hit.x), narrow(hit.y), narrow(hit.z)};
  return 1;
}

}  // extern "C"
