// Photometric and radiometric units to candela, and the spot geometry the
// conversion and the per-ray routines need: the cone law, the cone
// compensation, the cosine law of flat emitters and the spot's focus
// distance, found once by a probe ray along the spot axis.
#include <algorithm>
#include <atomic>
#include <cmath>

#include "host/param.h"
#include "shaders/constants.h"
#include "shaders/lumenfield.h"
#include "shaders/lumenfield_math.h"

using zel::eval;

namespace {

// Intensity unit codes.
enum IntensityUnit : int {
  kCandela = 0,
  kLumen = 1,
  kLuxAtDistance = 2,
  kLuxAtFocus = 3,
  kWatt = 4,
  kWattPerSteradian = 5,
  kIrradianceAtDistance = 6,
  kIrradianceAtFocus = 7,
};

// Luminous intensity of a flux spread evenly over a cone of half-angle
// cosine c (c = −1: the whole sphere). The solid angle Ω = 2π(1 − c) and the
// quotient are formed in double; `per_lumen` is 1 for lumens and 1/K for
// watts. A cone of zero solid angle (c = 1) carries no intensity that a
// finite number could state: 0 candela rather than infinity.
float flux_over_cone(float value, float cos_outer, float per_lumen) {
  const float one_minus_c = 1.0f - cos_outer;
  const double omega = double(one_minus_c) * zel::k2Pi;
  if (!(omega > 0.0)) return 0.0f;
  return static_cast<float>(double(value) / (omega * double(per_lumen)));
}

// The flag of the focus cache, read and written atomically: a thread that
// sees it set outside the lock must also see the distance stored before it.
static_assert(alignof(miBoolean) >= std::atomic_ref<miBoolean>::required_alignment);
std::atomic_ref<miBoolean> focus_flag(lumenfield_user* user) {
  return std::atomic_ref<miBoolean>(user->focus_found);
}

}  // namespace

float convert_units_to_candela(miState* state, lumenfield_user* user, int unit, float value,
                               float distance, float efficacy, float cos_outer, float cos_inner,
                               float cos_exponent) {
  if (unit < kLumen || unit > kIrradianceAtFocus) return value;

  // 1/K turns lumens into watts; an efficacy of 0 makes it infinite and the
  // radiometric units give 0 candela.
  const float per_lumen = 1.0f / efficacy;
  const float area_unit = user->unit_factor;  // square scene units per m²
  switch (unit) {
    case kLuxAtDistance:
      return value * distance * distance / area_unit;
    case kLuxAtFocus: {
      const float focus = get_spot_focus_dist(state, user);
      return value * focus * focus / area_unit;
    }
    case kWattPerSteradian:
      return value / per_lumen;
    case kIrradianceAtDistance:
      return value * distance * distance / (per_lumen * area_unit);
    case kIrradianceAtFocus: {
      const float focus = get_spot_focus_dist(state, user);
      return value * focus * focus / (per_lumen * area_unit);
    }
    default:
      break;
  }

  // Flux: lumens or watts over the cone's solid angle.
  float intensity = flux_over_cone(value, cos_outer, unit == kLumen ? 1.0f : per_lumen);
  if (cos_outer > zel::kNoCone && cos_inner > cos_outer) {
    // The falloff band emits less than the full cone; raise the peak.
    intensity *= calc_cone_compensation(cos_inner, cos_outer);
  } else if (cos_outer == zel::kNoCone && user->cosine_distribution != 0) {
    // A cosᵉ law over the hemisphere carries 2π/(e + 1) times its peak:
    // per 4π steradians that is a factor of 2e + 2.
    intensity *= 2.0f * cos_exponent + 2.0f;
  }
  return intensity;
}

zel_intensity_fields user_intensity_fields(const zel_lumenfield_t* params) {
  return {&params->intensity_unit, &params->intensity, &params->intensity_distance,
          &params->efficacy};
}

