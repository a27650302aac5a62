// Small single-precision vector and colour arithmetic of the per-ray paths.
#pragma once

#include <algorithm>
#include <cmath>

#include "host/shader_api.h"

namespace zel {

inline miVector operator+(const miVector& a, const miVector& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline miVector operator-(const miVector& a, const miVector& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline miVector operator*(const miVector& v, float k) { return {v.x * k, v.y * k, v.z * k}; }

inline float dot(const miVector& a, const miVector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline miVector cross(const miVector& a, const miVector& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline float length(const miVector& v) { return std::sqrt(dot(v, v)); }

// The unit vector along v; a zero vector has no direction and stays as it is.
inline miVector normalized(const miVector& v) {
  const float l = length(v);
  return l != 0.0f ? miVector{v.x / l, v.y / l, v.z / l} : v;
}

// Angle between two unit vectors. Rounding can push their dot product just
// past ±1, where the arc cosine has no value; the clamp keeps it defined.
inline float angle_between(const miVector& u, const miVector& w) {
  return std::acos(std::clamp(dot(u, w), -1.0f, 1.0f));
}

// Red, green and blue of `c` scaled channel by channel; alpha is kept.
inline void multiply_rgb(miColor* c, const miColor& k) {
  c->r *= k.r;
  c->g *= k.g;
  c->b *= k.b;
}

}  // namespace zel
