// Records and routines of the area light shader zel_lumenfield.
//
// zel_lumenfield_t is laid out by the host from the shader's declaration,
// field after field without gaps; lumenfield_user is this library's
// per-instance record, built at init and read by every ray.
#pragma once

#include <cmath>
#include <cstddef>

#include "host/shader_api.h"
#include "shaders/constants.h"

// ---- records ----------------------------------------------------------------

struct zel_lumenfield_t {
  miBoolean use_profile;
  miTag profile;
  miTag profile_name;
  miBoolean use_temperature;
  miColor color;
  miInteger temperature;
  miScalar custom_temperature;
  miInteger temperature_mode;
  miBoolean absolute_intensity;
  miScalar relative_intensity;
  miScalar intensity_multiplier;
  miScalar photon_multiplier;
  miInteger scene_unit;
  miBoolean shadows;
  miScalar shadow_transparency;
  miScalar attenuation_start;
  miScalar attenuation_end;
  miInteger profile_orientation;
  miScalar rotation_x;
  miScalar rotation_y;
  miScalar rotation_z;
  miBoolean cosine_distribution;
  miScalar cosine_exponent;
  miBoolean single_sided;
  miScalar visible_multiplier;
  miInteger output_scale_mode;
  miColor output_scale_color;
  miScalar falloff_angle;
  miScalar intensity;
  miInteger intensity_unit;
  miScalar intensity_distance;
  miScalar efficacy;
  miBoolean override_profile_intensity;
  miScalar profile_intensity;
  miInteger profile_intensity_unit;
  miScalar profile_intensity_distance;
  miScalar profile_efficacy;
  miBoolean profile_from_origin;
  miBoolean profile_spot_cones;
  miScalar shadow_threshold;
  miBoolean falloff_from_spread;
  miBoolean use_attenuation;
  miScalar visible_falloff;
  miScalar visible_falloff_exponent;
};
static_assert(sizeof(zel_lumenfield_t) == 50 * 4, "44 fields, two of them colours");

// The face normal of a flat emitter, in light space, that its cosine law
// measures angles from; `defined` is 0 for shapes without a face.
struct zel_cos_law_axis {
  miVector normal;
  miBoolean defined;
};

// Sizes of the emitting shape, in light space, that every ray would
// otherwise work out from the shape vectors again (see emitter_sizes).
struct zel_emitter_sizes {
  miVector face;      // the side a flat emitter shines from: a × b, or the disc's normal
  miScalar area;      // emitting area in square scene units (object lights ask the host)
  miScalar length_a;  // |a|: the rectangle's half-width, the cylinder's half-length
  miScalar length_b;  // |b|: the rectangle's half-height
};

struct lumenfield_user {
  miTag profile;
  miInteger profile_format;
  miScalar profile_candela;
  miTag light;
  miColor* temperature_color;
  miVector origin;
  miColor energy;
  miInteger area_shape;
  miInteger light_type;
  miVector* area_vector_a;
  miVector* area_vector_b;
  miScalar unit_factor;
  miInteger profile_orientation;
  miScalar profile_rotation[3];
  miBoolean cosine_distribution;
  miColor output_scale;
  miBoolean absolute_intensity;
  miBoolean focus_found;  // read and written atomically, see get_spot_focus_dist
  miScalar focus_distance;
  miLock focus_lock;
  miScalar exponent;
  miVector spot_direction;
  miScalar spread;
  miScalar falloff;
  // Derived at set-up from the shape vectors, so that no ray forms and
  // normalises the rectangle's edge cross product again.
  zel_cos_law_axis cos_law;
  zel_emitter_sizes emitter;
  // The light's stated intensity in candela for its own cone, converted
  // once at set-up when that is possible (candela_fixed 1), see
  // fix_stated_candela.
  miScalar candela;
  miBoolean candela_fixed;
  // The same intensity over the whole sphere, without cone compensation:
  // what the visible surface spreads over its area (set with candela).
  miScalar surface_candela;
  // The profile's own stated intensity in candela, over the whole sphere,
  // converted at set-up under the same conditions (override_fixed 1).
  miScalar override_candela;
  miBoolean override_fixed;
  // The profile orientation's rotation, built once at set-up when nothing
  // can change its angles (profile_turn_fixed 1), see fix_profile_turn.
  miMatrix profile_turn;
  miBoolean profile_turn_fixed;
};
static_assert(offsetof(lumenfield_user, focus_lock) % 8 == 0, "the host lock is 64-bit aligned");

// ---- small vector and angle helpers ------------------------------------------

