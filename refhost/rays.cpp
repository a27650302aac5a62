// Ray queries on a list of the placed objects (see rays.h), built on the
// same intersection code as the shadow and probe rays.
#include "refhost/rays.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "refhost/embree.h"

namespace refhost {

namespace {

constexpr double kNoHit = std::numeric_limits<double>::infinity();
// Hits closer than this fraction of the scene's extent to an end of a ray
// belong to the surface the ray starts or ends on, as for shadow rays.
constexpr double kEndFraction = 1e-5;
// A mesh whose corners lie this close to one plane, as a fraction of its
// largest coordinate, is flat: above the rounding of single precision,
// far below kEndFraction.
constexpr double kFlatMeshFraction = 1e-6;

double dot(const Vec3d& a, const Vec3d& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3d sub(const Vec3d& a, const Vec3d& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3d widen(const miVector& v) { return {v.x, v.y, v.z}; }

// Row-vector transforms with a float matrix: p' = p · M.
Vec3d point_by(const Vec3d& p, const float* m) {
  if (m == nullptr) return p;
  return {p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12],
          p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
          p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]};
}
Vec3d vector_by(const Vec3d& v, const float* m) {
  if (m == nullptr) return v;
  return {v.x * m[0] + v.y * m[4] + v.z * m[8], v.x * m[1] + v.y * m[5] + v.z * m[9],
          v.x * m[2] + v.y * m[6] + v.z * m[10]};
}
// A plane's normal carried to the world: with p_local = p_world · W, the
// plane n · p_local = c has the world normal W · n.
Vec3d normal_by(const Vec3d& n, const float* w) {
  if (w == nullptr) return n;
  return {w[0] * n.x + w[1] * n.y + w[2] * n.z, w[4] * n.x + w[5] * n.y + w[6] * n.z,
          w[8] * n.x + w[9] * n.y + w[10] * n.z};
}

double crossing(const Placement& p, const Vec3d& o, const Vec3d& d, double t_min, double t_max) {
  if (p.world_to_local == nullptr) return first_crossing(*p.geometry, o, d, t_min, t_max);
  return first_crossing(*p.geometry, point_by(o, p.world_to_local), vector_by(d, p.world_to_local),
                        t_min, t_max);
}

double largest_coordinate(const Vec3d& a) {
  return std::max({std::fabs(a.x), std::fabs(a.y), std::fabs(a.z)});
}

Vec3d cross(const Vec3d& a, const Vec3d& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vec3d mesh_vertex(const TriangleMesh& m, uint32_t index) {
  const float* p = &m.vertices[size_t(index) * 3];
  return {double(p[0]), double(p[1]), double(p[2])};
}

// Whether all of a mesh's corners lie in one plane (a floor cut into
// triangles): within a small fraction of its coordinates, far below the
// margin of the ray queries, so that a flat mesh is crossed only by
// segments whose ends lie on both sides. Sets `point` and `normal` (local).
bool mesh_plane(const TriangleMesh& m, Vec3d& point, Vec3d& normal) {
  double size = 0;
  for (float c : m.vertices) size = std::max(size, std::fabs(double(c)));
  bool found = false;
  for (uint32_t t = 0; t < m.triangle_count() && !found; ++t) {
    const Vec3d n = triangle_normal(m, t);
    const Vec3d a = mesh_vertex(m, m.triangles[size_t(t) * 3]);
    const Vec3d e = cross(sub(mesh_vertex(m, m.triangles[size_t(t) * 3 + 1]), a),
                          sub(mesh_vertex(m, m.triangles[size_t(t) * 3 + 2]), a));
    if (!(dot(e, e) > 0)) continue;
    point = a;
    normal = n;
    found = true;
  }
  if (!found) return false;
  const double tolerance = kFlatMeshFraction * std::max(size, 1e-30);
  for (size_t k = 0; k + 2 < m.vertices.size(); k += 3) {
    const Vec3d p{double(m.vertices[k]), double(m.vertices[k + 1]), double(m.vertices[k + 2])};
    if (std::fabs(dot(sub(p, point), normal)) > tolerance) return false;
  }
  return true;
}

// The triangle of a mesh nearest `p` (local): among those whose plane's
// foot of `p` lies inside them, the one whose plane is nearest; failing
// that, the one whose plane is nearest.
uint32_t nearest_triangle(const TriangleMesh& m, const Vec3d& p) {
  double best_inside = kNoHit, best_any = kNoHit;
  uint32_t inside = 0, any = 0;
  bool found_inside = false;
  for (uint32_t t = 0; t < m.triangle_count(); ++t) {
    const Vec3d a = mesh_vertex(m, m.triangles[size_t(t) * 3]),
                b = mesh_vertex(m, m.triangles[size_t(t) * 3 + 1]),
                c = mesh_vertex(m, m.triangles[size_t(t) * 3 + 2]);
    const Vec3d n = cross(sub(b, a), sub(c, a));
    const double nn = dot(n, n);
    if (!(nn > 0)) continue;
    const double gap = std::fabs(dot(sub(p, a), n)) / std::sqrt(nn);
    if (gap < best_any) {
      best_any = gap;
      any = t;
    }
    const bool in = dot(cross(sub(b, a), sub(p, a)), n) >= 0 &&
                    dot(cross(sub(c, b), sub(p, b)), n) >= 0 &&
                    dot(cross(sub(a, c), sub(p, c)), n) >= 0;
    if (in && gap < best_inside) {
      best_inside = gap;
      inside = t;
      found_inside = true;
    }
  }
  return found_inside ? inside : any;
}

Vec3d unit(const Vec3d& n) {
  const double l = std::sqrt(dot(n, n));
  return l > 0 ? Vec3d{n.x / l, n.y / l, n.z / l} : Vec3d{0, 0, 1};
}

}  // namespace

RayScene::RayScene(std::vector<Geometry> extra) {
  std::vector<Placement> placed;
  placed_objects(placed);
  for (Geometry& g : extra) {
    extra_.push_back(std::make_shared<const Geometry>(std::move(g)));
    Placement p;
    p.geometry = extra_.back().get();
    placed.push_back(p);
  }
  double extent = 1.0;
  for (const Placement& p : placed) {
    const Geometry& g = *p.geometry;
    Object o;
    o.placement = p;
    o.clear = (std::clamp(double(g.transparency.r), 0.0, 1.0) +
               std::clamp(double(g.transparency.g), 0.0, 1.0) +
               std::clamp(double(g.transparency.b), 0.0, 1.0)) /
              3.0;
    Vec3d lo{}, hi{};
    switch (g.kind) {
      case Geometry::Plane:
      case Geometry::Disc:
      case Geometry::Rectangle: {
        o.flat = true;
        o.point = point_by(widen(g.center), p.local_to_world);
        const Vec3d n = g.kind == Geometry::Rectangle
                            ? Vec3d{double(g.u.y) * g.v.z - double(g.u.z) * g.v.y,
                                    double(g.u.z) * g.v.x - double(g.u.x) * g.v.z,
                                    double(g.u.x) * g.v.y - double(g.u.y) * g.v.x}
                            : widen(g.normal);
        o.normal = normal_by(n, p.world_to_local);
        const double r =
            g.kind == Geometry::Rectangle
                ? std::sqrt(dot(widen(g.u), widen(g.u))) + std::sqrt(dot(widen(g.v), widen(g.v)))
                : (g.kind == Geometry::Disc ? double(g.radius) : 0.0);
        lo = sub(widen(g.center), {r, r, r});
        hi = {g.center.x + r, g.center.y + r, g.center.z + r};
        o.bounded = g.kind != Geometry::Plane;
        break;
      }
      case Geometry::Sphere: {
        const double r = g.radius;
        lo = sub(widen(g.center), {r, r, r});
        hi = {g.center.x + r, g.center.y + r, g.center.z + r};
        o.bounded = true;
        break;
      }
      case Geometry::Box:
        lo = widen(g.min);
        hi = widen(g.max);
        o.bounded = true;
        break;
      case Geometry::Mesh: {
        lo = {kNoHit, kNoHit, kNoHit};
        hi = {-kNoHit, -kNoHit, -kNoHit};
        const std::vector<float>& v = g.mesh ? g.mesh->vertices : std::vector<float>();
        for (size_t k = 0; k + 2 < v.size(); k += 3) {
          lo = {std::min(lo.x, double(v[k])), std::min(lo.y, double(v[k + 1])),
                std::min(lo.z, double(v[k + 2]))};
          hi = {std::max(hi.x, double(v[k])), std::max(hi.y, double(v[k + 1])),
                std::max(hi.z, double(v[k + 2]))};
        }
        o.bounded = v.size() >= 3;
        Vec3d point{}, normal{};
        if (g.mesh && mesh_plane(*g.mesh, point, normal)) {
          o.flat = true;
          o.point = point_by(point, p.local_to_world);
          o.normal = normal_by(normal, p.world_to_local);
        }
        break;
      }
    }
    if (o.bounded) {
      // The world bounds of the local box's eight corners.
      o.lo = {kNoHit, kNoHit, kNoHit};
      o.hi = {-kNoHit, -kNoHit, -kNoHit};
      for (int c = 0; c < 8; ++c) {
        const Vec3d corner = point_by(
            {c & 1 ? hi.x : lo.x, c & 2 ? hi.y : lo.y, c & 4 ? hi.z : lo.z}, p.local_to_world);
        o.lo = {std::min(o.lo.x, corner.x), std::min(o.lo.y, corner.y), std::min(o.lo.z, corner.z)};
        o.hi = {std::max(o.hi.x, corner.x), std::max(o.hi.y, corner.y), std::max(o.hi.z, corner.z)};
      }
      extent = std::max({extent, largest_coordinate(o.lo), largest_coordinate(o.hi)});
    } else {
      extent = std::max(extent, largest_coordinate(o.point));
    }
    objects_.push_back(o);
  }
  margin_ = kEndFraction * extent;
}

bool RayScene::may_cross(size_t i, const Vec3d* a, size_t na, const Vec3d* b, size_t nb) const {
  const Object& o = objects_[i];
  if (!o.placement.geometry->casts_shadow) return false;
  if (o.flat) {
    // A flat object can only cross segments whose ends lie on both sides of
    // its plane; corners on the plane count as either side.
    const double scale = std::sqrt(dot(o.normal, o.normal)) * margin_;
    bool above = false, below = false;
    const auto side = [&](const Vec3d& p) {
      const double s = dot(sub(p, o.point), o.normal);
      above = above || s > scale;
      below = below || s < -scale;
    };
    for (size_t k = 0; k < na; ++k) side(a[k]);
    for (size_t k = 0; k < nb; ++k) side(b[k]);
    if (!(above && below)) return false;
  }
  if (o.bounded) {
    // Every segment lies in the bounds of its ends.
    Vec3d lo{kNoHit, kNoHit, kNoHit}, hi{-kNoHit, -kNoHit, -kNoHit};
    const auto grow = [&](const Vec3d& p) {
      lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
      hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    };
    for (size_t k = 0; k < na; ++k) grow(a[k]);
    for (size_t k = 0; k < nb; ++k) grow(b[k]);
    const double m = margin_;
    if (lo.x > o.hi.x + m || hi.x < o.lo.x - m || lo.y > o.hi.y + m || hi.y < o.lo.y - m ||
        lo.z > o.hi.z + m || hi.z < o.lo.z - m)
      return false;
  }
  return true;
}

double RayScene::transmission(const Vec3d& a, const Vec3d& b, const uint32_t* objects,
                              size_t count) const {
  if (count == 0) return 1.0;
  Vec3d d = sub(b, a);
  const double length = std::sqrt(dot(d, d));
  if (!(length > 2 * margin_)) return 1.0;
  d = {d.x / length, d.y / length, d.z / length};
  double through = 1.0;
  for (size_t k = 0; k < count; ++k) {
    const Object& o = objects_[objects[k]];
    if (!o.placement.geometry->casts_shadow) continue;
    if (crossing(o.placement, a, d, margin_, length - margin_) == kNoHit) continue;
    through *= o.clear;
    if (through == 0.0) break;
  }
  return through;
}

bool RayScene::first_hit(const Vec3d& origin, const Vec3d& direction, double t_max,
                         Hit& hit) const {
  double nearest = t_max;
  bool found = false;
  for (size_t i = 0; i < objects_.size(); ++i) {
    const Object& o = objects_[i];
    if (!o.placement.geometry->casts_shadow) continue;
    const Geometry& g = *o.placement.geometry;
    if (g.kind == Geometry::Mesh && g.mesh) {
      // The triangle met as well, for its normal.
      const float* w = o.placement.world_to_local;
      MeshHit met;
      if (mesh_first_hit(*g.mesh, point_by(origin, w), vector_by(direction, w), margin_, nearest,
                         met) &&
          met.t < nearest) {
        nearest = met.t;
        hit = {met.t, i, met.triangle};
        found = true;
      }
      continue;
    }
    const double t = crossing(o.placement, origin, direction, margin_, nearest);
    if (t < nearest) {
      nearest = t;
      hit = {t, i, 0};
      found = true;
    }
  }
  return found;
}

Vec3d RayScene::normal_at(size_t i, const Vec3d& point) const {
  const Object& o = objects_[i];
  const Geometry& g = *o.placement.geometry;
  Vec3d n = o.normal;
  if (!o.flat || g.kind == Geometry::Mesh) {
    const Vec3d p = point_by(point, o.placement.world_to_local);
    if (g.kind == Geometry::Sphere) {
      n = sub(p, widen(g.center));
    } else if (g.kind == Geometry::Mesh) {
      if (!g.mesh) return {0, 0, 1};
      n = triangle_normal(*g.mesh, nearest_triangle(*g.mesh, p));
    } else {
      // The side of the box whose plane the point is nearest.
      const double gaps[6] = {std::fabs(p.x - g.min.x), std::fabs(p.x - g.max.x),
                              std::fabs(p.y - g.min.y), std::fabs(p.y - g.max.y),
                              std::fabs(p.z - g.min.z), std::fabs(p.z - g.max.z)};
      const auto side = std::min_element(gaps, gaps + 6) - gaps;
      const double sign = side % 2 == 0 ? -1.0 : 1.0;
      n = {side / 2 == 0 ? sign : 0.0, side / 2 == 1 ? sign : 0.0, side / 2 == 2 ? sign : 0.0};
    }
    n = normal_by(n, o.placement.world_to_local);
  }
  return unit(n);
}

Vec3d RayScene::normal_at(const Hit& hit, const Vec3d& point) const {
  const Object& o = objects_[hit.object];
  const Geometry& g = *o.placement.geometry;
  if (g.kind != Geometry::Mesh || !g.mesh || hit.triangle >= g.mesh->triangle_count())
    return normal_at(hit.object, point);
  return unit(normal_by(triangle_normal(*g.mesh, hit.triangle), o.placement.world_to_local));
}

}  // namespace refhost
