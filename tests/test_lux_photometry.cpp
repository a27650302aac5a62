// Luminaire photometry in the calculator: polar curves and diagrams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/lux_fixture.h"
#include "tools/lux/cli/cli.h"
#include "tools/lux/model/photometry.h"
#include "tools/lux/model/photometry_light.h"
#include "tools/lux/report/polar.h"
#include "tools/lux/scene/scene.h"

namespace {

namespace fs = std::filesystem;

constexpr double kDegToRad = 3.141592653589793 / 180.0;

// A table that differs in every C plane away from the axis: on the lower
// hemisphere I(γ, C) = 100 + 200 cos γ + 50 (1 + C / 360) sin γ, so that
// each plane can be told apart; nothing above the horizon.
double marked_candela(double g, double c) {
  return g <= 90
             ? 100 + 200 * std::cos(g * kDegToRad) + 50 * (1 + c / 360) * std::sin(g * kDegToRad)
             : 0.0;
}

refhost::ProfileTable plane_marked_table() {
  refhost::ProfileTable t;
  for (int g = 0; g <= 180; g += 5) t.vertical.push_back(g);
  for (int c = 0; c <= 360; c += 15) t.horizontal.push_back(c);
  for (double c : t.horizontal)
    for (double g : t.vertical) t.candela.push_back(static_cast<float>(marked_candela(g, c)));
  return t;
}

std::string head_of(const fs::path& p, size_t n) {
  std::ifstream f(p, std::ios::binary);
  std::string s(n, '\0');
  f.read(s.data(), std::streamsize(n));
  s.resize(size_t(f.gcount()));
  return s;
}

TEST(PolarCurves, FollowTheTableInBothPrincipalPlanes) {
  const refhost::ProfileTable t = plane_marked_table();
  const double scale = 1000.0 / 2500.0;  // cd to cd/klm of a 2500 lm lamp
  const lux::PolarCurves c = lux::polar_curves(t, scale, 5.0);
  ASSERT_EQ(c.gamma.size(), 37u);
  const struct {
    const std::vector<double>* side;
    double c_deg;
  } halves[] = {{&c.c0_c180.right, 0},
                {&c.c0_c180.left, 180},
                {&c.c90_c270.right, 90},
                {&c.c90_c270.left, 270}};
  double peak = 0;
  for (const auto& h : halves)
    for (size_t k = 0; k < c.gamma.size(); ++k) {
      const double g = c.gamma[k];
      const double want = marked_candela(g, h.c_deg) * scale;
      peak = std::max(peak, want);
      EXPECT_NEAR((*h.side)[k], want, 1e-4) << "C" << h.c_deg << " gamma " << g;
    }
  EXPECT_NEAR(c.peak(), peak, 1e-4);
  EXPECT_EQ(c.unit, "cd/klm");
}

TEST(PolarDiagram, WritesEachFormatAndNamesAFileItCannotWrite) {
  const lux::PolarCurves c = lux::polar_curves(plane_marked_table(), 1.0);
  const fs::path dir = fs::path(::testing::TempDir()) / "polar";
  fs::create_directories(dir);
  const struct {
    const char* name;
    std::string magic;
  } cases[] = {{"d.png", "\x89PNG"}, {"d.svg", "<?xml"}, {"d.pdf", "%PDF"}};
  for (const auto& k : cases) {
    const auto format = lux::polar_format_named(k.name);
    ASSERT_TRUE(format.has_value()) << k.name;
    const fs::path p = dir / k.name;
    lux::write_polar(c, "test", p, *format, 200);
    EXPECT_EQ(head_of(p, k.magic.size()), k.magic) << k.name;
  }
  EXPECT_EQ(lux::polar_format_named("x.PDF"), lux::PolarFormat::Pdf);
  EXPECT_FALSE(lux::polar_format_named("x.jpg").has_value());
  const fs::path bad = dir / "no-such-dir" / "d.png";
  try {
    lux::write_polar(c, "test", bad, lux::PolarFormat::Png);
    FAIL() << "wrote into a missing directory";
  } catch (const lux::Error& e) {
    EXPECT_NE(std::string(e.what()).find(bad.string()), std::string::npos) << e.what();
  }
}

}  // namespace

