// The host's declarations of the two light-profile shaders reproduce their
// C records field for field: same order, same offsets, same total size.
#include <gtest/gtest.h>

#include <cstddef>

#include "refhost/profiles.h"
#include "refhost/refhost.h"
#include "shaders/lightprofile.h"

namespace {

struct Expected {
  const char* name;
  size_t offset;
};

#define ZEL_FIELD(record, field) \
  Expected { #field, offsetof(record, field) }

void check(const std::string& shader, size_t size, std::initializer_list<Expected> fields) {
  const refhost::ShaderDecl& d = refhost::declaration(shader);
  ASSERT_EQ(d.fields.size(), fields.size()) << shader;
  EXPECT_EQ(d.size, size) << shader;
  size_t i = 0;
  for (const Expected& e : fields) {
    EXPECT_EQ(d.fields[i].name, e.name) << shader << " field " << i;
    EXPECT_EQ(d.fields[i].offset, e.offset) << shader << "." << e.name;
    EXPECT_EQ(d.fields[i].size, 4u) << shader << "." << e.name;
    ++i;
  }
}

TEST(Declarations, LightProfileRecordMatchesDeclaration) {
  using T = zel_lightprofile_t;
  check("zel_lightprofile", sizeof(T),
        {ZEL_FIELD(T, file_name), ZEL_FIELD(T, profile_name), ZEL_FIELD(T, format),
         ZEL_FIELD(T, first_setting), ZEL_FIELD(T, second_setting), ZEL_FIELD(T, third_setting),
         ZEL_FIELD(T, fourth_setting)});
}

TEST(Declarations, LightProfileUtilityRecordMatchesDeclaration) {
  using T = zel_lightprofile_utility_t;
  check("zel_lightprofile_utility", sizeof(T),
        {ZEL_FIELD(T, profile), ZEL_FIELD(T, profile_name), ZEL_FIELD(T, absolute_intensity)});
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
