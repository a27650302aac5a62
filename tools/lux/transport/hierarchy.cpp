// Pieces of the hierarchy: their geometry by path, what of them is open to
// light, the clusters of roots and the building of the tree.
#include "tools/lux/transport/hierarchy.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "shaders/constants.h"

namespace lux {

namespace {

// A parallelogram at least this many times as long as wide is cut into
// strips across its length rather than into quarters, so that a long wall
// does not keep its proportions all the way down.
constexpr double kStripAspect = 2.0;
// A piece partly hidden at its four sample points is measured on a grid
// this many times halved (8 × 8 points): the four alone put the edge of a
// solid's foot up to a quarter of the piece off, the same way along a whole
// edge that runs with the pieces.
constexpr int kFinerOpen = 2;

Patch with_corners(const Patch& parent, std::initializer_list<Vec3> corners) {
  Patch p;
  p.corners = static_cast<int>(corners.size());
  p.normal = parent.normal;
  p.face = parent.face;
  p.open = parent.open;
  int k = 0;
  Vec3 sum{};
  for (const Vec3& c : corners) {
    p.corner[size_t(k++)] = c;
    sum = sum + c;
  }
  p.center = sum * (1.0 / p.corners);
  p.area = parent.area * 0.25;
  return p;
}

}  // namespace

Patch quarter(const Patch& p, int k) {
  const Vec3 a = p.corner[0];
  if (p.corners == 4) {
    const Vec3 u = p.corner[1] - a, v = p.corner[3] - a;
    const double lu = length(u), lv = length(v);
    if (lu >= kStripAspect * lv || lv >= kStripAspect * lu) {
      const Vec3 along = lu >= lv ? u * 0.25 : v * 0.25, across = lu >= lv ? v : u;
      const Vec3 c = a + along * double(k);
      return lu >= lv ? with_corners(p, {c, c + along, c + along + across, c + across})
                      : with_corners(p, {c, c + across, c + across + along, c + along});
    }
    const Vec3 hu = u * 0.5, hv = v * 0.5;
    const Vec3 c = a + hu * double(k & 1) + hv * double(k >> 1);
    return with_corners(p, {c, c + hu, c + hu + hv, c + hv});
  }
  const Vec3 b = p.corner[1], c = p.corner[2];
  const Vec3 ab = (a + b) * 0.5, bc = (b + c) * 0.5, ca = (c + a) * 0.5;
  switch (k) {
    case 0:
      return with_corners(p, {a, ab, ca});
    case 1:
      return with_corners(p, {ab, b, bc});
    case 2:
      return with_corners(p, {ca, bc, c});
    default:
      return with_corners(p, {ab, bc, ca});
  }
}

Patch piece(const Patch& root, uint64_t path) {
  const int depth = path_depth(path);
  Patch p = root;
  for (int level = depth - 1; level >= 0; --level) p = quarter(p, int((path >> (2 * level)) & 3));
  return p;
}

double longest_edge(const Patch& p) {
  double l = 0;
  for (int k = 0; k < p.corners; ++k)
    l = std::max(l, length(p.corner[size_t((k + 1) % p.corners)] - p.corner[size_t(k)]));
  return l;
}

void sample_points(const Patch& p, Vec3 out[4]) {
  for (int k = 0; k < 4; ++k) out[k] = quarter(p, k).center;
}

Hiding make_hiding(const Scene& scene, const std::vector<Face>& faces) {
  Hiding h;
  for (const OccluderDesc& o : scene.occluders)
    if (o.solid.kind == SolidDesc::Box || o.solid.kind == SolidDesc::Sphere)
      h.solids.push_back(o.solid);
  constexpr double inf = std::numeric_limits<double>::infinity();
  h.lo = {inf, inf, inf};
  h.hi = {-inf, -inf, -inf};
  for (const Face& f : faces)
    for (const Vec3& c : f.surface.polygon) {
      h.lo = {std::min(h.lo.x, c.x), std::min(h.lo.y, c.y), std::min(h.lo.z, c.z)};
      h.hi = {std::max(h.hi.x, c.x), std::max(h.hi.y, c.y), std::max(h.hi.z, c.z)};
    }
  const double extent = faces.empty() ? 1.0 : length(h.hi - h.lo);
  // Far above the tracing's margin (10⁻⁵ of the scene), far below any
  // piece of furniture.
  h.offset = 1e-4 * extent;
  h.tolerance = 1e-6 * extent;
  return h;
}

namespace {
// Whether the face is a flat piece of the sphere `solid`: its points lie
// inside the sphere, which does not hide its own surface.
bool stands_for(const ReflectingSurface& f, const SolidDesc& solid) {
  return f.on_sphere && solid.kind == SolidDesc::Sphere && f.sphere_radius == solid.radius &&
         length(f.sphere_center - solid.center) == 0;
}
}  // namespace

bool is_open(const RadiositySolution& s, const Hiding& h, int face, Vec3 p) {
  const Face& f = s.faces[size_t(face)];
  for (int o : f.openings)
    if (covers(s.faces[size_t(o)].surface, p)) return false;
  const Vec3 q = p + f.surface.normal * h.offset;
  if (q.x < h.lo.x - h.tolerance || q.y < h.lo.y - h.tolerance || q.z < h.lo.z - h.tolerance ||
      q.x > h.hi.x + h.tolerance || q.y > h.hi.y + h.tolerance || q.z > h.hi.z + h.tolerance)
    return false;
  for (const SolidDesc& solid : h.solids)
    if (inside_or_on(solid, q, h.tolerance) && !stands_for(f.surface, solid)) return false;
  return true;
}

namespace {
// The open fraction of a piece at its four sample points, or, `levels`
// more times cut, as the mean of its quarters'.
double open_at(const RadiositySolution& s, const Hiding& h, const Patch& p, int levels) {
  if (levels > 0) {
    double sum = 0;
    for (int k = 0; k < 4; ++k) sum += open_at(s, h, quarter(p, k), levels - 1);
    return 0.25 * sum;
  }
  Vec3 points[4];
  sample_points(p, points);
  int open = 0;
  for (const Vec3& q : points) open += is_open(s, h, p.face, q) ? 1 : 0;
  return open / 4.0;
}
}  // namespace

double open_fraction(const RadiositySolution& s, const Hiding& h, const Patch& p) {
  const double coarse = open_at(s, h, p, 0);
  return coarse == 0 || coarse == 1 ? coarse : open_at(s, h, p, kFinerOpen);
}

double cluster_emission(Vec3 facing, Vec3 w) {
  const double flat = length(facing);
  return std::max(0.0, dot(facing, w)) / zel::kPi + (1 - flat) / (4 * zel::kPi);
}

double cluster_projection(Vec3 facing, double area, Vec3 w) {
  const double flat = length(facing);
  // A body turned every way shows a quarter of its area (Cauchy).
  return area * (std::max(0.0, dot(facing, w)) + 0.25 * (1 - flat));
}

namespace {
// Normals within this angle (radians) count as one for the share of light
// a cluster's elements take: pieces of one plane, or of parallel planes
// (desk tops and the floor).
constexpr double kFlatSpread = 1e-3;
// Slack of the cone tests against rounding of the normals.
constexpr double kConeSlack = 1e-9;

double angle_between(Vec3 a, Vec3 b) { return std::acos(std::clamp(dot(a, b), -1.0, 1.0)); }

// The cones of the clusters' normals, children before parents (a child's
// index is above its parent's): about the mean normal where it has a
// direction, holding each child's cone.
void set_cones(std::vector<Cluster>& clusters, const RadiositySolution& s) {
  for (size_t c = clusters.size(); c-- > 0;) {
    Cluster& k = clusters[c];
    Vec3 axis = k.facing;
    if (!(length(axis) > 1e-6)) axis = Vec3{0, 0, 1};
    axis = normalize(axis);
    double spread = 0;
    for (int h = 0; h < 2; ++h) {
      const int child = k.child[h];
      if (child >= 0) {
        const Cluster& sub = clusters[size_t(child)];
        spread = std::max(spread, angle_between(axis, sub.axis) + sub.spread);
      } else {
        const Patch& p = s.tree[size_t(s.roots[size_t(-1 - child)])].patch;
        spread = std::max(spread, angle_between(axis, p.normal));
      }
    }
    k.axis = axis;
    k.spread = std::min(spread, zel::kPi);
  }
}
}  // namespace

bool sends_as_one(const Cluster& c, Vec3 w) {
  return angle_between(c.axis, w) + c.spread <= 0.5 * zel::kPi + kConeSlack;
}

bool takes_as_one(const Cluster& c, Vec3 w) {
  return c.spread <= kFlatSpread && sends_as_one(c, w);
}

std::vector<Cluster> build_clusters(const RadiositySolution& s) {
  struct Item {
    Vec3 lo, hi, c;
    double area;
    int root;
    Vec3 normal;
  };
  std::vector<Item> items;
  for (size_t r = 0; r < s.roots.size(); ++r) {
    const Patch& p = s.tree[size_t(s.roots[r])].patch;
    Item it{p.corner[0], p.corner[0], p.center, p.area * p.open, static_cast<int>(r), p.normal};
    for (int k = 1; k < p.corners; ++k) {
      const Vec3 c = p.corner[size_t(k)];
      it.lo = {std::min(it.lo.x, c.x), std::min(it.lo.y, c.y), std::min(it.lo.z, c.z)};
      it.hi = {std::max(it.hi.x, c.x), std::max(it.hi.y, c.y), std::max(it.hi.z, c.z)};
    }
    items.push_back(it);
  }
  std::vector<Cluster> out;
  if (items.empty()) return out;
  out.reserve(2 * items.size());
  // Builds the cluster of items [begin, end) at out[at]; a single item is
  // a root and made by its parent.
  const auto build = [&](auto& self, size_t begin, size_t end, size_t at) -> void {
    Cluster c;
    c.lo = items[begin].lo;
    c.hi = items[begin].hi;
    Vec3 clo = items[begin].c, chi = items[begin].c;
    for (size_t i = begin; i < end; ++i) {
      const Item& it = items[i];
      c.lo = {std::min(c.lo.x, it.lo.x), std::min(c.lo.y, it.lo.y), std::min(c.lo.z, it.lo.z)};
      c.hi = {std::max(c.hi.x, it.hi.x), std::max(c.hi.y, it.hi.y), std::max(c.hi.z, it.hi.z)};
      clo = {std::min(clo.x, it.c.x), std::min(clo.y, it.c.y), std::min(clo.z, it.c.z)};
      chi = {std::max(chi.x, it.c.x), std::max(chi.y, it.c.y), std::max(chi.z, it.c.z)};
      c.area += it.area;
      c.facing = c.facing + it.normal * it.area;
    }
    if (c.area > 0) c.facing = c.facing * (1 / c.area);
    c.center = (c.lo + c.hi) * 0.5;
    c.radius = 0.5 * length(c.hi - c.lo);
    const Vec3 spread = chi - clo;
    const int axis =
        spread.x >= spread.y && spread.x >= spread.z ? 0 : (spread.y >= spread.z ? 1 : 2);
    const auto key = [axis](const Item& it) {
      return axis == 0 ? it.c.x : (axis == 1 ? it.c.y : it.c.z);
    };
    std::sort(items.begin() + long(begin), items.begin() + long(end),
              [&](const Item& a, const Item& b) {
                return key(a) != key(b) ? key(a) < key(b) : a.root < b.root;
              });
    const size_t mid = begin + (end - begin) / 2;
    out[at] = c;
    const size_t halves[2][2] = {{begin, mid}, {mid, end}};
    for (int h = 0; h < 2; ++h) {
      const size_t b = halves[h][0], e = halves[h][1];
      if (e - b == 1) {
        out[at].child[h] = -1 - items[b].root;
      } else {
        const size_t next = out.size();
        out.emplace_back();
        out[at].child[h] = static_cast<int>(next);
        self(self, b, e, next);
      }
    }
  };
  out.emplace_back();
  if (items.size() == 1) {
    // One root: a cluster of it alone, both children the root.
    out[0].lo = items[0].lo;
    out[0].hi = items[0].hi;
    out[0].center = (items[0].lo + items[0].hi) * 0.5;
    out[0].radius = 0.5 * length(items[0].hi - items[0].lo);
    out[0].area = items[0].area;
    out[0].facing = items[0].normal;
    out[0].child[0] = out[0].child[1] = -1;
    out[0].axis = items[0].normal;
    return out;
  }
  build(build, 0, items.size(), 0);
  set_cones(out, s);
  return out;
}

int TreeIndex::find(uint32_t root, uint64_t path) const {
  const auto& v = of_root[root];
  const auto it = std::lower_bound(
      v.begin(), v.end(), path,
      [](const std::pair<uint64_t, int>& e, uint64_t p) { return path_before(e.first, p); });
  return it != v.end() && it->first == path ? it->second : -1;
}

TreeIndex build_tree(RadiositySolution& s, const std::vector<Patch>& roots,
                     std::vector<std::vector<uint64_t>>& paths, int threads) {
  // Every root's full set of pieces: ancestors and their siblings added.
  // In preorder, the ancestors a path shares with any earlier one are
  // those it shares with the one just before it, whose children are
  // already there: each path adds the children of its own ancestors below
  // those, not every ancestor's again.
  for_rows(static_cast<int>(roots.size()), threads, [&](int r, refhost::ThreadContext&) {
    std::vector<uint64_t>& v = paths[size_t(r)];
    std::sort(v.begin(), v.end(), PathBefore{});
    v.erase(std::unique(v.begin(), v.end()), v.end());
    const size_t asked = v.size();
    uint64_t previous = 0;
    for (size_t i = 0; i < asked; ++i) {
      const uint64_t path = v[i];
      for (uint64_t a = parent_path(path); a >= 1; a = parent_path(a)) {
        if (previous != 0 && strictly_above(a, previous)) break;
        for (int k = 0; k < 4; ++k) v.push_back(child_path(a, k));
      }
      previous = path;
    }
    v.push_back(1);
    std::sort(v.begin(), v.end(), PathBefore{});
    v.erase(std::unique(v.begin(), v.end()), v.end());
  });
  // Each root's pieces take the next block of the tree, so that the roots
  // are laid out independently and in the same place for any thread count.
  TreeIndex index;
  index.of_root.resize(roots.size());
  s.roots.resize(roots.size());
  size_t total = 0;
  for (size_t r = 0; r < roots.size(); ++r) {
    s.roots[r] = static_cast<int>(total);
    total += paths[r].size();
  }
  s.tree.assign(total, Element{});
  for_rows(static_cast<int>(roots.size()), threads, [&](int row, refhost::ThreadContext&) {
    const size_t r = size_t(row);
    const std::vector<uint64_t>& v = paths[r];
    auto& at = index.of_root[r];
    at.resize(v.size());
    const int first = s.roots[r];
    // Laid out breadth first, so that a parent's four children are
    // consecutive: the children of a laid element are laid as a block,
    // each a quarter of its parent. In the preorder of the paths a piece's
    // first child, if cut, is the path just after it.
    std::vector<size_t> laid_from{0};
    laid_from.reserve(v.size());
    at[0] = {1, first};
    s.tree[size_t(first)].patch = roots[r];
    s.tree[size_t(first)].size = longest_edge(roots[r]);
    for (size_t i = 0; i < laid_from.size(); ++i) {
      const size_t at_path = laid_from[i];
      const uint64_t path = v[at_path];
      if (at_path + 1 >= v.size() || v[at_path + 1] != child_path(path, 0)) continue;
      Element& e = s.tree[size_t(first) + i];
      e.child = first + static_cast<int>(laid_from.size());
      for (int k = 0; k < 4; ++k) {
        const size_t j = k == 0
                             ? at_path + 1
                             : size_t(std::lower_bound(v.begin() + std::ptrdiff_t(at_path), v.end(),
                                                       child_path(path, k), PathBefore{}) -
                                      v.begin());
        const int placed = first + static_cast<int>(laid_from.size());
        Element& c = s.tree[size_t(placed)];
        c.patch = quarter(e.patch, k);
        c.size = longest_edge(c.patch);
        c.parent = first + static_cast<int>(i);
        at[j] = {v[j], placed};
        laid_from.push_back(j);
      }
    }
  });
  return index;
}

}  // namespace lux
