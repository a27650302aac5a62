// zel_photon_photometric: one photon of the area light, started from a point
// of its emitting shape, with an energy in the light's photometric units.
#include "shaders/constants.h"
#include "shaders/lumenfield.h"
#include "shaders/lumenfield_math.h"

using zel::length;
using zel::operator+;
using zel::operator-;
using zel::operator*;
using zel::normalized;

namespace {

// A sample value in [0, 1) stretched onto [−1, 1).
float to_signed(double s) { return static_cast<float>(2.0 * s - 1.0); }

// One sample of `dimension` (2 or 3) values from the host, each on [−1, 1);
// z stays 0 for two dimensions.
miVector signed_sample(miState* state, int dimension) {
  double s[3] = {0.0, 0.0, 0.0};
  mi_sample(s, nullptr, state, dimension, nullptr);
  return {to_signed(s[0]), to_signed(s[1]), dimension == 3 ? to_signed(s[2]) : 0.0f};
}

// Rejection sampling of the unit ball (`planar` false) or, with `planar`, of
// the unit disc under the (x, y) part of each draw: the first draw inside is
// kept, uniform over the disc or ball. After kMaxRejectionDraws misses the
// last draw is kept as it is.
miVector draw_inside_unit(miState* state, int dimension, bool planar) {
  miVector v{};
  for (int i = 0; i < zel::kMaxRejectionDraws; ++i) {
    v = signed_sample(state, dimension);
    const miVector tested{v.x, v.y, planar ? 0.0f : v.z};
    if (double(length(tested)) <= 1.0) break;
  }
  return v;
}

// Rectangle spanning ±|a| along x and ±|b| along y of light space.
miVector rectangle_offset(miState* state, const lumenfield_user* user) {
  const miVector s = signed_sample(state, 2);
  return {s.x * user->emitter.length_a, s.y * user->emitter.length_b, 0.0f};
}

// Disc of radius r in the x–y plane of light space, uniform over its area.
miVector disc_offset(miState* state, const lumenfield_user* user) {
  const float r = user->area_vector_b->x;
  return draw_inside_unit(state, 2, true) * r;
}

// Sphere surface of radius r: a point uniform in the ball, pushed out
// radially, is uniform over the sphere.
miVector sphere_offset(miState* state, const lumenfield_user* user) {
  const float r = user->area_vector_a->x;
  return normalized(draw_inside_unit(state, 3, false)) * r;
}

// Side of a cylinder of radius r about the z axis of light space, reaching
// |axis| to either side of the origin.
miVector cylinder_offset(miState* state, const lumenfield_user* user) {
  const float r = user->area_vector_b->x;
  const miVector draw = draw_inside_unit(state, 3, true);
  const miVector around = normalized(miVector{draw.x, draw.y, 0.0f});
  return {around.x * r, around.y * r, draw.z * user->emitter.length_a};
}

// Start point of a photon on the light's emitting shape, in internal space.
miVector photon_start(miState* state, const lumenfield_user* user) {
  miVector offset{};
  switch (user->area_shape) {
    case miLIGHT_RECTANGLE:
      offset = rectangle_offset(state, user);
      break;
    case miLIGHT_DISC:
      offset = disc_offset(state, user);
      break;
    case miLIGHT_CYLINDER:
      offset = cylinder_offset(state, user);
      break;
    case miLIGHT_SPHERE:
      // A sphere looks the same in every orientation: its offset needs no
      // transformation.
      return user->origin + sphere_offset(state, user);
    default:
      return user->origin;
  }
  // The offset is drawn in the light's own space; the start point lives in
  // internal space.
  mi_vector_from_light(state, &offset, &offset);
  return user->origin + offset;
}

}  // namespace

miBoolean zel_photon_photometric(miColor* result, miState* state, lumenfield_user* user,
                                 zel_lumenfield_t* params, float scale) {
  state->org = photon_start(state, user);
  mi_scattering_dir_diffuse(&state->dir, state);
  // The candela sampling looks at a point one unit along the emission.
  state->point = state->org + state->dir;

  const float candela = zel_candela_sample(state, user, params);
  if (user->absolute_intensity == 1) {
    // `scale` already holds the 4π that turns an intensity sampled over
    // uniform directions into the flux a photon stands for.
    intensity_to_energy(result, candela * scale);
    zel::multiply_rgb(result, user->output_scale);
  } else {
    intensity_to_energy(result, static_cast<float>(zel::k4Pi * double(candela)));
    zel::multiply_rgb(result, user->energy);
  }
  zel::clear_non_finite(result);
  mi_photon_light(result, state);
  return 1;
}
