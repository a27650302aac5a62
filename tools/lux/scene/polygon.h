// Calculation areas of any planar polygon, with holes: the polygon's plane,
// the rectangle around it in which the grid is laid, and which grid points
// fall inside.
#pragma once

#include <array>
#include <vector>

#include "tools/lux/scene/vec.h"

namespace lux {

// A closed ring of a polygon in its own plane: distances along the
// surface's u and v edges from its corner.
using Ring = std::vector<std::array<double, 2>>;

struct PolygonArea {
  Vec3 corner, u, v;        // the bounding rectangle: corner and two full edges
  Vec3 normal;              // of the outline, by the right-hand rule
  std::vector<Ring> rings;  // the outline first, then the holes
};

// The area of `outline` less its `holes`. Throws std::invalid_argument
// saying why a polygon is refused: fewer than three corners, no area, not
// flat, edges that cross or touch, a hole outside the outline or inside
// another hole.
PolygonArea polygon_area(const std::vector<Vec3>& outline,
                         const std::vector<std::vector<Vec3>>& holes);

// Whether the point (s, t) of the plane lies inside the outline and outside
// every hole.
bool inside(const std::vector<Ring>& rings, double s, double t);

// Which points of lines of constant t lie inside the polygon, line after
// line with t never decreasing: each line costs the edges that cross it, not
// every edge of the polygon as inside() costs per point (a map of a polygon
// of many corners tests a few hundred thousand pixels).
class RowScanner {
 public:
  explicit RowScanner(const std::vector<Ring>& rings);
  // Moves on to the line t (not below the one before) and returns the s
  // where the rings' edges cross it, in order: (s, t) lies inside the
  // polygon when an odd number of them lie above s, as inside() decides.
  const std::vector<double>& crossings(double t);

 private:
  std::vector<std::array<std::array<double, 2>, 2>> edges_;  // by their lower level
  size_t next_ = 0;                                          // first edge not yet reached
  std::vector<size_t> active_;
  std::vector<double> at_;
};

// The polygon (the outline less its holes) cut into convex pieces that
// cover it exactly: trapezoids between the lines of constant t through its
// corners, a piece of one strip continued into the next while it runs
// between the same two edges (an L-shaped outline gives two rectangles).
// Each piece's corners run counter-clockwise in (s, t).
std::vector<Ring> convex_pieces(const std::vector<Ring>& rings);

// The same pieces placed in space on the plane through `corner` spanned by
// the directions of `u` and `v` (the rings' axes); corners counter-
// clockwise about u × v.
std::vector<std::vector<Vec3>> convex_pieces(const std::vector<Ring>& rings, Vec3 corner, Vec3 u,
                                             Vec3 v);

}  // namespace lux

namespace lux {

// The values of an nu × nv lattice with the points outside a polygon
// (inside[p] == 0) given the value of the nearest point inside, by steps
// along the lattice: what a map interpolates across the outline without
// pulling the colours at the edge towards an arbitrary value.
std::vector<double> filled_outside(int nu, int nv, const std::vector<unsigned char>& inside,
                                   std::vector<double> values);

}  // namespace lux