zel_intensity_fields profile_intensity_fields(const zel_lumenfield_t* params) {
  return {&params->profile_intensity_unit, &params->profile_intensity,
          &params->profile_intensity_distance, &params->profile_efficacy};
}

float stated_candela(miState* state, lumenfield_user* user, const zel_intensity_fields& fields,
                     float cos_outer, float cos_inner, float cos_exponent) {
  const int unit = eval(state, fields.unit);
  const float value = eval(state, fields.value);
  // Only illuminance at a stated distance needs the distance, and only the
  // radiometric units need the luminous efficacy.
  const bool at_distance = unit == kLuxAtDistance || unit == kIrradianceAtDistance;
  const bool radiometric = unit >= kWatt && unit <= kIrradianceAtFocus;
  const float distance = at_distance ? eval(state, fields.distance) : 0.0f;
  const float efficacy = radiometric ? eval(state, fields.efficacy) : 1.0f;
  return convert_units_to_candela(state, user, unit, value, distance, efficacy, cos_outer,
                                  cos_inner, cos_exponent);
}

bool unit_at_focus(int unit) { return unit == kLuxAtFocus || unit == kIrradianceAtFocus; }

float calc_cone_compensation(float cos_inner, float cos_outer) {
  const float tan_inner = std::tan(std::acos(cos_inner));
  const float tan_outer = std::tan(std::acos(cos_outer));
  const float r = (tan_inner * tan_inner) / (tan_outer * tan_outer);
  return (1.0f - r) * 2.0f + r;
}

float get_spot_focus_dist(miState* state, lumenfield_user* user) {
  if (focus_flag(user).load(std::memory_order_acquire) != 0 || user->light_type != miLIGHT_SPOT)
    return user->focus_distance;

  miVector axis{};
  mi_vector_from_light(state, &axis, &user->spot_direction);
  axis = zel::normalized(axis);

  // Threads that need the distance before it is known wait here while one
  // of them traces the probe.
  mi_lock(user->focus_lock);
  if (focus_flag(user).load(std::memory_order_relaxed) == 0) {
    const miVector saved_origin = state->org;
    void* const saved_primitive = state->pri;
    state->org = user->origin;
    state->pri = nullptr;
    const miBoolean hit = mi_trace_probe(state, &axis, &user->origin);
    state->org = saved_origin;
    state->pri = saved_primitive;
    if (hit != 0) {
      user->focus_distance = static_cast<float>(state->probe.dist);
      focus_flag(user).store(1, std::memory_order_release);
    }
  }
  const float distance = user->focus_distance;
  mi_unlock(user->focus_lock);
  return distance;
}

float calc_spotlight_cones(miState* state, miVector dir, miVector axis, float cos_outer,
                           float cos_inner) {
  miVector local{};
  mi_vector_to_light(state, &local, &dir);
  local = zel::normalized(local);
  const float f = zel::dot(local, axis);
  if (f <= 0.0f || f < cos_outer) return 0.0f;
  // Linear in the cosine across the band between outer and inner cone.
  if (cos_inner > f && cos_inner > cos_outer)
    return 1.0f - (f - cos_inner) / (cos_outer - cos_inner);
  return 1.0f;
}

zel_cos_law_axis cos_law_axis(int area_shape, const miVector* vector_a, const miVector* vector_b) {
  if (area_shape == miLIGHT_RECTANGLE && vector_a != nullptr && vector_b != nullptr)
    return {zel::normalized(zel::cross(*vector_a, *vector_b)), 1};
  // A disc stores its normal; it is used as it is.
  if (area_shape == miLIGHT_DISC && vector_a != nullptr) return {*vector_a, 1};
  return {{0.0f, 0.0f, 0.0f}, 0};
}

float calc_cos_distrib(miState* state, int area_shape, float cos_exponent, miVector* vector_a,
                       miVector* vector_b) {
  return cos_law_toward(state, cos_law_axis(area_shape, vector_a, vector_b), cos_exponent);
}
