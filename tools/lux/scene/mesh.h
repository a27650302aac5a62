// Meshes from Wavefront OBJ files: their triangles placed in the scene, each
// with the luminous reflectance of its material.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tools/lux/scene/vec.h"

namespace lux {

struct MeshData {
  std::vector<Vec3> vertices;  // in scene units, placed
  std::vector<std::array<uint32_t, 3>> triangles;
  std::vector<double> reflectance;  // per triangle
};

// Where a mesh file's own coordinates go: scaled by `scale` times the
// length of one file unit in scene units, turned by `rotation` (degrees
// about x, then y, then z) and moved to `position`.
struct MeshPlacement {
  Vec3 position{};
  Vec3 rotation{};
  double scale = 1;
  double unit = 1;  // scene units per file unit
};

// The luminous reflectance of a diffuse colour given in linear RGB with
// the sRGB primaries: the Y of that colour.
double luminous_reflectance(double r, double g, double b);

// A point of the file placed in the scene.
Vec3 place(const MeshPlacement& placement, Vec3 p);

// What reading a mesh may do. `confine_to` (when not empty): its material
// libraries must lie in that folder or below. `farthest`: no placed vertex
// may lie farther from the origin on any axis. `reckon`, when given, is told
// the file's vertices and (reckoned) triangles before any of them is made,
// and throws to refuse a mesh too large for the memory allowed.
struct MeshLimits {
  std::filesystem::path confine_to;
  double farthest = HUGE_VAL;
  std::function<void(uint64_t vertices, uint64_t triangles)> reckon;
};

// Reads an OBJ file and the material libraries it names (each once, however
// often it is named; an absolute name as it stands, a relative one beside
// the file). `overrides` gives the reflectance of materials by name,
// `fallback` that of faces without a material. Numbers are plain decimals;
// a byte-order mark before the first line is passed over. Throws Error
// naming the file and the line at fault, quoting no more of the file than
// a few characters; a file without faces is refused.
MeshData load_obj(const std::filesystem::path& file, const MeshPlacement& placement,
                  const std::map<std::string, double>& overrides, double fallback,
                  const MeshLimits& limits = {});

}  // namespace lux

namespace lux {

// A flat convex piece of a mesh's surface: a triangle of the file, or
// triangles of one material that together make up a convex polygon in one
// plane (the faces of a box cut into a lattice become its six sides).
// Corners run counter-clockwise about `normal`, which follows the winding
// of the file's faces.
struct MeshFace {
  std::vector<Vec3> polygon;
  Vec3 normal;
  double reflectance = 0;
  double area = 0;
};

// The mesh's surface as flat convex pieces, coplanar neighbours merged, so
// that a reflecting-surface model can cut them again to its own patch
// size. Degenerate triangles (no area) are left out.
std::vector<MeshFace> mesh_faces(const MeshData& mesh);

// Which of the pieces are hidden: lying wholly on another piece of the same
// plane that faces the other way (the top of a desk's leg under the desk
// top, the end of a shelf board against the side panel). Such a face
// receives no light, but a ray starting on it would not see the surface it
// touches; light transport leaves it out.
std::vector<bool> hidden_faces(const std::vector<MeshFace>& faces);

}  // namespace lux
