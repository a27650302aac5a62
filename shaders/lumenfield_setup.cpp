// Set-up and tear-down of the area light: init builds the instance record
// once (the light's geometry, the resolved light profile, the unit factor,
// the cone cosines, the output scale, the profile rotation and the colour
// from temperature) so that the per-ray routines only read ready numbers;
// exit releases what init allocated.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "host/param.h"
#include "shaders/constants.h"
#include "shaders/export.h"
#include "shaders/lightprofile.h"
#include "shaders/lumenfield.h"

using zel::eval;

namespace {

constexpr const char* kNameNotFound = "Zel_lumenfield: Light profile name not found";
constexpr const char* kNameTooLong = "Zel_lumenfield: Light profile name too long";
constexpr const char* kEulumdatAbsolute =
    "Zel_lumenfield: Cannot use absolute intensity mode with Eulumdat profiles";
constexpr const char* kImplausible =
    "Zel_lumenfield error: Physically incorrect configuration (area spot + cosine + lumens/watts)";

constexpr int kIntensityLumen = 1;
constexpr int kIntensityWatt = 4;

void warn(const char* text) { mi_warning("%s", text); }

// The address of the shader instance's user-pointer slot, or null.
void** user_slot(miState* state) {
  void** slot = nullptr;
  mi_query(miQ_FUNC_USERPTR, state, 0, &slot);
  return slot;
}

// Output scale colour by output_scale_mode; mode 3 takes the user's colour.
miColor output_scale_from_mode(int mode, const miColor& custom) {
  switch (mode) {
    case 1:
      return {zel::kOutputScaleMilli, zel::kOutputScaleMilli, zel::kOutputScaleMilli, 1.0f};
    case 2:
      return {zel::kOutputScaleTenthMilli, zel::kOutputScaleTenthMilli, zel::kOutputScaleTenthMilli,
              1.0f};
    case 3:
      return custom;
    default:
      return {zel::kOutputScaleDefault, zel::kOutputScaleDefault, zel::kOutputScaleDefault, 1.0f};
  }
}

struct Rotation {
  float x, y, z;
};

// Profile rotation in degrees by orientation preset: 1 takes the user's
// angles; the others turn the profile's nadir a quarter turn about x.
Rotation rotation_from_orientation(miState* state, int orientation, zel_lumenfield_t* params) {
  switch (orientation) {
    case 1:
      return {eval(state, &params->rotation_x), eval(state, &params->rotation_y),
              eval(state, &params->rotation_z)};
    case 2:
    case 5:
      return {-zel::kQuarterTurnDegrees, 0.0f, 0.0f};
    case 3:
    case 4:
      return {zel::kQuarterTurnDegrees, 0.0f, 0.0f};
    default:
      return {0.0f, 0.0f, 0.0f};
  }
}

// Cosine of the full-intensity cone. Measured from the spot cone's edge
// inward (an angle beyond the cone's half-angle leaves no band: 1), or as
// the full apex angle of the inner cone.
float full_intensity_cosine(float falloff_angle, float spread, bool from_spread) {
  if (from_spread) {
    float band = zel::radians_from_degrees(falloff_angle);
    // A spread a rounding step outside [−1, 1] still names the cone's edge.
    const float half_angle = std::acos(std::clamp(spread, -1.0f, 1.0f));
    if (band > half_angle) band = half_angle;
    return std::cos(half_angle - band);
  }
  return static_cast<float>(std::cos(double(falloff_angle) / 2.0 * zel::kPi / 180.0));
}

// The profile that `name_tag`'s string names, or 0. The name is composed
// into a bounded buffer under the prefix the profile shader registers
// profiles with: a name that does not fit is refused, never cut short into
// another profile's name.
miTag profile_by_name(miTag name_tag) {
  // Only a string element can be read as a terminated string.
  if (mi_db_type(name_tag) != miSCENE_STRING) return 0;
  const auto* name = static_cast<const char*>(mi_db_access(name_tag));
  if (name == nullptr) return 0;
  miTag profile = 0;
  if (name[0] != '\0') {
    char composed[zel::kProfileNameCapacity];
    const size_t length = zel::bounded_length(name, sizeof composed);
    if (!zel::compose_profile_name(composed, sizeof composed, name, length)) {
      warn(kNameTooLong);
    } else {
      // The host takes over the copy.
      profile = mi_api_lightprofile_lookup(mi_mem_int_strdup(__FILE__, __LINE__, composed));
      if (profile == 0) warn(kNameNotFound);
    }
  }
  mi_db_unpin(name_tag);
  return profile;
}

// The light profile the instance uses: a profile tag handed over directly,
// else the profile registered under the given name, else none. Both tags are
// read in place.
miTag resolve_profile(const zel_lumenfield_t* params) {
  const miTag direct = params->profile;
  if (direct != 0 && mi_db_type(direct) == miSCENE_LIGHTPROFILE) return direct;
  if (params->profile_name != 0) return profile_by_name(params->profile_name);
  return 0;
}

// Format code of a profile: the second 32-bit word of the host's record.
int profile_format_of(miTag profile) {
  const auto* record = static_cast<const unsigned char*>(mi_db_access(profile));
  if (record == nullptr) return 0;
  int32_t format = 0;
  std::memcpy(&format, record + sizeof(int32_t), sizeof format);
  mi_db_unpin(profile);
  return format;
}

// One miVector from the host allocator, zeroed, so that the radius queries
// that write only x leave y and z at 0.
miVector* new_shape_vector() {
  return static_cast<miVector*>(mi_mem_int_allocate(__FILE__, __LINE__, sizeof(miVector)));
}

// Shape vectors by emitter shape: allocated a then b, then filled in that
// order from the light's shape queries.
void query_shape_blocks(miState* state, lumenfield_user* user) {
  int query_a = 0;
  int query_b = 0;
  switch (user->area_shape) {
    case miLIGHT_RECTANGLE:
      query_a = miQ_LIGHT_AREA_R_EDGE_U;
      query_b = miQ_LIGHT_AREA_R_EDGE_V;
      break;
    case miLIGHT_DISC:
      query_a = miQ_LIGHT_AREA_D_NORMAL;
      query_b = miQ_LIGHT_AREA_D_RADIUS;
      break;
    case miLIGHT_SPHERE:
      query_a = miQ_LIGHT_AREA_S_RADIUS;
      break;
    case miLIGHT_CYLINDER:
      query_a = miQ_LIGHT_AREA_C_AXIS;
      query_b = miQ_LIGHT_AREA_C_RADIUS;
      break;
    default:
      return;
  }
  user->area_vector_a = new_shape_vector();
  if (query_b != 0) user->area_vector_b = new_shape_vector();
  mi_query(query_a, state, user->light, user->area_vector_a);
  if (query_b != 0) mi_query(query_b, state, user->light, user->area_vector_b);
}

void release(void* block) {
  if (block != nullptr) mi_mem_int_release(__FILE__, __LINE__, block);
}

}  // namespace