namespace {

// The shared test data beside the project root; ZEL_SHARED_DIR in the
// environment points elsewhere.
fs::path shared_profiles() {
  const char* env = std::getenv("ZEL_SHARED_DIR");
  return fs::path(env != nullptr ? env : ZEL_SHARED_DIR) / "profiles";
}

// The integrated flux the shared profiles' README gives for each file.
struct KnownFlux {
  const char* file;
  double lumen;
};
const KnownFlux kKnownFlux[] = {
    {"1.IES", 9217.18},
    {"3.IES", 13359.57},
    {"8.IES", 828.32},
    {"2.2.ies", 29972.58},
    {"ELM2_LED.ies", 80.01},
    {"WP_2_32.ies", 3317.94},
    {"test2.ies", 241.96},
    {"Indoor_60W_120G_5300LM_5000K_OVNI.ies", 5300.87},
    {"LDP0109501.ies", 1900.01},
    {"S01.01.02.354_MAXWELL-8-T4 LUXEON 5050 Square with glass-MEASURED_IESNA.ies", 999.93},
    {"Testlamp_Isym2_theta180+_erco_33499000_1xqt32_230w.IES", 1778.61},
    {"iesna2002_example_typec.ies", 105420.77},
    {"example.ldt", 5140.40},
    {"Testlamp_Isym1_007cfb11e343e2f42e3b476be4ab684e.ldt", 321.57},
    {"Testlamp_Isym2_theta180+_erco_33499000_1xqt32_230w.ldt", 1778.62},
    {"Testlamp_Isym3_symmetryOverC90C270axis.ldt", 6151.00},
    {"demo_two_lamp_sets.ldt", 7295.67},
    {"road_luminaire.ldt", 27924.36},
};

TEST(ProfileSummary, IntegratedFluxOfEverySharedProfileMatchesItsReadme) {
  const fs::path dir = shared_profiles();
  if (!fs::exists(dir)) GTEST_SKIP() << "no shared profiles at " << dir;
  for (const auto& k : kKnownFlux) {
    const fs::path p = dir / k.file;
    const lux::PhotometricFile f = lux::read_photometric_file(p, lux::format_of(p));
    const lux::ProfileSummary s = lux::summarise(f);
    EXPECT_NEAR(s.flux, k.lumen, 1e-3 * k.lumen) << k.file;
  }
}

}  // namespace

namespace {

using zeltest::LuxTest;

// A scene with one light at the origin's height, the given light JSON.
std::string one_light_scene(const std::string& profiles, const std::string& light) {
  return R"({"profiles": [)" + profiles + R"(], "lights": [)" + light +
         R"(], "surfaces": [{"name": "floor", "corner": [-1, -1, 0], "u": [2, 0, 0],
             "v": [0, 2, 0], "spacing": 1}]})";
}

double photon_flux(const lux::Model& model, int photons) {
  lux::CalcOptions options;
  options.threads = 2;
  return lux::measure_flux(model, 0, photons, options).measured;
}

// Flux of a light by photons, with the standard error of the mean: each
// photon's energy over the square scene units per square metre.
struct PhotonFlux {
  double mean = 0, sigma = 0;
};
PhotonFlux photon_flux_with_noise(const lux::Model& model, int photons) {
  const lux::Light& light = model.lights().front();
  refhost::set_photon_recording(false);
  refhost::ThreadContext thread(0, 7);
  double sum = 0, sum2 = 0;
  for (int k = 0; k < photons; ++k) {
    miState state =
        refhost::make_state(light.shader.get(), &thread, miRAY_PHOTON_FIRST, light.scene.instance);
    miColor e{};
    light.shader->call(&e, &state);
    const double v = double(std::max({e.r, e.g, e.b}));
    sum += v;
    sum2 += v * v;
  }
  refhost::set_photon_recording(true);
  const double area = model.scene().unit.area_factor();
  const double mean = sum / photons;
  const double var = std::max(0.0, sum2 / photons - mean * mean);
  return {mean / area, std::sqrt(var / photons) / area};
}

