// Interreflected light by hierarchical radiosity: every reflecting surface
// of the scene is a root of pieces cut in four where the light changes; the
// direct light on them comes from the plug-in through the host's light loop
// (as for grid points); light passes between pieces, or between clusters of
// them, over links made at the coarsest level whose exchange is below the
// accuracy, with visibility from several rays; and the light is passed on
// until what is left is negligible. The interreflected illuminance at any
// point is then gathered from the hierarchy.
#pragma once

#include <array>
#include <cstdint>
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
  // A luminaire opening that hangs free: the host's rays pass it, so direct
  // light goes on to what lies behind it and it takes none.
  bool passes_direct = false;
};

// A piece of a reflecting surface on which light is taken as uniform.
struct Patch {
  std::array<Vec3, 4> corner{};
  int corners = 4;  // 3 (a triangle) or 4 (a parallelogram)
  Vec3 center, normal;
  double area = 0;  // square scene units
  int face = 0;     // index of its ReflectingSurface
  double open = 1;  // fraction of the area that is neither covered nor inside a solid
};

// A scene element that reflects: a surface, a room face, an occluder or a
// mesh.
struct ReflectingElement {
  std::string name;
  std::string kind;  // "surface", "room face", "occluder", "mesh", "luminaire opening"
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
  std::vector<int> openings;            // faces of luminaire openings lying on it
};

// The reflecting surfaces of the model's scene, with the elements they
// belong to (filled in `elements`). Calculation surfaces reflect nothing
// and are left out; a polygon surface reflects over its outline only, in
// convex pieces; a mesh reflects from the front of its faces (by their
// winding), as flat convex pieces of coplanar triangles of one material.
std::vector<ReflectingSurface> scene_reflectors(const Model& model,
                                                std::vector<ReflectingElement>& elements);

// A luminaire opening that hangs free, as the light moving between
// surfaces meets it: its shape in the world and the element it is.
struct FreeOpening {
  refhost::Geometry shape;
  int element = 0;
};

// Every light's emitting shape as an element of its own ("luminaire
// opening", named as the light) that reflects the light's opening
// reflectance. A flat face
// lying on a reflecting surface (a panel set flush into a ceiling) hides
// the surface behind it: appended to `surfaces` first, `on[k]` naming the
// surface the k-th lies on. The others follow: a face that hangs free
// reflects from both sides (its back is the housing), a sphere as a sphere,
// a cylinder as a prism with its two ends, a light object's solid as an
// occluder's; `free_openings` gives what each shows to rays. Direct light
// passes these as it passes them in the host (no shadows of luminaires):
// it lights what lies behind, and the opening takes only reflected light,
// so that no light is counted twice. `size` bounds
// the pieces of round shapes as the occluders' (0: no bound).
void add_luminaire_openings(const Model& model, std::vector<ReflectingSurface>& surfaces,
                            std::vector<ReflectingElement>& elements, std::vector<int>& on,
                            double plane_tolerance, double size,
                            std::vector<FreeOpening>& free_openings);

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
  // Bytes the solution may take; a scene that would need more is refused
  // before anything of that size is built. 0: no bound.
  uint64_t max_bytes = 0;
};

// Flux bookkeeping of a solution, in lumen.
struct FluxBalance {
  double direct = 0;             // reaching the reflecting surfaces directly
  std::vector<double> absorbed;  // per element
  // Of that, what came by reflection from other surfaces, per element.
  std::vector<double> absorbed_interreflected;
  double reflected_lost = 0;  // reflected light that meets no reflecting surface
  double unshot = 0;          // reflected light not yet passed on when the iteration stopped
};

// A piece of reflecting surface in the hierarchy: a root piece of a face,
// or one of the four its parent was cut into (children are consecutive).
struct Element {
  Patch patch;
  int parent = -1;
  int child = -1;   // first of four children; −1 for a leaf
  double size = 0;  // longest edge
};

// A group of root elements near each other, exchanging light as one where
// its exchange is small: a box around them, their open area.
struct Cluster {
  Vec3 lo, hi, center;
  double radius = 0;  // of the sphere around the box
  double area = 0;    // open area of its elements
  // The mean of its elements' normals weighted by open area: its length is
  // 1 for a cluster of pieces of one plane, near 0 for one turned every way.
  Vec3 facing;
  // A cone holding every element's normal: its axis (a unit vector) and
  // half-angle (radians); 0 for pieces of one plane.
  Vec3 axis;
  double spread = 0;
  // Two children: ≥ 0 a cluster, < 0 the root element −1 − child.
  int child[2] = {0, 0};
};

// Light passed from one node of the hierarchy (an element, or a cluster
// numbered after the elements) to another: `factor` of what the sender
// sends arrives at the receiver.
struct Link {
  uint32_t from = 0, to = 0;
  double factor = 0;
};

struct Hiding;

struct RadiositySolution {
  std::vector<ReflectingElement> elements;
  std::vector<Face> faces;        // first/count: their root elements
  std::vector<Element> tree;      // all elements, each root's pieces after it
  std::vector<Cluster> clusters;  // clusters[0] holds every root
  std::vector<int> roots;         // root elements, face by face
  std::vector<int> leaf_of;       // per element: its index among the patches, or −1
  // The leaves of the hierarchy, face by face: where light is taken as
  // uniform. Per patch (indices as `patches`):
  std::vector<Patch> patches;
  std::vector<int> patch_element;  // the element each patch is
  std::vector<double> direct;      // lux, from the lights, maintained, over its open part
  double new_over_maintained = 1;  // direct flux on the patches, new over maintained
  std::vector<double> indirect;    // lux per patch, from other patches
  std::vector<double> exitance;    // lm/m² per patch: reflectance × (direct + indirect)
  // Per node (elements, then clusters): the mean exitance of an element,
  // the flux a cluster sends; for the gathering at points.
  std::vector<double> node_exitance;
  std::vector<double> cluster_flux;
  // Per cluster: the mean of its elements' normals weighted by the light
  // they send (see sends_as_one).
  std::vector<Vec3> cluster_glow;
  size_t links = 0;
  FluxBalance balance;
  int sweeps = 0;                    // iterations of the solution
  bool converged = true;             // false: stopped at the cap with light unshot
  double smallest = 0, largest = 0;  // edges of the patches, scene units
  // The error the refinement aimed at: the largest exchange left
  // unrefined, as a fraction of the mean light on the surfaces.
  double estimated_error = 0;
  double direct_seconds = 0, form_factor_seconds = 0, solve_seconds = 0;
  std::shared_ptr<const refhost::RayScene> rays;
  std::shared_ptr<const Hiding> hiding;  // what hides parts of the surfaces
  std::vector<uint32_t> all_objects;     // 0 .. rays->size() − 1
  std::vector<int> object_element;       // per traced object: the element it is, or −1
  double plane_tolerance = 0;            // points closer to a plane lie on it
  double lumen_per_unit = 1;             // lux × square scene unit → lumen
};

// What a solution will take, reckoned from the scene before it is built.
struct RadiosityEstimate {
  double roots = 0;     // pieces the patch_size bound cuts the surfaces into
  double elements = 0;  // most elements the finest resolution allows
  double bytes = 0;
};
RadiosityEstimate estimate_radiosity(const Scene& scene);

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
