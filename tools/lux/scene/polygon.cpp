// Polygon geometry for calculation areas, in the polygon's own plane.
#include "tools/lux/scene/polygon.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <stdexcept>
#include <string>

namespace lux {

namespace {

// Corners off the plane by more than this fraction of the polygon's size
// make it not flat: far above the rounding of coordinates written in a
// scene file, far below any slope a room could have.
constexpr double kFlatness = 1e-6;

using Point2 = std::array<double, 2>;

// Twice the signed area of the triangle a, b, c.
double orient(const Point2& a, const Point2& b, const Point2& c) {
  return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

bool within_box(const Point2& a, const Point2& b, const Point2& p) {
  return std::min(a[0], b[0]) <= p[0] && p[0] <= std::max(a[0], b[0]) &&
         std::min(a[1], b[1]) <= p[1] && p[1] <= std::max(a[1], b[1]);
}

// Whether the segments p1–p2 and q1–q2 cross or touch; `eps` is the area
// below which three points count as in line.
bool segments_meet(const Point2& p1, const Point2& p2, const Point2& q1, const Point2& q2,
                   double eps) {
  const double d1 = orient(q1, q2, p1), d2 = orient(q1, q2, p2);
  const double d3 = orient(p1, p2, q1), d4 = orient(p1, p2, q2);
  const auto side = [eps](double d) { return d > eps ? 1 : (d < -eps ? -1 : 0); };
  const int s1 = side(d1), s2 = side(d2), s3 = side(d3), s4 = side(d4);
  if (s1 * s2 < 0 && s3 * s4 < 0) return true;
  return (s1 == 0 && within_box(q1, q2, p1)) || (s2 == 0 && within_box(q1, q2, p2)) ||
         (s3 == 0 && within_box(p1, p2, q1)) || (s4 == 0 && within_box(p1, p2, q2));
}

// Crossing-number test of one ring.
bool inside_ring(const Ring& ring, double s, double t) {
  bool in = false;
  for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    const auto& a = ring[i];
    const auto& b = ring[j];
    if ((a[1] > t) != (b[1] > t) && s < (b[0] - a[0]) * (t - a[1]) / (b[1] - a[1]) + a[0]) in = !in;
  }
  return in;
}

// The normal of a ring by Newell's method: its length is twice the area.
Vec3 newell(const std::vector<Vec3>& ring) {
  Vec3 n{};
  for (size_t i = 0; i < ring.size(); ++i) {
    const Vec3& a = ring[i];
    const Vec3& b = ring[(i + 1) % ring.size()];
    n = n + Vec3{(a.y - b.y) * (a.z + b.z), (a.z - b.z) * (a.x + b.x), (a.x - b.x) * (a.y + b.y)};
  }
  return n;
}

void refuse(const std::string& why) { throw std::invalid_argument(why); }

}  // namespace

bool inside(const std::vector<Ring>& rings, double s, double t) {
  if (rings.empty() || !inside_ring(rings[0], s, t)) return false;
  for (size_t h = 1; h < rings.size(); ++h)
    if (inside_ring(rings[h], s, t)) return false;
  return true;
}

PolygonArea polygon_area(const std::vector<Vec3>& outline,
                         const std::vector<std::vector<Vec3>>& holes) {
  std::vector<const std::vector<Vec3>*> rings{&outline};
  for (const auto& h : holes) rings.push_back(&h);
  for (size_t r = 0; r < rings.size(); ++r)
    if (rings[r]->size() < 3)
      refuse((r == 0 ? std::string("the outline") : "hole " + std::to_string(r)) +
             " has fewer than three corners");

  PolygonArea a;
  const Vec3 n = newell(outline);
  if (!(length(n) > 0)) refuse("the outline encloses no area");
  a.normal = normalize(n);
  Vec3 centre{};
  for (const Vec3& p : outline) centre = centre + p * (1.0 / double(outline.size()));
  double size = 0;
  for (const auto* ring : rings)
    for (const Vec3& p : *ring) size = std::max(size, length(p - centre));
  for (size_t r = 0; r < rings.size(); ++r)
    for (size_t i = 0; i < rings[r]->size(); ++i)
      if (std::fabs(dot((*rings[r])[i] - centre, a.normal)) > kFlatness * size)
        refuse("not flat: corner " + std::to_string(i + 1) +
               (r == 0 ? std::string(" of the outline") : " of hole " + std::to_string(r)) +
               " lies off the plane of the outline");

  // Axes in the plane: u along the outline's first edge of any length.
  Vec3 u{};
  for (size_t i = 0; i < outline.size() && !(length(u) > 0); ++i) {
    const Vec3 e = outline[(i + 1) % outline.size()] - outline[i];
    u = normalize(e - a.normal * dot(e, a.normal));
  }
  const Vec3 v = cross(a.normal, u);
  double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
  for (const auto* ring : rings) {
    Ring flat;
    for (const Vec3& p : *ring) {
      const Point2 q{dot(p - centre, u), dot(p - centre, v)};
      for (int k = 0; k < 2; ++k) {
        lo[k] = std::min(lo[k], q[size_t(k)]);
        hi[k] = std::max(hi[k], q[size_t(k)]);
      }
      flat.push_back(q);
    }
    a.rings.push_back(flat);
  }
  for (auto& ring : a.rings)
    for (auto& q : ring) q = {q[0] - lo[0], q[1] - lo[1]};
  a.corner = centre + u * lo[0] + v * lo[1];
  a.u = u * (hi[0] - lo[0]);
  a.v = v * (hi[1] - lo[1]);

  // No edge may meet another except its neighbours in the same ring at
  // their shared corner.
  const double eps = 1e-12 * size * size;
  for (size_t r = 0; r < a.rings.size(); ++r)
    for (size_t i = 0; i < a.rings[r].size(); ++i) {
      const size_t ni = a.rings[r].size();
      const Point2 &p1 = a.rings[r][i], &p2 = a.rings[r][(i + 1) % ni];
      if (p1 == p2) refuse("two corners in a row are the same point");
      for (size_t q = r; q < a.rings.size(); ++q)
        for (size_t j = q == r ? i + 1 : 0; j < a.rings[q].size(); ++j) {
          const size_t nj = a.rings[q].size();
          if (q == r && (j == i + 1 || (i == 0 && j == ni - 1))) continue;
          if (segments_meet(p1, p2, a.rings[q][j], a.rings[q][(j + 1) % nj], eps))
            refuse(q == r && r == 0 ? "the outline crosses itself"
                                    : "edges of the outline or its holes cross or touch");
        }
    }
  for (size_t h = 1; h < a.rings.size(); ++h) {
    const Point2& p = a.rings[h][0];
    if (!inside_ring(a.rings[0], p[0], p[1]))
      refuse("hole " + std::to_string(h) + " lies outside the outline");
    for (size_t k = 1; k < a.rings.size(); ++k)
      if (k != h && inside_ring(a.rings[k], p[0], p[1]))
        refuse("hole " + std::to_string(h) + " lies inside hole " + std::to_string(k));
  }
  return a;
}

std::vector<double> filled_outside(int nu, int nv, const std::vector<unsigned char>& inside,
                                   std::vector<double> values) {
  if (inside.empty()) return values;
  // Breadth-first from every inside point at once: each outside point takes
  // the value of the point that reached it first.
  std::vector<unsigned char> done(inside);
  std::deque<size_t> queue;
  for (size_t p = 0; p < inside.size(); ++p)
    if (inside[p] != 0) queue.push_back(p);
  while (!queue.empty()) {
    const size_t p = queue.front();
    queue.pop_front();
    const int i = int(p % size_t(nu)), j = int(p / size_t(nu));
    const int steps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (const auto& st : steps) {
      const int a = i + st[0], b = j + st[1];
      if (a < 0 || b < 0 || a >= nu || b >= nv) continue;
      const size_t q = size_t(b) * size_t(nu) + size_t(a);
      if (done[q] != 0) continue;
      done[q] = 1;
      values[q] = values[p];
      queue.push_back(q);
    }
  }
  return values;
}

}  // namespace lux