// For every EULUMDAT file of the shared profiles, the light emits the
// luminaire flux the file states (lamp set 1's flux times the light output
// ratio; the flux line itself for absolute photometry): the tables
// integrate to within 0.6% of it. The light's direct path, integrated over
// a fine grid of directions, must give it within 1%, and its photons too,
// within 1% plus three standard errors of their mean.
TEST_F(LuxTest, EulumdatCandelaFromTheFileGivesItsStatedOutput) {
  const fs::path dir = shared_profiles();
  if (!fs::exists(dir)) GTEST_SKIP() << "no shared profiles at " << dir;
  const struct {
    const char* file;
    double stated;
  } cases[] = {{"example.ldt", 5134},
               {"Testlamp_Isym1_007cfb11e343e2f42e3b476be4ab684e.ldt", 321},
               {"Testlamp_Isym2_theta180+_erco_33499000_1xqt32_230w.ldt", 1783.5},
               {"Testlamp_Isym3_symmetryOverC90C270axis.ldt", 6151},
               {"demo_two_lamp_sets.ldt", 7338.24},
               {"road_luminaire.ldt", 28027.4}};
  for (const auto& c : cases) {
    const std::string profile = R"({"name": "p", "file": ")" + (dir / c.file).string() + R"("})";
    // In centimetres, so that the square scene units per square metre count.
    lux::Model& m = build(R"({"scene_unit": "cm", )" +
                          one_light_scene(profile, R"({"name": "l", "position": [0, 0, 300],
                "shader": {"use_profile": true, "profile_name": "p"}})")
                              .substr(1));
    lux::Light& light = m.lights().front();
    ASSERT_TRUE(light.stated_flux.has_value()) << c.file;
    EXPECT_NEAR(*light.stated_flux, c.stated, 0.05) << c.file;
    EXPECT_TRUE(light.caveats.empty()) << c.file << ": " << light.caveats.front();
    const double direct = lux::emitted_flux(light, scene_->lights.front(), *scene_);
    EXPECT_NEAR(direct, c.stated, 0.01 * c.stated) << c.file;
    const PhotonFlux photons = photon_flux_with_noise(m, 200000);
    EXPECT_NEAR(photons.mean, c.stated, 0.01 * c.stated + 3 * photons.sigma) << c.file;
    std::printf(
        "%-56s stated %8.1f lm, direct path %8.1f lm (%+.2f%%), photons %8.1f +- %.1f lm "
        "(%+.2f%%)\n",
        c.file, c.stated, direct, 100 * (direct - c.stated) / c.stated, photons.mean, photons.sigma,
        100 * (photons.mean - c.stated) / c.stated);
  }
}

// An IES file written for the test: absolute photometry (−1 lm per lamp),
// rotationally symmetric, I(γ) = 800 cos γ + 200 below the horizon and
// 100 (1 − (γ − 90) / 90) above it.
fs::path write_test_ies() {
  std::string text =
      "IESNA:LM-63-2002\n[TEST] flux scaling\nTILT=NONE\n1 -1 1 19 1 1 2 0 0 0\n1 1 50\n";
  std::vector<double> g;
  for (int k = 0; k <= 180; k += 10) g.push_back(k);
  for (double a : g) text += std::to_string(a) + " ";
  text += "\n0\n";
  for (double a : g)
    text +=
        std::to_string(a <= 90 ? 800 * std::cos(a * kDegToRad) + 200 : 100 * (1 - (a - 90) / 90)) +
        " ";
  text += "\n";
  const fs::path p = fs::path(::testing::TempDir()) / "flux_scaling.ies";
  std::ofstream(p, std::ios::binary) << text;
  return p;
}