namespace zel {

inline float dot(const miVector& a, const miVector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline miVector cross(const miVector& a, const miVector& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// `v` scaled to unit length; a zero-length vector is returned as it is.
inline miVector normalized(const miVector& v) {
  const float length = std::sqrt(dot(v, v));
  if (length == 0.0f) return v;
  const float inv = 1.0f / length;
  return {v.x * inv, v.y * inv, v.z * inv};
}

// Degrees to radians: the product with π and the division by 180 in
// double, the result rounded to float.
inline float radians_from_degrees(float degrees) {
  return static_cast<float>(double(degrees) * kPi / 180.0);
}

}  // namespace zel

// ---- entry (lumenfield.cpp) -------------------------------------------------

// Direct and photon scales of absolute intensity mode.
struct lumenfield_scales {
  float direct;
  float photon;
};
lumenfield_scales zel_absolute_scales(const lumenfield_user* user, float intensity_multiplier,
                                      float photon_multiplier);

// ---- set-up (lumenfield_setup.cpp) -----------------------------------------

// Exported entry points (plain C names): init per shader and per instance,
// exit per instance and per shader.
extern "C" void zel_lumenfield_init(miState* state, zel_lumenfield_t* params,
                                    miBoolean* wants_instance_init);
extern "C" void zel_lumenfield_exit(miState* state, zel_lumenfield_t* params);

miBoolean zel_torg_init(miState* state, miVector* origin);
miBoolean check_accuracy(miState* state, lumenfield_user* user, zel_lumenfield_t* params);
float unit_factor_from_scene_unit(int scene_unit);

// ---- colour from temperature (lumenfield_color.cpp) ----------------------

miColor* get_color_from_temp(float temperature_kelvin, int mode);
miColor* zel_blackbody(float temperature_kelvin, float luminance);
miColor* zel_cie_d(float temperature_kelvin, float luminance);

// ---- units and spot geometry (lumenfield_units.cpp) ------------------------

float convert_units_to_candela(miState* state, lumenfield_user* user, int unit, float value,
                               float distance, float efficacy, float cos_outer, float cos_inner,
                               float cos_exponent);
float calc_cone_compensation(float cos_inner, float cos_outer);

// Where one set of intensity parameters lies in the parameter record: the
// user's own, or the profile's override.
struct zel_intensity_fields {
  const miInteger* unit;
  const miScalar* value;
  const miScalar* distance;
  const miScalar* efficacy;
};
zel_intensity_fields user_intensity_fields(const zel_lumenfield_t* params);
zel_intensity_fields profile_intensity_fields(const zel_lumenfield_t* params);
// convert_units_to_candela of one set of intensity parameters, each read
// under the reading rule, and only when its unit uses it.
float stated_candela(miState* state, lumenfield_user* user, const zel_intensity_fields& fields,
                     float cos_outer, float cos_inner, float cos_exponent);
// Whether a unit is measured at the spot's focus, found by a probe ray.
bool unit_at_focus(int unit);
float get_spot_focus_dist(miState* state, lumenfield_user* user);
float calc_spotlight_cones(miState* state, miVector dir, miVector axis, float cos_outer,
                           float cos_inner);
float calc_cos_distrib(miState* state, int area_shape, float cos_exponent, miVector* vector_a,
                       miVector* vector_b);
// calc_cos_distrib in two steps: the axis, which depends on the instance
// only, and the law toward the state's ray direction.
zel_cos_law_axis cos_law_axis(int area_shape, const miVector* vector_a, const miVector* vector_b);
// cos_law_toward and intensity_to_energy, called on every ray, are inline in
// lumenfield_math.h.

// ---- candela sampling (lumenfield_candela.cpp) -----------------------------

float zel_candela_sample(miState* state, lumenfield_user* user, zel_lumenfield_t* params);
void fix_stated_candela(miState* state, lumenfield_user* user, zel_lumenfield_t* params);
void fix_profile_turn(miState* state, lumenfield_user* user, zel_lumenfield_t* params);

// ---- the three rendering paths ------------------------------------------

miBoolean zel_direct_photometric(miColor* result, miState* state, lumenfield_user* user,
                                 zel_lumenfield_t* params, float scale);
miBoolean zel_photon_photometric(miColor* result, miState* state, lumenfield_user* user,
                                 zel_lumenfield_t* params, float scale);
miBoolean zel_visible_area(miColor* result, miState* state, lumenfield_user* user,
                           zel_lumenfield_t* params);
// The sizes of a shape from its two vectors, as set-up stores them.
zel_emitter_sizes emitter_sizes(int area_shape, const miVector* vector_a, const miVector* vector_b);
float calc_visible_falloff(miState* state, lumenfield_user* user, float strength,
                           float falloff_exponent);
float get_falloff_multiplier(float value, float range, float strength, float falloff_exponent);
