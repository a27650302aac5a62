// Pieces of the hierarchy: their geometry by path, what of them is open to
// light, the clusters of roots and the building of the tree.
#include "tools/lux/transport/hierarchy.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <unordered_map>

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
static_assert(kOpenGridPoints == 4 << (2 * kFinerOpen));

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

namespace {

struct PointKeyHash {
  size_t operator()(const std::array<long long, 3>& k) const {
    uint64_t h = 1469598103934665603ull;
    for (const long long x : k) h = (h ^ uint64_t(x)) * 1099511628211ull;
    return size_t(h);
  }
};

// The parts of a mesh: its triangles joined where they share a corner's
// position (a file may give each face corners of its own), with their
// bounds.
using PointKey = std::array<long long, 3>;
using PartAt = std::unordered_map<PointKey, uint32_t, PointKeyHash>;

PointKey key_of(Vec3 p, double quantum) {
  return {std::llround(p.x / quantum), std::llround(p.y / quantum), std::llround(p.z / quantum)};
}

// Adds the parts' bounds to lo and hi; returns the part of each corner's
// position.
PartAt add_mesh_parts(const MeshData& mesh, double quantum, std::vector<Vec3>& lo,
                      std::vector<Vec3>& hi) {
  PartAt first;
  std::vector<uint32_t> same(mesh.vertices.size());
  for (size_t v = 0; v < mesh.vertices.size(); ++v)
    same[v] = first.try_emplace(key_of(mesh.vertices[v], quantum), uint32_t(v)).first->second;
  std::vector<uint32_t> up(mesh.vertices.size());
  for (size_t v = 0; v < up.size(); ++v) up[v] = uint32_t(v);
  const auto root = [&](uint32_t v) {
    while (up[v] != v) v = up[v] = up[up[v]];
    return v;
  };
  for (const auto& t : mesh.triangles) {
    const uint32_t a = root(same[t[0]]);
    for (int k = 1; k < 3; ++k) {
      const uint32_t b = root(same[t[size_t(k)]]);
      if (a != b) up[b] = a;
    }
  }
  constexpr double inf = std::numeric_limits<double>::infinity();
  std::unordered_map<uint32_t, size_t> part_of;
  for (const auto& t : mesh.triangles) {
    const auto [it, added] = part_of.try_emplace(root(same[t[0]]), lo.size());
    if (added) {
      lo.push_back({inf, inf, inf});
      hi.push_back({-inf, -inf, -inf});
    }
    Vec3& a = lo[it->second];
    Vec3& b = hi[it->second];
    for (const uint32_t v : t) {
      const Vec3 p = mesh.vertices[v];
      a = {std::min(a.x, p.x), std::min(a.y, p.y), std::min(a.z, p.z)};
      b = {std::max(b.x, p.x), std::max(b.y, p.y), std::max(b.z, p.z)};
    }
  }
  // Corners of no triangle belong to no part.
  PartAt out;
  for (const auto& [key, v] : first) {
    const auto it = part_of.find(root(v));
    if (it != part_of.end()) out.emplace(key, uint32_t(it->second));
  }
  return out;
}

// Cells of the parts' grid along its longest side at most, and in all.
constexpr int kMostCellsAlong = 256;
constexpr double kMostCells = 1 << 21;

int cell_along(double x, double lo, double cell, int count) {
  return std::clamp(static_cast<int>(std::floor((x - lo) / cell)), 0, count - 1);
}

// The cells of the parts' grid a box from lo to hi (widened by the
// tolerance) overlaps, each passed to `visit` by its index.
template <class Visit>
void for_cells(const Hiding& h, Vec3 lo, Vec3 hi, Visit visit) {
  const double t = h.tolerance;
  const Vec3 g = h.grid_lo;
  const int x0 = cell_along(lo.x - t, g.x, h.cell, h.columns),
            x1 = cell_along(hi.x + t, g.x, h.cell, h.columns);
  const int y0 = cell_along(lo.y - t, g.y, h.cell, h.rows),
            y1 = cell_along(hi.y + t, g.y, h.cell, h.rows);
  const int z0 = cell_along(lo.z - t, g.z, h.cell, h.layers),
            z1 = cell_along(hi.z + t, g.z, h.cell, h.layers);
  for (int z = z0; z <= z1; ++z)
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x)
        visit((size_t(z) * size_t(h.rows) + size_t(y)) * size_t(h.columns) + size_t(x));
}

// Whether the box from lo to hi meets part k's bounds, within the tolerance.
bool meets_part(const Hiding& h, uint32_t k, Vec3 lo, Vec3 hi) {
  const Vec3 a = h.part_lo[k], b = h.part_hi[k];
  const double t = h.tolerance;
  return !(a.x > hi.x + t || b.x < lo.x - t || a.y > hi.y + t || b.y < lo.y - t || a.z > hi.z + t ||
           b.z < lo.z - t);
}