// A light given "flux" emits that flux: checked against the closed form of
// what the scaled parameters emit (spot: I₀ 2π [(1 − cos θᵢ) + (cos θᵢ −
// cos θₒ) / 2] with the linear falloff in the cosine; cosine law: π I₀; a
// profile: its table's zonal integral), and by photons within their noise.
TEST_F(LuxTest, FluxScalingGivesTheAskedFlux) {
  const fs::path ies = write_test_ies();
  const std::string profile = R"({"name": "p", "file": ")" + ies.string() + R"("})";
  const double spot_outer = 60 * kDegToRad, spot_inner = 35 * kDegToRad;
  const double spot_solid =
      2 * 3.141592653589793 *
      ((1 - std::cos(spot_inner)) + (std::cos(spot_inner) - std::cos(spot_outer)) / 2);
  lux::PhotometricFile table = lux::read_photometric_file(ies, 1);
  const double table_flux = lux::zonal_flux(table.table);
  const struct {
    const char* name;
    std::string light;
    double flux_per_unit;  // lumen the light emits per unit of its scaled value
    double unit;           // the unscaled value
  } cases[] = {
      {"profile", R"({"name": "l", "position": [0, 0, 3], "flux": 2500,
          "shader": {"use_profile": true, "profile_name": "p", "absolute_intensity": true}})",
       table_flux / 1000.0, 1000.0},
      {"spot", R"({"name": "l", "type": "spot", "cone_angle": 120, "position": [0, 0, 3],
          "flux": 1200, "shader": {"intensity": 50, "falloff_angle": 70}})",
       spot_solid, 50},
      {"panel", R"({"name": "l", "shape": "rectangle", "size": [0.6, 0.6], "position": [0, 0, 3],
          "flux": 3400, "shader": {"intensity": 40, "cosine_distribution": true}})",
       3.141592653589793, 40},
  };
  for (const auto& c : cases) {
    lux::Model& m = build(one_light_scene(profile, c.light));
    const lux::Light& light = m.lights().front();
    const double asked = light.photometry["flux"]["asked_lm"].get<double>();
    const double factor = light.photometry["flux"]["factor"].get<double>();
    const double closed_form = c.unit * factor * c.flux_per_unit;
    EXPECT_NEAR(closed_form, asked, 0.005 * asked) << c.name;
    const double measured = photon_flux(m, 100000);
    EXPECT_NEAR(measured, asked, 0.02 * asked) << c.name;
    std::printf("%-8s asked %7.1f lm, closed form %8.2f lm (%+.3f%%), photons %8.1f lm (%+.2f%%)\n",
                c.name, asked, closed_form, 100 * (closed_form - asked) / asked, measured,
                100 * (measured - asked) / asked);
  }
}

// A data sheet's polar diagram is in cd/klm: of the lamps' flux when the
// file states it, else (absolute photometry) of the luminaire's own flux,
// said so. The test file is absolute and rotationally symmetric, so its
// drawn curve, integrated over the sphere (2π ∫ I sin γ dγ), is 1000 lm.
TEST(ProfilePolar, DrawsCandelaPerKilolumenAndSaysOfWhat) {
  const lux::PhotometricFile file = lux::read_photometric_file(write_test_ies(), 1);
  const lux::ProfilePolar polar = lux::profile_polar(file, lux::summarise(file), 1.0);
  EXPECT_EQ(polar.curves.unit, "cd/klm (luminaire)");
  EXPECT_NE(polar.unit_note.find("no lamp flux"), std::string::npos) << polar.unit_note;
  const auto& g = polar.curves.gamma;
  const auto& curve = polar.curves.c0_c180.right;
  double flux = 0;
  for (size_t k = 0; k + 1 < g.size(); ++k) {
    const double a = g[k] * kDegToRad, b = g[k + 1] * kDegToRad;
    flux += 2 * 3.141592653589793 * 0.5 * (curve[k] + curve[k + 1]) * (std::cos(a) - std::cos(b));
  }
  EXPECT_NEAR(flux, 1000, 5);
  for (size_t k = 0; k < g.size(); ++k)  // and the same all round
    EXPECT_NEAR(polar.curves.c90_c270.left[k], curve[k], 1e-3 * curve[k] + 1e-9) << g[k];

  const fs::path ldt = shared_profiles() / "example.ldt";
  if (!fs::exists(ldt)) GTEST_SKIP() << "no shared profiles at " << ldt.parent_path();
  const lux::PhotometricFile relative = lux::read_photometric_file(ldt, 2);
  const lux::ProfilePolar lamps = lux::profile_polar(relative, lux::summarise(relative), 1.0);
  EXPECT_EQ(lamps.curves.unit, "cd/klm");
  EXPECT_NE(lamps.unit_note.find("lamps"), std::string::npos) << lamps.unit_note;
}

// A scene with one light object, the given object JSON.
std::string one_object_light_scene(const std::string& profiles, const std::string& object) {
  return R"({"profiles": [)" + profiles + R"(], "light_objects": [)" + object +
         R"(], "surfaces": [{"name": "floor", "corner": [-1, -1, 0], "u": [2, 0, 0],
             "v": [0, 2, 0], "spacing": 1}]})";
}

