// The calculator against physics: the numbers it reports for simple scenes
// that have closed forms, worked out here independently of the tool.
#include <cmath>
#include <nlohmann/json.hpp>
#include <tuple>

#include "tests/configuration_factor.h"
#include "tests/lux_fixture.h"
#include "tools/lux/transport/radiosity.h"

namespace {

using json = nlohmann::json;
using zeltest::LuxTest;
using zeltest::polygon_factor;
using zeltest::rectangle_factor;

constexpr double kPi = 3.141592653589793;

json light(const std::string& name, json shape, json shader) {
  json l = std::move(shape);
  l["name"] = name;
  l["shader"] = std::move(shader);
  return l;
}

json surface(const std::string& name, std::vector<double> corner, std::vector<double> u,
             std::vector<double> v, double spacing) {
  return {{"name", name}, {"corner", corner}, {"u", u}, {"v", v}, {"spacing", spacing}};
}

// Illuminance from a point source of intensity I at L on a receiver at P
// facing n, all in metres: I · cos(incidence) / d².
double point_source_lux(double I, lux::Vec3 L, lux::Vec3 P, lux::Vec3 n) {
  const lux::Vec3 to_light = L - P;
  const double d = lux::length(to_light);
  return I * std::max(0.0, lux::dot(n, to_light) / d) / (d * d);
}

// An isotropic point source over a plane: E = I·cos³θ/h² at every point of
// a floor, and I·cos(incidence)/d² on a wall, whatever the scene unit.
TEST_F(LuxTest, PointSourceFollowsInverseSquareAndCosineLaws) {
  struct Case {
    const char* unit;
    double metres;  // one scene unit
    bool wall;
  };
  const Case cases[] = {{"metre", 1, false},
                        {"centimetre", 0.01, false},
                        {"foot", 0.3048, false},
                        {"metre", 1, true}};
  const double I = 250;  // candela
  for (const Case& c : cases) {
    const double k = 1 / c.metres;  // scene units per metre
    json scene = {{"scene_unit", c.unit}, {"samples", 1}};
    scene["lights"] = json::array({light("bulb", {{"position", {0.3 * k, -0.2 * k, 2 * k}}},
                                         {{"intensity", I}, {"intensity_unit", 0}})});
    json s = c.wall ? surface("wall", {1.5 * k, -2 * k, 0}, {0, 4 * k, 0}, {0, 0, 3 * k}, 0.25 * k)
                    : surface("floor", {-2 * k, -2 * k, 0}, {4 * k, 0, 0}, {0, 4 * k, 0}, 0.25 * k);
    if (c.wall) s["normal"] = {-1, 0, 0};
    scene["surfaces"] = json::array({s});
    const lux::Model& model = build(scene.dump());
    const auto results = lux::calculate(model, {});
    ASSERT_EQ(results.size(), 1u);
    const lux::SurfaceResult& r = results[0];
    ASSERT_EQ(r.grid.points.size(), c.wall ? 16u * 12u : 16u * 16u);
    for (size_t p = 0; p < r.grid.points.size(); ++p) {
      const lux::Vec3 P = r.grid.points[p] * c.metres;
      const double expected = point_source_lux(I, {0.3, -0.2, 2}, P, r.grid.normal);
      EXPECT_NEAR(r.lux[p], expected, 1e-4 * expected)
          << c.unit << (c.wall ? " wall" : " floor") << " point " << P.x << ", " << P.y << ", "
          << P.z;
    }
  }
}

// A Lambertian rectangle of flux Φ and area A has the luminance Φ/(πA); a
// point facing it receives E = πL·F = Φ·F/A, F the configuration factor
// from the point to the rectangle.
TEST_F(LuxTest, LambertianRectangleMatchesConfigurationFactor) {
  const double a = 1.2, b = 0.6, h = 2.0, flux = 3000;
  json scene = {{"samples", 1024}};
  scene["lights"] = json::array(
      {light("panel", {{"shape", "rectangle"}, {"size", {a, b}}, {"position", {0, 0, h}}},
             {{"intensity", flux},
              {"intensity_unit", 1},
              {"cosine_distribution", true},
              {"cosine_exponent", 1}})});
  scene["surfaces"] = json::array({surface("floor", {-2.5, -1.5, 0}, {5, 0, 0}, {0, 3, 0}, 0.5)});
  const lux::Model& model = build(scene.dump());
  const auto r = lux::calculate(model, {})[0];
  for (size_t p = 0; p < r.grid.points.size(); ++p) {
    const lux::Vec3 P = r.grid.points[p];
    const double F = rectangle_factor(-a / 2 - P.x, a / 2 - P.x, -b / 2 - P.y, b / 2 - P.y, h);
    const double expected = flux * F / (a * b);
    EXPECT_NEAR(r.lux[p], expected, 0.01 * expected) << "point " << P.x << ", " << P.y;
  }
}

// The mean energy of emitted photons is the light's flux: every light's
// measured flux matches the lumens (or watts × efficacy) it states.
TEST_F(LuxTest, PhotonFluxMatchesStatedFlux) {
  struct Case {
    const char* what;
    json shape;
    json shader;
    const char* unit;
  };
  const Case cases[] = {
      {"isotropic point, lumen",
       json::object(),
       {{"intensity", 1000}, {"intensity_unit", 1}},
       "metre"},
      {"Lambertian rectangle, lumen",
       {{"shape", "rectangle"}, {"size", {0.6, 0.6}}},
       {{"intensity", 3400}, {"intensity_unit", 1}, {"cosine_distribution", true}},
       "metre"},
      {"cosine-squared disc, watt",
       {{"shape", "disc"}, {"radius", 0.1}},
       {{"intensity", 5},
        {"intensity_unit", 4},
        {"efficacy", 120},
        {"cosine_distribution", true},
        {"cosine_exponent", 2}},
       "metre"},
      {"sphere in centimetres, lumen",
       {{"shape", "sphere"}, {"radius", 5}},
       {{"intensity", 800}, {"intensity_unit", 1}},
       "centimetre"},
  };
  for (const Case& c : cases) {
    json l = c.shape;
    l["name"] = "light";
    l["position"] = {0, 0, 2};
    l["shader"] = c.shader;
    json scene = {{"scene_unit", c.unit}, {"lights", json::array({l})}};
    scene["surfaces"] = json::array({surface("floor", {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 1)});
    const lux::Model& model = build(scene.dump());
    lux::CalcOptions options;
    options.threads = 2;
    const lux::FluxResult f = lux::measure_flux(model, 0, 200000, options);
    ASSERT_TRUE(f.stated.has_value()) << c.what;
    EXPECT_NEAR(f.measured, *f.stated, 0.01 * *f.stated) << c.what;
  }
}

// A spot stated in lux at a distance (unit 2) or where its axis meets the
// scene (unit 3, found by the light's probe ray against the occluders)
// gives that illuminance on a surface facing it there.
TEST_F(LuxTest, SpotStatedInLuxGivesThoseLuxWhereStated) {
  struct Case {
    const char* what;
    lux::Vec3 aim;
    json shader;
    lux::Vec3 at;  // where the lux are stated
  };
  const double r2 = std::sqrt(0.5);
  const Case cases[] = {
      {"lux at the focus straight below",
       {0, 0, -1},
       {{"intensity", 800}, {"intensity_unit", 3}},
       {0, 0, 0}},
      {"lux at the focus on a slant",
       {1, 0, -1},
       {{"intensity", 650}, {"intensity_unit", 3}},
       {3, 0, 0}},
      {"lux at 1.5 m on the axis",
       {1, 0, -1},
       {{"intensity", 1200}, {"intensity_unit", 2}, {"intensity_distance", 1.5}},
       {1.5 * r2, 0, 3 - 1.5 * r2}},
  };
  for (const Case& c : cases) {
    // A one-cell surface centred on the point, facing back along the axis.
    const lux::Vec3 n = -lux::normalize(c.aim);
    const lux::Vec3 u{0, 0.1, 0};
    const lux::Vec3 v = lux::cross(n, u);
    const lux::Vec3 corner = c.at - u * 0.5 - v * 0.5;
    json scene = {{"samples", 1}};
    scene["lights"] = json::array({{{"name", "spot"},
                                    {"type", "spot"},
                                    {"position", {0, 0, 3}},
                                    {"aim", {c.aim.x, c.aim.y, c.aim.z}},
                                    {"cone_angle", 40},
                                    {"shader", c.shader}}});
    scene["occluders"] = json::array({{{"name", "floor"},
                                       {"shape", "rectangle"},
                                       {"corner", {-5, -5, 0}},
                                       {"u", {10, 0, 0}},
                                       {"v", {0, 10, 0}}}});
    json s =
        surface("target", {corner.x, corner.y, corner.z}, {u.x, u.y, u.z}, {v.x, v.y, v.z}, 0.1);
    s["normal"] = {n.x, n.y, n.z};
    scene["surfaces"] = json::array({s});
    const lux::Model& model = build(scene.dump());
    const auto r = lux::calculate(model, {})[0];
    ASSERT_EQ(r.lux.size(), 1u) << c.what;
    const double stated = c.shader["intensity"].get<double>();
    EXPECT_NEAR(r.lux[0], stated, 1e-4 * stated) << c.what;
  }
}

// An object made into a light with the light object shader shines like
// any light: a small glowing sphere of flux Φ is, from afar, a point of
// intensity Φ/4π, and its photons carry Φ.
TEST_F(LuxTest, ObjectLightShinesItsStatedFlux) {
  const double flux = 600, h = 2.0;
  json scene = {{"samples", 256}};
  scene["light_objects"] =
      json::array({{{"name", "orb"},
                    {"shape", "sphere"},
                    {"center", {0, 0, h}},
                    {"radius", 0.05},
                    {"shader", {{"intensity", flux}, {"intensity_unit", 1}}}}});
  scene["surfaces"] = json::array({surface("floor", {-2, -2, 0}, {4, 0, 0}, {0, 4, 0}, 0.5)});
  const lux::Model& model = build(scene.dump());
  ASSERT_EQ(model.lights().size(), 1u);
  EXPECT_EQ(model.lights()[0].shape, "object");
  const auto r = lux::calculate(model, {})[0];
  for (size_t p = 0; p < r.grid.points.size(); ++p) {
    const double expected =
        point_source_lux(flux / (4 * kPi), {0, 0, h}, r.grid.points[p], {0, 0, 1});
    EXPECT_NEAR(r.lux[p], expected, 0.01 * expected) << "point " << p;
  }
  const lux::FluxResult f = lux::measure_flux(model, 0, 50000, {});
  EXPECT_NEAR(f.measured, flux, 0.01 * flux);
}

// Whether the segment from L to P passes through the rectangle corner +
// a·u + b·v (0 < a, b < 1) lying in the plane z = corner.z.
bool hidden_by_rectangle(lux::Vec3 L, lux::Vec3 P, lux::Vec3 corner, double du, double dv) {
  const double t = (corner.z - L.z) / (P.z - L.z);
  if (!(t > 0 && t < 1)) return false;
  const lux::Vec3 x = L + (P - L) * t;
  return x.x > corner.x && x.x < corner.x + du && x.y > corner.y && x.y < corner.y + dv;
}

// Whether the segment from L to P passes through the sphere (c, r).
bool hidden_by_sphere(lux::Vec3 L, lux::Vec3 P, lux::Vec3 c, double r) {
  const lux::Vec3 d = P - L;
  const double t = std::clamp(lux::dot(c - L, d) / lux::dot(d, d), 0.0, 1.0);
  return lux::length(L + d * t - c) < r;
}

// An occluder darkens exactly the points it hides from the light, by its
// transparency, and leaves every other point as it was; a light that asks
// for no shadows ignores it.
TEST_F(LuxTest, OccluderDarkensExactlyTheHiddenPoints) {
  // The light sits off the grid's symmetry so that no grid point lies on a
  // shadow's edge.
  const lux::Vec3 L{0.02, 0.01, 3.0};
  json base = {{"samples", 1}};
  base["surfaces"] = json::array({surface("floor", {-2, -2, 0}, {4, 0, 0}, {0, 4, 0}, 0.1)});
  const json bulb = light("bulb", {{"position", {L.x, L.y, L.z}}}, {{"intensity", 100}});

  json open = base;
  open["lights"] = json::array({bulb});
  build(open.dump());
  const auto unshadowed = lux::calculate(*model_, {})[0].lux;

  struct Case {
    const char* what;
    json occluder;
    double transparency;
    bool shadows;
    std::function<bool(lux::Vec3)> hidden;
  };
  const lux::Vec3 corner{-0.5, -0.35, 1.5};
  const auto by_square = [&](lux::Vec3 P) { return hidden_by_rectangle(L, P, corner, 1.0, 0.8); };
  const json square = {{"name", "card"},
                       {"shape", "rectangle"},
                       {"corner", {-0.5, -0.35, 1.5}},
                       {"u", {1.0, 0, 0}},
                       {"v", {0, 0.8, 0}}};
  json tinted = square;
  tinted["transparency"] = 0.25;
  const json ball = {
      {"name", "ball"}, {"shape", "sphere"}, {"center", {0.6, 0.4, 1.2}}, {"radius", 0.3}};
  const Case cases[] = {
      {"opaque card", square, 0.0, true, by_square},
      {"card letting a quarter through", tinted, 0.25, true, by_square},
      {"ball", ball, 0.0, true,
       [&](lux::Vec3 P) {
         return hidden_by_sphere(L, P, {0.6, 0.4, 1.2}, 0.3);
       }},
      {"opaque card, light without shadows", square, 0.0, false, [](lux::Vec3) { return false; }},
  };
  for (const Case& c : cases) {
    json scene = base;
    json l = bulb;
    l["shader"]["shadows"] = c.shadows;
    scene["lights"] = json::array({l});
    scene["occluders"] = json::array({c.occluder});
    const lux::Model& model = build(scene.dump());
    const auto r = lux::calculate(model, {})[0];
    int hidden = 0;
    for (size_t p = 0; p < r.grid.points.size(); ++p) {
      const lux::Vec3 P = r.grid.points[p];
      if (c.hidden(P)) {
        ++hidden;
        EXPECT_NEAR(r.lux[p], c.transparency * unshadowed[p], 1e-6 * unshadowed[p])
            << c.what << ": hidden point " << P.x << ", " << P.y;
      } else {
        EXPECT_EQ(r.lux[p], unshadowed[p]) << c.what << ": open point " << P.x << ", " << P.y;
      }
    }
    if (c.shadows) {
      EXPECT_GT(hidden, 20) << c.what << ": the shadow must cover grid points";
    }
  }
}

// Each grid point's samples depend on the point alone: one thread and two
// give the very same numbers, for the illuminance (direct and
// interreflected) and the photon flux.
TEST_F(LuxTest, ResultsIdenticalForOneAndTwoThreads) {
  lux::Scene scene = lux::load_scene(std::string(ZEL_SOURCE_DIR) + "/examples/office.json");
  scene.samples = 16;
  scene.interreflection.patch_size = 0.5;
  for (auto& s : scene.surfaces) s.spacing = std::max(s.spacing, 0.5);
  lux::Model model(zeltest::plugin(), scene);
  for (auto& l : model.lights()) l.samples = 16;
  lux::CalcOptions one, two;
  one.threads = 1;
  two.threads = 2;
  const auto solved_one = lux::solve_radiosity(model, {1, false});
  const auto solved_two = lux::solve_radiosity(model, {2, false});
  ASSERT_GT(solved_one.patches.size(), 0u);
  for (size_t k = 0; k < solved_one.patches.size(); ++k)
    ASSERT_EQ(solved_one.exitance[k], solved_two.exitance[k]) << "patch " << k;
  const auto a = lux::calculate(model, one, &solved_one);
  const auto b = lux::calculate(model, two, &solved_two);
  ASSERT_EQ(a.size(), b.size());
  for (size_t s = 0; s < a.size(); ++s) {
    ASSERT_EQ(a[s].lux.size(), b[s].lux.size());
    EXPECT_GT(a[s].stats.max, 0) << a[s].name;
    for (size_t p = 0; p < a[s].lux.size(); ++p)
      ASSERT_EQ(a[s].lux[p], b[s].lux[p]) << a[s].name << " point " << p;
    // The figures, gathered row by row on the threads, are the same for
    // both and are those of the whole grid.
    for (const auto& [of_one, of_two, values] :
         {std::tuple{a[s].stats, b[s].stats, a[s].lux},
          std::tuple{a[s].stats_new, b[s].stats_new, a[s].lux_new},
          std::tuple{a[s].direct_stats, b[s].direct_stats, a[s].direct}}) {
      const lux::Stats whole = lux::stats_of(values, a[s].grid.state);
      EXPECT_EQ(of_one.avg, of_two.avg) << a[s].name;
      EXPECT_EQ(of_one.min, whole.min) << a[s].name;
      EXPECT_EQ(of_one.max, whole.max) << a[s].name;
      EXPECT_EQ(of_one.counted, whole.counted) << a[s].name;
      EXPECT_EQ(of_one.masked, whole.masked) << a[s].name;
      EXPECT_NEAR(of_one.avg, whole.avg, 1e-12 * whole.avg) << a[s].name;
    }
  }
  EXPECT_EQ(lux::measure_flux(model, 0, 20000, one).measured,
            lux::measure_flux(model, 0, 20000, two).measured);
}

}  // namespace
