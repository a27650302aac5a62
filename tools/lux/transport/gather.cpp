// The interreflected light at any point, gathered from the hierarchy: far
// clusters as one, near pieces down to the patches, with visibility; and
// the light of the patch under a point of a reflecting surface.
#include <algorithm>
#include <cmath>

#include "shaders/constants.h"
#include "tools/lux/transport/hierarchy.h"

namespace lux {

namespace {

using refhost::Vec3d;

// A cluster is taken as one beyond this many of its radii; a piece of
// surface as one beyond this many of its longest edge, with one ray to its
// centre beyond the second and rays to its four quarters nearer.
constexpr double kFarCluster = 30.0;
constexpr double kFarPiece = 2.0;
constexpr double kOneRay = 4.0;
constexpr size_t kBlockerCapacity = 48;
// How far the round surface of a sphere may stand off its flat pieces, as
// a fraction of their size.
constexpr double kSphereSlack = 0.1;

Vec3d to_d(Vec3 a) { return {a.x, a.y, a.z}; }

struct Blockers {
  uint32_t list[kBlockerCapacity] = {};
  size_t count = 0;
  bool all = true;
};

struct Gatherer {
  const RadiositySolution& s;
  Vec3 point, normal;
  Vec3d at;

  void narrow(const Vec3d* corners, size_t count, const Blockers& parent, Blockers& out) const {
    out.count = 0;
    out.all = false;
    const size_t n = parent.all ? s.rays->size() : parent.count;
    for (size_t k = 0; k < n; ++k) {
      const uint32_t i = parent.all ? uint32_t(k) : parent.list[k];
      if (!s.rays->may_cross(i, &at, 1, corners, count)) continue;
      if (out.count == kBlockerCapacity) {
        out.all = true;
        return;
      }
      out.list[out.count++] = i;
    }
  }

  double through(Vec3 to, const Blockers& b) const {
    if (!b.all && b.count == 0) return 1.0;
    return s.rays->transmission(at, to_d(to), b.all ? s.all_objects.data() : b.list,
                                b.all ? s.all_objects.size() : b.count);
  }

  double cluster(int c, const Blockers& parent) const {
    const Cluster& k = s.clusters[size_t(c)];
    // Wholly behind the point's plane: nothing.
    bool seen = false;
    for (int i = 0; i < 8 && !seen; ++i) {
      const Vec3 corner{i & 1 ? k.hi.x : k.lo.x, i & 2 ? k.hi.y : k.lo.y, i & 4 ? k.hi.z : k.lo.z};
      seen = dot(corner - point, normal) > s.plane_tolerance;
    }
    if (!seen) return 0;
    const Vec3 gap = k.center - point;
    const double d = length(gap);
    if (d > kFarCluster * k.radius) {
      // Far: its flux sent by the cosine law of its elements' mean normal
      // weighted by what each sends, exact where none of them faces away
      // from the point; otherwise that law for the part of the mean that
      // has a direction and evenly for the rest.
      const Vec3 back = gap * (-1 / d);
      const Vec3 glow = s.cluster_glow[size_t(c)];
      const double sent =
          sends_as_one(k, back) ? glow_emission(glow, back) : cluster_emission(glow, back);
      return s.cluster_flux[size_t(c)] * sent * std::max(0.0, dot(gap, normal) / d) / (d * d);
    }
    Vec3d corners[8];
    for (int i = 0; i < 8; ++i)
      corners[i] = {i & 1 ? k.hi.x : k.lo.x, i & 2 ? k.hi.y : k.lo.y, i & 4 ? k.hi.z : k.lo.z};
    Blockers b;
    narrow(corners, 8, parent, b);
    double e = 0;
    for (int h = 0; h < 2; ++h) {
      if (h == 1 && k.child[1] == k.child[0]) break;
      e += k.child[h] >= 0 ? cluster(k.child[h], b) : element(s.roots[size_t(-1 - k.child[h])], b);
    }
    return e;
  }