float unit_factor_from_scene_unit(int scene_unit) {
  switch (scene_unit) {
    case 0:
      return zel::kUnitFactorMetre;
    case 1:
      return zel::kUnitFactorDecimetre;
    case 2:
      return zel::kUnitFactorCentimetre;
    case 3:
      return zel::kUnitFactorMillimetre;
    case 4:
      return zel::kUnitFactorFoot;
    case 5:
      return zel::kUnitFactorInch;
    default:
      return zel::kUnitFactorDefault;
  }
}

miBoolean zel_torg_init(miState* state, miVector* origin) {
  miTag light = 0;
  const float* to_world = nullptr;
  miVector light_origin{};
  mi_query(miQ_INST_ITEM, state, state->light_instance, &light);
  mi_query(miQ_INST_GLOBAL_TO_LOCAL, state, state->light_instance, &to_world);
  mi_query(miQ_LIGHT_ORIGIN, state, light, &light_origin);
  if (to_world != nullptr)
    mi_point_transform(origin, &light_origin, to_world);
  else
    *origin = light_origin;  // no instance transformation: light space is internal space
  return 1;
}

miBoolean check_accuracy(miState* state, lumenfield_user* user, zel_lumenfield_t* params) {
  // A flux spread by a cosine law inside a spot cone is normalised for the
  // cone only (the conversion applies one factor or the other), so the
  // stated flux is not what the light emits.
  if (user->light_type != miLIGHT_SPOT) return 1;
  if (user->area_shape != miLIGHT_RECTANGLE && user->area_shape != miLIGHT_DISC) return 1;
  if (user->cosine_distribution != 1) return 1;
  if (eval(state, &params->use_profile) != 0) return 1;
  const int unit = eval(state, &params->intensity_unit);
  if (unit == kIntensityLumen || unit == kIntensityWatt) warn(kImplausible);
  return 1;
}

