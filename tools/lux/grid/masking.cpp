#include "tools/lux/grid/masking.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <utility>

namespace lux {

namespace {

constexpr double kPi = 3.141592653589793;
// Corners closer than this fraction of the mesh's size are one corner: the
// faces of a box written each with its own corners still join.
constexpr double kWeldFraction = 1e-7;
// Above this winding number a point is inside; a flat open sheet stays
// below it on either side.
constexpr double kInsideWinding = 0.5;

// Disjoint sets of triangles, joined along shared edges.
struct Sets {
  std::vector<size_t> parent;
  explicit Sets(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), size_t{0}); }
  size_t root(size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  }
  void join(size_t a, size_t b) { parent[root(a)] = root(b); }
};

// Each vertex's index among the distinct corners of the mesh.
std::vector<uint32_t> welded(const MeshData& mesh) {
  Vec3 lo = mesh.vertices.front(), hi = lo;
  for (const Vec3& p : mesh.vertices) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  const double step = std::max(length(hi - lo), 1e-300) * kWeldFraction;
  std::map<std::array<long long, 3>, uint32_t> seen;
  std::vector<uint32_t> id(mesh.vertices.size());
  for (size_t v = 0; v < mesh.vertices.size(); ++v) {
    const Vec3 p = mesh.vertices[v];
    const std::array<long long, 3> key{std::llround(p.x / step), std::llround(p.y / step),
                                       std::llround(p.z / step)};
    id[v] = seen.emplace(key, static_cast<uint32_t>(seen.size())).first->second;
  }
  return id;
}

// The solid angle of triangle (a, b, c) seen from the origin, signed by its
// winding (Van Oosterom and Strackee).
double solid_angle(Vec3 a, Vec3 b, Vec3 c) {
  const double la = length(a), lb = length(b), lc = length(c);
  const double det = dot(a, cross(b, c));
  const double div = la * lb * lc + dot(a, b) * lc + dot(a, c) * lb + dot(b, c) * la;
  return 2 * std::atan2(det, div);
}

bool in_box(Vec3 lo, Vec3 hi, Vec3 p, double tolerance) {
  return p.x >= lo.x - tolerance && p.x <= hi.x + tolerance && p.y >= lo.y - tolerance &&
         p.y <= hi.y + tolerance && p.z >= lo.z - tolerance && p.z <= hi.z + tolerance;
}

bool has_volume(const SolidDesc& solid) {
  return solid.kind == SolidDesc::Box || solid.kind == SolidDesc::Sphere;
}

}  // namespace

std::vector<MeshPart> mesh_parts(const MeshData& mesh) {
  if (mesh.triangles.empty()) return {};
  const std::vector<uint32_t> id = welded(mesh);
  Sets sets(mesh.triangles.size());
  std::map<std::pair<uint32_t, uint32_t>, size_t> first_with_edge;
  for (size_t t = 0; t < mesh.triangles.size(); ++t)
    for (int k = 0; k < 3; ++k) {
      const uint32_t a = id[mesh.triangles[t][size_t(k)]];
      const uint32_t b = id[mesh.triangles[t][size_t((k + 1) % 3)]];
      const auto edge = std::minmax(a, b);
      const auto [at, fresh] = first_with_edge.emplace(edge, t);
      if (!fresh) sets.join(t, at->second);
    }
  std::map<size_t, size_t> part_of_root;
  std::vector<MeshPart> parts;
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    const auto [at, fresh] = part_of_root.emplace(sets.root(t), parts.size());
    if (fresh) parts.emplace_back();
    MeshPart& part = parts[at->second];
    const std::array<Vec3, 3> corners{mesh.vertices[mesh.triangles[t][0]],
                                      mesh.vertices[mesh.triangles[t][1]],
                                      mesh.vertices[mesh.triangles[t][2]]};
    if (part.triangles.empty()) part.min = part.max = corners[0];
    for (const Vec3& p : corners) {
      part.min = {std::min(part.min.x, p.x), std::min(part.min.y, p.y), std::min(part.min.z, p.z)};
      part.max = {std::max(part.max.x, p.x), std::max(part.max.y, p.y), std::max(part.max.z, p.z)};
    }
    part.triangles.push_back(corners);
  }
  return parts;
}

double winding_number(const MeshPart& part, Vec3 point) {
  double omega = 0;
  for (const auto& t : part.triangles)
    omega += solid_angle(t[0] - point, t[1] - point, t[2] - point);
  return omega / (4 * kPi);
}

bool inside_or_on(const MeshPart& part, Vec3 point, double tolerance) {
  if (!in_box(part.min, part.max, point, tolerance)) return false;
  // The corners of the cube of half-side `tolerance` about the point: a
  // point on a face (or within the tolerance outside it) has corners inside
  // the solid, and none of them lies in an axis-aligned face's plane, where
  // the winding number is undefined.
  for (const double dx : {-tolerance, tolerance})
    for (const double dy : {-tolerance, tolerance})
      for (const double dz : {-tolerance, tolerance})
        if (winding_number(part, point + Vec3{dx, dy, dz}) > kInsideWinding) return true;
  return false;
}

MaskingSolids masking_solids(const Scene& scene) {
  MaskingSolids m;
  for (const auto& o : scene.occluders)
    if (has_volume(o.solid)) m.solids.push_back(o.solid);
  for (const auto& l : scene.object_lights)
    if (has_volume(l.solid)) m.solids.push_back(l.solid);
  for (const auto& mesh : scene.meshes) {
    auto parts = mesh_parts(mesh.mesh);
    m.parts.insert(m.parts.end(), std::make_move_iterator(parts.begin()),
                   std::make_move_iterator(parts.end()));
  }
  return m;
}

bool masks(const MaskingSolids& solids, Vec3 point, double tolerance) {
  for (const auto& s : solids.solids)
    if (inside_or_on(s, point, tolerance)) return true;
  for (const auto& part : solids.parts)
    if (inside_or_on(part, point, tolerance)) return true;
  return false;
}

}  // namespace lux
