// The scales of absolute intensity mode that the entry hands to the direct
// and photon paths.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "shaders/lumenfield.h"
#include "tests/host_fixture.h"

namespace {

// Outside absolute mode both scales are exactly 1, whatever the record's
// area factor and the multipliers hold.
TEST(AbsoluteScales, OneOutsideAbsoluteMode) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const int flag : {0, 2, -1}) {
    for (const float unit_factor : {100.0f, 0.0f, nan}) {
      SCOPED_TRACE("flag " + std::to_string(flag) + " unit factor " + std::to_string(unit_factor));
      lumenfield_user user{};
      user.absolute_intensity = flag;
      user.unit_factor = unit_factor;
      const lumenfield_scales s = zel_absolute_scales(&user, 2.0f, 5.0f);
      EXPECT_EQ(s.direct, 1.0f);
      EXPECT_EQ(s.photon, 1.0f);
    }
  }
}

// Absolute mode: the direct scale is the single-precision product of the
// area factor and intensity_multiplier; the photon scale the product with
// photon_multiplier, times 4π in double precision, rounded to single.
TEST(AbsoluteScales, AbsoluteModeProducts) {
  struct Case {
    float unit_factor, intensity_multiplier, photon_multiplier;
    float direct, photon;
  };
  const double four_pi = 12.566370614359172;
  const std::vector<Case> cases = {
      {100.0f, 2.0f, 1.0f, 200.0f, float(100 * four_pi)},
      {10.76391f, 3.0f, 0.5f, 10.76391f * 3.0f, float(double(10.76391f * 0.5f) * four_pi)},
      {1.0f, 1.0f, 1.0f, 1.0f, float(four_pi)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unit_factor);
    lumenfield_user user{};
    user.absolute_intensity = 1;
    user.unit_factor = c.unit_factor;
    const lumenfield_scales s =
        zel_absolute_scales(&user, c.intensity_multiplier, c.photon_multiplier);
    EXPECT_EQ(s.direct, c.direct);
    EXPECT_EQ(s.photon, c.photon);
  }
}

}  // namespace
