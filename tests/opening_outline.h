// The luminous opening of a photometric file seen from a direction, found
// a second way for the tests: the outline of the opening projected on a
// plane across the direction, and the area of the convex hull of it.
#pragma once

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "tools/lux/model/photometry.h"

namespace zeltest {

inline constexpr double kOutlinePi = 3.141592653589793;

struct V3 {
  double x, y, z;
};
inline double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline V3 cross(V3 a, V3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline V3 unit(V3 a) {
  const double n = std::sqrt(dot(a, a));
  return {a.x / n, a.y / n, a.z / n};
}

// The luminous opening as points of its outline in the luminaire's own
// frame (x along C0, y along C90, z up, the bottom at z = 0).
inline std::vector<V3> outline(const lux::LuminousOpening& o) {
  using Kind = lux::LuminousOpening::Kind;
  std::vector<V3> p;
  const double top = o.height;
  if (o.kind == Kind::Rectangle || o.kind == Kind::Box) {
    for (const double z : {0.0, top})
      for (const double sx : {-0.5, 0.5})
        for (const double sy : {-0.5, 0.5}) p.push_back({sx * o.length, sy * o.width, z});
  } else {
    for (const double z : {0.0, top})
      for (int k = 0; k < 180; ++k) {
        const double a = k * kOutlinePi / 90;
        p.push_back({0.5 * o.length * std::cos(a), 0.5 * o.width * std::sin(a), z});
      }
  }
  return p;
}

// The area the opening covers seen along `towards_eye` (unit, luminaire
// frame): its outline projected on a plane across that direction, the area
// of the convex hull of those points.
inline double hull_area(const std::vector<V3>& points, V3 towards_eye) {
  const V3 a = unit(std::fabs(towards_eye.z) < 0.9 ? cross(towards_eye, {0, 0, 1})
                                                   : cross(towards_eye, {1, 0, 0}));
  const V3 b = cross(towards_eye, a);
  std::vector<std::pair<double, double>> q;
  for (const V3& p : points) q.emplace_back(dot(p, a), dot(p, b));
  std::sort(q.begin(), q.end());
  const auto turn = [](auto o, auto p, auto r) {
    return (p.first - o.first) * (r.second - o.second) -
           (p.second - o.second) * (r.first - o.first);
  };
  std::vector<std::pair<double, double>> h(2 * q.size());
  size_t k = 0;
  for (size_t i = 0; i < q.size(); ++i) {
    while (k >= 2 && turn(h[k - 2], h[k - 1], q[i]) <= 0) --k;
    h[k++] = q[i];
  }
  for (size_t i = q.size() - 1, t = k + 1; i-- > 0;) {
    while (k >= t && turn(h[k - 2], h[k - 1], q[i]) <= 0) --k;
    h[k++] = q[i];
  }
  double area = 0;
  for (size_t i = 0; i + 1 < k; ++i)
    area += h[i].first * h[i + 1].second - h[i + 1].first * h[i].second;
  return 0.5 * std::fabs(area);
}

}  // namespace zeltest