// A light object given "flux" emits that flux, whatever its shape and
// distribution: its photons (the shader's own emission, a route apart from
// the direct light the scaling integrates) carry the asked lumens within
// 0.5% plus three standard errors; one in candela checks the closed form
// 4π I of an isotropic source. An object light following an EULUMDAT file
// takes its absolute candela from the file and emits the luminaire flux the
// file states.
TEST_F(LuxTest, FluxScalingOfALightObjectGivesTheAskedFlux) {
  const fs::path ies = write_test_ies();
  const std::string profile = R"({"name": "p", "file": ")" + ies.string() + R"("})";
  const struct {
    const char* name;
    std::string object;
    double asked;
  } cases[] = {
      {"sphere in candela", R"({"name": "orb", "shape": "sphere", "center": [0, 0, 2],
          "radius": 0.1, "flux": 900, "shader": {"intensity": 20, "intensity_unit": 0}})",
       900},
      {"box in lumen", R"({"name": "cube", "shape": "box", "min": [-0.1, -0.1, 2],
          "max": [0.1, 0.1, 2.2], "flux": 1500, "shader": {"intensity": 400,
          "intensity_unit": 1}})",
       1500},
      {"panel with a profile", R"({"name": "panel", "shape": "rectangle",
          "corner": [-0.3, -0.3, 2.5], "u": [0.6, 0, 0], "v": [0, 0.6, 0], "flux": 2500,
          "shader": {"use_profile": true, "profile_name": "p", "absolute_intensity": true}})",
       2500},
  };
  for (const auto& c : cases) {
    lux::Model& m = build(one_object_light_scene(profile, c.object));
    const lux::Light& light = m.lights().front();
    ASSERT_FALSE(light.photometry.is_null()) << c.name;
    EXPECT_EQ(light.photometry["flux"]["asked_lm"].get<double>(), c.asked) << c.name;
    ASSERT_TRUE(light.stated_flux.has_value()) << c.name;
    EXPECT_EQ(*light.stated_flux, c.asked) << c.name;
    const PhotonFlux photons = photon_flux_with_noise(m, 40000);
    EXPECT_NEAR(photons.mean, c.asked, 0.005 * c.asked + 3 * photons.sigma) << c.name;
    std::printf("%-22s asked %7.1f lm, before %8.2f lm, photons %8.1f +- %.1f lm (%+.3f%%)\n",
                c.name, c.asked, light.photometry["flux"]["before_lm"].get<double>(), photons.mean,
                photons.sigma, 100 * (photons.mean - c.asked) / c.asked);
  }
  // The isotropic sphere: 20 cd in every direction is 4π · 20 lm before scaling.
  build(one_object_light_scene(profile, cases[0].object));
  EXPECT_NEAR(model_->lights().front().photometry["flux"]["before_lm"].get<double>(),
              4 * 3.141592653589793 * 20, 0.005 * 4 * 3.141592653589793 * 20);

  const fs::path ldt = shared_profiles() / "example.ldt";
  if (!fs::exists(ldt)) GTEST_SKIP() << "no shared profiles at " << ldt.parent_path();
  lux::Model& m = build(one_object_light_scene(
      R"({"name": "e", "file": ")" + ldt.string() + R"("})",
      R"({"name": "troffer", "shape": "rectangle", "corner": [-0.3, -0.3, 2.5], "u": [0.6, 0, 0],
          "v": [0, 0.6, 0], "shader": {"use_profile": true, "profile_name": "e"}})"));
  const lux::Light& light = m.lights().front();
  ASSERT_TRUE(light.stated_flux.has_value());
  EXPECT_NEAR(*light.stated_flux, 5134, 0.05);
  EXPECT_TRUE(light.caveats.empty()) << light.caveats.front();
  const PhotonFlux photons = photon_flux_with_noise(m, 40000);
  EXPECT_NEAR(photons.mean, 5134, 0.01 * 5134 + 3 * photons.sigma);
}

