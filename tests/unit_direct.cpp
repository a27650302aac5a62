// Direct illumination of one light sample: the inverse-power distance law,
// the attenuation window, the two intensity modes and shadows.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/paths_fixture.h"

namespace {

using zeltest::max_rgb;
using zeltest::PathsTest;

// Nearest distance the attenuation window lets through.
constexpr double kNearest = 0.00024414;

class Direct : public PathsTest {
 protected:
  void SetUp() override {
    PathsTest::SetUp();
    state.type = miRAY_LIGHT;
  }
  // A light ray from the light's origin straight down to a point at
  // `distance`; the answer and the colour it leaves.
  struct Answer {
    miBoolean lit;
    miColor colour;
  };
  Answer light_ray(double distance, float scale = 1.0f, miColor base = {1, 1, 1, 1}) {
    state.org = {0, 0, 0};
    state.dir = {0, 0, -1};
    state.dist = distance;
    state.point = {0, 0, -static_cast<float>(distance)};
    state.normal = {0, 0, 1};
    Answer a{0, base};
    a.lit = zel_direct_photometric(&a.colour, &state, &user, &params, scale);
    return a;
  }
};

// Without a window the light falls off as 1/d^x for the light's decay
// exponent x; an exponent that is not positive means no distance law.
TEST_F(Direct, InversePowerDistanceLaw) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const double exponent : {0.0, 1.0, 1.5, 2.0, 3.0, -1.0, nan})
    for (const double d : {0.5, 2.0, 7.25}) {
      SCOPED_TRACE("exponent " + std::to_string(exponent) + " distance " + std::to_string(d));
      user.exponent = static_cast<float>(exponent);
      const Answer a = light_ray(d);
      const double law = exponent > 0 ? std::pow(d, exponent) : 1.0;
      EXPECT_EQ(a.lit, 1);
      EXPECT_NEAR(max_rgb(a.colour), 100.0 / law, 1e-6 * 100.0 / law);
    }
}

// Window from 1 to 10: distances count from the start; nothing beyond the
// end; at or inside the start the nearest distance 0.00024414 holds, for
// every positive exponent and without the exponent applied to it.
TEST_F(Direct, AttenuationWindow) {
  struct Case {
    float exponent;
    double distance;
    double attenuation;  // 0: no light at all
  };
  const std::vector<Case> cases = {
      {2, 3.0, 1.0 / 4},      {2, 10.0, 1.0 / 81},
      {1, 3.0, 1.0 / 2},      {1.5f, 5.0, 1.0 / 8},
      {2, 10.5, 0},           {1, 10.000001, 0},
      {2, 1.0, 1 / kNearest}, {2, 1.0002, 1 / kNearest},
      {2, 0.5, 1 / kNearest}, {2, 0.0, 1 / kNearest},
      {1, 1.0, 1 / kNearest}, {1.5f, 0.25, 1 / kNearest},
      {0, 10.5, 1.0},  // no distance law: the window is not consulted
      {0, 3.0, 1.0},
  };
  params.use_attenuation = 1;
  params.attenuation_start = 1;
  params.attenuation_end = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE("exponent " + std::to_string(c.exponent) + " distance " +
                 std::to_string(c.distance));
    user.exponent = c.exponent;
    const miColor base{1, 0.5f, 0.25f, 0.75f};
    const Answer a = light_ray(c.distance, 1.0f, base);
    if (c.attenuation == 0) {
      EXPECT_EQ(a.lit, 0);
      // Nothing was computed: the base colour stands as the entry left it.
      EXPECT_EQ(a.colour.r, base.r);
      EXPECT_EQ(a.colour.g, base.g);
      EXPECT_EQ(a.colour.b, base.b);
    } else {
      EXPECT_EQ(a.lit, 1);
      EXPECT_NEAR(a.colour.r, 100 * c.attenuation, 2e-6 * 100 * c.attenuation);
    }
    EXPECT_EQ(a.colour.a, 0.75f);
  }
}

// A light ray of zero length without the window would carry infinite
// light: it contributes nothing instead, and the colour stays finite.
TEST_F(Direct, ZeroLengthRayContributesNothing) {
  for (const float exponent : {1.0f, 1.5f, 2.0f}) {
    SCOPED_TRACE(exponent);
    user.exponent = exponent;
    const Answer a = light_ray(0.0);
    EXPECT_EQ(a.lit, 0);
    EXPECT_TRUE(std::isfinite(a.colour.r) && std::isfinite(a.colour.g) &&
                std::isfinite(a.colour.b));
  }
  user.exponent = 0;  // no distance law: the light is simply there
  EXPECT_EQ(light_ray(0.0).lit, 1);
}

