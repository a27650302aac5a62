// Parameters far outside any physical range: whatever a scene holds, the
// light never hands the renderer an infinite or undefined colour.
#include <cmath>

#include "tests/host_fixture.h"

namespace {

using zeltest::HostTest;

class Hostile : public HostTest {};

bool finite_rgb(const miColor& c) {
  return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b);
}

// A colour whose strongest channel is tiny and another hugely negative:
// rescaling it to the light's energy overflowed the negative channel to −∞
// (found by fuzzing). Such a channel carries no light.
TEST_F(Hostile, NegativeChannelThatOverflowsCarriesNoLight) {
  refhost::LightDesc desc;  // isotropic point light
  const miTag inst = add_light_instance(desc);
  refhost::ShaderInstance& s = lumenfield();
  s.set_color("color", {1e-30f, 0.0f, -1e30f, 0.5f});
  s.set_float("intensity", 100);

  struct Case {
    const char* what;
    int ray_type;
  };
  for (const Case c :
       {Case{"light ray", miRAY_LIGHT}, Case{"eye ray", miRAY_EYE}, Case{"photon", 8}}) {
    refhost::clear_photons();
    miState state = refhost::make_state(&s, &thread_, c.ray_type, inst);
    s.init(&state);
    state.org = {0, 0, 0};
    state.dir = {0, 0, -1};
    state.dist = 2.0;
    state.point = {0, 0, -2};
    state.normal = {0, 0, 1};
    miColor result{};
    s.call(&result, &state);
    EXPECT_TRUE(finite_rgb(result)) << c.what << ": " << result.r << " " << result.b;
    EXPECT_EQ(result.b, 0.0f) << c.what;
    EXPECT_GT(result.r, 0.0f) << c.what << ": the positive channel still carries the light";
    EXPECT_EQ(result.a, 0.5f) << c.what;
    for (const auto& p : refhost::photons()) EXPECT_TRUE(finite_rgb(p.energy)) << c.what;
  }
}

}  // namespace
