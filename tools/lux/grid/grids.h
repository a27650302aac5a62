// Calculation grids as lighting standards lay them out: the standard point
// spacing for a rectangle of a given size, a margin along the edges, task
// areas with their immediate surrounding band and background, and the
// points that solid objects stand on or enclose, which are left out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/lux/grid/masking.h"
#include "tools/lux/scene/scene.h"

namespace lux {

// What a grid point counts for. Masked points lie inside a solid occluder or
// on the part of a surface one covers; points outside an area belong to the
// grid's lattice but not to the area (the hole of a band).
enum class PointState : uint8_t { Counted, Masked, Outside };

// The spacing of the standard grid for an area whose governing side is d
// metres: p = 0.2 × 5^log10(d) m, at most 10 m.
double standard_spacing(double d_metres);

// Points along each side of a rectangle of sides a and b metres by the grid
// rule of EN 12464-1. The governing side d is the longer one while the
// longer side is less than twice the shorter, and the shorter one from
// twice on (a corridor is gridded across its width); ceil(d/p) points lie
// along d, and their pitch d/n gives the other side ceil(other/pitch)
// points, so that every cell's sides stay within 0.5 to 2 of each other.
struct PointCounts {
  int along_a = 1, along_b = 1;
};
PointCounts standard_counts(double a_metres, double b_metres);

// Cells along a side of `length` for a numeric spacing: ceil(length/spacing).
int cells_for(double length, double spacing);

// One area on which illuminance is reported: a lattice of nu × nv cell
// centres over the rectangle corner + s·u + t·v (s, t in [0, 1]), point (i,
// j) at points[j * nu + i], with each point's state.
struct GridArea {
  std::string name;
  std::string surface;  // the scene surface it belongs to
  std::string role;     // "surface", "task", "surrounding" or "background"
  std::string task;     // the task area a task, surrounding or background belongs to
  Vec3 corner{}, u{}, v{};
  Vec3 normal{0, 0, 1};
  int nu = 1, nv = 1;
  std::vector<Vec3> points;
  std::vector<PointState> state;
  // A polygon surface's outline in the lattice's own coordinates (distances
  // along u and v from its corner), when the lattice spans the surface's
  // whole rectangle; empty otherwise.
  std::vector<Ring> outline;
};

// The lattice of a rectangle: nu × nv cell centres, every point counted.
GridArea lattice(Vec3 corner, Vec3 u, Vec3 v, int nu, int nv);

// The areas of a surface: the surface itself (shrunk by its margin, spaced
// by its spacing or the standard rule), then for each task area the task,
// its immediate surrounding band and its background band, each clipped to
// the surface. Points masked by the scene's solids are marked.
std::vector<GridArea> surface_areas(const Scene& scene, const SurfaceDesc& surface,
                                    const MaskingSolids& solids);
// The same, gathering the scene's solids first.
std::vector<GridArea> surface_areas(const Scene& scene, const SurfaceDesc& surface);

// Marks the points of `area` outside a polygon surface's outline (and in its
// holes) as outside the area; keeps the outline for pictures when the area
// spans the surface's whole rectangle.
void clip_to_outline(GridArea& area, const SurfaceDesc& surface);

// Marks the points of `area` that lie inside or on any of the solids.
void mask_points(GridArea& area, const MaskingSolids& solids, double tolerance);

// The tolerance used for masking: 1 mm in scene units.
double masking_tolerance(const SceneUnit& unit);

}  // namespace lux
