// zel_direct_photometric: the light one sample of the area light delivers to
// an illuminated point (host light rays, ray type 4).
#include <cmath>
#include <optional>

#include "host/param.h"
#include "shaders/constants.h"
#include "shaders/lumenfield.h"
#include "shaders/lumenfield_math.h"

using zel::eval;

namespace {

// The distance range over which the light acts: nothing beyond `end`, and
// distances are measured from `start` inside it.
struct attenuation_window {
  float start;
  float end;
  bool on;
};

// Divisor D of the inverse-power distance law I / D for a light ray of
// length `distance`, or nothing when the point lies beyond the window's end.
// A decay exponent that is not positive means no distance law at all.
std::optional<float> distance_divisor(double distance, float exponent,
                                      const attenuation_window& window) {
  if (!(exponent > 0.0f)) return 1.0f;
  float d = static_cast<float>(distance);
  if (window.on) {
    if (distance > double(window.end)) return std::nullopt;
    d = d - window.start;
    // Points at or inside the window start all see the light as from this
    // nearest distance; the exponent does not apply to it.
    if (d <= zel::kMinAttenuationDistance) return zel::kMinAttenuationDistance;
  }
  if (exponent == 2.0f) return d * d;
  if (exponent == 1.0f) return d;
  return static_cast<float>(std::pow(double(d), double(exponent)));
}

// Blends `result` with what the occluders between light and point let
// through; `transparency` is the fraction a full shadow still passes.
void apply_shadow(miColor* result, miState* state, float transparency) {
  miColor shadow{1.0f, 1.0f, 1.0f, 1.0f};
  const bool reached = mi_trace_shadow(&shadow, state) != 0;
  if (!reached || (shadow.r == 0.0f && shadow.g == 0.0f && shadow.b == 0.0f)) {
    result->r *= transparency;
    result->g *= transparency;
    result->b *= transparency;
    return;
  }
  const double t = double(transparency);
  auto blend = [t](float channel, float passed) {
    return static_cast<float>(double(channel) * (double(passed) * (1.0 - t) + t));
  };
  result->r = blend(result->r, shadow.r);
  result->g = blend(result->g, shadow.g);
  result->b = blend(result->b, shadow.b);
}

}  // namespace

miBoolean zel_direct_photometric(miColor* result, miState* state, lumenfield_user* user,
                                 zel_lumenfield_t* params, float scale) {
  // The window's bounds matter only to a light with a distance law.
  attenuation_window window{};
  window.on = eval(state, &params->use_attenuation) != 0;
  if (window.on && user->exponent > 0.0f) {
    window.start = eval(state, &params->attenuation_start);
    window.end = eval(state, &params->attenuation_end);
  }

  const std::optional<float> divisor = distance_divisor(state->dist, user->exponent, window);
  // Beyond the window, or a ray of zero length (whose inverse-power law
  // would hand out infinite light): no contribution.
  if (!divisor || *divisor == 0.0f) return 0;
  const float attenuation = 1.0f / *divisor;
  if (attenuation == 0.0f) return 0;

  float intensity = attenuation * zel_candela_sample(state, user, params);
  if (intensity == 0.0f) return 0;
  intensity *= user->absolute_intensity != 0 ? scale : eval(state, &params->relative_intensity);
  intensity_to_energy(result, intensity);

  // Light too faint to be worth a shadow ray reaches the point unshadowed.
  if (eval(state, &params->shadows) != 0 && intensity >= eval(state, &params->shadow_threshold)) {
    const float transparency = eval(state, &params->shadow_transparency);
    if (transparency < 1.0f) apply_shadow(result, state, transparency);
  }

  if (user->absolute_intensity == 1) zel::multiply_rgb(result, user->output_scale);
  return 1;
}
