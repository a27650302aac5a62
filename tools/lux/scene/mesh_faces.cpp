// Merging a mesh's triangles into flat convex pieces. A modelling program
// cuts every face into many triangles; light transport wants pieces of its
// own size, so coplanar neighbours of one material are merged back into
// the polygon they make up when that polygon is convex.
#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <set>

#include "tools/lux/scene/mesh.h"

namespace lux {

namespace {

// Normals closer than this (1 − cos of the angle) count as the same plane;
// offsets of planes closer than this fraction of the mesh's size too.
constexpr double kSameDirection = 1e-9;
constexpr double kSameOffset = 1e-7;

struct Plane {
  Vec3 normal;
  double offset;
  int material;  // index of the reflectance value
};

// Union–find over triangle indices.
struct Sets {
  std::vector<size_t> parent;
  explicit Sets(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), size_t(0)); }
  size_t find(size_t a) {
    while (parent[a] != a) a = parent[a] = parent[parent[a]];
    return a;
  }
  void join(size_t a, size_t b) { parent[find(a)] = find(b); }
};

// Vertices at the same place are one vertex: a file may repeat a corner
// for each face that uses it.
std::vector<uint32_t> welded(const std::vector<Vec3>& vertices) {
  std::map<std::array<double, 3>, uint32_t> first;
  std::vector<uint32_t> out(vertices.size());
  for (size_t i = 0; i < vertices.size(); ++i) {
    const auto [it, fresh] = first.emplace(
        std::array<double, 3>{vertices[i].x, vertices[i].y, vertices[i].z}, uint32_t(i));
    out[i] = it->second;
  }
  return out;
}

bool same_plane(const Plane& a, const Plane& b, double size) {
  return a.material == b.material && dot(a.normal, b.normal) > 1 - kSameDirection &&
         std::fabs(a.offset - b.offset) <= kSameOffset * size;
}

// The boundary of a set of triangles as one closed loop of vertex indices,
// or empty when it is not one simple loop.
std::vector<uint32_t> boundary_loop(const std::vector<std::array<uint32_t, 3>>& triangles) {
  std::map<std::pair<uint32_t, uint32_t>, int> directed;
  for (const auto& t : triangles)
    for (int k = 0; k < 3; ++k) ++directed[{t[size_t(k)], t[size_t((k + 1) % 3)]}];
  std::map<uint32_t, uint32_t> next;
  for (const auto& [edge, n] : directed) {
    const auto reverse = directed.find({edge.second, edge.first});
    const int back = reverse == directed.end() ? 0 : reverse->second;
    if (n == 1 && back == 0) {
      if (next.count(edge.first) != 0) return {};  // two boundary edges leave one corner
      next[edge.first] = edge.second;
    } else if (n != 1 || back != 1) {
      return {};  // an edge used more than twice, or twice the same way round
    }
  }
  if (next.empty()) return {};
  std::vector<uint32_t> loop{next.begin()->first};
  while (loop.size() <= next.size()) {
    const auto it = next.find(loop.back());
    if (it == next.end()) return {};
    if (it->second == loop.front()) break;
    loop.push_back(it->second);
  }
  return loop.size() == next.size() ? loop : std::vector<uint32_t>{};
}

// The loop's corners without those in line with their neighbours; empty
// when what is left is not convex about `normal`.
std::vector<Vec3> convex_corners(const std::vector<Vec3>& loop, Vec3 normal, double size) {
  std::vector<Vec3> corners;
  const size_t n = loop.size();
  const double eps = 1e-9 * size * size;
  for (size_t i = 0; i < n; ++i) {
    const Vec3 a = loop[(i + n - 1) % n], b = loop[i], c = loop[(i + 1) % n];
    const double turn = dot(cross(b - a, c - b), normal);
    if (turn < -eps) return {};  // a reflex corner
    if (turn > eps) corners.push_back(b);
  }
  return corners.size() >= 3 ? corners : std::vector<Vec3>{};
}

double polygon_area(const std::vector<Vec3>& p, Vec3 normal) {
  Vec3 sum{};
  for (size_t i = 0; i < p.size(); ++i) sum = sum + cross(p[i], p[(i + 1) % p.size()]);
  return 0.5 * dot(sum, normal);
}

}  // namespace

