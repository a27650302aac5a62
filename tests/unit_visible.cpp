// The light's visible emitting surface: radiance as intensity over area,
// the dark back of single-sided emitters, and the falloff laws per shape.
#include <cmath>
#include <string>
#include <vector>

#include "shaders/constants.h"
#include "tests/paths_fixture.h"

namespace {

using zeltest::max_rgb;
using zeltest::PathsTest;

constexpr double kPi = 3.141592653589793;

class Visible : public PathsTest {
 protected:
  // Shades a hit at `point` (normal `normal`) seen from `eye`.
  miColor shade(const miVector& point, const miVector& normal, const miVector& eye,
                miColor base = {1, 1, 1, 1}) {
    state.org = eye;
    state.point = point;
    state.normal = normal;
    miColor result = base;
    EXPECT_EQ(zel_visible_area(&result, &state, &user, &params), 1);
    return result;
  }
  float falloff_at(const miVector& point, const miVector& eye, float strength, float exponent,
                   const miVector& normal = {0, 0, 1}) {
    state.org = eye;
    state.point = point;
    state.normal = normal;
    return calc_visible_falloff(&state, &user, strength, exponent);
  }
};

// A surface that spreads I candela over A square units shows the radiance
// π·I/A (before the output scale), whatever the shape: the area is that of
// the emitter the host samples (a rectangle spans centre ± a ± b; a
// cylinder reaches |axis| to either side).
TEST_F(Visible, RadianceIsIntensityOverEmittingArea) {
  struct Case {
    std::string name;
    int shape;
    miVector a, b;
    double area;
  };
  const std::vector<Case> cases = {
      {"sphere r 1", miLIGHT_SPHERE, {1, 0, 0}, {}, 4 * kPi},
      {"sphere r 2", miLIGHT_SPHERE, {2, 0, 0}, {}, 4 * kPi * 4},
      {"disc r 1", miLIGHT_DISC, {0, 0, 1}, {1, 0, 0}, kPi},
      {"disc r 0.5", miLIGHT_DISC, {0, 0, 1}, {0.5f, 0, 0}, kPi * 0.25},
      {"rectangle 2 x 4", miLIGHT_RECTANGLE, {1, 0, 0}, {0, 2, 0}, 2.0 * 4.0},
      {"slanted rectangle", miLIGHT_RECTANGLE, {0.6f, 0.8f, 0}, {-0.8f, 0.6f, 0}, 2.0 * 2.0},
      {"cylinder r 0.5 length 4", miLIGHT_CYLINDER, {0, 0, 2}, {0.5f, 0, 0}, 2 * kPi * 0.5 * 4},
      {"no shape", miLIGHT_NONE, {}, {}, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    set_shape(c.shape, c.a, c.b);
    const miColor r = shade({0, 0, 0.5f}, {0, 0, 1}, {0, 0, 5});
    EXPECT_NEAR(max_rgb(r), kPi * 100.0 / c.area, 1e-5 * kPi * 100.0 / c.area);
  }
}

// The worked example: a sphere of radius 1 at 100 cd shows π·100/(4π) = 25.
TEST_F(Visible, SphereOfHundredCandelaShowsTwentyFive) {
  set_shape(miLIGHT_SPHERE, {1, 0, 0});
  user.output_scale = {2, 3, 4, 1};
  const miColor r = shade({0, 0, 1}, {0, 0, 1}, {0, 0, 5}, {1, 0.5f, 0.25f, 0.75f});
  // The colour keeps its hue with its strongest channel at 25, then each
  // channel takes its output scale; alpha stays.
  EXPECT_NEAR(r.r, 25.0f * 2, 1e-4);
  EXPECT_NEAR(r.g, 12.5f * 3, 1e-4);
  EXPECT_NEAR(r.b, 6.25f * 4, 1e-4);
  EXPECT_EQ(r.a, 0.75f);
}

// Where the intensity comes from: the converted intensity in absolute mode
// without a profile; the relative multiplier in relative mode; the profile's
// own reference intensity or its override in absolute mode with a profile.
TEST_F(Visible, IntensitySources) {
  struct Case {
    std::string name;
    int use_profile, absolute, override_intensity;
    double intensity;  // candela the surface stands for
    bool output_scaled;
  };
  constexpr double kUnitFactor = 100, kMultiplier = 2;
  const std::vector<Case> cases = {
      {"no profile", 0, 1, 0, 100.0 * kUnitFactor * kMultiplier, true},
      {"profile, relative", 1, 0, 0, 7.0, false},
      {"profile, relative, override ignored", 1, 0, 1, 7.0, false},
      {"profile, absolute", 1, 1, 0, 50.0 * kUnitFactor * kMultiplier, true},
      {"profile, absolute, override", 1, 1, 1, 30.0 * kUnitFactor * kMultiplier, true},
  };
  set_shape(miLIGHT_SPHERE, {1, 0, 0});
  user.unit_factor = float(kUnitFactor);
  user.profile_candela = 50;
  user.output_scale = {0.5f, 0.5f, 0.5f, 1};
  params.intensity_multiplier = float(kMultiplier);
  params.relative_intensity = 7;
  params.profile_intensity = 30;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    params.use_profile = c.use_profile;
    user.absolute_intensity = c.absolute;
    params.override_profile_intensity = c.override_intensity;
    const miColor r = shade({0, 0, 1}, {0, 0, 1}, {0, 0, 5});
    const double expected = c.intensity / 4.0 * (c.output_scaled ? 0.5 : 1.0);
    EXPECT_NEAR(max_rgb(r), expected, 1e-5 * expected);
  }
}

// A flat emitter seen from behind: black when single-sided, otherwise the
// same as from the front. Front and back follow the light's orientation.
TEST_F(Visible, SingleSidedBackIsBlack) {
  struct Case {
    std::string name;
    int shape;
    miVector a, b;
    refhost::Matrix placement;
    miVector front;  // internal-space normal of the lit side
  };
  const std::vector<Case> cases = {
      {"rectangle", miLIGHT_RECTANGLE, {1, 0, 0}, {0, 1, 0}, refhost::identity(), {0, 0, 1}},
      {"disc", miLIGHT_DISC, {0, 0, 1}, {1, 0, 0}, refhost::identity(), {0, 0, 1}},
      {"turned rectangle",
       miLIGHT_RECTANGLE,
       {1, 0, 0},
       {0, 1, 0},
       refhost::rotate_xyz(180, 0, 0),
       {0, 0, -1}},
      {"turned disc", miLIGHT_DISC, {0, 0, 1}, {1, 0, 0}, refhost::rotate_xyz(0, 90, 0), {1, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    set_shape(c.shape, c.a, c.b);
    place_light(c.placement);
    const miVector back{-c.front.x, -c.front.y, -c.front.z};
    const miColor base{1, 0.5f, 0.25f, 0.75f};

    params.single_sided = 1;
    const miColor front = shade({0, 0, 0}, c.front, {0, 0, 0}, base);
    const miColor dark = shade({0, 0, 0}, back, {0, 0, 0}, base);
    EXPECT_GT(max_rgb(front), 0.0f);
    EXPECT_EQ(dark.r, 0.0f);
    EXPECT_EQ(dark.g, 0.0f);
    EXPECT_EQ(dark.b, 0.0f);
    EXPECT_EQ(dark.a, 0.75f);

    params.single_sided = 0;
    const miColor two_sided = shade({0, 0, 0}, back, {0, 0, 0}, base);
    EXPECT_EQ(two_sided.r, front.r);
    EXPECT_EQ(two_sided.g, front.g);
    EXPECT_EQ(two_sided.b, front.b);
  }
}

// An emitter without area has no finite radiance: it shows nothing.
TEST_F(Visible, ShapeWithoutAreaShowsNothing) {
  for (int shape : {miLIGHT_DISC, miLIGHT_SPHERE, miLIGHT_CYLINDER}) {
    SCOPED_TRACE(shape);
    // Radius 0: b for the disc and the cylinder, a for the sphere.
    set_shape(shape, shape == miLIGHT_SPHERE ? miVector{0, 0, 0} : miVector{0, 0, 1}, {0, 0, 0});
    const miColor r = shade({0, 0, 0}, {0, 0, 1}, {0, 0, 5});
    EXPECT_TRUE(std::isfinite(r.r) && std::isfinite(r.g) && std::isfinite(r.b));
    EXPECT_EQ(max_rgb(r), 0.0f);
  }
}

// The emitting area of an object light is the host's (query 125 on the
// light instance being shaded).
TEST_F(Visible, ObjectLightAreaComesFromTheHost) {
  refhost::Geometry sphere;
  sphere.kind = refhost::Geometry::Sphere;
  sphere.radius = 2;
  const miTag object = refhost::add_object("globe", sphere);
  const miTag globe = refhost::add_instance("globe_inst", object, refhost::identity());
  refhost::LightDesc desc;
  desc.shape = miLIGHT_OBJECT;
  desc.obj_instance = globe;
  state.light_instance = add_light_instance(desc);
  set_shape(miLIGHT_OBJECT);

  const uint64_t asked = refhost::query_count(miQ_LIGHT_OBJ_AREA);
  const miColor r = shade({0, 0, 2}, {0, 0, 1}, {0, 0, 5});
  EXPECT_EQ(refhost::query_count(miQ_LIGHT_OBJ_AREA) - asked, 1u);
  const double area = 4 * kPi * 2 * 2;
  EXPECT_NEAR(max_rgb(r), kPi * 100 / area, 1e-4 * kPi * 100 / area);
}

// ---- falloff ------------------------------------------------------------

// Strength 0 switches the falloff off: 1 for every shape and exponent.
TEST_F(Visible, FalloffStrengthZeroIsOne) {
  const std::vector<int> shapes = {miLIGHT_NONE,   miLIGHT_RECTANGLE, miLIGHT_DISC,
                                   miLIGHT_SPHERE, miLIGHT_CYLINDER,  miLIGHT_OBJECT};
  for (int shape : shapes)
    for (float exponent : {0.0f, 1.0f, 2.5f, -1.0f}) {
      SCOPED_TRACE(std::to_string(shape) + " exponent " + std::to_string(exponent));
      const bool radius_in_b = shape == miLIGHT_DISC || shape == miLIGHT_CYLINDER;
      set_shape(shape, {1, 0, 0}, radius_in_b ? miVector{1, 0, 0} : miVector{0, 1, 0});
      EXPECT_EQ(falloff_at({0.9f, 0.7f, 0.1f}, {0, 3, 1}, 0.0f, exponent), 1.0f);
    }
}

// The disc darkens linearly with the distance from its centre out to the
// rim, and stays at the rim level beyond it.
TEST_F(Visible, DiscFalloffRunsToTheRim) {
  struct Case {
    float radius_fraction, strength, expected;
  };
  const std::vector<Case> cases = {
      {0.0f, 1, 1.0f},    {0.5f, 1, 0.5f},    {1.0f, 1, 0.0f},    {1.5f, 1, 0.0f},
      {0.0f, 0.5f, 1.0f}, {1.0f, 0.5f, 0.5f}, {3.0f, 0.5f, 0.5f},
  };
  const float radius = 2;
  set_shape(miLIGHT_DISC, {0, 0, 1}, {radius, 0, 0});
  user.origin = {1, 1, 1};
  for (const Case& c : cases) {
    SCOPED_TRACE("r/R " + std::to_string(c.radius_fraction) + " strength " +
                 std::to_string(c.strength));
    const miVector p{1 + 0.6f * c.radius_fraction * radius, 1 + 0.8f * c.radius_fraction * radius,
                     1};
    EXPECT_NEAR(falloff_at(p, {1, 1, 5}, c.strength, 1.0f), c.expected, 1e-6);
  }
}

// Sphere, cylinder and object lights darken with the viewing angle: full
// brightness face-on, (1 − strength)^exponent at the silhouette.
TEST_F(Visible, FalloffFollowsTheViewingAngle) {
  struct Case {
    std::string name;
    int shape;
    miVector point, eye, normal;
    double angle;
  };
  const std::vector<Case> cases = {
      {"sphere head-on", miLIGHT_SPHERE, {0, 0, 1}, {0, 0, 5}, {0, 0, 1}, 0.0},
      {"sphere silhouette", miLIGHT_SPHERE, {1, 0, 0}, {0, 0, 5}, {1, 0, 0}, kPi / 2},
      {"sphere 60 degrees", miLIGHT_SPHERE, {0.8660254f, 0, 0.5f}, {0, 0, 5}, {}, kPi / 3},
      {"cylinder head-on", miLIGHT_CYLINDER, {1, 0, 1.5f}, {6, 0, 1.5f}, {1, 0, 0}, 0.0},
      {"cylinder silhouette", miLIGHT_CYLINDER, {0, 1, -1}, {6, 0, -1}, {0, 1, 0}, kPi / 2},
      {"object face-on", miLIGHT_OBJECT, {0, 0, 0}, {0, 0, 3}, {0, 0, 2}, 0.0},
      {"object grazing", miLIGHT_OBJECT, {0, 0, 0}, {3, 0, 0}, {0, 0, 1}, kPi / 2},
      {"object 60 degrees", miLIGHT_OBJECT, {0, 0, 0}, {0.8660254f, 0, 0.5f}, {0, 0, 1}, kPi / 3},
  };
  for (const Case& c : cases)
    for (float strength : {0.5f, 1.0f})
      for (float exponent : {1.0f, 2.0f}) {
        SCOPED_TRACE(c.name + " strength " + std::to_string(strength) + " exponent " +
                     std::to_string(exponent));
        set_shape(c.shape, c.shape == miLIGHT_SPHERE ? miVector{1, 0, 0} : miVector{0, 0, 2},
                  {1, 0, 0});
        const double expected = std::pow(1.0 - double(strength) * c.angle / (kPi / 2), exponent);
        EXPECT_NEAR(falloff_at(c.point, c.eye, strength, exponent, c.normal), expected, 2e-6);
      }
}

// The rectangle's falloff range: 1.6 edge lengths on the light's axes, the
// radius of the ellipse with half those semi-axes elsewhere. Edges of
// lengths 1 and 2 give 1.6 and 3.2 on the axes and about 1.0119 along the
// diagonal direction (1, 1). Off the axes the light's orientation is
// honoured (on them, rounding in the move to light space decides which
// formula applies).
TEST_F(Visible, RectangleFalloffRange) {
  struct Case {
    miVector light_point;
    double variable, range;
    bool on_axis;
  };
  const std::vector<Case> cases = {
      {{0, 1, 0}, 1.0, 3.2, true},
      {{1, 0, 0}, 1.0, 1.6, true},
      {{0, 0, 0}, 0.0, 3.2, true},
      {{0.3f, 0.3f, 0}, std::sqrt(0.18), 1.0119, false},
      {{-0.3f, 0.3f, 0}, std::sqrt(0.18), 1.0119, false},
      {{1, 1, 0}, std::sqrt(2.0), 1.0119, false},  // beyond the range: held at the range
  };
  const refhost::Matrix placement =
      refhost::multiply(refhost::rotate_xyz(20, -35, 50), refhost::translate(2, -1, 4));
  const float strength = 0.5f;
  for (const bool turned : {false, true}) {
    set_shape(miLIGHT_RECTANGLE, {1, 0, 0}, {0, 2, 0});
    const refhost::Matrix m = turned ? placement : refhost::identity();
    place_light(m);
    for (const Case& c : cases) {
      if (turned && c.on_axis) continue;
      SCOPED_TRACE(std::string(turned ? "turned " : "") + std::to_string(c.light_point.x) + ", " +
                   std::to_string(c.light_point.y));
      const miVector p = refhost::transform_point(c.light_point, m);
      const double expected = 1.0 - std::min(c.variable, c.range) / c.range * double(strength);
      EXPECT_NEAR(falloff_at(p, {0, 0, 9}, strength, 1.0f), expected, 5e-5);
    }
  }
}

// Unit vectors whose dot product rounds just past 1 (hit point and eye on
// one ray from the centre) must still give the head-on factor, not NaN.
TEST_F(Visible, NearlyParallelDirectionsStayDefined) {
  const std::vector<miVector> directions = {
      {4.07f, 1.41f, 7.8f}, {0.1f, 0.2f, 0.3f}, {1, 1, 1}, {3, -7, 0.5f}, {0.3f, 0.3f, 0.3f}};
  bool rounding_past_one = false;
  for (const miVector& v : directions) {
    SCOPED_TRACE(std::to_string(v.x) + ", " + std::to_string(v.y) + ", " + std::to_string(v.z));
    const float l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    const miVector u{v.x / l, v.y / l, v.z / l};
    rounding_past_one |= u.x * u.x + u.y * u.y + u.z * u.z > 1.0f;

    set_shape(miLIGHT_SPHERE, {1, 0, 0});
    // A float arc cosine resolves angles near 0 only to about 3e-4.
    EXPECT_NEAR(falloff_at(v, {2 * v.x, 2 * v.y, 2 * v.z}, 0.5f, 1.5f), 1.0, 1e-3);
    set_shape(miLIGHT_OBJECT);
    EXPECT_NEAR(falloff_at({0, 0, 0}, {2 * v.x, 2 * v.y, 2 * v.z}, 0.5f, 1.5f, v), 1.0, 1e-3);
  }
  EXPECT_TRUE(rounding_past_one) << "no case exercises a dot product above 1";
}

// The falloff law itself: the value is held at the range; range or strength
// 0 switch it off; a strength above 1 darkens to black instead of handing a
// negative base to the power (no NaN for fractional exponents, no
// re-brightening for even ones).
TEST_F(Visible, FalloffLaw) {
  struct Case {
    float value, range, strength, exponent;
    double expected;
  };
  const std::vector<Case> cases = {
      {0.25f, 1, 1, 1, 0.75},
      {0.25f, 1, 1, 2, 0.5625},
      {0.25f, 1, 1, 0.5f, std::sqrt(0.75)},
      {5, 1, 0.5f, 1, 0.5},
      {5, 0, 0.5f, 1, 1.0},
      {5, 2, 0, 3, 1.0},
      {0, 1, 1, 0, 1.0},
      {1, 1, 2, 1.5f, 0.0},
      {1, 1, 2, 2, 0.0},
      {0.75f, 1, 2, 1.5f, 0.0},
      {0.25f, 1, 2, 1.5f, std::pow(0.5, 1.5)},
      {1, 1, 1, 0, 1.0},
      {0.5f, 1, 1, -1, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("value " + std::to_string(c.value) + " range " + std::to_string(c.range) +
                 " strength " + std::to_string(c.strength) + " exponent " +
                 std::to_string(c.exponent));
    const float f = get_falloff_multiplier(c.value, c.range, c.strength, c.exponent);
    EXPECT_NEAR(f, c.expected, 1e-6);
  }
}

}  // namespace
