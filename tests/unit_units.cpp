// Units to candela, the spot cone law, the cone compensation, the cosine law
// of flat emitters, the colour rescaling and the spot's focus distance.
#include <barrier>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "shaders/constants.h"
#include "shaders/lumenfield.h"
#include "shaders/lumenfield_math.h"
#include "tests/host_fixture.h"

namespace {

constexpr double kPi = 3.141592653589793;

float cos_deg(double degrees) { return static_cast<float>(std::cos(degrees * kPi / 180.0)); }

// An instance record as set-up leaves it, with the fields a test sets.
struct Record {
  lumenfield_user u{};
  Record() {
    u.unit_factor = 1.0f;
    u.light_type = miLIGHT_POINT;
    u.spot_direction = {0, 0, -1};
    u.spread = -1.0f;
    mi_init_lock(&u.focus_lock);
  }
  ~Record() { mi_delete_lock(&u.focus_lock); }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;
};

class Units : public zeltest::HostTest {
 protected:
  miState state_ = refhost::make_state(nullptr, &thread_, miRAY_LIGHT);
  float convert(Record& r, int unit, float value, float distance = 1.0f, float efficacy = 683.0f,
                float cos_outer = -1.0f, float cos_inner = 0.0f, float exponent = 1.0f) {
    return convert_units_to_candela(&state_, &r.u, unit, value, distance, efficacy, cos_outer,
                                    cos_inner, exponent);
  }
};

TEST_F(Units, CandelaAndUnknownCodesPassThrough) {
  Record r;
  for (const int unit : {0, 8, -1, 100, std::numeric_limits<int>::min()})
    for (const float value : {0.0f, 1.0f, -3.5f, 1234.5f})
      EXPECT_EQ(convert(r, unit, value, 7.0f, 0.0f, 0.5f, 0.9f), value) << "unit " << unit;
}

// Flux over the sphere: Φ / 4π; the solid angle and the quotient in double.
TEST_F(Units, LumensOverTheSphere) {
  Record r;
  for (const float lumens : {1000.0f, 683.0f, 1700.0f, 1.0f}) {
    const auto expected = static_cast<float>(double(lumens) / (2.0 * zel::k2Pi));
    EXPECT_EQ(convert(r, 1, lumens), expected) << lumens << " lm";
    EXPECT_NEAR(convert(r, 1, lumens), double(lumens) / (4 * kPi), 1e-6 * double(lumens));
  }
  // 683 lm is a case where a single-precision quotient would round the other way.
  EXPECT_NE(convert(r, 1, 683.0f), 683.0f / (2.0f * static_cast<float>(zel::k2Pi)));
}

TEST_F(Units, LumensOverACone) {
  Record r;
  struct Case {
    float cos_outer;
    float lumens;
  };
  for (const Case c : {Case{0.9f, 683.0f}, Case{0.5f, 1000.0f}, Case{0.0f, 1700.0f}}) {
    const float one_minus_c = 1.0f - c.cos_outer;
    const auto expected = static_cast<float>(double(c.lumens) / (double(one_minus_c) * zel::k2Pi));
    // No falloff band (inner cone not inside the outer one): no compensation.
    EXPECT_EQ(convert(r, 1, c.lumens, 1, 683, c.cos_outer, c.cos_outer), expected) << c.cos_outer;
    EXPECT_EQ(convert(r, 1, c.lumens, 1, 683, c.cos_outer, 0.0f), expected) << c.cos_outer;
  }
}

// A cosᵉ emitter of flux Φ has the peak Φ(e + 1)/2π; the cosine law only
// applies with no cone.
TEST_F(Units, LumensUnderTheCosineLaw) {
  Record r;
  r.u.cosine_distribution = 1;
  EXPECT_NEAR(convert(r, 1, 1000, 1, 683, -1, 0, 1), 1000 / kPi, 1e-4);
  EXPECT_NEAR(convert(r, 1, 1000, 1, 683, -1, 0, 2), 477.46, 0.005);
  EXPECT_EQ(convert(r, 1, 1000, 1, 683, -1, 0, 1),
            static_cast<float>(1000.0 / (2.0 * zel::k2Pi)) * 4.0f);
  // A cone without band: neither the law nor a compensation.
  EXPECT_EQ(convert(r, 1, 1000, 1, 683, 0.5f, 0.5f, 2),
            static_cast<float>(1000.0 / (0.5 * zel::k2Pi)));
  // The law off: Φ / 4π whatever the exponent.
  r.u.cosine_distribution = 0;
  EXPECT_EQ(convert(r, 1, 1000, 1, 683, -1, 0, 2), convert(r, 1, 1000, 1, 683, -1, 0, 1));
}

// Integrating the peak times cosᵉ over the hemisphere gives back the flux.
TEST_F(Units, CosineLawConservesFlux) {
  Record r;
  r.u.cosine_distribution = 1;
  for (const float e : {1.0f, 2.0f, 3.5f, 10.0f}) {
    const auto peak = double(convert(r, 1, 1000, 1, 683, -1, 0, e));
    constexpr int kSteps = 20000;
    double flux = 0;
    for (int i = 0; i < kSteps; ++i) {
      const double theta = (i + 0.5) * (kPi / 2) / kSteps;
      flux += peak * std::pow(std::cos(theta), e) * 2 * kPi * std::sin(theta) * (kPi / 2) / kSteps;
    }
    EXPECT_NEAR(flux, 1000.0, 1e-3) << "e = " << e;
  }
}

// A hard-edged cone (no band) spreads the flux evenly over its solid angle.
TEST_F(Units, HardConeConservesFlux) {
  Record r;
  for (const double half_angle : {5.0, 30.0, 60.0, 90.0, 120.0}) {
    const float c = cos_deg(half_angle);
    const auto intensity = double(convert(r, 1, 1000, 1, 683, c, c));
    const double solid_angle = 2 * kPi * (1 - std::cos(half_angle * kPi / 180));
    // 1 − c in single precision limits narrow cones to about 1e-5.
    EXPECT_NEAR(intensity * solid_angle, 1000.0, 1e-2) << half_angle << "°";
  }
}

TEST_F(Units, SpotWithFalloffBand) {
  Record r;
  const float c = cos_deg(30);
  const float d = cos_deg(20);
  const double omega = 2 * kPi * (1 - std::cos(30 * kPi / 180));
  const double t_in = std::tan(20 * kPi / 180);
  const double t_out = std::tan(30 * kPi / 180);
  const double compensation = 2 - (t_in * t_in) / (t_out * t_out);
  EXPECT_NEAR(omega, 0.84179, 1e-5);
  EXPECT_NEAR(compensation, 1.60258, 1e-5);
  EXPECT_NEAR(calc_cone_compensation(d, c), compensation, 1e-6);
  EXPECT_NEAR(convert(r, 1, 1000, 1, 683, c, d), 1000 / omega * compensation, 1e-3);
  // The compensation applies even with the cosine law on (the two exclude each other).
  r.u.cosine_distribution = 1;
  EXPECT_NEAR(convert(r, 1, 1000, 1, 683, c, d, 3), 1000 / omega * compensation, 1e-3);
}

TEST_F(Units, ConeCompensationRange) {
  // An inner cone of zero width doubles the peak.
  for (const double outer : {10.0, 30.0, 60.0, 85.0})
    EXPECT_FLOAT_EQ(calc_cone_compensation(1.0f, cos_deg(outer)), 2.0f) << outer << "°";
  // A band of zero width leaves it unchanged; in between it lies in (1, 2).
  for (const double outer : {10.0, 30.0, 60.0, 85.0}) {
    EXPECT_NEAR(calc_cone_compensation(cos_deg(outer), cos_deg(outer)), 1.0f, 1e-5);
    const float mid = calc_cone_compensation(cos_deg(outer / 2), cos_deg(outer));
    EXPECT_GT(mid, 1.0f);
    EXPECT_LT(mid, 2.0f);
  }
}

// Watts are lumens at K lumen per watt.
TEST_F(Units, RadiometricUnitsFollowTheEfficacy) {
  Record r;
  for (const float watts : {1.0f, 3.0f, 10.0f})
    for (const float c : {-1.0f, 0.5f, cos_deg(30)}) {
      EXPECT_NEAR(convert(r, 4, watts, 1, 683, c, c), convert(r, 1, 683 * watts, 1, 683, c, c),
                  2e-6 * double(convert(r, 1, 683 * watts, 1, 683, c, c)))
          << watts << " W, c = " << c;
    }
  // The quotient in double, with 1/K rounded to float first.
  const float per_lumen = 1.0f / 683.0f;
  EXPECT_EQ(convert(r, 4, 1, 1, 683, cos_deg(30), cos_deg(30)),
            static_cast<float>(1.0 / (double(1.0f - cos_deg(30)) * zel::k2Pi * double(per_lumen))));
  EXPECT_EQ(convert(r, 5, 2, 1, 683), 2.0f / per_lumen);
  EXPECT_NEAR(convert(r, 5, 2, 1, 683), 1366.0, 1e-3);
}

TEST_F(Units, ZeroEfficacyGivesNoLight) {
  Record r;
  r.u.light_type = miLIGHT_SPOT;
  for (const int unit : {4, 5, 6, 7})
    EXPECT_EQ(convert(r, unit, 100, 2, 0), 0.0f) << "unit " << unit;
}

// Illuminance E at distance D from a point source of intensity I = E·D²,
// with D² converted from square scene units to square metres.
TEST_F(Units, IlluminanceAtADistance) {
  Record metres;
  Record centimetres;
  centimetres.u.unit_factor = 10000.0f;
  EXPECT_EQ(convert(metres, 2, 5, 2), 20.0f);
  EXPECT_EQ(convert(centimetres, 2, 5, 200), 20.0f);
  EXPECT_EQ(convert(metres, 6, 5, 2, 683), convert(centimetres, 6, 5, 200, 683));
  EXPECT_NEAR(convert(metres, 6, 5, 2, 683), 20.0 * 683, 1e-2);
}

TEST_F(Units, FluxIntoAConeOfNoSolidAngleIsZero) {
  Record r;
  for (const int unit : {1, 4})
    for (const float efficacy : {683.0f, 0.0f}) {
      const float got = convert(r, unit, 1000, 1, efficacy, 1.0f, 1.0f);
      EXPECT_EQ(got, 0.0f) << "unit " << unit << ", K " << efficacy;
    }
}

// ---- spot cone law ----------------------------------------------------------

class Cones : public zeltest::HostTest {
 protected:
  miState state_ = refhost::make_state(nullptr, &thread_, miRAY_LIGHT);
  float cones(miVector dir, float c, float d, miVector axis = {0, 0, -1}) {
    return calc_spotlight_cones(&state_, dir, axis, c, d);
  }
};

TEST_F(Cones, LinearFalloffBetweenTheCones) {
  const float c = cos_deg(30);
  const float d = cos_deg(20);
  struct Case {
    double angle;
    double expected;
  };
  for (const Case k : {Case{0, 1}, Case{10, 1}, Case{19.9, 1}, Case{31, 0}, Case{89, 0},
                       Case{90, 0}, Case{135, 0}, Case{180, 0}}) {
    const miVector dir{static_cast<float>(std::sin(k.angle * kPi / 180)), 0,
                       static_cast<float>(-std::cos(k.angle * kPi / 180))};
    EXPECT_NEAR(cones(dir, c, d), k.expected, 1e-6) << k.angle << "°";
  }
  // Inside the band the factor is linear in the cosine.
  for (const double angle : {21.0, 25.0, 29.0}) {
    const double f = std::cos(angle * kPi / 180);
    const miVector dir{static_cast<float>(std::sin(angle * kPi / 180)), 0, static_cast<float>(-f)};
    EXPECT_NEAR(cones(dir, c, d), (f - double(c)) / (double(d) - double(c)), 1e-5) << angle << "°";
  }
}

TEST_F(Cones, ExactlyOnTheCones) {
  // A direction whose light-space cosine is known exactly.
  const miVector dir{1, 0, -1};
  const float f = zel::dot(zel::normalized(dir), {0, 0, -1});
  EXPECT_EQ(cones(dir, f, cos_deg(10)), 0.0f) << "on the outer cone, with a band";
  EXPECT_EQ(cones(dir, cos_deg(60), f), 1.0f) << "on the inner cone";
  EXPECT_EQ(cones(dir, f, f), 1.0f) << "on the outer cone, no band";
}

TEST_F(Cones, NoBandMeansFullIntensityInside) {
  const float c = cos_deg(40);
  for (const float d : {c, cos_deg(50), -1.0f})
    for (const double angle : {0.0, 20.0, 39.0}) {
      const miVector dir{static_cast<float>(std::sin(angle * kPi / 180)), 0,
                         static_cast<float>(-std::cos(angle * kPi / 180))};
      EXPECT_EQ(cones(dir, c, d), 1.0f) << angle << "°, d = " << d;
    }
}

TEST_F(Cones, NothingBehindTheLightEvenForWideCones) {
  const float c = cos_deg(120);                        // wider than a hemisphere
  EXPECT_EQ(cones({1, 0, 0}, c, cos_deg(100)), 0.0f);  // f = 0
  EXPECT_EQ(cones({1, 0, 0.3f}, c, cos_deg(100)), 0.0f);
  EXPECT_EQ(cones({0, 0, 1}, c, c), 0.0f);
  EXPECT_EQ(cones({1, 0, -0.3f}, c, c), 1.0f);
}

TEST_F(Cones, DirectionIsTakenIntoLightSpace) {
  // The light turned so that its −z axis points along +x in internal space.
  const miTag inst =
      add_light_instance({.type = miLIGHT_SPOT}, refhost::rotate_xyz(0, 90, 0), "turned");
  state_.light_instance = inst;
  const miVector light_axis{0, 0, -1};
  miVector internal_axis{};
  mi_vector_from_light(&state_, &internal_axis, &light_axis);
  EXPECT_NEAR(cones(internal_axis, cos_deg(30), cos_deg(20)), 1.0f, 1e-6);
  EXPECT_EQ(cones(light_axis, cos_deg(30), cos_deg(20)), 0.0f);
  // Unnormalised directions are normalised.
  EXPECT_NEAR(cones({internal_axis.x * 7, internal_axis.y * 7, internal_axis.z * 7}, cos_deg(30),
                    cos_deg(20)),
              1.0f, 1e-6);
}

// ---- cosine law ----------------------------------------------------------------

class CosineLaw : public zeltest::HostTest {
 protected:
  miState state_ = refhost::make_state(nullptr, &thread_, miRAY_LIGHT);
  float law(miVector dir, int shape, float e, miVector a, miVector b = {}) {
    state_.dir = dir;
    return calc_cos_distrib(&state_, shape, e, &a, &b);
  }
};

TEST_F(CosineLaw, RectangleFollowsTheNormalOfItsEdges) {
  const miVector u{2, 0, 0}, v{0, 3, 0};  // normal u × v = +z
  const miVector at60{static_cast<float>(std::sin(kPi / 3)), 0, 0.5f};
  EXPECT_NEAR(law({0, 0, 1}, 1, 1, u, v), 1.0f, 1e-6);
  EXPECT_NEAR(law(at60, 1, 1, u, v), 0.5f, 1e-6);
  EXPECT_NEAR(law(at60, 1, 2, u, v), 0.25f, 1e-6);
  EXPECT_NEAR(law(at60, 1, 3, u, v), 0.125f, 1e-6);
  EXPECT_NEAR(law(at60, 1, 0, u, v), 0.5f, 1e-6) << "exponent 0 gives the plain cosine";
  EXPECT_NEAR(law({0, 0, 5}, 1, 2, u, v), 1.0f, 1e-6) << "the direction is normalised";
  EXPECT_EQ(law({0, 0, -1}, 1, 1, u, v), 0.0f) << "back side";
  EXPECT_EQ(law({1, 0, 0}, 1, 1, u, v), 0.0f) << "grazing";
  EXPECT_EQ(law({0, 0, 1}, 1, 1, v, u), 0.0f) << "edges in the other order face away";
}

// Without an emitter plane there is no angle to measure: no law (factor 1).
TEST_F(CosineLaw, NoPlaneNoLaw) {
  state_.dir = {0, 0, -1};
  EXPECT_EQ(calc_cos_distrib(&state_, miLIGHT_RECTANGLE, 2, nullptr, nullptr), 1.0f);
  EXPECT_EQ(calc_cos_distrib(&state_, miLIGHT_DISC, 2, nullptr, nullptr), 1.0f);
  miVector radius{1, 0, 0};
  EXPECT_EQ(calc_cos_distrib(&state_, miLIGHT_SPHERE, 2, &radius, nullptr), 1.0f);
}

TEST_F(CosineLaw, DiscUsesItsStoredNormalAsItIs) {
  const miVector at60{static_cast<float>(std::sin(kPi / 3)), 0, 0.5f};
  EXPECT_NEAR(law(at60, 2, 1, {0, 0, 1}), 0.5f, 1e-6);
  EXPECT_NEAR(law(at60, 2, 2, {0, 0, 1}), 0.25f, 1e-6);
  EXPECT_NEAR(law(at60, 2, 1, {0, 0, 2}), 1.0f, 1e-6) << "normal not normalised";
  EXPECT_EQ(law({0, 0, -1}, 2, 1, {0, 0, 1}), 0.0f);
}

TEST_F(CosineLaw, DirectionIsTakenIntoLightSpace) {
  // The light turned upside down: its +z faces −z in internal space.
  state_.light_instance =
      add_light_instance({.shape = miLIGHT_DISC}, refhost::rotate_xyz(180, 0, 0), "turned");
  const miVector light_normal{0, 0, 1};
  EXPECT_NEAR(law({0, 0, -1}, 2, 1, light_normal), 1.0f, 1e-6);
  EXPECT_EQ(law({0, 0, 1}, 2, 1, light_normal), 0.0f);
}

// ---- colour rescaling --------------------------------------------------------

TEST(IntensityToEnergy, StrongestComponentBecomesTheTarget) {
  struct Case {
    miColor in;
    float target;
    miColor out;
  };
  const Case cases[] = {
      {{0.5f, 1, 0.25f, 0.7f}, 4, {2, 4, 1, 0.7f}},
      {{2, 1, 0.5f, 0}, 1, {1, 0.5f, 0.25f, 0}},
      {{0.25f, 0.5f, 1, 1}, 8, {2, 4, 8, 1}},
      {{1, 1, 1, 0.3f}, 0, {0, 0, 0, 0.3f}},
  };
  for (const Case& c : cases) {
    miColor rgb = c.in;
    EXPECT_EQ(intensity_to_energy(&rgb, c.target), 1);
    EXPECT_EQ(rgb.r, c.out.r);
    EXPECT_EQ(rgb.g, c.out.g);
    EXPECT_EQ(rgb.b, c.out.b);
    EXPECT_EQ(rgb.a, c.out.a) << "alpha is kept";
  }
}

// A colour without a positive component has no hue to scale: black, alpha kept.
TEST(IntensityToEnergy, NoPositiveComponentStaysBlack) {
  const miColor cases[] = {{0, 0, 0, 0.4f}, {-1, -2, -0.5f, 1}, {0, -1, 0, 1}};
  for (const miColor& c : cases) {
    miColor rgb = c;
    EXPECT_EQ(intensity_to_energy(&rgb, 5), 1);
    EXPECT_EQ(rgb.r, 0.0f);
    EXPECT_EQ(rgb.g, 0.0f);
    EXPECT_EQ(rgb.b, 0.0f);
    EXPECT_EQ(rgb.a, c.a);
  }
}

// ---- spot focus distance ----------------------------------------------------

class Focus : public zeltest::HostTest {
 protected:
  // A spot at `origin` aiming along light-space −z, met by a floor at z = `floor_z`.
  void SetUp() override {
    HostTest::SetUp();
    spot_.u.light_type = miLIGHT_SPOT;
    spot_.u.spot_direction = {0, 0, -1};
  }
  static void add_floor(float z) {
    refhost::Geometry floor;
    floor.kind = refhost::Geometry::Plane;
    floor.center = {0, 0, z};
    floor.normal = {0, 0, 1};
    refhost::add_object("floor", floor);
  }
  float lux_at_focus(Record& r, float lux) {
    return convert_units_to_candela(&state_, &r.u, 3, lux, 0, 683, -1, 0, 1);
  }
  Record spot_;
  miState state_ = refhost::make_state(nullptr, &thread_, miRAY_LIGHT);
};

TEST_F(Focus, NotASpotHasNoFocus) {
  add_floor(-5);
  Record point;
  state_.probe.dist = -1;
  const uint64_t locks = refhost::locks_taken();
  EXPECT_EQ(get_spot_focus_dist(&state_, &point.u), 0.0f);
  EXPECT_EQ(lux_at_focus(point, 10), 0.0f);
  EXPECT_EQ(convert_units_to_candela(&state_, &point.u, 7, 10, 0, 683, -1, 0, 1), 0.0f);
  EXPECT_EQ(refhost::locks_taken(), locks) << "no probe for a light that is not a spot";
  EXPECT_EQ(state_.probe.dist, -1.0);
}

TEST_F(Focus, AMissIsProbedAgainOnTheNextCall) {
  add_floor(+5);  // behind the spot
  for (int call = 0; call < 3; ++call) {
    const uint64_t locks = refhost::locks_taken();
    EXPECT_EQ(lux_at_focus(spot_, 10), 0.0f);
    EXPECT_EQ(refhost::locks_taken() - locks, 1u) << "call " << call;
  }
  EXPECT_EQ(spot_.u.focus_found, 0);
  EXPECT_EQ(spot_.u.focus_distance, 0.0f);
}

// Illuminance E where the spot's axis meets the scene at distance F comes
// from the intensity E·F² (F² in square metres).
TEST_F(Focus, AHitGivesTheIlluminanceAtTheFocus) {
  spot_.u.origin = {0, 0, 2};
  add_floor(-5);
  EXPECT_EQ(lux_at_focus(spot_, 10), 490.0f);
  EXPECT_EQ(spot_.u.focus_found, 1);
  EXPECT_EQ(spot_.u.focus_distance, 7.0f);
  // Found once, then read without the lock.
  const uint64_t locks = refhost::locks_taken();
  EXPECT_EQ(lux_at_focus(spot_, 1), 49.0f);
  EXPECT_EQ(convert_units_to_candela(&state_, &spot_.u, 7, 1, 0, 683, -1, 0, 1),
            49.0f / (1.0f / 683.0f));
  EXPECT_EQ(refhost::locks_taken(), locks);

  Record centimetres;
  centimetres.u.light_type = miLIGHT_SPOT;
  centimetres.u.unit_factor = 10000.0f;
  centimetres.u.origin = {0, 0, 695};  // 700 cm above the floor
  EXPECT_EQ(lux_at_focus(centimetres, 10), 490.0f);
}

TEST_F(Focus, ProbeLeavesTheRayAsItWas) {
  add_floor(-5);
  int marker = 0;
  state_.org = {7, 8, 9};
  state_.dir = {0, 1, 0};
  state_.pri = &marker;
  EXPECT_EQ(get_spot_focus_dist(&state_, &spot_.u), 5.0f);
  EXPECT_EQ(state_.org.x, 7.0f);
  EXPECT_EQ(state_.org.y, 8.0f);
  EXPECT_EQ(state_.org.z, 9.0f);
  EXPECT_EQ(state_.dir.y, 1.0f);
  EXPECT_EQ(state_.pri, &marker);
}

TEST_F(Focus, AxisIsTakenFromLightSpace) {
  // The light turned upside down: its −z axis points up, where the ceiling is.
  state_.light_instance =
      add_light_instance({.type = miLIGHT_SPOT}, refhost::rotate_xyz(180, 0, 0), "upside_down");
  add_floor(3);
  EXPECT_NEAR(get_spot_focus_dist(&state_, &spot_.u), 3.0f, 1e-6);
}

// Many render threads ask one instance for its focus at once: the probe is
// traced exactly once, and every thread reads the distance it found.
TEST_F(Focus, ThreadsShareOneProbe) {
  add_floor(-4);
  constexpr int kThreads = 8;
  constexpr int kCalls = 200;
  std::vector<refhost::ThreadContext> contexts;
  for (int t = 0; t < kThreads; ++t) contexts.emplace_back(t, 7);
  std::vector<miState> states;
  for (auto& c : contexts) {
    states.push_back(refhost::make_state(nullptr, &c, miRAY_LIGHT));
    states.back().probe.dist = -1;  // a probe traced on this state overwrites it
  }
  std::vector<std::vector<float>> seen(kThreads);
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kCalls; ++i)
        seen[size_t(t)].push_back(
            convert_units_to_candela(&states[size_t(t)], &spot_.u, 3, 1.0f, 0, 683, -1, 0, 1));
    });
  for (auto& th : threads) th.join();

  int probes = 0;
  for (const miState& s : states) probes += s.probe.dist != -1.0 ? 1 : 0;
  EXPECT_EQ(probes, 1);
  for (int t = 0; t < kThreads; ++t)
    for (const float v : seen[size_t(t)]) ASSERT_EQ(v, 16.0f) << "thread " << t;
}

}  // namespace
