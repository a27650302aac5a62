// Candela sampling: the intensity of the area light toward a light ray, with
// the cosine law, the spot cone, the unit conversion or a light profile; the
// state's ray comes back as it went in, and no call allocates or looks up.
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>

#include "refhost/profiles.h"
#include "shaders/lumenfield.h"
#include "shaders/lumenfield_math.h"
#include "tests/host_fixture.h"

namespace {

constexpr double kPi = 3.141592653589793;

float cos_deg(double degrees) { return static_cast<float>(std::cos(degrees * kPi / 180.0)); }
miVector at_angle(double degrees, float sign_z = -1.0f) {
  return {static_cast<float>(std::sin(degrees * kPi / 180)), 0,
          sign_z * static_cast<float>(std::cos(degrees * kPi / 180))};
}

bool same_bits(const miVector& a, const miVector& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Total of every query code the host answered so far.
uint64_t total_queries() {
  uint64_t n = 0;
  for (int code = 0; code < 256; ++code) n += refhost::query_count(code);
  return n;
}

// A profile of the same intensity in every direction.
miTag uniform_profile() {
  return refhost::add_profile("uniform", {{0, 90, 180}, {0}, {500, 500, 500}});
}

// A rotationally symmetric profile that brightens from 100 cd straight
// down (γ = 0, light-space −z) to 500 cd straight up, linearly in γ.
miTag graded_profile(int format = miLP_STD_IES) {
  return refhost::add_profile("graded", {{0, 45, 90, 135, 180}, {0}, {100, 200, 300, 400, 500}},
                              format);
}
constexpr float kGradedPeak = 500.0f;

class Candela : public zeltest::HostTest {
 protected:
  struct Light {
    refhost::ShaderInstance* shader = nullptr;
    miState state{};
    lumenfield_user* user = nullptr;
    zel_lumenfield_t* params = nullptr;
  };

  // A light of `desc` with the area light attached, set up by the library's
  // own init after `configure` has set its parameters.
  Light& make_light(const refhost::LightDesc& desc,
                    const std::function<void(refhost::ShaderInstance&)>& configure = {}) {
    const miTag instance = add_light_instance(desc);
    refhost::ShaderInstance& s = lumenfield();
    if (configure) configure(s);
    Light& l = lights_.emplace_back();
    l.shader = &s;
    l.params = s.params_as<zel_lumenfield_t>();
    l.state = refhost::make_state(&s, &thread_, miRAY_LIGHT, instance);
    miBoolean wants = 0;
    zel_lumenfield_init(&l.state, nullptr, &wants);
    zel_lumenfield_init(&l.state, l.params, &wants);
    l.user = static_cast<lumenfield_user*>(s.user());
    EXPECT_NE(l.user, nullptr);
    return l;
  }

  void TearDown() override {
    for (Light& l : lights_) zel_lumenfield_exit(&l.state, l.params);
    lights_.clear();
    HostTest::TearDown();
  }

  // The intensity toward `dir` for a ray from `org` to `point`; the state's
  // ray must come back unchanged.
  float sample(Light& l, miVector dir, miVector point = {0, 0, -1}, miVector org = {0, 0, 0}) {
    l.state.dir = dir;
    l.state.org = org;
    l.state.point = point;
    const float value = zel_candela_sample(&l.state, l.user, l.params);
    EXPECT_TRUE(same_bits(l.state.dir, dir)) << "ray direction changed";
    EXPECT_TRUE(same_bits(l.state.org, org)) << "ray origin changed";
    return value;
  }

  // The unit conversion the sampler is expected to apply.
  float converted(Light& l, miVector dir, float cos_outer, float cos_inner) {
    l.state.dir = dir;
    return convert_units_to_candela(&l.state, l.user, l.params->intensity_unit, l.params->intensity,
                                    l.params->intensity_distance, l.params->efficacy, cos_outer,
                                    cos_inner, l.params->cosine_exponent);
  }

  std::deque<Light> lights_;
};

refhost::LightDesc spot(double outer_deg = 30, miVector direction = {0, 0, -1}) {
  refhost::LightDesc d;
  d.type = miLIGHT_SPOT;
  d.direction = direction;
  d.spread = cos_deg(outer_deg);
  return d;
}

refhost::LightDesc rectangle(int type = miLIGHT_POINT) {
  refhost::LightDesc d;
  d.type = type;
  d.shape = miLIGHT_RECTANGLE;
  d.edge_u = {0, 1, 0};  // u × v = −z: the emitter faces down
  d.edge_v = {1, 0, 0};
  d.direction = {0, 0, -1};
  d.spread = cos_deg(60);
  return d;
}

auto lumens(float value, float exponent = 1) {
  return [=](refhost::ShaderInstance& s) {
    s.set_int("intensity_unit", 1);
    s.set_float("intensity", value);
    s.set_float("cosine_exponent", exponent);
  };
}

TEST_F(Candela, WithoutProfileTheConvertedIntensity) {
  Light& point = make_light({}, lumens(1000));
  EXPECT_EQ(sample(point, {0, 0, -1}), static_cast<float>(1000.0 / (2.0 * zel::k2Pi)));
  EXPECT_EQ(sample(point, {0.6f, 0.8f, 0}), sample(point, {0, 0, 1})) << "isotropic";

  Light& candela = make_light({}, [](refhost::ShaderInstance& s) {
    s.set_int("intensity_unit", 0);
    s.set_float("intensity", 250);
  });
  EXPECT_EQ(sample(candela, {1, 0, 0}), 250.0f);
}

TEST_F(Candela, CosineLawOnAFlatEmitter) {
  for (const float e : {1.0f, 2.0f}) {
    Light& l = make_light(rectangle(), [e](refhost::ShaderInstance& s) {
      lumens(1000, e)(s);
      s.set_int("cosine_distribution", 1);
    });
    const float peak = converted(l, {0, 0, -1}, -1, 0);
    EXPECT_NEAR(peak, 1000 * double(e + 1) / (2 * kPi), 1e-3) << "e = " << e;
    EXPECT_EQ(sample(l, {0, 0, -1}), peak);
    EXPECT_NEAR(sample(l, at_angle(60)), double(peak) * std::pow(0.5, double(e)), 1e-3);
    EXPECT_EQ(sample(l, {0, 0, 1}), 0.0f) << "back side";
  }
}

// Behind a cosine-law emitter nothing is emitted, whatever else is set.
TEST_F(Candela, BackSideIsDarkWhateverTheSettings) {
  const std::function<void(refhost::ShaderInstance&)> settings[] = {
      [](refhost::ShaderInstance& s) { lumens(1000)(s); },
      [](refhost::ShaderInstance& s) { s.set_int("use_profile", 1); },
      [](refhost::ShaderInstance& s) {
        s.set_int("use_profile", 1);
        s.set_tag("profile", uniform_profile());
        s.set_int("profile_spot_cones", 0);
      },
  };
  for (const int type : {miLIGHT_POINT, miLIGHT_SPOT}) {
    for (const auto& configure : settings) {
      Light& l = make_light(rectangle(type), [&](refhost::ShaderInstance& s) {
        configure(s);
        s.set_int("cosine_distribution", 1);
      });
      EXPECT_GT(sample(l, {0, 0, -1}), 0.0f) << "front, type " << type;
      EXPECT_EQ(sample(l, {0, 0, 1}), 0.0f) << "back, type " << type;
      EXPECT_EQ(sample(l, {1, 0, 0}), 0.0f) << "grazing, type " << type;
    }
  }
}

TEST_F(Candela, SpotConeWithoutProfile) {
  Light& l = make_light(spot(30), [](refhost::ShaderInstance& s) {
    lumens(1000)(s);
    s.set_float("falloff_angle", 40);  // full apex angle: inner half-angle 20°
  });
  const float c = l.user->spread;
  const float d = l.user->falloff;
  const float full = converted(l, {0, 0, -1}, c, d);
  EXPECT_GT(full, 0.0f);
  // Inside the inner cone: exactly the converted intensity.
  EXPECT_EQ(sample(l, {0, 0, -1}), full);
  EXPECT_EQ(sample(l, at_angle(15)), full);
  // In the band: times the cone factor; outside: nothing.
  const miVector band = at_angle(25);
  EXPECT_EQ(sample(l, band), full * calc_spotlight_cones(&l.state, band, {0, 0, -1}, c, d));
  EXPECT_LT(sample(l, band), full);
  EXPECT_EQ(sample(l, at_angle(31)), 0.0f);
  EXPECT_EQ(sample(l, {0, 0, 1}), 0.0f);
}

TEST_F(Candela, SpotConeTimesCosineLaw) {
  refhost::LightDesc desc = rectangle(miLIGHT_SPOT);
  desc.spread = cos_deg(50);
  Light& l = make_light(desc, [](refhost::ShaderInstance& s) {
    s.set_int("intensity_unit", 0);
    s.set_float("intensity", 100);
    s.set_int("cosine_distribution", 1);
    s.set_float("cosine_exponent", 2);
    s.set_float("falloff_angle", 40);
  });
  for (const double angle : {0.0, 10.0, 30.0, 45.0}) {
    const miVector dir = at_angle(angle);
    l.state.dir = dir;
    const float law = calc_cos_distrib(&l.state, miLIGHT_RECTANGLE, 2, l.user->area_vector_a,
                                       l.user->area_vector_b);
    const float cone =
        calc_spotlight_cones(&l.state, dir, {0, 0, -1}, l.user->spread, l.user->falloff);
    EXPECT_EQ(sample(l, dir), 100.0f * (law * cone)) << angle << "°";
  }
}

// Outside the spot cone the sampler stops before the conversion: the
// intensity parameters are not read and the focus probe is not traced.
TEST_F(Candela, OutsideTheConeNothingIsConverted) {
  int unit_reads = 0;
  Light& l = make_light(spot(30), [&unit_reads](refhost::ShaderInstance& s) {
    s.set_float("intensity", 2);
    s.connect("intensity_unit", [&unit_reads](miState*, void* out) {
      ++unit_reads;
      const int32_t lux_at_focus = 3;
      std::memcpy(out, &lux_at_focus, sizeof lux_at_focus);
    });
  });
  const uint64_t locks = refhost::locks_taken();
  EXPECT_EQ(sample(l, at_angle(45)), 0.0f);
  EXPECT_EQ(sample(l, {0, 0, 1}), 0.0f);
  EXPECT_EQ(unit_reads, 0);
  EXPECT_EQ(refhost::locks_taken(), locks);
  sample(l, {0, 0, -1});
  EXPECT_EQ(unit_reads, 1) << "inside the cone the unit is read";
}

TEST_F(Candela, ProfileAskedForButNotFound) {
  for (const int law : {0, 1}) {
    Light& l = make_light(rectangle(), [law](refhost::ShaderInstance& s) {
      lumens(5000)(s);
      s.set_int("use_profile", 1);
      s.set_int("cosine_distribution", law);
    });
    ASSERT_EQ(l.user->profile, 0u);
    const miVector dir = at_angle(60);
    const float expected = law == 1 ? 0.5f : 1.0f;
    EXPECT_NEAR(sample(l, dir), expected, 1e-6) << "law " << law;
    l.shader->set_float("intensity", 9);
    EXPECT_NEAR(sample(l, dir), expected, 1e-6) << "independent of the intensity";
  }
}

// Every parameter is read on every call, so a connected one may vary.
TEST_F(Candela, ParametersAreEvaluatedOnEveryCall) {
  float value = 10;
  Light& l = make_light({}, [&value](refhost::ShaderInstance& s) {
    s.set_int("intensity_unit", 0);
    s.connect("intensity", [&value](miState*, void* out) { std::memcpy(out, &value, 4); });
  });
  EXPECT_EQ(sample(l, {0, 0, -1}), 10.0f);
  value = 20;
  EXPECT_EQ(sample(l, {0, 0, -1}), 20.0f);
}

// A light with no connected parameter has its stated intensity converted
// once at set-up; one with a connection converts on every ray. Both must
// give the same candela to the bit, for every unit and cone, on light rays
// and on the visible surface; the units stated at the focus always wait for
// the probe.
TEST_F(Candela, IntensityConvertedAtSetUpIsTheOneEveryRayWouldGet) {
  const struct {
    const char* label;
    refhost::LightDesc desc;
    int unit;
    bool cosine_law;
    bool fixed;
  } cases[] = {
      {"candela", {}, 0, false, true},
      {"lumen", {}, 1, false, true},
      {"lumen, cosine law", rectangle(), 1, true, true},
      {"lumen into a spot with a falloff band", spot(30), 1, false, true},
      {"watt into a spot", spot(50), 4, false, true},
      {"lux at a distance", spot(30), 2, false, true},
      {"W/sr", {}, 5, false, true},
      {"irradiance at a distance", {}, 6, false, true},
      {"lux at the focus", spot(30), 3, false, false},
      {"irradiance at the focus", spot(30), 7, false, false},
  };
  refhost::Geometry floor;  // where the spots' axes end: their focus, 2 units away
  floor.center = {0, 0, -2};
  refhost::add_instance("floor_i", refhost::add_object("floor", floor), refhost::identity());
  for (const auto& c : cases) {
    auto configure = [&c](refhost::ShaderInstance& s) {
      s.set_int("intensity_unit", c.unit);
      s.set_float("intensity", 1234.5f);
      s.set_float("intensity_distance", 3);
      s.set_float("efficacy", 93);
      s.set_float("falloff_angle", 40);
      s.set_float("cosine_exponent", 2.5f);
      s.set_int("cosine_distribution", c.cosine_law ? 1 : 0);
    };
    Light& in_place = make_light(c.desc, configure);
    // A connection elsewhere in the record makes every read go through the
    // reading rule, so nothing can be converted ahead.
    Light& connected = make_light(c.desc, [&configure](refhost::ShaderInstance& s) {
      configure(s);
      s.connect("visible_multiplier", [](miState*, void* out) {
        const float one = 1.0f;
        std::memcpy(out, &one, 4);
      });
    });
    EXPECT_EQ(in_place.user->candela_fixed != 0, c.fixed) << c.label;
    EXPECT_EQ(connected.user->candela_fixed, 0) << c.label;
    for (const double angle : {0.0, 10.0, 25.0, 45.0}) {
      const float expected = sample(connected, at_angle(angle));
      EXPECT_EQ(sample(in_place, at_angle(angle)), expected) << c.label << ", " << angle << "°";
      if (angle == 0.0) {
        EXPECT_GT(expected, 0.0f) << c.label;
      }
    }
    // The visible surface spreads the same intensity, without the cone.
    miColor seen_in_place{1, 1, 1, 1}, seen_connected{1, 1, 1, 1};
    zel_visible_area(&seen_in_place, &in_place.state, in_place.user, in_place.params);
    zel_visible_area(&seen_connected, &connected.state, connected.user, connected.params);
    EXPECT_EQ(seen_in_place.r, seen_connected.r) << c.label;
    EXPECT_GT(seen_connected.r, 0.0f) << c.label;
  }
}

// The per-ray routine only reads: no allocation, no database lookup, no
// host query, on any branch.
TEST_F(Candela, NoAllocationOrLookupPerRay) {
  std::vector<Light*> lights = {
      &make_light({}, lumens(1000)),
      &make_light(spot(30), lumens(1000)),
      &make_light(spot(30),
                  [](refhost::ShaderInstance& s) {
                    s.set_int("intensity_unit", 6);
                    s.set_float("intensity_distance", 2);
                  }),
      &make_light(rectangle(),
                  [](refhost::ShaderInstance& s) {
                    lumens(1000, 2)(s);
                    s.set_int("cosine_distribution", 1);
                  }),
      &make_light({}, [](refhost::ShaderInstance& s) { s.set_int("use_profile", 1); }),
      &make_light(rectangle(miLIGHT_SPOT),
                  [](refhost::ShaderInstance& s) {
                    s.set_int("use_profile", 1);
                    s.set_tag("profile", uniform_profile());
                    s.set_int("profile_spot_cones", 1);
                    s.set_int("override_profile_intensity", 1);
                    s.set_float("profile_intensity", 800);
                    s.set_int("profile_from_origin", 1);
                    s.set_int("profile_orientation", 3);
                  }),
  };
  const uint64_t allocations = refhost::allocation_count();
  const uint64_t lookups = refhost::lookup_count();
  const uint64_t queries = total_queries();
  for (Light* l : lights)
    for (const double angle : {0.0, 25.0, 45.0, 120.0}) sample(*l, at_angle(angle));
  EXPECT_EQ(refhost::allocation_count(), allocations);
  EXPECT_EQ(refhost::lookup_count(), lookups);
  EXPECT_EQ(total_queries(), queries);
}

// ---- profile branch -------------------------------------------------------------

auto with_profile(miTag profile, int absolute = 1) {
  return [=](refhost::ShaderInstance& s) {
    s.set_int("use_profile", 1);
    s.set_tag("profile", profile);
    s.set_int("absolute_intensity", absolute);
  };
}

TEST_F(Candela, ProfileInAbsoluteAndRelativeMode) {
  Light& absolute = make_light({}, with_profile(graded_profile(), 1));
  ASSERT_EQ(absolute.user->absolute_intensity, 1);
  EXPECT_FLOAT_EQ(sample(absolute, {0, 0, -1}), 100.0f);
  EXPECT_FLOAT_EQ(sample(absolute, {1, 0, 0}), 300.0f);
  EXPECT_FLOAT_EQ(sample(absolute, {0, 0, 1}), 500.0f);

  Light& relative = make_light({}, with_profile(graded_profile(), 0));
  EXPECT_FLOAT_EQ(sample(relative, {0, 0, -1}), 100.0f / kGradedPeak);
  // Eulumdat profiles are always relative.
  Light& eulumdat = make_light({}, with_profile(graded_profile(miLP_STD_EULUMDAT), 1));
  ASSERT_EQ(eulumdat.user->absolute_intensity, 0);
  EXPECT_FLOAT_EQ(sample(eulumdat, {1, 0, 0}), 300.0f / kGradedPeak);
  // The intensity parameters play no part.
  absolute.shader->set_float("intensity", 77);
  EXPECT_FLOAT_EQ(sample(absolute, {0, 0, -1}), 100.0f);
}

TEST_F(Candela, SpotConesOnTopOfAProfileOnlyWhenAsked) {
  for (const int cones : {0, 1}) {
    Light& l = make_light(spot(30), [cones](refhost::ShaderInstance& s) {
      with_profile(graded_profile())(s);
      s.set_int("profile_spot_cones", cones);
      s.set_float("falloff_angle", 40);
    });
    EXPECT_FLOAT_EQ(sample(l, {0, 0, -1}), 100.0f) << "cones " << cones;
    const float outside = sample(l, at_angle(45));
    const float band = sample(l, at_angle(25));
    if (cones == 1) {
      EXPECT_EQ(outside, 0.0f);
      const float factor =
          calc_spotlight_cones(&l.state, at_angle(25), {0, 0, -1}, l.user->spread, l.user->falloff);
      EXPECT_GT(factor, 0.0f);
      EXPECT_LT(factor, 1.0f);
      EXPECT_FLOAT_EQ(band, (100.0f + 25.0f / 45.0f * 100.0f) * factor);
    } else {
      EXPECT_FLOAT_EQ(outside, 200.0f) << "no cone at all";
      EXPECT_FLOAT_EQ(band, 100.0f + 25.0f / 45.0f * 100.0f);
    }
  }
}

// The profile rescaled so that its reference intensity becomes the given one.
TEST_F(Candela, ProfileIntensityOverride) {
  auto override_to = [](int unit, float value, int absolute) {
    return [=](refhost::ShaderInstance& s) {
      with_profile(graded_profile(), absolute)(s);
      s.set_int("override_profile_intensity", 1);
      s.set_int("profile_intensity_unit", unit);
      s.set_float("profile_intensity", value);
    };
  };
  Light& candela = make_light({}, override_to(0, 1000, 1));
  ASSERT_EQ(candela.user->profile_candela, kGradedPeak);
  EXPECT_FLOAT_EQ(sample(candela, {0, 0, -1}), 100.0f * 1000.0f / kGradedPeak);
  EXPECT_FLOAT_EQ(sample(candela, {0, 0, 1}), 1000.0f);

  Light& flux = make_light({}, override_to(1, 2000, 1));
  const auto per_steradian = static_cast<float>(2000.0 / (2.0 * zel::k2Pi));
  EXPECT_FLOAT_EQ(sample(flux, {0, 0, 1}), per_steradian);

  // Relative mode is not rescaled.
  Light& relative = make_light({}, override_to(0, 1000, 0));
  EXPECT_FLOAT_EQ(sample(relative, {0, 0, -1}), 100.0f / kGradedPeak);
}

// A profile without a positive reference intensity cannot be rescaled: it is
// used as it stands rather than divided by zero.
TEST_F(Candela, OverrideOfAProfileWithoutReferenceIntensity) {
  Light& l = make_light({}, [](refhost::ShaderInstance& s) {
    with_profile(graded_profile())(s);
    s.set_int("override_profile_intensity", 1);
    s.set_float("profile_intensity", 1000);
  });
  l.user->profile_candela = 0.0f;  // as a host that gives no answer to the query leaves it
  EXPECT_FLOAT_EQ(sample(l, {0, 0, -1}), 100.0f);
  Light& dark = make_light({}, [](refhost::ShaderInstance& s) {
    with_profile(refhost::add_profile("dark", {{0, 180}, {0}, {0, 0}}))(s);
    s.set_int("override_profile_intensity", 1);
    s.set_float("profile_intensity", 1000);
  });
  ASSERT_EQ(dark.user->profile_candela, 0.0f);
  EXPECT_EQ(sample(dark, {0, 0, -1}), 0.0f);
}

// From the origin: the profile is read along the line from the light's
// centre to the illuminated point, not along the ray from the emitter point.
TEST_F(Candela, ProfileFromTheLightsOrigin) {
  const miVector emitter_point{1, 0, 0};
  const miVector lit_point{1, 0, -1};  // straight below the emitter point, 45° off the centre
  for (const int from_origin : {0, 1}) {
    Light& area = make_light(rectangle(), [from_origin](refhost::ShaderInstance& s) {
      with_profile(graded_profile())(s);
      s.set_int("profile_from_origin", from_origin);
    });
    const float expected = from_origin == 1 ? 200.0f : 100.0f;
    EXPECT_FLOAT_EQ(sample(area, {0, 0, -1}, lit_point, emitter_point), expected)
        << "from origin " << from_origin;
  }
  // A light without an area shape is its own origin: no re-aiming.
  Light& point = make_light({}, [](refhost::ShaderInstance& s) {
    with_profile(graded_profile())(s);
    s.set_int("profile_from_origin", 1);
  });
  EXPECT_FLOAT_EQ(sample(point, {0, 0, -1}, lit_point, emitter_point), 100.0f);
}

// The orientation turns the direction before the lookup: a quarter turn
// about x takes straight down to the horizon (γ = 90°, 300 cd).
TEST_F(Candela, ProfileOrientation) {
  struct Case {
    int orientation;
    float rotation_x;
    float expected;
  };
  const Case cases[] = {{0, 90, 100}, {3, 0, 300},  {2, 0, 300}, {1, 90, 300},
                        {1, 0, 100},  {1, 45, 200}, {9, 90, 100}};
  for (const Case& c : cases) {
    Light& l = make_light({}, [&c](refhost::ShaderInstance& s) {
      with_profile(graded_profile())(s);
      s.set_int("profile_orientation", c.orientation);
      s.set_float("rotation_x", c.rotation_x);
    });
    EXPECT_NEAR(sample(l, {0, 0, -1}), c.expected, 1e-3)
        << "orientation " << c.orientation << ", x " << c.rotation_x;
  }
}

// With the orientation parameter evaluating to 1 on a call, that call's
// angle parameters are used, not the ones the preset gave at init.
TEST_F(Candela, ProfileOrientationAnglesFollowTheParameters) {
  int32_t orientation = 3;
  float angle = 0;
  Light& l = make_light({}, [&](refhost::ShaderInstance& s) {
    with_profile(graded_profile())(s);
    s.connect("profile_orientation",
              [&orientation](miState*, void* out) { std::memcpy(out, &orientation, 4); });
    s.connect("rotation_x", [&angle](miState*, void* out) { std::memcpy(out, &angle, 4); });
  });
  ASSERT_EQ(l.user->profile_orientation, 3);
  EXPECT_NEAR(sample(l, {0, 0, -1}), 300.0f, 1e-3) << "the preset's quarter turn";
  orientation = 1;
  EXPECT_NEAR(sample(l, {0, 0, -1}), 100.0f, 1e-3) << "the parameters: no turn";
  angle = 45;
  EXPECT_NEAR(sample(l, {0, 0, -1}), 200.0f, 1e-3) << "the parameters: 45°";
}

// Without connections the orientation's rotation is built at set-up; with
// one it is built on every ray. The profile must be read in the same
// direction either way, to the bit, for every preset and angle set.
TEST_F(Candela, ProfileTurnBuiltAtSetUpIsTheOneEveryRayWouldBuild) {
  const struct {
    int orientation;
    float x, y, z;
  } cases[] = {{0, 30, 0, 0}, {1, 0, 0, 0}, {1, 45, 0, 0}, {1, 30, 60, -20},
               {2, 10, 0, 0}, {3, 0, 0, 0}, {4, 0, 0, 0},  {5, 0, 0, 0}};
  for (const auto& c : cases) {
    auto configure = [&c](refhost::ShaderInstance& s) {
      with_profile(graded_profile())(s);
      s.set_int("profile_orientation", c.orientation);
      s.set_float("rotation_x", c.x);
      s.set_float("rotation_y", c.y);
      s.set_float("rotation_z", c.z);
    };
    Light& in_place = make_light({}, configure);
    Light& connected = make_light({}, [&configure](refhost::ShaderInstance& s) {
      configure(s);
      s.connect("visible_multiplier", [](miState*, void* out) {
        const float one = 1.0f;
        std::memcpy(out, &one, 4);
      });
    });
    const std::string label = "orientation " + std::to_string(c.orientation);
    EXPECT_EQ(in_place.user->profile_turn_fixed != 0, c.orientation != 0) << label;
    EXPECT_EQ(connected.user->profile_turn_fixed, 0) << label;
    for (const double angle : {0.0, 30.0, 70.0, 135.0})
      EXPECT_EQ(sample(in_place, at_angle(angle)), sample(connected, at_angle(angle)))
          << label << ", " << angle << "°";
  }
}

// The profile's override intensity follows the same rule as the light's
// own: converted at set-up for an instance without connections (except at
// the focus), the same to the bit as the conversion on every ray.
TEST_F(Candela, ProfileOverrideConvertedAtSetUpIsTheOneEveryRayWouldGet) {
  refhost::Geometry floor;
  floor.center = {0, 0, -2};
  refhost::add_instance("floor_i", refhost::add_object("floor", floor), refhost::identity());
  const struct {
    int unit;
    bool fixed;
  } cases[] = {{0, true}, {1, true}, {2, true},  {4, true},
               {5, true}, {6, true}, {3, false}, {7, false}};
  for (const auto& c : cases) {
    auto configure = [&c](refhost::ShaderInstance& s) {
      with_profile(graded_profile())(s);
      s.set_int("override_profile_intensity", 1);
      s.set_int("profile_intensity_unit", c.unit);
      s.set_float("profile_intensity", 777);
      s.set_float("profile_intensity_distance", 1.5f);
      s.set_float("profile_efficacy", 120);
      s.set_int("cosine_distribution", 1);  // flux under a cosine law: the exponent counts
      s.set_float("cosine_exponent", 2.5f);
    };
    Light& in_place = make_light(rectangle(miLIGHT_SPOT), configure);
    Light& connected =
        make_light(rectangle(miLIGHT_SPOT), [&configure](refhost::ShaderInstance& s) {
          configure(s);
          s.connect("visible_multiplier", [](miState*, void* out) {
            const float one = 1.0f;
            std::memcpy(out, &one, 4);
          });
        });
    const std::string label = "unit " + std::to_string(c.unit);
    EXPECT_EQ(in_place.user->override_fixed != 0, c.fixed) << label;
    EXPECT_EQ(connected.user->override_fixed, 0) << label;
    for (const double angle : {0.0, 30.0, 50.0}) {
      const float expected = sample(connected, at_angle(angle));
      EXPECT_EQ(sample(in_place, at_angle(angle)), expected) << label << ", " << angle << "°";
      EXPECT_GT(expected, 0.0f) << label << ", " << angle << "°";
    }
    miColor seen_in_place{1, 1, 1, 1}, seen_connected{1, 1, 1, 1};
    zel_visible_area(&seen_in_place, &in_place.state, in_place.user, in_place.params);
    zel_visible_area(&seen_connected, &connected.state, connected.user, connected.params);
    EXPECT_EQ(seen_in_place.r, seen_connected.r) << label;
    EXPECT_GT(seen_connected.r, 0.0f) << label;
  }
}

}  // namespace
