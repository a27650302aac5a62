// The host's declaration of each shader must reproduce its C record field
// for field: same order, same offsets, same total size.
#include <gtest/gtest.h>

#include <cstddef>

#include "refhost/refhost.h"
#include "shaders/lumenfield.h"
#include "tests/decl_check.h"

namespace {

using zeltest::check_declaration;

TEST(Declarations, AreaLightRecordMatchesDeclaration) {
  using T = zel_lumenfield_t;
  check_declaration("zel_lumenfield", sizeof(T),
                    {ZEL_FIELD(T, use_profile),
                     ZEL_FIELD(T, profile),
                     ZEL_FIELD(T, profile_name),
                     ZEL_FIELD(T, use_temperature),
                     ZEL_FIELD(T, color),
                     ZEL_FIELD(T, temperature),
                     ZEL_FIELD(T, custom_temperature),
                     ZEL_FIELD(T, temperature_mode),
                     ZEL_FIELD(T, absolute_intensity),
                     ZEL_FIELD(T, relative_intensity),
                     ZEL_FIELD(T, intensity_multiplier),
                     ZEL_FIELD(T, photon_multiplier),
                     ZEL_FIELD(T, scene_unit),
                     ZEL_FIELD(T, shadows),
                     ZEL_FIELD(T, shadow_transparency),
                     ZEL_FIELD(T, attenuation_start),
                     ZEL_FIELD(T, attenuation_end),
                     ZEL_FIELD(T, profile_orientation),
                     ZEL_FIELD(T, rotation_x),
                     ZEL_FIELD(T, rotation_y),
                     ZEL_FIELD(T, rotation_z),
                     ZEL_FIELD(T, cosine_distribution),
                     ZEL_FIELD(T, cosine_exponent),
                     ZEL_FIELD(T, single_sided),
                     ZEL_FIELD(T, visible_multiplier),
                     ZEL_FIELD(T, output_scale_mode),
                     ZEL_FIELD(T, output_scale_color),
                     ZEL_FIELD(T, falloff_angle),
                     ZEL_FIELD(T, intensity),
                     ZEL_FIELD(T, intensity_unit),
                     ZEL_FIELD(T, intensity_distance),
                     ZEL_FIELD(T, efficacy),
                     ZEL_FIELD(T, override_profile_intensity),
                     ZEL_FIELD(T, profile_intensity),
                     ZEL_FIELD(T, profile_intensity_unit),
                     ZEL_FIELD(T, profile_intensity_distance),
                     ZEL_FIELD(T, profile_efficacy),
                     ZEL_FIELD(T, profile_from_origin),
                     ZEL_FIELD(T, profile_spot_cones),
                     ZEL_FIELD(T, shadow_threshold),
                     ZEL_FIELD(T, falloff_from_spread),
                     ZEL_FIELD(T, use_attenuation),
                     ZEL_FIELD(T, visible_falloff),
                     ZEL_FIELD(T, visible_falloff_exponent)});
}

TEST(Declarations, ParserRefusesMalformedText) {
  EXPECT_THROW(refhost::parse_declarations("shader a 1\n  float x\nend\n"), std::runtime_error);
  EXPECT_THROW(refhost::parse_declarations("shader a 1\n  scalar x\n"), std::runtime_error);
  EXPECT_THROW(refhost::parse_declarations("scalar x\n"), std::runtime_error);
  const auto d = refhost::parse_declarations("shader a 2 # c\n color c\n scalar s\nend\n");
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].version, 2);
  EXPECT_EQ(d[0].fields[1].offset, 16u);
  EXPECT_EQ(d[0].size, 20u);
}

}  // namespace