ZEL_EXPORT void zel_lumenfield_init(miState* state, zel_lumenfield_t* params,
                                    miBoolean* wants_instance_init) {
  if (params == nullptr) {
    if (wants_instance_init != nullptr) *wants_instance_init = 1;
    return;
  }
  if (state == nullptr) return;
  void** slot = user_slot(state);
  if (slot == nullptr) return;  // nowhere to keep a record: allocate none

  // Zeroed: no profile, no shape blocks, no colour, an empty focus cache.
  auto* user =
      new (mi_mem_int_allocate(__FILE__, __LINE__, sizeof(lumenfield_user))) lumenfield_user{};
  *slot = user;

  user->profile_orientation = eval(state, &params->profile_orientation);
  mi_init_lock(&user->focus_lock);

  mi_query(miQ_INST_ITEM, state, state->light_instance, &user->light);
  mi_query(miQ_LIGHT_AREA, state, user->light, &user->area_shape);
  mi_query(miQ_LIGHT_TYPE, state, user->light, &user->light_type);
  mi_query(miQ_LIGHT_ENERGY, state, user->light, &user->energy);
  mi_query(miQ_LIGHT_EXP, state, user->light, &user->exponent);
  mi_query(miQ_LIGHT_DIRECTION, state, user->light, &user->spot_direction);
  mi_query(miQ_LIGHT_SPREAD, state, user->light, &user->spread);

  // Only flat emitters have a face for the cosine law to measure from.
  const bool flat = user->area_shape == miLIGHT_RECTANGLE || user->area_shape == miLIGHT_DISC;
  user->cosine_distribution = flat ? eval(state, &params->cosine_distribution) : 0;

  user->falloff = full_intensity_cosine(eval(state, &params->falloff_angle), user->spread,
                                        eval(state, &params->falloff_from_spread) != 0);

  zel_torg_init(state, &user->origin);

  user->output_scale = output_scale_from_mode(eval(state, &params->output_scale_mode),
                                              eval(state, &params->output_scale_color));

  if (eval(state, &params->use_profile) == 1) {
    user->absolute_intensity = eval(state, &params->absolute_intensity);
    const miTag profile = resolve_profile(params);
    if (profile != 0) {
      user->profile = profile;
      mi_query(miQ_LIGHTPROFILE_MAXVAL, state, profile, &user->profile_candela);
      user->profile_format = profile_format_of(profile);
      // Eulumdat tables are relative intensities: there is nothing absolute to scale.
      if (user->absolute_intensity == 1 && user->profile_format == miLP_STD_EULUMDAT) {
        user->absolute_intensity = 0;
        warn(kEulumdatAbsolute);
      }
    }
  } else {
    user->absolute_intensity = 1;
  }

  // Set in every mode so that no path can read an unset factor.
  user->unit_factor = unit_factor_from_scene_unit(eval(state, &params->scene_unit));

  query_shape_blocks(state, user);
  user->cos_law = cos_law_axis(user->area_shape, user->area_vector_a, user->area_vector_b);
  user->emitter = emitter_sizes(user->area_shape, user->area_vector_a, user->area_vector_b);

  const Rotation rotation = rotation_from_orientation(state, user->profile_orientation, params);
  user->profile_rotation[0] = rotation.x;
  user->profile_rotation[1] = rotation.y;
  user->profile_rotation[2] = rotation.z;

  if (eval(state, &params->use_temperature) == 1) {
    const int mode = eval(state, &params->temperature_mode);
    const int kelvin = eval(state, &params->temperature);
    const float temperature =
        kelvin > 0 ? static_cast<float>(kelvin) : eval(state, &params->custom_temperature);
    user->temperature_color = get_color_from_temp(temperature, mode);
  }

  fix_stated_candela(state, user, params);
  fix_profile_turn(state, user, params);
  check_accuracy(state, user, params);
}

ZEL_EXPORT void zel_lumenfield_exit(miState* state, zel_lumenfield_t* params) {
  if (params == nullptr || state == nullptr) return;
  void** slot = user_slot(state);
  if (slot == nullptr || *slot == nullptr) return;
  auto* user = static_cast<lumenfield_user*>(*slot);

  // A thread still tracing the focus probe holds the lock; let it finish.
  mi_lock(user->focus_lock);
  mi_unlock(user->focus_lock);
  mi_delete_lock(&user->focus_lock);

  release(user->temperature_color);
  release(user->area_vector_a);
  release(user->area_vector_b);
  release(user);
  *slot = nullptr;  // a later call finds no record instead of a released one
}
