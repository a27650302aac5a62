// The area light's entry as a host sees it: which ray types reach which
// rendering path, what the result starts from, the scales of absolute
// intensity mode, connected parameters, and what a call may cost.
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "refhost/refhost.h"
#include "tests/host_fixture.h"

namespace {

using zeltest::HostTest;

constexpr double kPi = 3.141592653589793;

class Dispatch : public HostTest {
 protected:
  // A sphere light of radius 1 at the origin giving 100 cd; the light
  // rays of the tests reach a point 4 units below it.
  refhost::ShaderInstance& sphere_light(miTag* instance) {
    refhost::LightDesc desc;
    desc.shape = miLIGHT_SPHERE;
    desc.radius = 1;
    *instance = add_light_instance(desc);
    refhost::ShaderInstance& s = lumenfield();
    s.set_float("intensity", 100);
    s.set_color("color", {1, 0.5f, 0.25f, 0.75f});
    return s;
  }
  miState ray(refhost::ShaderInstance& s, miTag instance, int type) {
    miState st = refhost::make_state(&s, &thread_, type, instance);
    st.org = {0, 0, -4};  // the eye of visible rays, the lit point of light rays
    st.dir = {0, 0, -1};
    st.dist = 4.0;
    st.point = {0, 0, -1};
    st.normal = {0, 0, -1};
    return st;
  }
  void init(refhost::ShaderInstance& s, miTag instance) {
    miState st = refhost::make_state(&s, &thread_, miRAY_EYE, instance);
    s.init(&st);
  }
};

// Light rays (4) ask for direct illumination, which follows the distance
// law: 100 cd at 4 units give 100/16. Photon rays emit one photon carrying
// 4π·100. Every other ray sees the surface: π·100 over the sphere's 4π.
// The result keeps the hue of the light's colour and its alpha.
TEST_F(Dispatch, EveryRayTypeReachesItsPath) {
  const std::set<int> photon_types = {8, 9, 10, 11, 12, 13, 14, 15, 18, 19, 23, 24, 27};
  miTag inst = 0;
  refhost::ShaderInstance& s = sphere_light(&inst);
  init(s, inst);
  for (int type = 0; type <= 30; ++type) {
    SCOPED_TRACE("ray type " + std::to_string(type));
    refhost::clear_photons();
    miState st = ray(s, inst, type);
    miColor result{9, 9, 9, 9};
    EXPECT_TRUE(s.call(&result, &st));
    const size_t photons = refhost::photons().size();
    double expected = 0;
    if (type == miRAY_LIGHT) {
      EXPECT_EQ(photons, 0u);
      expected = 100.0 / 16;
    } else if (photon_types.count(type) != 0) {
      ASSERT_EQ(photons, 1u);
      result = refhost::photons().back().energy;
      expected = 4 * kPi * 100;
    } else {
      EXPECT_EQ(photons, 0u);
      expected = kPi * 100 / (4 * kPi);
    }
    EXPECT_NEAR(result.r, expected, 1e-5 * expected);
    EXPECT_NEAR(result.g, expected / 2, 1e-5 * expected);
    EXPECT_NEAR(result.b, expected / 4, 1e-5 * expected);
    EXPECT_EQ(result.a, 0.75f);
  }
}

// Absolute mode: the scene unit's area factor and the multipliers scale
// direct light, photons and the visible surface; photon_multiplier acts on
// photons only, intensity_multiplier on the other two.
TEST_F(Dispatch, AbsoluteModeScales) {
  miTag inst = 0;
  refhost::ShaderInstance& s = sphere_light(&inst);
  s.set_int("scene_unit", 1);  // decimetres: 100 square units per m²
  s.set_float("intensity_multiplier", 2);
  s.set_float("photon_multiplier", 3);
  init(s, inst);

  miState light = ray(s, inst, miRAY_LIGHT);
  miColor direct{};
  ASSERT_TRUE(s.call(&direct, &light));
  EXPECT_NEAR(direct.r, 100.0 / 16 * 100 * 2, 1e-6 * 1250);

  miState photon = ray(s, inst, miRAY_PHOTON_FIRST);
  miColor ignored{};
  ASSERT_TRUE(s.call(&ignored, &photon));
  ASSERT_EQ(refhost::photons().size(), 1u);
  const double flux = 4 * kPi * 100 * 100 * 3;
  EXPECT_NEAR(refhost::photons().back().energy.r, flux, 1e-6 * flux);

  miState eye = ray(s, inst, miRAY_EYE);
  miColor seen{};
  ASSERT_TRUE(s.call(&seen, &eye));
  EXPECT_NEAR(seen.r, 25.0 * 100 * 2, 1e-6 * 5000);
}

// A parameter connected to another shader yields that shader's value, on
// every path.
TEST_F(Dispatch, ConnectedParametersYieldTheirValue) {
  miTag inst = 0;
  refhost::ShaderInstance& s = sphere_light(&inst);
  s.connect("intensity", [](miState*, void* out) { *static_cast<float*>(out) = 40.0f; });
  s.connect("color", [](miState*, void* out) {
    *static_cast<miColor*>(out) = miColor{0.5f, 1, 0.5f, 0.25f};
  });
  init(s, inst);

  struct Case {
    int type;
    double expected;
  };
  for (const Case& c : {Case{miRAY_LIGHT, 40.0 / 16}, Case{miRAY_EYE, 10.0},
                        Case{miRAY_PHOTON_FIRST, 4 * kPi * 40}}) {
    SCOPED_TRACE(c.type);
    refhost::clear_photons();
    miState st = ray(s, inst, c.type);
    miColor result{};
    ASSERT_TRUE(s.call(&result, &st));
    if (c.type == miRAY_PHOTON_FIRST) result = refhost::photons().back().energy;
    EXPECT_NEAR(result.g, c.expected, 1e-5 * c.expected);
    EXPECT_NEAR(result.r, c.expected / 2, 1e-5 * c.expected);
    EXPECT_EQ(result.a, 0.25f);
  }
}

// A call does plain arithmetic: no allocation, no database look-up, no lock,
// and of the host's queries only the instance record's address (51) and, for an
// object light's surface, its area (125).
TEST_F(Dispatch, CallsCostNoAllocationOrLookup) {
  refhost::Geometry ball;
  ball.kind = refhost::Geometry::Sphere;
  ball.radius = 1;
  const miTag object = refhost::add_object("ball", ball);
  refhost::LightDesc object_desc;
  object_desc.shape = miLIGHT_OBJECT;
  object_desc.obj_instance = refhost::add_instance("ball_inst", object, refhost::identity());
  const miTag object_light = add_light_instance(object_desc);

  miTag sphere = 0;
  refhost::ShaderInstance& s = sphere_light(&sphere);
  s.set_int("shadows", 1);
  s.set_float("shadow_transparency", 0.5f);
  init(s, sphere);
  refhost::ShaderInstance& o = lumenfield();
  init(o, object_light);
  refhost::set_photon_recording(false);

  struct Case {
    std::string name;
    refhost::ShaderInstance* shader;
    miTag instance;
    int type;
    uint64_t area_queries;
  };
  const std::vector<Case> cases = {
      {"direct with shadows", &s, sphere, miRAY_LIGHT, 0},
      {"photon", &s, sphere, 12, 0},
      {"visible sphere", &s, sphere, miRAY_EYE, 0},
      {"visible object", &o, object_light, miRAY_EYE, 1},
  };
  const std::vector<int> other_queries = {
      miQ_INST_ITEM,    miQ_INST_GLOBAL_TO_LOCAL, miQ_LIGHT_AREA, miQ_LIGHT_ENERGY,
      miQ_LIGHT_ORIGIN, miQ_LIGHT_AREA_S_RADIUS,  miQ_LIGHT_TYPE, miQ_LIGHTPROFILE_MAXVAL};
  constexpr int kCalls = 50;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t allocations = refhost::allocation_count();
    const uint64_t lookups = refhost::lookup_count();
    const uint64_t locks = refhost::locks_taken();
    const uint64_t records = refhost::query_count(miQ_FUNC_USERPTR);
    const uint64_t areas = refhost::query_count(miQ_LIGHT_OBJ_AREA);
    std::vector<uint64_t> others;
    for (int q : other_queries) others.push_back(refhost::query_count(q));
    for (int i = 0; i < kCalls; ++i) {
      miState st = ray(*c.shader, c.instance, c.type);
      miColor result{};
      c.shader->call(&result, &st);
    }
    EXPECT_EQ(refhost::allocation_count() - allocations, 0u);
    EXPECT_EQ(refhost::lookup_count() - lookups, 0u);
    EXPECT_EQ(refhost::locks_taken() - locks, 0u);
    EXPECT_EQ(refhost::query_count(miQ_FUNC_USERPTR) - records, uint64_t(kCalls));
    EXPECT_EQ(refhost::query_count(miQ_LIGHT_OBJ_AREA) - areas, c.area_queries * kCalls);
    for (size_t k = 0; k < other_queries.size(); ++k)
      EXPECT_EQ(refhost::query_count(other_queries[k]) - others[k], 0u) << other_queries[k];
  }
  refhost::set_photon_recording(true);
}

}  // namespace
