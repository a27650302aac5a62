// Fixture of the unit tests of the area light's three rendering paths: a
// parameter record and an instance record filled by hand (what set-up would
// leave), the shape vectors they point to, and a state for the calls.
#pragma once

#include <cmath>

#include "refhost/refhost.h"
#include "shaders/lumenfield.h"
#include "tests/host_fixture.h"

namespace zeltest {

class PathsTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    params = zel_lumenfield_t{};
    params.color = {1, 1, 1, 1};
    params.relative_intensity = 1;
    params.intensity_multiplier = 1;
    params.photon_multiplier = 1;
    params.cosine_exponent = 1;
    params.visible_multiplier = 1;
    params.visible_falloff_exponent = 1;
    params.intensity = 100;  // candela (unit 0)
    params.efficacy = 683;
    params.profile_efficacy = 683;

    user = lumenfield_user{};
    user.absolute_intensity = 1;
    user.unit_factor = 1;
    user.exponent = 2;
    user.energy = {1, 1, 1, 1};
    user.output_scale = {1, 1, 1, 1};

    state = refhost::make_state(nullptr, &thread_, miRAY_EYE);
  }

  // The emitter shape and its two vectors, as set-up stores them.
  void set_shape(int code, miVector a = {}, miVector b = {}) {
    vector_a = a;
    vector_b = b;
    user.area_shape = code;
    user.area_vector_a = &vector_a;
    user.area_vector_b = &vector_b;
    user.cos_law = cos_law_axis(code, &vector_a, &vector_b);
    user.emitter = emitter_sizes(code, &vector_a, &vector_b);
  }

  // Shades with a light instance placed by `local_to_world`: the host's
  // moves between internal and light space follow it, and the record's
  // origin is the light-space origin carried into internal space.
  miTag place_light(const refhost::Matrix& local_to_world) {
    refhost::LightDesc desc;
    const miTag inst = add_light_instance(desc, local_to_world);
    state.light_instance = inst;
    user.origin = refhost::transform_point({0, 0, 0}, local_to_world);
    return inst;
  }

  zel_lumenfield_t params{};
  lumenfield_user user{};
  miVector vector_a{};
  miVector vector_b{};
  miState state{};
};

inline float max_rgb(const miColor& c) { return std::fmax(c.r, std::fmax(c.g, c.b)); }

inline double distance(const miVector& a, const miVector& b) {
  const double dx = double(a.x) - double(b.x), dy = double(a.y) - double(b.y),
               dz = double(a.z) - double(b.z);
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

}  // namespace zeltest
