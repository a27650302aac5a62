// Photon emission: where photons start on each emitter shape, in which
// state they leave, and the energy they carry.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "shaders/constants.h"
#include "tests/paths_fixture.h"

namespace {

using zeltest::distance;
using zeltest::PathsTest;

constexpr double kPi = 3.141592653589793;
constexpr int kPhotons = 4000;

double dot(const miVector& a, const miVector& b) {
  return double(a.x) * double(b.x) + double(a.y) * double(b.y) + double(a.z) * double(b.z);
}
miVector minus(const miVector& a, const miVector& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

class Photon : public PathsTest {
 protected:
  void SetUp() override {
    PathsTest::SetUp();
    state.type = miRAY_PHOTON_FIRST;
  }
  // Emits `n` photons; returns their start points.
  std::vector<miVector> emit(int n, float scale = 1.0f) {
    refhost::clear_photons();
    for (int i = 0; i < n; ++i) {
      miColor result = params.color;
      EXPECT_EQ(zel_photon_photometric(&result, &state, &user, &params, scale), 1);
    }
    std::vector<miVector> starts;
    for (const refhost::Photon& p : refhost::photons()) starts.push_back(p.origin);
    EXPECT_EQ(starts.size(), size_t(n));
    return starts;
  }
};

// Light-space coordinates of each start point along three orthonormal
// internal-space axes through the light's origin.
struct Frame {
  miVector origin, x, y, z;
  miVector coordinates(const miVector& p) const {
    const miVector d = minus(p, origin);
    return {float(dot(d, x)), float(dot(d, y)), float(dot(d, z))};
  }
};

Frame frame_of(const refhost::Matrix& local_to_world) {
  return {refhost::transform_point({0, 0, 0}, local_to_world),
          refhost::transform_vector({1, 0, 0}, local_to_world),
          refhost::transform_vector({0, 1, 0}, local_to_world),
          refhost::transform_vector({0, 0, 1}, local_to_world)};
}

// Every photon starts on the emitter, and the start points cover it: a
// rectangle spans ±|a| along the light's x and ±|b| along its y (whatever
// the edges' directions), a disc fills its radius in the light's x–y
// plane, a cylinder's side lies at its radius about the light's z axis
// within ±|axis|. The light may be turned and moved: the emitter goes with
// it.
TEST_F(Photon, StartPointsLieOnTheEmitter) {
  struct Case {
    std::string name;
    int shape;
    miVector a, b;
  };
  const std::vector<Case> shapes = {
      {"rectangle 1 x 3", miLIGHT_RECTANGLE, {1, 0, 0}, {0, 3, 0}},
      {"rectangle, slanted edges", miLIGHT_RECTANGLE, {0, 0.6f, 0.8f}, {3, 0, 0}},
      {"disc r 1", miLIGHT_DISC, {0, 0, 1}, {1, 0, 0}},
      {"disc r 2.5", miLIGHT_DISC, {0, 0, 1}, {2.5f, 0, 0}},
      {"cylinder r 0.5 axis 2", miLIGHT_CYLINDER, {0, 0, 2}, {0.5f, 0, 0}},
  };
  const std::vector<refhost::Matrix> placements = {
      refhost::identity(),
      refhost::multiply(refhost::rotate_xyz(30, 45, 60), refhost::translate(1, 2, 3)),
      refhost::multiply(refhost::rotate_xyz(90, 0, -120), refhost::translate(-4, 0, 0.5f)),
  };
  for (const Case& c : shapes)
    for (size_t k = 0; k < placements.size(); ++k) {
      SCOPED_TRACE(c.name + ", placement " + std::to_string(k));
      set_shape(c.shape, c.a, c.b);
      place_light(placements[k]);
      const Frame f = frame_of(placements[k]);
      const double la = std::sqrt(dot(c.a, c.a)), lb = std::sqrt(dot(c.b, c.b));
      const double radius = double(c.b.x);
      double reach_x = 0, reach_y = 0, low_z = 0, high_z = 0;
      int inner = 0;
      for (const miVector& p : emit(kPhotons)) {
        const miVector q = f.coordinates(p);
        const double planar = std::hypot(double(q.x), double(q.y));
        switch (c.shape) {
          case miLIGHT_RECTANGLE:
            ASSERT_NEAR(q.z, 0.0, 1e-5);
            ASSERT_LE(std::fabs(q.x), la * (1 + 1e-6));
            ASSERT_LE(std::fabs(q.y), lb * (1 + 1e-6));
            reach_x = std::max(reach_x, std::fabs(double(q.x)) / la);
            reach_y = std::max(reach_y, std::fabs(double(q.y)) / lb);
            break;
          case miLIGHT_DISC:
            ASSERT_NEAR(q.z, 0.0, 1e-5);
            ASSERT_LE(planar, radius * (1 + 1e-6));
            reach_x = std::max(reach_x, planar / radius);
            inner += planar < radius / 2;
            break;
          case miLIGHT_CYLINDER:
            ASSERT_NEAR(planar, radius, 1e-5);
            ASSERT_LE(std::fabs(q.z), la * (1 + 1e-6));
            low_z = std::min(low_z, double(q.z) / la);
            high_z = std::max(high_z, double(q.z) / la);
            break;
        }
      }
      if (c.shape == miLIGHT_RECTANGLE) {
        EXPECT_GT(reach_x, 0.99);
        EXPECT_GT(reach_y, 0.99);
      }
      if (c.shape == miLIGHT_DISC) {
        EXPECT_GT(reach_x, 0.99);
        // Uniform over the area: a quarter of the photons within half the
        // radius.
        EXPECT_NEAR(double(inner) / kPhotons, 0.25, 0.03);
      }
      if (c.shape == miLIGHT_CYLINDER) {
        EXPECT_LT(low_z, -0.99);
        EXPECT_GT(high_z, 0.99);
      }
    }
}

// A sphere's photons start on its surface, spread over all of it; an object
// light and a light without a shape emit from the light's origin.
TEST_F(Photon, SphereSurfaceAndPointOrigin) {
  user.origin = {1, -2, 0.5f};
  set_shape(miLIGHT_SPHERE, {2, 0, 0});
  miVector mean{0, 0, 0};
  for (const miVector& p : emit(kPhotons)) {
    ASSERT_NEAR(distance(p, user.origin), 2.0, 2e-6);
    mean = {mean.x + (p.x - user.origin.x) / kPhotons, mean.y + (p.y - user.origin.y) / kPhotons,
            mean.z + (p.z - user.origin.z) / kPhotons};
  }
  // The centroid of a uniform sphere is its centre (standard error of each
  // coordinate 2/√(3·4000) ≈ 0.018).
  EXPECT_LT(std::sqrt(dot(mean, mean)), 0.1);

  for (const int shape : {miLIGHT_OBJECT, miLIGHT_NONE}) {
    SCOPED_TRACE(shape);
    set_shape(shape);
    for (const miVector& p : emit(200)) EXPECT_EQ(distance(p, user.origin), 0.0);
  }
}

// The photon leaves along a unit direction from its start point, and the
// state keeps the ray and the point one unit along it, where the candela
// sampling looked.
TEST_F(Photon, StateCarriesTheEmittedRay) {
  set_shape(miLIGHT_DISC, {0, 0, 1}, {1, 0, 0});
  for (int i = 0; i < 100; ++i) {
    miColor result{1, 1, 1, 1};
    zel_photon_photometric(&result, &state, &user, &params, 1.0f);
    const refhost::Photon p = refhost::photons().back();
    EXPECT_EQ(distance(p.origin, state.org), 0.0);
    EXPECT_EQ(distance(p.direction, state.dir), 0.0);
    EXPECT_NEAR(std::sqrt(dot(p.direction, p.direction)), 1.0, 1e-6);
    EXPECT_NEAR(distance(state.point, {p.origin.x + p.direction.x, p.origin.y + p.direction.y,
                                       p.origin.z + p.direction.z}),
                0.0, 1e-6);
  }
}

// Photon energy. Relative mode: a candela value of 1 becomes 4π (the flux
// of a unit isotropic intensity), tinted by the light's energy colour.
// Absolute mode: the candela value times the entry's photon scale, tinted by
// the output scale. The colour's hue is kept, its alpha untouched.
TEST_F(Photon, EnergyInBothModes) {
  struct Case {
    std::string name;
    int absolute;
    float scale;
    double peak;  // energy of the strongest channel before the tint
    miColor tint;
  };
  const float scale = float(7 * zel::k4Pi);
  const std::vector<Case> cases = {
      {"relative", 0, scale, 4 * kPi, {1, 0.5f, 0.25f, 1}},
      {"absolute", 1, scale, 100.0 * double(scale), {0.5f, 2, 3, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    user.absolute_intensity = c.absolute;
    // Relative mode only occurs with a profile; none was found, so the
    // candela sampling answers 1.
    params.use_profile = c.absolute == 0;
    user.energy = {1, 0.5f, 0.25f, 1};
    user.output_scale = {0.5f, 2, 3, 1};
    params.color = {1, 0.5f, 0.5f, 0.75f};
    emit(1, c.scale);
    const miColor e = refhost::photons().back().energy;
    EXPECT_NEAR(e.r, c.peak * 1.0 * double(c.tint.r), 1e-6 * c.peak);
    EXPECT_NEAR(e.g, c.peak * 0.5 * double(c.tint.g), 1e-6 * c.peak);
    EXPECT_NEAR(e.b, c.peak * 0.5 * double(c.tint.b), 1e-6 * c.peak);
    EXPECT_EQ(e.a, 0.75f);
  }
}

}  // namespace
