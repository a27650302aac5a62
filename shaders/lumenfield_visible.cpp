// zel_visible_area: what a camera or reflection ray sees where it hits the
// area light's own emitting surface — the light's intensity spread over the
// shape's area, darkened towards edges or grazing angles by a falloff law.
#include <cmath>

#include "host/param.h"
#include "shaders/constants.h"
#include "shaders/lumenfield.h"
#include "shaders/lumenfield_math.h"

using zel::angle_between;
using zel::eval;
using zel::length;
using zel::operator+;
using zel::operator-;
using zel::operator*;
using zel::normalized;

namespace {

// The intensity I that the emitting surface spreads over its area: one
// set of intensity parameters in candela, taken over the whole sphere
// without cone compensation, for the surface stands for the light whatever
// its spot cone.
float visible_intensity(miState* state, lumenfield_user* user, zel_lumenfield_t* params) {
  const bool profile = eval(state, &params->use_profile) != 0;
  if (profile && user->absolute_intensity == 0) return eval(state, &params->relative_intensity);
  const float factor = user->unit_factor * eval(state, &params->intensity_multiplier);
  if (profile && eval(state, &params->override_profile_intensity) == 0)
    return factor * user->profile_candela;
  if (!profile && user->candela_fixed != 0) return factor * user->surface_candela;
  if (profile && user->override_fixed != 0) return factor * user->override_candela;
  const zel_intensity_fields fields =
      profile ? profile_intensity_fields(params) : user_intensity_fields(params);
  return factor * stated_candela(state, user, fields, zel::kNoCone, 0.0f,
                                 eval(state, &params->cosine_exponent));
}

// Whether the ray sees the side of a flat emitter that `front` (light
// space) points out of, judged by the surface normal at the hit.
bool sees_front(miState* state, const miVector& front) {
  miVector n;
  mi_normal_to_light(state, &n, &state->normal);
  return zel::dot(n, front) > 0.0f;
}

// Emitting area of the shape (square scene units) as the ray sees it, and
// whether the ray looks at the dark back of a single-sided flat emitter.
struct seen_area {
  float area;
  bool dark;
};

seen_area flat_emitter(miState* state, zel_lumenfield_t* params, const miVector& front,
                       float area) {
  if (sees_front(state, front)) return {area, false};
  if (eval(state, &params->single_sided) != 0) return {1.0f, true};
  return {area, false};
}

seen_area emitter_area(miState* state, const lumenfield_user* user, zel_lumenfield_t* params) {
  switch (user->area_shape) {
    case miLIGHT_RECTANGLE:
    case miLIGHT_DISC:
      return flat_emitter(state, params, user->emitter.face, user->emitter.area);
    case miLIGHT_OBJECT: {
      float area = 1.0f;
      mi_query(miQ_LIGHT_OBJ_AREA, state, state->light_instance, &area);
      return {area, false};
    }
    default:
      return {user->emitter.area, false};
  }
}

// Falloff variable (distance from the centre or viewing angle) and the
// range over which it runs from full brightness to the edge level.
struct falloff_span {
  float value;
  float range;
};

// The range is the radius of an ellipse with semi-axes A/2 and B/2 in the
// direction of the point; on the two axes themselves it is A or B.
falloff_span rectangle_span(miState* state, const lumenfield_user* user) {
  const float a_range = static_cast<float>(zel::kRectFalloffRange * double(user->emitter.length_a));
  const float b_range = static_cast<float>(zel::kRectFalloffRange * double(user->emitter.length_b));
  miVector v = state->point - user->origin;
  mi_vector_to_light(state, &v, &v);
  float range = 0.0f;
  if (v.x == 0.0f) {
    range = b_range;
  } else if (v.y == 0.0f) {
    range = a_range;
  } else {
    const float theta = std::atan(std::fabs(v.x) / std::fabs(v.y) * b_range / a_range);
    const float along_a = a_range * std::sin(theta);
    const float along_b = b_range * std::cos(theta);
    range = 0.5f * std::sqrt(along_a * along_a + along_b * along_b);
  }
  return {length(v), range};
}

falloff_span disc_span(miState* state, const lumenfield_user* user) {
  return {length(state->point - user->origin), user->area_vector_b->x};
}

// Angle at the centre between the hit point and the eye: 0 head-on, π/2 at
// the silhouette.
falloff_span sphere_span(miState* state, const lumenfield_user* user) {
  const miVector u = normalized(state->point - user->origin);
  const miVector w = normalized(state->org - user->origin);
  return {angle_between(u, w), zel::kHalfPiF};
}

// As for the sphere, about the point of the axis level with the hit.
falloff_span cylinder_span(miState* state, const lumenfield_user* user) {
  miVector v = state->point - user->origin;
  mi_vector_to_light(state, &v, &v);
  miVector axis_point{0.0f, 0.0f, v.z};
  mi_vector_from_light(state, &axis_point, &axis_point);
  axis_point = axis_point + user->origin;
  const miVector u = normalized(state->point - axis_point);
  const miVector w = normalized(state->org - axis_point);
  return {angle_between(u, w), zel::kHalfPiF};
}

// Angle between the surface normal and the direction to the eye.
falloff_span object_span(miState* state) {
  const miVector u = normalized(state->org - state->point);
  const miVector m = normalized(state->normal);
  return {angle_between(m, u), zel::kHalfPiF};
}

}  // namespace