// Files the parts on a grid of cells about a part's mean size.
void grid_parts(Hiding& h) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  Vec3 lo{inf, inf, inf}, hi{-inf, -inf, -inf};
  double sizes = 0;
  for (size_t k = 0; k < h.part_lo.size(); ++k) {
    const Vec3 a = h.part_lo[k], b = h.part_hi[k];
    lo = {std::min(lo.x, a.x), std::min(lo.y, a.y), std::min(lo.z, a.z)};
    hi = {std::max(hi.x, b.x), std::max(hi.y, b.y), std::max(hi.z, b.z)};
    sizes += std::max({b.x - a.x, b.y - a.y, b.z - a.z});
  }
  const Vec3 span = hi - lo;
  const double longest = std::max({span.x, span.y, span.z, h.tolerance});
  double cell = std::max(sizes / double(h.part_lo.size()), longest / kMostCellsAlong);
  const auto count = [&](double x) { return std::max(1, static_cast<int>(std::ceil(x / cell))); };
  while (double(count(span.x)) * count(span.y) * count(span.z) > kMostCells) cell *= 2;
  h.grid_lo = lo;
  h.cell = cell;
  h.columns = count(span.x);
  h.rows = count(span.y);
  h.layers = count(span.z);
  const size_t cells = size_t(h.columns) * size_t(h.rows) * size_t(h.layers);
  std::vector<std::vector<uint32_t>> in(cells);
  for (size_t k = 0; k < h.part_lo.size(); ++k)
    for_cells(h, h.part_lo[k], h.part_hi[k], [&](size_t c) { in[c].push_back(uint32_t(k)); });
  h.cell_first.assign(cells + 1, 0);
  for (size_t c = 0; c < cells; ++c) {
    h.cell_first[c + 1] = h.cell_first[c] + uint32_t(in[c].size());
    h.cell_parts.insert(h.cell_parts.end(), in[c].begin(), in[c].end());
  }
}

}  // namespace

Hiding make_hiding(const Scene& scene, const RadiositySolution& s) {
  Hiding h;
  for (const OccluderDesc& o : scene.occluders)
    if (o.solid.kind == SolidDesc::Box || o.solid.kind == SolidDesc::Sphere)
      h.solids.push_back(o.solid);
  constexpr double inf = std::numeric_limits<double>::infinity();
  h.lo = {inf, inf, inf};
  h.hi = {-inf, -inf, -inf};
  for (const Face& f : s.faces)
    for (const Vec3& c : f.surface.polygon) {
      h.lo = {std::min(h.lo.x, c.x), std::min(h.lo.y, c.y), std::min(h.lo.z, c.z)};
      h.hi = {std::max(h.hi.x, c.x), std::max(h.hi.y, c.y), std::max(h.hi.z, c.z)};
    }
  const double extent = s.faces.empty() ? 1.0 : length(h.hi - h.lo);
  // Far above the tracing's margin (10⁻⁵ of the scene), far below any
  // piece of furniture.
  h.offset = 1e-4 * extent;
  h.tolerance = 1e-6 * extent;

  // Only opaque meshes hide what lies inside their parts.
  std::vector<char> hides(scene.meshes.size(), 0);
  std::vector<PartAt> part_at(scene.meshes.size());
  for (size_t m = 0; m < scene.meshes.size(); ++m) {
    const miColor t = scene.meshes[m].transparency;
    hides[m] = t.r == 0 && t.g == 0 && t.b == 0;
    if (hides[m])
      part_at[m] = add_mesh_parts(scene.meshes[m].mesh, h.tolerance, h.part_lo, h.part_hi);
  }
  if (h.part_lo.empty() || !s.rays) {
    h.part_lo.clear();
    h.part_hi.clear();
    return h;
  }
  grid_parts(h);
  // A point just in front of a part's own face lies outside that part.
  h.face_part.assign(s.faces.size(), -1);
  for (size_t f = 0; f < s.faces.size(); ++f) {
    const ReflectingSurface& r = s.faces[f].surface;
    const int m = r.element >= 0 ? s.elements[size_t(r.element)].mesh : -1;
    if (m < 0 || r.polygon.empty()) continue;
    const auto it = part_at[size_t(m)].find(key_of(r.polygon[0], h.tolerance));
    if (it != part_at[size_t(m)].end()) h.face_part[f] = static_cast<int>(it->second);
  }
  h.mesh_object.assign(s.object_element.size(), 0);
  for (size_t i = 0; i < s.object_element.size(); ++i) {
    const int e = s.object_element[i];
    if (e >= 0 && s.elements[size_t(e)].mesh >= 0)
      h.mesh_object[i] = hides[size_t(s.elements[size_t(e)].mesh)];
  }
  return h;
}

bool meets_mesh_part(const Hiding& h, Vec3 lo, Vec3 hi, int own) {
  if (h.part_lo.empty()) return false;
  bool met = false;
  for_cells(h, lo, hi, [&](size_t c) {
    for (uint32_t k = h.cell_first[c]; k < h.cell_first[c + 1] && !met; ++k)
      met = int(h.cell_parts[k]) != own && meets_part(h, h.cell_parts[k], lo, hi);
  });
  return met;
}

