// Luminaire photometry in the calculator: polar curves and diagrams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/lux/photometry.h"
#include "tools/lux/polar.h"
#include "tools/lux/scene.h"

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