miBoolean zel_visible_area(miColor* result, miState* state, lumenfield_user* user,
                           zel_lumenfield_t* params) {
  float intensity = visible_intensity(state, user, params);
  const seen_area seen = emitter_area(state, user, params);
  if (seen.dark) intensity = 0.0f;

  const float strength = eval(state, &params->visible_falloff);
  const float exponent = eval(state, &params->visible_falloff_exponent);
  const float falloff = calc_visible_falloff(state, user, strength, exponent);

  // Luminance I / area; a shape without area (a zero radius) shows nothing
  // rather than an infinite value.
  const float luminance = seen.area > 0.0f ? intensity * falloff / seen.area : 0.0f;
  const float multiplier = eval(state, &params->visible_multiplier);
  intensity_to_energy(result,
                      static_cast<float>(double(multiplier) * zel::kPi * double(luminance)));

  if (user->absolute_intensity == 1) zel::multiply_rgb(result, user->output_scale);
  return 1;
}

float calc_visible_falloff(miState* state, lumenfield_user* user, float strength,
                           float falloff_exponent) {
  if (strength == 0.0f) return 1.0f;
  falloff_span span{};
  switch (user->area_shape) {
    case miLIGHT_RECTANGLE:
      span = rectangle_span(state, user);
      break;
    case miLIGHT_DISC:
      span = disc_span(state, user);
      break;
    case miLIGHT_SPHERE:
      span = sphere_span(state, user);
      break;
    case miLIGHT_CYLINDER:
      span = cylinder_span(state, user);
      break;
    case miLIGHT_OBJECT:
      span = object_span(state);
      break;
    default:
      return 1.0f;
  }
  return get_falloff_multiplier(span.value, span.range, strength, falloff_exponent);
}

// (1 − strength · value/range)^exponent, with the value held at the range
// beyond it. A strength above 1 would drive the base negative, where a
// fractional power has no value: the base stops at 0, the edge goes black.
float get_falloff_multiplier(float value, float range, float strength, float falloff_exponent) {
  if (range == 0.0f || strength == 0.0f) return 1.0f;
  const float m = value > range ? range : value;
  float base = 1.0f - (m / range) * strength;
  if (!(base > 0.0f)) base = 0.0f;
  const float f = std::pow(base, falloff_exponent);
  if (f < 0.0f) return 0.0f;
  if (f > 1.0f) return 1.0f;
  return f;
}

zel_emitter_sizes emitter_sizes(int area_shape, const miVector* vector_a,
                                const miVector* vector_b) {
  zel_emitter_sizes e{{0.0f, 0.0f, 0.0f}, 1.0f, 0.0f, 0.0f};
  if (vector_a != nullptr) e.length_a = length(*vector_a);
  if (vector_b != nullptr) e.length_b = length(*vector_b);
  switch (area_shape) {
    case miLIGHT_RECTANGLE:
      if (vector_a == nullptr || vector_b == nullptr) break;
      // The edge vectors reach from the centre to the sides: the rectangle
      // is 2a by 2b.
      e.face = zel::cross(*vector_a, *vector_b);
      e.area = 4.0f * length(e.face);
      break;
    case miLIGHT_DISC: {
      if (vector_a == nullptr || vector_b == nullptr) break;
      const float r = vector_b->x;
      e.face = *vector_a;
      e.area = static_cast<float>(zel::kPi * double(r) * double(r));
      break;
    }
    case miLIGHT_SPHERE: {
      if (vector_a == nullptr) break;
      const float r = vector_a->x;
      e.area = static_cast<float>(zel::k4Pi * double(r) * double(r));
      break;
    }
    case miLIGHT_CYLINDER: {
      if (vector_a == nullptr || vector_b == nullptr) break;
      // Side only, caps excluded; the axis reaches |axis| to either side.
      const float r = vector_b->x;
      e.area = static_cast<float>(2.0 * zel::k2Pi * double(r) * double(e.length_a));
      break;
    }
    default:
      break;
  }
  return e;
}
