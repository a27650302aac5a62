// Ray tracing against the scene's simple geometry: what the probe and shadow
// rays see, shared with the light-sampling loop.
//
// Where geometry sits in the world:
// - an instance whose item is an object places that object by the
//   instance's matrices (the world-to-local matrix carries rays into the
//   object's own space, so ray parameters stay world distances);
// - an object that no instance references is taken as it stands, in world
//   space, so that a test can put a floor into a scene with one call;
// - groups only organise: their member instances are traced by their own
//   matrices, an instance of a group adds no geometry of its own.
#pragma once

#include <vector>

#include "refhost/refhost.h"

namespace refhost {

struct Vec3d {
  double x, y, z;
};

// The parameter t of the first crossing of the ray o + t·d with the surface
// of `g` (both in g's own space) with t_min < t < t_max; +∞ when there is
// none. `d` need not be of unit length: t is measured in units of d.
double first_crossing(const Geometry& g, const Vec3d& o, const Vec3d& d, double t_min,
                      double t_max);

// Where an object sits: its geometry and the matrices that place it (both
// null for an object used directly in world space).
struct Placement {
  miTag instance = 0;  // 0 for an object used directly
  const Geometry* geometry = nullptr;
  const float* local_to_world = nullptr;
  const float* world_to_local = nullptr;
};

// The placement of `tag`: an instance of an object, or an object itself.
// False when `tag` is neither.
bool placement_of(miTag tag, Placement& out);

// Every object in the world as the probe and shadow rays see it, in the
// database's order (replacing what `out` held).
void placed_objects(std::vector<Placement>& out);

}  // namespace refhost