TEST_F(LuxTest, FluxOfADarkLightOrABadFileIsRefusedByName) {
  try {
    build(one_light_scene("", R"({"name": "dark", "position": [0, 0, 3], "flux": 100,
                                  "shader": {"intensity": 0}})"));
    FAIL() << "scaled a dark light";
  } catch (const lux::Error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("light \"dark\""), std::string::npos) << what;
    EXPECT_NE(what.find("emits nothing"), std::string::npos) << what;
  }
  try {
    build(one_object_light_scene("", R"({"name": "dark orb", "shape": "sphere",
        "center": [0, 0, 2], "radius": 0.1, "flux": 100, "shader": {"intensity": 0}})"));
    FAIL() << "scaled a dark light object";
  } catch (const lux::Error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("light object \"dark orb\""), std::string::npos) << what;
    EXPECT_NE(what.find("emits nothing"), std::string::npos) << what;
  }
  EXPECT_THROW(build(one_light_scene("", R"({"name": "l", "position": [0, 0, 3], "flux": -5})")),
               lux::Error);
  // A profile file with a letter where the fourth line's lumens belong.
  const fs::path bad = fs::path(::testing::TempDir()) / "bad.ies";
  std::ofstream(bad) << "IESNA:LM-63-2002\nTILT=NONE\n1 x 1 2 1 1 2 0 0 0\n1 1 50\n0 90\n0\n1 1\n";
  try {
    lux::read_photometric_file(bad, 1);
    FAIL() << "read a broken file";
  } catch (const lux::Error& e) {
    EXPECT_NE(std::string(e.what()).find(bad.string() + ":3:"), std::string::npos) << e.what();
  }
}

}  // namespace

namespace {

// Full at the axis out to `flat` degrees, then linear down to 0 at `edge`:
// 50% at (flat + edge) / 2, 10% at flat + 0.9 (edge − flat).
double beam_shape(double g, double flat, double edge) {
  if (g <= flat) return 1000;
  if (g >= edge) return 0;
  return 1000 * (edge - g) / (edge - flat);
}

TEST(ProfileSpread, BeamAndFieldAnglesOfAKnownProfileAreExact) {
  // Planes C0, C90, C180, C270 with their own half-angles; 1° steps.
  const struct {
    double c, flat, edge;
  } planes[] = {{0, 10, 30}, {90, 20, 60}, {180, 10, 50}, {270, 20, 60}};
  refhost::ProfileTable t;
  for (int g = 0; g <= 180; ++g) t.vertical.push_back(g);
  for (const auto& p : planes) t.horizontal.push_back(p.c);
  t.horizontal.push_back(360);
  for (size_t k = 0; k < 5; ++k)
    for (double g : t.vertical)
      t.candela.push_back(
          static_cast<float>(beam_shape(g, planes[k % 4].flat, planes[k % 4].edge)));
  const auto half = [](double flat, double edge, double f) { return edge - f * (edge - flat); };
  const struct {
    double c_right, fraction;
    int right, left;  // indices into planes
  } cases[] = {{0, lux::kBeamFraction, 0, 2},
               {0, lux::kFieldFraction, 0, 2},
               {90, lux::kBeamFraction, 1, 3},
               {90, lux::kFieldFraction, 1, 3}};
  for (const auto& c : cases) {
    const auto s = lux::plane_spread(t, c.c_right, c.fraction);
    ASSERT_TRUE(s.has_value()) << "C" << c.c_right;
    const double right = half(planes[c.right].flat, planes[c.right].edge, c.fraction);
    const double left = half(planes[c.left].flat, planes[c.left].edge, c.fraction);
    EXPECT_NEAR(s->right, right, 1e-9) << "C" << c.c_right << " at " << c.fraction;
    EXPECT_NEAR(s->left, left, 1e-9) << "C" << c.c_right << " at " << c.fraction;
    EXPECT_NEAR(s->full, right + left, 1e-9) << "C" << c.c_right << " at " << c.fraction;
  }
  // A dark table has no beam.
  refhost::ProfileTable dark = t;
  std::fill(dark.candela.begin(), dark.candela.end(), 0.0f);
  EXPECT_FALSE(lux::plane_spread(dark, 0, lux::kBeamFraction).has_value());
}

// A file that reads but does not add up: its stated output far from what
// its table integrates to, and negative intensities. Both are reported with
// what and where.
TEST(ProfileSummary, InconsistentFilesAreReported) {
  const fs::path p = fs::path(::testing::TempDir()) / "inconsistent.ies";
  std::ofstream(p) << "IESNA:LM-63-2002\n[_ABSOLUTELUMENS] 1000\nTILT=NONE\n"
                      "1 -1 1 3 1 1 2 0 0 0\n1 1 50\n0 45 90\n0\n100 100\n-3\n";
  const lux::PhotometricFile f = lux::read_photometric_file(p, 1);
  const lux::ProfileSummary s = lux::summarise(f);
  // Zonal: 100 cd over 0-45°, the mean of 100 and 0 (the negative read as
  // 0) over 45-90°.
  const double c45 = std::cos(45 * kDegToRad);
  EXPECT_NEAR(s.flux, 2 * 3.141592653589793 * (100 * (1 - c45) + 50 * c45), 1e-3);
  ASSERT_TRUE(s.stated_deviation.has_value());
  ASSERT_EQ(f.negatives.size(), 1u);
  EXPECT_EQ(f.negatives.front().line, 9);
  bool flux_named = false, negative_named = false;
  for (const auto& problem : s.problems) {
    flux_named = flux_named || problem.find("states 1000.0 lm") != std::string::npos;
    negative_named = negative_named || problem.find("line 9") != std::string::npos;
  }
  EXPECT_TRUE(flux_named) << testing::PrintToString(s.problems);
  EXPECT_TRUE(negative_named) << testing::PrintToString(s.problems);

  // A lit table at one angle spans no solid angle: 0 lm, and said.
  const fs::path flat = fs::path(::testing::TempDir()) / "flat.ies";
  std::ofstream(flat) << "IESNA:LM-63-2002\nTILT=NONE\n1 -1 1 1 1 1 2 0 0 0\n1 1 50\n30\n0\n100\n";
  const lux::ProfileSummary flat_summary = lux::summarise(lux::read_photometric_file(flat, 1));
  EXPECT_EQ(flat_summary.flux, 0.0);
  ASSERT_EQ(flat_summary.problems.size(), 1u) << testing::PrintToString(flat_summary.problems);
  EXPECT_NE(flat_summary.problems[0].find("no solid angle"), std::string::npos)
      << flat_summary.problems[0];

  // A consistent shared file: the stated and integrated flux agree, and the
  // relative IES file's efficiency is its light output ratio.
  const fs::path dir = shared_profiles();
  if (!fs::exists(dir)) GTEST_SKIP() << "no shared profiles at " << dir;
  const lux::ProfileSummary wp = lux::summarise(lux::read_photometric_file(dir / "WP_2_32.ies", 1));
  ASSERT_TRUE(wp.lor.has_value());
  EXPECT_NEAR(*wp.lor, 0.572, 0.001);
  EXPECT_TRUE(wp.problems.empty()) << testing::PrintToString(wp.problems);
}

}  // namespace

