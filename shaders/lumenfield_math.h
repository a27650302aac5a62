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

// ---- per-ray routines of the units and spot geometry --------------------------

// The emitter's cosine law toward the state's ray direction: the cosine of
// the angle from the face normal, raised to the exponent (exponent 0 gives
// the plain cosine).
inline float cos_law_toward(miState* state, const zel_cos_law_axis& axis, float cos_exponent) {
  // No emitter plane to measure the angle from: no cosine law.
  if (axis.defined == 0) return 1.0f;
  miVector local{};
  mi_vector_to_light(state, &local, &state->dir);
  const float base = zel::dot(zel::normalized(local), axis.normal);
  if (base <= 0.0f) return 0.0f;  // nothing is emitted behind the emitter
  if (cos_exponent == 1.0f || cos_exponent == 0.0f) return base;
  return std::pow(base, cos_exponent);
}

// Scales the colour so that its strongest channel carries `target`, the
// hue kept; alpha is untouched.
inline int intensity_to_energy(miColor* rgb, float target) {
  const float m = std::max({rgb->r, rgb->g, rgb->b});
  const float scale = target / m;
  if (!(m > 0.0f) || !std::isfinite(scale)) {
    // A colour without a positive component has no hue to carry the energy.
    rgb->r = rgb->g = rgb->b = 0.0f;
    return 1;
  }
  rgb->r *= scale;
  rgb->g *= scale;
  rgb->b *= scale;
  return 1;
}
