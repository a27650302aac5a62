// Luminous intensity of the area light toward the current light ray: the
// emitter's cosine law, the spot cone, and either the user's intensity in
// candela or a sample of the measured light profile, oriented as set up.
#include <cmath>

#include "host/param.h"
#include "shaders/constants.h"
#include "shaders/lumenfield.h"
#include "shaders/lumenfield_math.h"

using zel::eval;

namespace {

// Puts the state's ray origin and direction back when the profile lookup,
// which re-aims and rotates them, is done, on every way out.
class SavedRay {
 public:
  explicit SavedRay(miState* state) : state_(state), org_(state->org), dir_(state->dir) {}
  ~SavedRay() {
    state_->org = org_;
    state_->dir = dir_;
  }
  SavedRay(const SavedRay&) = delete;
  SavedRay& operator=(const SavedRay&) = delete;

 private:
  miState* state_;
  miVector org_;
  miVector dir_;
};

// The rotation of the profile's orientation: the user's angles under
// orientation 1, the preset's otherwise, about the light's own axes.
void build_profile_turn(miState* state, const lumenfield_user* user, zel_lumenfield_t* params,
                        miMatrix rotation) {
  float degrees[3] = {user->profile_rotation[0], user->profile_rotation[1],
                      user->profile_rotation[2]};
  if (eval(state, &params->profile_orientation) == 1) {
    degrees[0] = eval(state, &params->rotation_x);
    degrees[1] = eval(state, &params->rotation_y);
    degrees[2] = eval(state, &params->rotation_z);
  }
  mi_matrix_rotate(rotation, zel::radians_from_degrees(degrees[0]),
                   zel::radians_from_degrees(degrees[1]), zel::radians_from_degrees(degrees[2]));
}

// Turns the state's ray direction by the profile's orientation.
void rotate_ray_into_profile(miState* state, const lumenfield_user* user,
                             zel_lumenfield_t* params) {
  miMatrix built;
  const float* rotation = user->profile_turn;
  if (user->profile_turn_fixed == 0) {
    build_profile_turn(state, user, params, built);
    rotation = built;
  }
  mi_vector_to_light(state, &state->dir, &state->dir);
  mi_vector_transform(&state->dir, &state->dir, rotation);
  mi_vector_from_light(state, &state->dir, &state->dir);
}

// The light's own intensity parameters in candela, over its spot cone if
// it has one: converted at set-up when that was possible, else now.
float light_candela(miState* state, lumenfield_user* user, zel_lumenfield_t* params,
                    float cos_exponent) {
  if (user->candela_fixed != 0) return user->candela;
  const bool spot = user->light_type == miLIGHT_SPOT;
  return stated_candela(state, user, user_intensity_fields(params),
                        spot ? user->spread : zel::kNoCone, spot ? user->falloff : 0.0f,
                        cos_exponent);
}

// The profile's override intensity in candela, over the whole sphere:
// converted at set-up when that was possible, else now.
float override_candela(miState* state, lumenfield_user* user, zel_lumenfield_t* params,
                       float cos_exponent) {
  if (user->override_fixed != 0) return user->override_candela;
  return stated_candela(state, user, profile_intensity_fields(params), zel::kNoCone, 0.0f,
                        cos_exponent);
}

// The profile's value toward the ray, times the factors found so far.
float sample_profile(miState* state, lumenfield_user* user, zel_lumenfield_t* params, float s,
                     float cos_exponent) {
  const SavedRay saved(state);

  if (eval(state, &params->profile_spot_cones) != 0 && user->light_type == miLIGHT_SPOT)
    s *= calc_spotlight_cones(state, state->dir, user->spot_direction, user->spread, user->falloff);

  // Rescale the profile so that its reference intensity becomes the given
  // one. A profile without a positive reference intensity cannot be
  // rescaled; it is then used as it stands.
  if (eval(state, &params->override_profile_intensity) != 0 && user->absolute_intensity == 1 &&
      user->profile_candela > 0.0f)
    s = s * override_candela(state, user, params, cos_exponent) / user->profile_candela;

  // Look the profile up from the light's centre rather than from the
  // sampled point of the emitter.
  if (eval(state, &params->profile_from_origin) != 0 && user->area_shape != miLIGHT_NONE) {
    state->org = user->origin;
    state->dir = zel::normalized({state->point.x - user->origin.x, state->point.y - user->origin.y,
                                  state->point.z - user->origin.z});
  }

  if (user->profile_orientation != 0) rotate_ray_into_profile(state, user, params);

  const miBoolean relative = user->absolute_intensity == 1 ? 0 : 1;
  return s * mi_lightprofile_sample(state, user->profile, relative);
}

}  // namespace

float zel_candela_sample(miState* state, lumenfield_user* user, zel_lumenfield_t* params) {
  const float cos_exponent = eval(state, &params->cosine_exponent);

  float s = 1.0f;
  if (user->cosine_distribution != 0) {
    s = cos_law_toward(state, user->cos_law, cos_exponent);
    if (s == 0.0f) return 0.0f;
  }

  if (eval(state, &params->use_profile) != 0) {
    // A profile asked for but not found at set-up: the cosine factor alone.
    if (user->profile == 0) return s;
    return sample_profile(state, user, params, s, cos_exponent);
  }

  if (user->light_type == miLIGHT_SPOT) {
    s *= calc_spotlight_cones(state, state->dir, user->spot_direction, user->spread, user->falloff);
    if (s == 0.0f) return 0.0f;  // outside the cone: no conversion, no focus probe
    return light_candela(state, user, params, cos_exponent) * s;
  }
  return s * light_candela(state, user, params, cos_exponent);
}

// A light none of whose parameters is connected states one intensity for the
// whole render: its conversion to candela (with the cone compensation's
// trigonometry) is done here once instead of on every ray, for the light's
// own parameters and for the profile's override alike. Connected
// parameters may change from ray to ray, and the units stated at the spot's
// focus wait for the focus probe of the first ray that needs it; those are
// converted per ray.
void fix_stated_candela(miState* state, lumenfield_user* user, zel_lumenfield_t* params) {
  user->candela_fixed = 0;
  user->override_fixed = 0;
  if (zel::has_connections(state)) return;
  const float cos_exponent = params->cosine_exponent;
  if (!unit_at_focus(params->intensity_unit)) {
    user->candela = light_candela(state, user, params, cos_exponent);
    user->surface_candela = stated_candela(state, user, user_intensity_fields(params), zel::kNoCone,
                                           0.0f, cos_exponent);
    user->candela_fixed = 1;
  }
  if (!unit_at_focus(params->profile_intensity_unit)) {
    user->override_candela = override_candela(state, user, params, cos_exponent);
    user->override_fixed = 1;
  }
}

// The orientation's three sines and cosines per ray are needless when its
// angles cannot change: with no connected parameter the rotation is built
// here once.
void fix_profile_turn(miState* state, lumenfield_user* user, zel_lumenfield_t* params) {
  user->profile_turn_fixed = 0;
  if (zel::has_connections(state) || user->profile_orientation == 0) return;
  build_profile_turn(state, user, params, user->profile_turn);
  user->profile_turn_fixed = 1;
}
