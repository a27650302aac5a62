// Interreflected light by patch radiosity: every reflecting surface of the
// scene is cut into patches, the direct light on each comes from the
// plug-in through the host's light loop (as for grid points), form factors
// between patches are worked out analytically with visibility through the
// host's tracing, and the light is shot from patch to patch until what is
// left unshot is negligible. The interreflected illuminance at any point is
// then gathered from the patches' exitance.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "refhost/rays.h"
#include "tools/lux/transport/calc.h"

namespace lux {

// A planar convex polygon that reflects diffusely from its front side: a
// face of a room, of an occluder or of a mesh. Its corners run counter-
// clockwise seen from the front.
struct ReflectingSurface {
  std::vector<Vec3> polygon;
  Vec3 normal;             // unit, towards the front
  double reflectance = 0;  // luminous, 0 ≤ ρ < 1
  int element = 0;         // index of the scene element it belongs to
  bool on_sphere = false;  // a flat piece standing in for part of a sphere
  Vec3 sphere_center{};    // the sphere, when on_sphere
  double sphere_radius = 0;
};

// A piece of a reflecting surface on which light is taken as uniform.
struct Patch {
  std::array<Vec3, 4> corner{};
  int corners = 4;  // 3 (a triangle) or 4 (a parallelogram)
  Vec3 center, normal;
  double area = 0;  // square scene units
  int face = 0;     // index of its ReflectingSurface
};

// A scene element that reflects: a surface, a room face, an occluder or a
// mesh.
struct ReflectingElement {
  std::string name;
  std::string kind;  // "surface", "room face", "occluder", "mesh"
  // Luminous; of a mesh, the mean of its materials' weighted by their area
  // (each of its faces reflects with its own material's).
  double reflectance = 0;
  miTag instance = 0;  // the host instance that traces it
  int surface = -1;    // index in the scene's surfaces, or −1
  int mesh = -1;       // index in the scene's meshes, or −1
  double area = 0;     // square scene units, of its patches
};

// How a reflecting surface was cut: a parallelogram into nu × nv patches
// (patch (a, b) at first + b·nu + a), other polygons into triangles.
struct Face {
  ReflectingSurface surface;
  int first = 0, count = 0;             // its patches
  int nu = 0, nv = 0;                   // 0 unless a parallelogram
  std::vector<refhost::Vec3d> corners;  // the polygon's corners, for visibility culling
};

// The reflecting surfaces of the model's scene, with the elements they
// belong to (filled in `elements`). Calculation surfaces reflect nothing
// and are left out; a polygon surface reflects over its outline only, in
// convex pieces; a mesh reflects from the front of its faces (by their
// winding), as flat convex pieces of coplanar triangles of one material.
std::vector<ReflectingSurface> scene_reflectors(const Model& model,
                                                std::vector<ReflectingElement>& elements);

// Cuts `surface` (index `face`) into patches of edges about `size`,
// appended to `patches`; returns how it was cut.
Face cut_into_patches(const ReflectingSurface& surface, int face, double size,
                      std::vector<Patch>& patches);

// The form factor from a small piece of surface at `point` facing `normal`
// to the polygon (corners counter-clockwise about `polygon_normal`), which
// emits from its front: the fraction of the light that a Lambertian emitter
// at the polygon sends onto the point per unit area, i.e. E = M · F. The
// part of the polygon behind the point's plane is clipped away; exact for
// an unobstructed polygon.
double point_to_polygon_factor(Vec3 point, Vec3 normal, const Vec3* polygon, int count,
                               Vec3 polygon_normal);

// A_a·F_ab = A_b·F_ba: the exchange between two patches with nothing in
// between (square scene units), the two directions' factors each averaged
// over points of the sending patch and then with each other, so that
// reciprocity holds to rounding. 0 for patches that do not face each other.
// (The solver balances these so that the rows keep their exact sums.)
double patch_exchange(const Patch& a, const Patch& b, double plane_tolerance);
// The two one-sided exchanges behind it: A_a·F_ab from points of a, and
// A_b·F_ba from points of b.
void one_sided_exchanges(const Patch& a, const Patch& b, double plane_tolerance, double& ab,
                         double& ba);

struct RadiosityOptions {
  int threads = 1;
  bool progress = false;
};

// Flux bookkeeping of a solution, in lumen.
struct FluxBalance {
  double direct = 0;             // reaching the reflecting surfaces directly
  std::vector<double> absorbed;  // per element
  double reflected_lost = 0;     // reflected light that meets no reflecting surface
  double unshot = 0;             // left unshot when the iteration stopped
};

struct RadiositySolution {
  std::vector<ReflectingElement> elements;
  std::vector<Face> faces;
  std::vector<Patch> patches;
  std::vector<double> direct;      // lux per patch, from the lights, maintained
  double new_over_maintained = 1;  // direct flux on the patches, new over maintained
  std::vector<double> indirect;    // lux per patch, from other patches
  std::vector<double> exitance;    // lm/m² per patch: reflectance × (direct + indirect)
  FluxBalance balance;
  int sweeps = 0;  // shooting sweeps of the iteration
  double direct_seconds = 0, form_factor_seconds = 0, solve_seconds = 0;
  std::shared_ptr<const refhost::RayScene> rays;
  std::vector<uint32_t> all_objects;  // 0 .. rays->size() − 1
  double plane_tolerance = 0;         // points closer to a plane lie on it
  double lumen_per_unit = 1;          // lux × square scene unit → lumen
};

// Solves the interreflections of the model's scene. The numbers are the
// same whatever the thread count.
RadiositySolution solve_radiosity(const Model& model, const RadiosityOptions& options);

// The interreflected illuminance in lux at `point` on a surface facing
// `normal` (any point, any direction): the light of every patch in front
// of it, with visibility. Safe to call from many threads at once.
double indirect_illuminance(const RadiositySolution& solution, Vec3 point, Vec3 normal,
                            refhost::ThreadContext& thread);

// The interreflected illuminance of the patch under `point` of the face
// `face` (for pictures of reflecting surfaces); −1 if no patch holds it.
double patch_indirect_at(const RadiositySolution& solution, int face, Vec3 point);

// The interreflected illuminance of the patch of a reflecting surface that
// holds `point` (within `tolerance` of its plane) and faces along `normal`:
// the patch's value, cheap enough for every pixel of a picture. Points off
// every patch (the round surface of a sphere between its flat pieces) take
// the nearest patch that faces the same way.
double indirect_on_surface(const RadiositySolution& solution, Vec3 point, Vec3 normal,
                           double tolerance);

}  // namespace lux