namespace {
// The directions of the rays that find a point inside a mesh part, turned
// to the front of the surface the point lies on (the surface itself, or a
// face lying on it, must not answer): apart from each other and from the
// axes, along which furniture's faces lie. Of unit length, made once.
const std::array<Vec3, 3>& inside_rays() {
  static const std::array<Vec3, 3> rays = {
      normalize({0.48, 0.36, 0.8}), normalize({-0.6, 0.48, -0.64}), normalize({0.28, -0.92, 0.28})};
  return rays;
}
}  // namespace

bool inside_mesh(const RadiositySolution& s, const Hiding& h, Vec3 q, Vec3 normal, int own) {
  if (h.part_lo.empty()) return false;
  // A point outside the grid lies in no part; one inside it, in the cell
  // that holds it.
  const double t = h.tolerance;
  const Vec3 g = q - h.grid_lo;
  if (g.x < -t || g.y < -t || g.z < -t || g.x > h.cell * h.columns + t ||
      g.y > h.cell * h.rows + t || g.z > h.cell * h.layers + t)
    return false;
  bool within = false;
  for_cells(h, q, q, [&](size_t c) {
    for (uint32_t k = h.cell_first[c]; k < h.cell_first[c + 1] && !within; ++k)
      within = int(h.cell_parts[k]) != own && meets_part(h, h.cell_parts[k], q, q);
  });
  if (!within) return false;
  const refhost::Vec3d o{q.x, q.y, q.z};
  for (Vec3 d : inside_rays()) {
    if (dot(d, normal) < 0) d = d - normal * (2 * dot(d, normal));
    refhost::RayScene::Hit hit;
    if (!s.rays->first_hit(o, {d.x, d.y, d.z}, std::numeric_limits<double>::infinity(), hit))
      return false;
    if (hit.object >= h.mesh_object.size() || h.mesh_object[hit.object] == 0) return false;
    const refhost::Vec3d at{q.x + d.x * hit.t, q.y + d.y * hit.t, q.z + d.z * hit.t};
    const refhost::Vec3d n = s.rays->normal_at(hit, at);
    if (!(n.x * d.x + n.y * d.y + n.z * d.z > 0)) return false;
  }
  return true;
}

namespace {
// Whether the face is a flat piece of the sphere `solid`: its points lie
// inside the sphere, which does not hide its own surface.
bool stands_for(const ReflectingSurface& f, const SolidDesc& solid) {
  return f.on_sphere && solid.kind == SolidDesc::Sphere && f.sphere_radius == solid.radius &&
         length(f.sphere_center - solid.center) == 0;
}
}  // namespace

bool is_open(const RadiositySolution& s, const Hiding& h, int face, Vec3 p, bool meshes) {
  const Face& f = s.faces[size_t(face)];
  for (int o : f.openings)
    if (covers(s.faces[size_t(o)].surface, p)) return false;
  const Vec3 q = p + f.surface.normal * h.offset;
  if (q.x < h.lo.x - h.tolerance || q.y < h.lo.y - h.tolerance || q.z < h.lo.z - h.tolerance ||
      q.x > h.hi.x + h.tolerance || q.y > h.hi.y + h.tolerance || q.z > h.hi.z + h.tolerance)
    return false;
  for (const SolidDesc& solid : h.solids)
    if (inside_or_on(solid, q, h.tolerance) && !stands_for(f.surface, solid)) return false;
  return !meshes || !inside_mesh(s, h, q, f.surface.normal,
                                 h.face_part.empty() ? -1 : h.face_part[size_t(face)]);
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

namespace {
void open_points_at(const RadiositySolution& s, const Hiding& h, const Patch& p, int levels,
                    Vec3* out, int& count) {
  if (levels > 0) {
    for (int k = 0; k < 4; ++k) open_points_at(s, h, quarter(p, k), levels - 1, out, count);
    return;
  }
  Vec3 points[4];
  sample_points(p, points);
  for (const Vec3& q : points)
    if (is_open(s, h, p.face, q)) out[count++] = q;
}
}  // namespace

int open_grid_points(const RadiositySolution& s, const Hiding& h, const Patch& p,
                     Vec3 out[kOpenGridPoints]) {
  int count = 0;
  open_points_at(s, h, p, kFinerOpen, out, count);
  return count;
}

double open_fraction(const RadiositySolution& s, const Hiding& h, const Patch& p) {
  const double coarse = open_at(s, h, p, 0);
  bool agree = coarse == 0 || coarse == 1;
  // The corners too: a solid's edge may cross a piece of the smallest size
  // between its sample points and its side.
  for (int k = 0; k < p.corners && agree; ++k) {
    agree = is_open(s, h, p.face, inside_corner(p, k)) == (coarse == 1);
  }
  return agree ? coarse : open_at(s, h, p, kFinerOpen);
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