  double element(int i, const Blockers& parent) const {
    const Element& el = s.tree[size_t(i)];
    const Patch& p = el.patch;
    const double m = s.node_exitance[size_t(i)];
    if (m == 0) return 0;
    if (dot(point - p.center, p.normal) <= s.plane_tolerance) return 0;
    bool seen = false;
    for (int k = 0; k < p.corners && !seen; ++k)
      seen = dot(p.corner[size_t(k)] - point, normal) > s.plane_tolerance;
    if (!seen) return 0;
    const double d = length(p.center - point);
    Vec3d corners[4];
    for (int k = 0; k < p.corners; ++k) corners[k] = to_d(p.corner[size_t(k)]);
    Blockers b;
    narrow(corners, size_t(p.corners), parent, b);
    if (el.child >= 0 && !(d > kFarPiece * el.size)) {
      double e = 0;
      for (int k = 0; k < 4; ++k) e += element(el.child + k, b);
      return e;
    }
    const double factor =
        point_to_polygon_factor(point, normal, p.corner.data(), p.corners, p.normal);
    if (!(factor > 0)) return 0;
    const Face& f = s.faces[size_t(p.face)];
    double v = 0;
    if (d > kOneRay * el.size) {
      v = through(ray_end(f, p.center), b);
    } else {
      // To the open quarters: what hides a piece counts in its exitance.
      Vec3 q[4];
      sample_points(p, q);
      int rays = 0;
      for (const Vec3& x : q) {
        if (p.open < 1 && !is_open(s, *s.hiding, p.face, x)) continue;
        v += through(ray_end(f, x), b);
        ++rays;
      }
      v = rays > 0 ? v / rays : 0.0;
    }
    return m * factor * v;
  }
};

// Whether `point` lies on the patch (within `tolerance` of its plane and
// inside its corners).
bool holds(const Patch& p, Vec3 point, double tolerance) {
  if (std::fabs(dot(point - p.center, p.normal)) > tolerance) return false;
  for (int c = 0; c < p.corners; ++c) {
    const Vec3 e = p.corner[size_t((c + 1) % p.corners)] - p.corner[size_t(c)];
    if (dot(cross(e, point - p.corner[size_t(c)]), p.normal) < -1e-9 * dot(e, e)) return false;
  }
  return true;
}

// The patch of element i's pieces that holds the point; −1 if none does.
int leaf_holding(const RadiositySolution& s, int i, Vec3 point, double tolerance) {
  if (!holds(s.tree[size_t(i)].patch, point, tolerance)) return -1;
  while (s.tree[size_t(i)].child >= 0) {
    const int first = s.tree[size_t(i)].child;
    int next = first;
    for (int k = 0; k < 4; ++k)
      if (holds(s.tree[size_t(first + k)].patch, point, tolerance)) {
        next = first + k;
        break;
      }
    i = next;
  }
  return s.leaf_of[size_t(i)];
}

}  // namespace

double indirect_illuminance(const RadiositySolution& s, Vec3 point, Vec3 normal,
                            refhost::ThreadContext&) {
  if (s.patches.empty() || s.clusters.empty()) return 0;
  const Gatherer g{s, point, normalize(normal), to_d(point)};
  return g.cluster(0, Blockers{});
}

double patch_indirect_at(const RadiositySolution& s, int face, Vec3 point) {
  const Face& f = s.faces.at(size_t(face));
  for (int r = f.first; r < f.first + f.count; ++r) {
    const int root = s.roots[size_t(r)];
    const int leaf = leaf_holding(s, root, point, 1e-6 * s.tree[size_t(root)].size);
    if (leaf >= 0) return s.indirect[size_t(leaf)];
  }
  return -1;
}

double indirect_on_surface(const RadiositySolution& s, Vec3 point, Vec3 normal, double tolerance) {
  if (s.clusters.empty()) return 0;
  // Down the clusters whose box holds the point, to the roots that do.
  int stack[128];
  int top = 0;
  stack[top++] = 0;
  int nearest = -1;
  double nearest_gap = 0;
  while (top > 0) {
    const int c = stack[--top];
    const auto visit_root = [&](int r) {
      const Element& el = s.tree[size_t(s.roots[size_t(r)])];
      if (dot(el.patch.normal, normal) <= 0) return -1;
      const Face& f = s.faces[size_t(el.patch.face)];
      // Points of a sphere lie off its flat pieces by up to their sag.
      const double sag = f.surface.on_sphere ? kSphereSlack * f.surface.sphere_radius : 0.0;
      const Vec3 on = point - el.patch.normal * dot(point - el.patch.center, el.patch.normal);
      if (std::fabs(dot(point - el.patch.center, el.patch.normal)) > tolerance + sag) return -1;
      const int leaf = leaf_holding(s, s.roots[size_t(r)], sag > 0 ? on : point, tolerance);
      if (leaf < 0 && sag > 0) {
        const double gap = length(el.patch.center - point);
        if (nearest < 0 || gap < nearest_gap) {
          nearest_gap = gap;
          nearest = s.roots[size_t(r)];
        }
      }
      return leaf;
    };
    const Cluster& k = s.clusters[size_t(c)];
    // The slack takes in the round surface of a sphere beside its pieces.
    const double slack = tolerance + kSphereSlack * k.radius;
    if (point.x < k.lo.x - slack || point.y < k.lo.y - slack || point.z < k.lo.z - slack ||
        point.x > k.hi.x + slack || point.y > k.hi.y + slack || point.z > k.hi.z + slack)
      continue;
    for (int h = 0; h < 2; ++h) {
      if (h == 1 && k.child[1] == k.child[0]) break;
      if (k.child[h] >= 0) {
        if (top < 128) stack[top++] = k.child[h];
      } else {
        const int leaf = visit_root(-1 - k.child[h]);
        if (leaf >= 0) return s.indirect[size_t(leaf)];
      }
    }
  }
  if (nearest >= 0) {
    int i = nearest;
    while (s.tree[size_t(i)].child >= 0) i = s.tree[size_t(i)].child;
    return s.indirect[size_t(s.leaf_of[size_t(i)])];
  }
  return 0;
}

}  // namespace lux
