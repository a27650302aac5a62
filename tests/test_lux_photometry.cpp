// Luminaire photometry in the calculator: polar curves and diagrams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

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
