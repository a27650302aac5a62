// Single-precision vector and colour arithmetic of the per-ray paths, next
// to dot, cross and normalized of lumenfield.h.
#pragma once

#include <algorithm>
#include <cmath>

#include "host/shader_api.h"
#include "shaders/lumenfield.h"

namespace zel {

inline miVector operator+(const miVector& a, const miVector& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline miVector operator-(const miVector& a, const miVector& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline miVector operator*(const miVector& v, float k) { return {v.x * k, v.y * k, v.z * k}; }

inline float length(const miVector& v) { return std::sqrt(dot(v, v)); }

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

// A colour that overflowed or became undefined on its way through the
// multipliers (parameters far outside any physical range) is no light a
// renderer can use: such channels become 0, the others and alpha are kept.
inline void clear_non_finite(miColor* c) {
  if (!std::isfinite(c->r)) c->r = 0.0f;
  if (!std::isfinite(c->g)) c->g = 0.0f;
  if (!std::isfinite(c->b)) c->b = 0.0f;
}

}  // namespace zel
