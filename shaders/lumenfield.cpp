// zel_lumenfield: the area light's entry point and dispatch on ray type.
#include "shaders/lumenfield.h"

#include "host/param.h"
#include "shaders/constants.h"
#include "shaders/export.h"
#include "shaders/lumenfield_math.h"

using zel::eval;

namespace {

constexpr const char* kNoUserPointer = "Zel_lumenfield Fatal Error: No user pointer found";

bool is_photon_ray(int type) {
  switch (type) {
    case 8: case 9: case 10: case 11: case 12: case 13: case 14: case 15:
    case 18: case 19: case 23: case 24: case 27:
      return true;
    default:
      return false;
  }
}

// The instance record hung on the shader instance's user pointer, or null.
lumenfield_user* fetch_user(miState* state) {
  void** slot = nullptr;
  mi_query(miQ_FUNC_USERPTR, state, 0, &slot);
  return slot != nullptr ? static_cast<lumenfield_user*>(*slot) : nullptr;
}

// A path's multiplier: read in absolute intensity mode, 1 otherwise.
float absolute_multiplier(miState* state, const lumenfield_user* user, const miScalar* param) {
  return user->absolute_intensity == 1 ? eval(state, param) : 1.0f;
}

}  // namespace

// In absolute mode the direct scale turns candela into scene units
// (unit_factor) and applies the user's multiplier; the photon scale also
// carries the 4π steradians over which a photon's candela value stands for
// the light's flux.
lumenfield_scales zel_absolute_scales(const lumenfield_user* user, float intensity_multiplier,
                                      float photon_multiplier) {
  lumenfield_scales s{1.0f, 1.0f};
  if (user->absolute_intensity == 1) {
    s.direct = user->unit_factor * intensity_multiplier;
    const float photon = user->unit_factor * photon_multiplier;
    s.photon = static_cast<float>(double(photon) * zel::k4Pi);
  }
  return s;
}

ZEL_EXPORT int zel_lumenfield_version(void) { return 1; }

ZEL_EXPORT miBoolean zel_lumenfield(miColor* result, miState* state, zel_lumenfield_t* params) {
  if (result == nullptr || state == nullptr || params == nullptr) return 0;
  lumenfield_user* user = fetch_user(state);
  if (user == nullptr) {
    mi_error(kNoUserPointer);
    return 0;
  }

  const bool temperature = eval(state, &params->use_temperature) == 1;
  *result = (temperature && user->temperature_color != nullptr) ? *user->temperature_color
                                                                : eval(state, &params->color);

  // Each path reads only its own multiplier.
  miBoolean answer;
  if (state->type == miRAY_LIGHT) {
    const float direct = absolute_multiplier(state, user, &params->intensity_multiplier);
    answer = zel_direct_photometric(result, state, user, params,
                                    zel_absolute_scales(user, direct, 1.0f).direct);
  } else if (is_photon_ray(state->type)) {
    const float photon = absolute_multiplier(state, user, &params->photon_multiplier);
    answer = zel_photon_photometric(result, state, user, params,
                                    zel_absolute_scales(user, 1.0f, photon).photon);
  } else {
    answer = zel_visible_area(result, state, user, params);
  }
  zel::clear_non_finite(result);
  return answer;
}