std::vector<MeshFace> mesh_faces(const MeshData& mesh) {
  const auto& v = mesh.vertices;
  double size = 0;
  for (const Vec3& p : v) size = std::max({size, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
  size = std::max(size, 1e-30);
  const std::vector<uint32_t> same = welded(v);

  // Each triangle's plane, with its material as a value.
  std::map<double, int> materials;
  std::vector<Plane> planes(mesh.triangles.size());
  std::vector<double> areas(mesh.triangles.size());
  std::vector<std::array<uint32_t, 3>> tri(mesh.triangles.size());
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    const auto& f = mesh.triangles[t];
    tri[t] = {same[f[0]], same[f[1]], same[f[2]]};
    const Vec3 n = cross(v[f[1]] - v[f[0]], v[f[2]] - v[f[0]]);
    areas[t] = 0.5 * length(n);
    planes[t].normal = normalize(n);
    planes[t].offset = dot(planes[t].normal, v[f[0]]);
    planes[t].material =
        materials.emplace(mesh.reflectance[t], int(materials.size())).first->second;
  }

  // Neighbours across an edge in the same plane with the same material.
  Sets sets(tri.size());
  std::map<std::pair<uint32_t, uint32_t>, std::vector<size_t>> by_edge;
  for (size_t t = 0; t < tri.size(); ++t) {
    if (!(areas[t] > 0)) continue;
    for (int k = 0; k < 3; ++k) {
      const uint32_t a = tri[t][size_t(k)], b = tri[t][size_t((k + 1) % 3)];
      by_edge[{std::min(a, b), std::max(a, b)}].push_back(t);
    }
  }
  // An edge of a double-sided sheet has four users, two per side: each
  // joins the first earlier one in its plane.
  for (const auto& [edge, users] : by_edge)
    for (size_t i = 1; i < users.size(); ++i)
      for (size_t j = 0; j < i; ++j)
        if (same_plane(planes[users[j]], planes[users[i]], size)) {
          sets.join(users[j], users[i]);
          break;
        }

  std::map<size_t, std::vector<size_t>> groups;
  for (size_t t = 0; t < tri.size(); ++t)
    if (areas[t] > 0) groups[sets.find(t)].push_back(t);

  std::vector<MeshFace> faces;
  const auto single = [&](size_t t) {
    const auto& f = mesh.triangles[t];
    faces.push_back({{v[f[0]], v[f[1]], v[f[2]]}, planes[t].normal, mesh.reflectance[t], areas[t]});
  };
  for (const auto& [root, members] : groups) {
    if (members.size() == 1) {
      single(members[0]);
      continue;
    }
    std::vector<std::array<uint32_t, 3>> group_tris;
    double area = 0;
    for (size_t t : members) {
      group_tris.push_back(tri[t]);
      area += areas[t];
    }
    const Vec3 normal = planes[members[0]].normal;
    const auto loop = boundary_loop(group_tris);
    std::vector<Vec3> corners;
    if (!loop.empty()) {
      std::vector<Vec3> points;
      for (uint32_t i : loop) points.push_back(v[i]);
      corners = convex_corners(points, normal, size);
    }
    // The merged polygon must cover exactly the triangles' area.
    if (!corners.empty() &&
        std::fabs(polygon_area(corners, normal) - area) <= 1e-9 * std::max(area, size * size)) {
      faces.push_back({corners, normal, mesh.reflectance[members[0]], area});
    } else {
      for (size_t t : members) single(t);
    }
  }
  return faces;
}

namespace {

// Whether every corner of `inner` lies inside the convex polygon `outer`
// (corners counter-clockwise about `normal`), within `eps` (an area).
bool covers(const MeshFace& outer, const MeshFace& inner, double eps) {
  const auto& q = outer.polygon;
  for (const Vec3& p : inner.polygon)
    for (size_t k = 0; k < q.size(); ++k)
      if (dot(cross(q[(k + 1) % q.size()] - q[k], p - q[k]), outer.normal) < -eps) return false;
  return true;
}

// Faces of one plane and facing, found by the point each face of the other
// facing would have to cover: a uniform grid over the plane whose cells are
// about the faces' mean size, each face listed in the cells its bounding box
// overlaps (a face far larger than the cells is kept aside and tried
// everywhere). A double-sided sheet of n small faces then costs about n
// look-ups instead of n² comparisons.
class PlaneIndex {
 public:
  PlaneIndex(const std::vector<MeshFace>& faces, const std::vector<size_t>& members, Vec3 e1,
             Vec3 e2)
      : e1_(e1), e2_(e2) {
    double area = 0;
    std::vector<Box> boxes;
    for (size_t i : members) {
      boxes.push_back(box_of(faces[i]));
      area += (boxes.back().hi[0] - boxes.back().lo[0]) * (boxes.back().hi[1] - boxes.back().lo[1]);
    }
    cell_ = std::sqrt(area / double(std::max<size_t>(members.size(), 1)));
    if (!(cell_ > 0) || !std::isfinite(cell_)) {
      big_ = members;  // faces without extent: few comparisons can match
      return;
    }
    for (size_t k = 0; k < members.size(); ++k) {
      const Box& b = boxes[k];
      const double cells = (std::floor(b.hi[0] / cell_) - std::floor(b.lo[0] / cell_) + 1) *
                           (std::floor(b.hi[1] / cell_) - std::floor(b.lo[1] / cell_) + 1);
      if (!(cells <= kMostCellsPerFace)) {
        big_.push_back(members[k]);
        continue;
      }
      for (auto i = cell_index(b.lo[0]); i <= cell_index(b.hi[0]); ++i)
        for (auto j = cell_index(b.lo[1]); j <= cell_index(b.hi[1]); ++j)
          cells_[{i, j}].push_back(members[k]);
    }
  }
  // The faces whose cell holds the point `p` of the plane, and the large
  // ones, into `out`.
  void near(Vec3 p, std::vector<size_t>& out) const {
    out = big_;
    if (!(cell_ > 0) || !std::isfinite(cell_)) return;
    const auto it = cells_.find({cell_index(dot(p, e1_)), cell_index(dot(p, e2_))});
    if (it != cells_.end()) out.insert(out.end(), it->second.begin(), it->second.end());
  }

 private:
  static constexpr double kMostCellsPerFace = 4096;
  struct Box {
    double lo[2], hi[2];
  };
  Box box_of(const MeshFace& f) const {
    Box b{{HUGE_VAL, HUGE_VAL}, {-HUGE_VAL, -HUGE_VAL}};
    for (const Vec3& p : f.polygon) {
      const double c[2] = {dot(p, e1_), dot(p, e2_)};
      for (int k = 0; k < 2; ++k) {
        b.lo[k] = std::min(b.lo[k], c[k]);
        b.hi[k] = std::max(b.hi[k], c[k]);
      }
    }
    return b;
  }
  long long cell_index(double x) const { return static_cast<long long>(std::floor(x / cell_)); }
  Vec3 e1_, e2_;
  double cell_ = 0;
  std::map<std::pair<long long, long long>, std::vector<size_t>> cells_;
  std::vector<size_t> big_;
};

// A point inside a convex face: the mean of its corners.
Vec3 inner_point(const MeshFace& f) {
  Vec3 sum{};
  for (const Vec3& p : f.polygon) sum = sum + p;
  return sum * (1.0 / double(f.polygon.size()));
}

}  // namespace

std::vector<bool> hidden_faces(const std::vector<MeshFace>& faces) {
  std::vector<bool> hidden(faces.size(), false);
  double size = 0;
  for (const MeshFace& f : faces)
    for (const Vec3& p : f.polygon)
      size = std::max({size, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
  size = std::max(size, 1e-30);
  // Pieces by their plane, the two facings of one plane together: the
  // normal turned to point along its largest positive component.
  std::map<std::array<long long, 4>, std::vector<size_t>> by_plane;
  const auto key = [&](const MeshFace& f) {
    Vec3 n = f.normal;
    const double big = std::fabs(n.x) >= std::fabs(n.y) && std::fabs(n.x) >= std::fabs(n.z) ? n.x
                       : std::fabs(n.y) >= std::fabs(n.z)                                   ? n.y
                                                                                            : n.z;
    if (big < 0) n = -n;
    const double offset = dot(n, f.polygon[0]) / size;
    return std::array<long long, 4>{std::llround(n.x * 1e6), std::llround(n.y * 1e6),
                                    std::llround(n.z * 1e6), std::llround(offset * 1e7)};
  };
  for (size_t i = 0; i < faces.size(); ++i) by_plane[key(faces[i])].push_back(i);
  const double eps = 1e-9 * size * size;
  std::vector<size_t> near;
  for (const auto& [plane, members] : by_plane) {
    std::vector<size_t> one, other;
    for (size_t i : members)
      (dot(faces[i].normal, faces[members[0]].normal) > 0 ? one : other).push_back(i);
    if (one.empty() || other.empty()) continue;
    // Axes in the plane.
    const Vec3 n = faces[members[0]].normal;
    const Vec3 helper = std::fabs(n.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    const Vec3 e1 = normalize(cross(n, helper)), e2 = cross(n, e1);
    // A face is hidden by one of the other facing that covers it, and so
    // covers its inner point.
    const auto hide = [&](const std::vector<size_t>& inner, const std::vector<size_t>& outer) {
      const PlaneIndex index(faces, outer, e1, e2);
      for (size_t a : inner) {
        index.near(inner_point(faces[a]), near);
        for (size_t b : near)
          if (covers(faces[b], faces[a], eps)) {
            hidden[a] = true;
            break;
          }
      }
    };
    hide(one, other);
    hide(other, one);
  }
  return hidden;
}

}  // namespace lux