namespace {

// The profile command: a good file and a broken one. The good one's JSON
// carries the figures of its summary, the broken one is named with its
// line, and the exit status says that one was refused.
TEST(ProfileCommand, ReportsGoodFilesAndNamesRefusedOnes) {
  const fs::path dir = fs::path(::testing::TempDir()) / "profile_cmd";
  fs::create_directories(dir);
  const fs::path good = dir / "good.ies";
  std::ofstream(good) << "IESNA:LM-63-2002\n[TEST] cosine\nTILT=NONE\n1 1000 1 4 1 1 2 0 0 0\n"
                         "1 1 50\n0 30 60 90\n0\n318.3 275.7 159.2 0\n";
  const fs::path bad = dir / "bad.ies";
  std::ofstream(bad)
      << "IESNA:LM-63-2002\nTILT=NONE\n1 1000 1 2 1 1 2 0 0 0\n1 1 50\n0 90\n0\n1 q\n";
  const std::string polar_dir = (dir / "polar").string();
  const std::string good_s = good.string(), bad_s = bad.string();
  const char* argv[] = {"zel-lux", "profile", good_s.c_str(), bad_s.c_str(),    "--json",
                        "--polar", "svg",     "-o",           polar_dir.c_str()};
  std::ostringstream out, err;
  EXPECT_EQ(lux::run(9, argv, out, err), 1);
  EXPECT_NE(err.str().find(bad_s + ":7:"), std::string::npos) << err.str();
  const auto j = nlohmann::json::parse(out.str());
  ASSERT_EQ(j.size(), 2u);
  const lux::ProfileSummary s = lux::summarise(lux::read_photometric_file(good, 1));
  EXPECT_DOUBLE_EQ(j[0]["flux"]["integrated_lm"].get<double>(), s.flux);
  EXPECT_DOUBLE_EQ(j[0]["flux"]["light_output_ratio"].get<double>(), s.flux / 1000);
  EXPECT_EQ(j[0]["fields"]["TEST"], "cosine");
  EXPECT_TRUE(fs::exists(j[0]["polar"].get<std::string>()));
  EXPECT_TRUE(j[1].contains("error"));
}

// Header text in any bytes comes out of --json as valid UTF-8: what is
// not a well-formed UTF-8 sequence (a stray continuation byte, overlong
// forms, surrogates, code points beyond U+10FFFF) is read as Latin-1.
TEST(ProfileCommand, HeaderBytesOfAnyKindGiveValidJson) {
  const fs::path dir = fs::path(::testing::TempDir()) / "profile_bytes";
  fs::create_directories(dir);
  const std::string cases[] = {"\x8e",     "\xe0\x8e\x41", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                               "\xc0\xaf", "caf\xc3\xa9"};
  int k = 0;
  for (const std::string& bytes : cases) {
    const fs::path file = dir / ("bytes" + std::to_string(k++) + ".ies");
    std::ofstream(file, std::ios::binary)
        << "IESNA:LM-63-2002\n[LUMINAIRE] panel " << bytes
        << "\nTILT=NONE\n1 1000 1 2 1 1 2 0 0 0\n1 1 50\n0 90\n0\n100 0\n";
    const std::string name = file.string();
    const char* argv[] = {"zel-lux", "profile", name.c_str(), "--json"};
    std::ostringstream out, err;
    ASSERT_EQ(lux::run(4, argv, out, err), 0) << err.str();
    const auto j = nlohmann::json::parse(out.str());
    EXPECT_EQ(j[0]["fields"]["LUMINAIRE"].get<std::string>().rfind("panel ", 0), 0u);
    // A refusal that quotes the bytes, in a file whose name holds them.
    const std::string broken = (dir / ("broken" + bytes + ".ies")).string();
    std::ofstream(broken, std::ios::binary)
        << "IESNA:LM-63-2002\nTILT=NONE\n1 1000 1 2 1 1 2 0 0 0\n1 1 50\n0 90\n0\n100 0" << bytes
        << "\n";
    const char* refused[] = {"zel-lux", "profile", broken.c_str(), "--json"};
    std::ostringstream out2, err2;
    ASSERT_EQ(lux::run(4, refused, out2, err2), 1) << err2.str();
    const auto r = nlohmann::json::parse(out2.str());
    EXPECT_TRUE(r[0].contains("error")) << r;
  }
}

// Diagrams and data sheets take their names from their inputs: two inputs
// of one name (two folders' good.ies) get a file each, and a link already
// standing at a diagram's name is replaced, not written through.
TEST(ProfileCommand, OutputsNeverReplaceEachOtherOrWriteThroughLinks) {
  const fs::path dir = fs::path(::testing::TempDir()) / "profile_names";
  fs::remove_all(dir);
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  fs::create_directories(dir / "out");
  const std::string table =
      "IESNA:LM-63-2002\nTILT=NONE\n1 1000 1 4 1 1 2 0 0 0\n1 1 50\n"
      "0 30 60 90\n0\n";
  std::ofstream(dir / "a" / "good.ies") << table << "318.3 275.7 159.2 0\n";
  std::ofstream(dir / "b" / "good.ies") << table << "100 100 100 100\n";
  const fs::path victim = dir / "victim.txt";
  std::ofstream(victim) << "keep me";
  fs::create_symlink(victim, dir / "out" / "good.ies.svg");
  const std::string a = (dir / "a" / "good.ies").string(), b = (dir / "b" / "good.ies").string(),
                    out_dir = (dir / "out").string();
  const char* argv[] = {"zel-lux", "profile", a.c_str(), b.c_str(), "--json",
                        "--polar", "svg",     "--pdf",   "-o",      out_dir.c_str()};
  std::ostringstream out, err;
  ASSERT_EQ(lux::run(10, argv, out, err), 0) << err.str();
  const auto j = nlohmann::json::parse(out.str());
  ASSERT_EQ(j.size(), 2u);
  EXPECT_NE(j[0]["polar"], j[1]["polar"]);
  EXPECT_NE(j[0]["datasheet"], j[1]["datasheet"]);
  for (const auto& f : j) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(f["polar"].get<std::string>())))
        << f["polar"];
    EXPECT_TRUE(fs::is_regular_file(f["datasheet"].get<std::string>())) << f["datasheet"];
  }
  std::ifstream in(victim);
  const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, "keep me");
  size_t leftovers = 0;
  for (const auto& e : fs::directory_iterator(dir / "out"))
    leftovers += e.path().filename().string().find(".partial-") != std::string::npos;
  EXPECT_EQ(leftovers, 0u);
}

}  // namespace
