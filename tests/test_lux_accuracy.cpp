// The calculator's error-controlled emitter sampling against closed forms:
// without a fixed count of emitter points, every grid point must come within
// the stated accuracy of the exact configuration-factor illuminance, near
// the emitter and at grazing incidence alike, with fewer points far away.
#include <cmath>
#include <nlohmann/json.hpp>

#include "tests/configuration_factor.h"
#include "tests/lux_fixture.h"

namespace {

using json = nlohmann::json;
using zeltest::LuxTest;
using zeltest::polygon_factor;
using zeltest::rectangle_factor;

constexpr double kPi = 3.141592653589793;
constexpr double kFlux = 3000;  // lumen of every test emitter

json lambertian(json light) {
  light["shader"] = {{"intensity", kFlux},
                     {"intensity_unit", 1},
                     {"cosine_distribution", true},
                     {"cosine_exponent", 1}};
  return light;
}

json surface(const std::string& name, lux::Vec3 corner, lux::Vec3 u, lux::Vec3 v, double spacing,
             lux::Vec3 normal) {
  return {{"name", name},         {"corner", {corner.x, corner.y, corner.z}},
          {"u", {u.x, u.y, u.z}}, {"v", {v.x, v.y, v.z}},
          {"spacing", spacing},   {"normal", {normal.x, normal.y, normal.z}}};
}

// Configuration factor from a point at height h, a distance a off the axis
// of a parallel disc of radius r, facing it.
double disc_factor(double r, double a, double h) {
  const double s = h * h + a * a + r * r;
  return 0.5 * (1 - (h * h + a * a - r * r) / std::sqrt(s * s - 4 * a * a * r * r));
}

// The closed forms agree where both apply: Lambert's contour integral over a
// parallel rectangle is the sum of corner rectangles.
TEST(ConfigurationFactor, PolygonFormulaMatchesCornerRectangles) {
  const lux::Vec3 points[] = {{0, 0, 0}, {0.2, -0.1, 0}, {0.9, 0.4, 0}, {-2, 3, 1.5}};
  for (const lux::Vec3& P : points) {
    const double h = 2.0 - P.z;
    const std::vector<lux::Vec3> corners = {
        {-0.6, -0.3, 2}, {0.6, -0.3, 2}, {0.6, 0.3, 2}, {-0.6, 0.3, 2}};
    EXPECT_NEAR(polygon_factor(P, {0, 0, 1}, corners),
                rectangle_factor(-0.6 - P.x, 0.6 - P.x, -0.3 - P.y, 0.3 - P.y, h), 1e-12)
        << P.x << ", " << P.y;
  }
}

// A Lambertian emitter of flux Φ and area A gives E = Φ·F/A. With the
// default accuracy (0.1 %) and a finer one, every point of a floor under a
// low panel, of a wall beside it up to the panel's own plane (grazing light),
// of a tilted plane that cuts the panel in half, of the ceiling around it
// (in its plane: none) and of a floor under a disc lies within that
// accuracy of the closed form.
TEST_F(LuxTest, DefaultAccuracyHoldsAgainstConfigurationFactors) {
  const double kSin30 = 0.5, kCos30 = std::sqrt(3.0) / 2;
  const double a = 0.6, b = 0.6, h = 2.8;
  const json panel = lambertian(
      {{"name", "panel"}, {"shape", "rectangle"}, {"size", {a, b}}, {"position", {0, 0, h}}});
  const double r = 0.4;
  const json disc =
      lambertian({{"name", "disc"}, {"shape", "disc"}, {"radius", r}, {"position", {0, 0, h}}});
  const std::vector<lux::Vec3> panel_corners = {
      {-a / 2, -b / 2, h}, {a / 2, -b / 2, h}, {a / 2, b / 2, h}, {-a / 2, b / 2, h}};
  struct Case {
    const char* what;
    json light;
    json surface;
    double area;
  };
  const Case cases[] = {
      {"floor 0.3 m under a panel", panel,
       surface("floor", {-1, -1, h - 0.3}, {2, 0, 0}, {0, 2, 0}, 0.2, {0, 0, 1}), a * b},
      {"wall beside a panel, up to its plane", panel,
       surface("wall", {-1.5, 0.6, 0}, {3, 0, 0}, {0, 0, h}, 0.2, {0, -1, 0}), a * b},
      {"floor under a disc", disc,
       surface("floor", {-2, -2, h - 1.0}, {4, 0, 0}, {0, 4, 0}, 0.4, {0, 0, 1}), kPi * r * r},
      // A plane through the panel's middle line, tilted 30° from the
      // vertical: every point of it sees exactly the half y > 0.
      {"tilted plane through the panel", panel,
       surface("tilted", {-1, 0.1 * kSin30, h - 0.1 * kCos30}, {2, 0, 0},
               {0, 1.4 * kSin30, -1.4 * kCos30}, 0.2, {0, kCos30, kSin30}),
       a * b},
      // The ceiling around the panel, in the panel's own plane: no light.
      {"ceiling beside the panel", panel,
       surface("ceiling", {-1.5, 0.5, h}, {3, 0, 0}, {0, 1, 0}, 0.2, {0, 0, -1}), a * b},
  };
  const std::vector<lux::Vec3> front_half = {
      {-a / 2, 0, h}, {a / 2, 0, h}, {a / 2, b / 2, h}, {-a / 2, b / 2, h}};
  for (const double accuracy : {1e-3, 1e-4}) {
    for (const Case& c : cases) {
      json scene;
      scene["lights"] = json::array({c.light});
      scene["surfaces"] = json::array({c.surface});
      if (accuracy != lux::kDefaultAccuracy) scene["accuracy"] = accuracy;
      const lux::Model& model = build(scene.dump());
      ASSERT_EQ(model.lights()[0].samples, 0) << "no fixed count unless one is set";
      const auto res = lux::calculate(model, {})[0];
      for (size_t p = 0; p < res.grid.points.size(); ++p) {
        const lux::Vec3 P = res.grid.points[p];
        const std::string what = c.what;
        const double F = c.light["shape"] == "disc" ? disc_factor(r, std::hypot(P.x, P.y), h - P.z)
                         : what == "ceiling beside the panel" ? 0.0
                         : what == "tilted plane through the panel"
                             ? polygon_factor(P, res.grid.normal, front_half)
                             : polygon_factor(P, res.grid.normal, panel_corners);
        const double expected = kFlux * F / c.area;
        EXPECT_NEAR(res.lux[p], expected, accuracy * expected)
            << c.what << ", accuracy " << accuracy << ", point " << P.x << ", " << P.y << ", "
            << P.z;
      }
    }
  }
}

// The control spends its calls where the light subtends much: a far point
// sees the panel as a point (one call), a near one needs many, and the
// count grows as the accuracy tightens. A fixed count stays exactly that.
TEST_F(LuxTest, EmitterPointsFollowTheAngleTheLightSubtends) {
  json scene;
  scene["lights"] = json::array({lambertian(
      {{"name", "panel"}, {"shape", "rectangle"}, {"size", {0.6, 0.6}}, {"position", {0, 0, 3}}})});
  scene["surfaces"] = json::array({{{"name", "floor"},
                                    {"corner", {0, 0, 0}},
                                    {"u", {1, 0, 0}},
                                    {"v", {0, 1, 0}},
                                    {"spacing", 1}}});
  const lux::Model& model = build(scene.dump());
  const refhost::SceneLight& light = model.lights()[0].scene;
  refhost::ThreadContext thread(0, 1);
  const auto calls_at = [&](double height, refhost::EmitterSampling sampling) {
    int calls = -1;
    refhost::illuminance(light, {0.1f, 0.05f, float(3 - height)}, {0, 0, 1}, sampling, thread,
                         &calls);
    return calls;
  };
  EXPECT_EQ(calls_at(100, {0, 1e-3}), 1);
  const int far = calls_at(2, {0, 1e-3}), near = calls_at(0.2, {0, 1e-3});
  EXPECT_GE(far, 4);
  EXPECT_LE(far, 16);
  EXPECT_GT(near, 4 * far);
  EXPECT_LT(near, 2000);
  EXPECT_GT(calls_at(2, {0, 1e-5}), far);
  EXPECT_EQ(calls_at(2, {64, 1e-3}), 64);
  EXPECT_EQ(calls_at(-1, {0, 1e-3}), 0) << "a point above the panel sees its back";
}

// Without a fixed count too, one thread and two give the very same numbers.
TEST_F(LuxTest, ControlledSamplingIdenticalForOneAndTwoThreads) {
  lux::Scene scene = lux::load_scene(std::string(ZEL_SOURCE_DIR) + "/examples/office.json");
  scene.samples = 0;
  lux::Model model(zeltest::plugin(), scene);
  lux::CalcOptions one, two;
  two.threads = 2;
  const auto x = lux::calculate(model, one);
  const auto y = lux::calculate(model, two);
  ASSERT_EQ(x.size(), y.size());
  for (size_t s = 0; s < x.size(); ++s) {
    // The panels are flush in the ceiling: every face but the ceiling is lit.
    if (x[s].name != "ceiling") {
      EXPECT_GT(x[s].stats.max, 0) << x[s].name;
    }
    ASSERT_EQ(x[s].lux, y[s].lux) << x[s].name;
  }
}

// The scene's accuracy: a number within the range the control supports;
// absent, the default; a fixed count overrides it per light.
TEST_F(LuxTest, SceneAccuracyIsReadAndChecked) {
  const auto scene_with = [](json extra) {
    json s;
    s["lights"] = json::array({lambertian({{"name", "p"},
                                           {"shape", "rectangle"},
                                           {"size", {1, 1}},
                                           {"position", {0, 0, 2}},
                                           {"samples", 8}}),
                               lambertian({{"name", "q"}, {"position", {1, 0, 2}}})});
    s["surfaces"] = json::array({{{"name", "floor"},
                                  {"corner", {0, 0, 0}},
                                  {"u", {1, 0, 0}},
                                  {"v", {0, 1, 0}},
                                  {"spacing", 1}}});
    if (extra.is_object()) s.update(extra);
    return s.dump();
  };
  const lux::Model& m = build(scene_with({{"accuracy", 0.01}}));
  EXPECT_EQ(m.lights()[0].samples, 8);
  EXPECT_EQ(m.lights()[1].samples, 0);
  EXPECT_EQ(m.lights()[1].accuracy, 0.01);
  EXPECT_EQ(build(scene_with(json::object())).lights()[1].accuracy, lux::kDefaultAccuracy);
  EXPECT_EQ(build(scene_with({{"samples", 32}})).lights()[1].samples, 32);
  for (const double bad : {0.0, -0.001, 0.5, 1e-9})
    EXPECT_THROW(build(scene_with({{"accuracy", bad}})), lux::Error) << bad;
}

}  // namespace
