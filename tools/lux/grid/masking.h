// The solids of a scene that mask calculation points: a point inside a
// solid, or on its boundary, lies where nobody works (the floor under a
// cabinet, the wall behind a shelf's back panel) and is left out of the
// figures. Every solid the scene holds masks: occluder and light-object
// boxes and spheres, and each connected part of a mesh.
#pragma once

#include <array>
#include <vector>

#include "tools/lux/scene/scene.h"

namespace lux {

// One connected part of a mesh (a desk's block, a leg, a shelf's side
// panel): its triangles and the box around them.
struct MeshPart {
  Vec3 min{}, max{};
  std::vector<std::array<Vec3, 3>> triangles;
};

// What masks, gathered once per scene.
struct MaskingSolids {
  std::vector<SolidDesc> solids;  // with a volume: boxes and spheres
  std::vector<MeshPart> parts;
};

// The masking solids of a scene: its occluders, its light objects and the
// connected parts of its meshes (triangles that share a corner, corners
// that coincide counting as shared).
MaskingSolids masking_solids(const Scene& scene);

// The connected parts of a mesh.
std::vector<MeshPart> mesh_parts(const MeshData& mesh);

// The generalised winding number of a part at `point`: the solid angle its
// triangles subtend, signed by their winding, over 4π. About 1 inside a
// closed part whose faces point outwards, 0 outside it, and between for an
// open surface; cracks and T-junctions change it only near them.
double winding_number(const MeshPart& part, Vec3 point);

// Whether `point` lies inside a part or within `tolerance` of its inside:
// the winding number exceeds one half at a corner of the cube of half-side
// `tolerance` about the point (so a point on a part's face, the floor under
// a block, counts). A part that encloses nothing (a sheet) masks nothing,
// and neither does a room modelled with its faces turned inwards.
bool inside_or_on(const MeshPart& part, Vec3 point, double tolerance);

// Whether any of the solids masks `point`.
bool masks(const MaskingSolids& solids, Vec3 point, double tolerance);

}  // namespace lux
