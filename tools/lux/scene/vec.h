// Small vector algebra for the calculator's own geometry (scene placement,
// grids, camera rays), in double precision; the host's records take floats.
#pragma once

#include <algorithm>
#include <cmath>

#include "host/shader_api.h"

namespace lux {

struct Vec3 {
  double x = 0, y = 0, z = 0;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator-(Vec3 a) { return {-a.x, -a.y, -a.z}; }
inline Vec3 operator*(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3 operator*(double s, Vec3 a) { return a * s; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(Vec3 a) { return std::sqrt(dot(a, a)); }
// `a` scaled to unit length; a zero vector stays zero.
inline Vec3 normalize(Vec3 a) {
  const double l = length(a);
  return l > 0 ? a * (1.0 / l) : a;
}

// A unit vector along `a`, however large or small its components (squaring
// them, as normalize does, overflows beyond 1e154 and underflows below
// 1e-154); the zero vector when `a` has no direction.
inline Vec3 direction_of(Vec3 a) {
  const double m = std::max({std::fabs(a.x), std::fabs(a.y), std::fabs(a.z)});
  if (!(m > 0) || !std::isfinite(m)) return {};
  return normalize(Vec3{a.x / m, a.y / m, a.z / m});
}

// The largest magnitude among a point's coordinates.
inline double reach(Vec3 a) { return std::max({std::fabs(a.x), std::fabs(a.y), std::fabs(a.z)}); }

inline miVector to_mi(Vec3 a) {
  return {static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(a.z)};
}
inline Vec3 from_mi(const miVector& a) { return {double(a.x), double(a.y), double(a.z)}; }

// An orthonormal frame placed in the scene: world = x·ex + y·ey + z·ez + origin.
struct Frame {
  Vec3 ex{1, 0, 0}, ey{0, 1, 0}, ez{0, 0, 1};
  Vec3 origin{};
  Vec3 to_world(Vec3 local) const { return origin + ex * local.x + ey * local.y + ez * local.z; }
  Vec3 vector_to_world(Vec3 local) const { return ex * local.x + ey * local.y + ez * local.z; }
  Vec3 vector_to_local(Vec3 world) const {
    return {dot(world, ex), dot(world, ey), dot(world, ez)};
  }
};

}  // namespace lux
