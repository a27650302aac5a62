// The host's declarations of the two light-profile shaders reproduce their
// C records field for field: same order, same offsets, same total size.
#include <gtest/gtest.h>

#include <cstddef>

#include "refhost/profiles.h"
#include "refhost/refhost.h"
#include "shaders/lightprofile.h"
#include "tests/decl_check.h"

namespace {

using zeltest::check_declaration;

TEST(Declarations, LightProfileRecordMatchesDeclaration) {
  using T = zel_lightprofile_t;
  check_declaration("zel_lightprofile", sizeof(T),
                    {ZEL_FIELD(T, file_name), ZEL_FIELD(T, profile_name), ZEL_FIELD(T, format),
                     ZEL_FIELD(T, first_setting), ZEL_FIELD(T, second_setting),
                     ZEL_FIELD(T, third_setting), ZEL_FIELD(T, fourth_setting)},
                    4);
}

TEST(Declarations, LightProfileUtilityRecordMatchesDeclaration) {
  using T = zel_lightprofile_utility_t;
  check_declaration(
      "zel_lightprofile_utility", sizeof(T),
      {ZEL_FIELD(T, profile), ZEL_FIELD(T, profile_name), ZEL_FIELD(T, absolute_intensity)}, 4);
}

// The host's profile record: the fields the shader fills sit at the bytes
// the host reads them from.
TEST(Declarations, HostProfileRecordLayout) {
  EXPECT_EQ(offsetof(miLightprofile, format), refhost::kProfileFormatOffset);
  EXPECT_EQ(offsetof(miLightprofile, source), refhost::kProfileSourceOffset);
  EXPECT_EQ(offsetof(miLightprofile, setting_12), refhost::kProfileInterpolationOffset);
  EXPECT_EQ(offsetof(miLightprofile, file_name), refhost::kProfileFileNameOffset);
  EXPECT_EQ(offsetof(miLightprofile, setting_20), refhost::kProfileCDirectionOffset);
  EXPECT_EQ(offsetof(miLightprofile, setting_24), refhost::kProfileCTurnOffset);
  EXPECT_EQ(offsetof(miLightprofile, setting_28), refhost::kProfileMultiplierOffset);
  EXPECT_LE(sizeof(miLightprofile), refhost::kProfileRecordSize);
}

}  // namespace