// Absolute mode (flag non-zero) scales by the entry's direct scale and
// ignores relative_intensity; relative mode the other way round. The output
// scale applies only when the flag is exactly 1.
TEST_F(Direct, IntensityModes) {
  struct Case {
    int absolute;
    double factor;
    bool output_scaled;
  };
  const float scale = 3, relative = 7;  // direct scale, relative_intensity
  const std::vector<Case> cases = {
      {1, double(scale), true}, {0, double(relative), false}, {2, double(scale), false}};
  params.relative_intensity = relative;
  user.output_scale = {0.5f, 0.25f, 2, 9};
  for (const Case& c : cases) {
    SCOPED_TRACE("absolute_intensity " + std::to_string(c.absolute));
    user.absolute_intensity = c.absolute;
    const miColor base{1, 0.5f, 0.25f, 0.75f};
    const Answer a = light_ray(2.0, scale, base);
    const double e = 100.0 / 4 * c.factor;
    const miColor out = c.output_scaled ? user.output_scale : miColor{1, 1, 1, 1};
    EXPECT_NEAR(a.colour.r, e * 1.0 * double(out.r), 1e-5 * e);
    EXPECT_NEAR(a.colour.g, e * 0.5 * double(out.g), 1e-5 * e);
    EXPECT_NEAR(a.colour.b, e * 0.25 * double(out.b), 1e-5 * e);
    EXPECT_EQ(a.colour.a, 0.75f);
  }
}

// No light toward the point (a zero intensity) is no contribution: false,
// and the colour stays the base colour.
TEST_F(Direct, DarkSampleContributesNothing) {
  params.intensity = 0;
  const Answer a = light_ray(2.0, 1.0f, {1, 0.5f, 0.25f, 0.75f});
  EXPECT_EQ(a.lit, 0);
  EXPECT_EQ(a.colour.g, 0.5f);
}

// A pane between the light and the lit point, letting `through` pass.
void add_pane(float z, miColor through) {
  refhost::Geometry pane;
  pane.kind = refhost::Geometry::Rectangle;
  pane.center = {0, 0, z};
  pane.u = {1, 0, 0};
  pane.v = {0, 1, 0};
  pane.transparency = through;
  refhost::add_object("pane" + std::to_string(refhost::elements_of_type(miSCENE_OBJECT).size()),
                      pane);
}

// Shadows with a transparency t: a full shadow keeps the fraction t, a
// partial one blends each channel between t and 1 by what the occluders let
// through.
TEST_F(Direct, ShadowTransparency) {
  struct Case {
    std::string name;
    std::vector<miColor> panes;
    double r, g, b;  // fraction of the unshadowed light that remains
  };
  const double t = 0.2;
  const std::vector<Case> cases = {
      {"open", {}, 1, 1, 1},
      {"opaque", {{0, 0, 0, 0}}, t, t, t},
      {"half transparent", {{0.5f, 0.5f, 0.5f, 0}}, 0.6, 0.6, 0.6},
      {"tinted", {{0.5f, 0.25f, 0, 0}}, 0.5 * (1 - t) + t, 0.25 * (1 - t) + t, t},
      {"two half panes", {{0.5f, 0.5f, 0.5f, 0}, {0.5f, 0.5f, 0.5f, 0}}, 0.4, 0.4, 0.4},
  };
  params.shadows = 1;
  params.shadow_transparency = float(t);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    refhost::reset();
    float z = -0.5f;
    for (const miColor& through : c.panes) add_pane(z -= 0.25f, through);
    const miColor base{1, 0.5f, 0.25f, 0.75f};
    const Answer a = light_ray(2.0, 1.0f, base);
    EXPECT_EQ(a.lit, 1);
    EXPECT_NEAR(a.colour.r, 25.0 * 1.0 * c.r, 1e-5);
    EXPECT_NEAR(a.colour.g, 25.0 * 0.5 * c.g, 1e-5);
    EXPECT_NEAR(a.colour.b, 25.0 * 0.25 * c.b, 1e-5);
    EXPECT_EQ(a.colour.a, 0.75f);
  }
}

// No shadow ray when shadows are off, when the transparency is 1 or more
// (a blocked ray would otherwise scale the light by it), or when the light
// is weaker than the shadow threshold; at the threshold itself the ray is
// traced.
TEST_F(Direct, ShadowRayOnlyWhenItMatters) {
  struct Case {
    std::string name;
    int shadows;
    float transparency, threshold;
    double remaining;
  };
  const std::vector<Case> cases = {
      {"shadows off", 0, 0.2f, 0, 1.0},          {"transparency 1", 1, 1.0f, 0, 1.0},
      {"transparency 1.5", 1, 1.5f, 0, 1.0},     {"below the threshold", 1, 0.2f, 25.5f, 1.0},
      {"at the threshold", 1, 0.2f, 25.0f, 0.2}, {"above the threshold", 1, 0.2f, 24.5f, 0.2},
  };
  add_pane(-1, {0, 0, 0, 0});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    params.shadows = c.shadows;
    params.shadow_transparency = c.transparency;
    params.shadow_threshold = c.threshold;
    const Answer a = light_ray(2.0);
    EXPECT_NEAR(max_rgb(a.colour), 25.0 * c.remaining, 1e-5);
  }
}

}  // namespace
