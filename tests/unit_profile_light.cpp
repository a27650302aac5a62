// A measured light from file to ray: a profile defined by zel_lightprofile
// from an example file, resolved by the area light at set-up, sampled by
// the light's candela sampling in the light's own space.
#include <gtest/gtest.h>

#include <algorithm>

#include "refhost/profiles.h"
#include "shaders/lightprofile.h"
#include "shaders/lumenfield.h"
#include "tests/host_fixture.h"

namespace {

std::string example_profile(const std::string& file) {
  return std::string(ZEL_SOURCE_DIR) + "/examples/profiles/" + file;
}

class ProfileLight : public zeltest::HostTest {};

// The light hangs turned a quarter turn about x, so the profile's nadir
// points along world +y: the light's sampling must go through light space.
TEST_F(ProfileLight, CandelaSamplingFollowsTheFile) {
  const struct {
    const char* file;
    int format;
  } cases[] = {{"wall_washer.ies", 1}, {"wall_washer.ldt", 2}};
  for (const auto& k : cases) {
    refhost::ShaderInstance& definer = make("zel_lightprofile");
    definer.set_string("profile_name", k.file);
    definer.set_string("file_name", example_profile(k.file));
    definer.set_int("format", k.format);
    miState build = refhost::make_state(&definer, &thread_, miRAY_EYE);
    definer.init(&build);
    float unused = 0;
    definer.call(&unused, &build);

    const refhost::Matrix place = refhost::rotate_xyz(-90, 0, 0);
    const miTag instance = add_light_instance({}, place);
    refhost::ShaderInstance& light = lumenfield();
    light.set_int("use_profile", 1);
    light.set_int("absolute_intensity", 1);
    light.set_string("profile_name", k.file);
    miState state = refhost::make_state(&light, &thread_, miRAY_LIGHT, instance);
    light.init(&state);
    auto* user = static_cast<lumenfield_user*>(light.user());
    ASSERT_NE(user, nullptr);
    ASSERT_NE(user->profile, 0u) << k.file;

    refhost::ProfileTable table;
    std::string error;
    ASSERT_TRUE(refhost::read_profile_file(example_profile(k.file), k.format, table, error));
    const float peak = *std::max_element(table.candela.begin(), table.candela.end());
    for (const double g : {0.0, 20.0, 45.0, 70.0, 100.0})
      for (const double c : {0.0, 60.0, 180.0, 270.0}) {
        const miVector local = refhost::profile_direction(g, c);
        state.dir = refhost::transform_vector(local, place);
        const float expected = refhost::sample_table(table, local);
        const float got = zel_candela_sample(&state, user, light.params_as<zel_lumenfield_t>());
        // EULUMDAT profiles are sampled relative to their peak.
        const float want = k.format == 1 ? expected : expected / peak;
        EXPECT_NEAR(got, want, 1e-5 * double(std::max(1.0f, want)))
            << k.file << " γ " << g << " C " << c;
      }
    // Towards the wall the light is stronger than away from it.
    state.dir = refhost::transform_vector(refhost::profile_direction(60, 0), place);
    const float towards = zel_candela_sample(&state, user, light.params_as<zel_lumenfield_t>());
    state.dir = refhost::transform_vector(refhost::profile_direction(60, 180), place);
    const float away = zel_candela_sample(&state, user, light.params_as<zel_lumenfield_t>());
    EXPECT_GT(towards, 10 * away) << k.file;
  }
}

}  // namespace
