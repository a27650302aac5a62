// Colour from temperature: the daylight and Planckian loci as CIE XYZ with a
// fixed luminance, the automatic choice between them, and the temperatures
// for which no spectrum integrates.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "shaders/lumenfield.h"
#include "tests/host_fixture.h"

namespace {

struct Xyz {
  float x, y, z, a;
  double chroma_x() const { return double(x) / (double(x) + double(y) + double(z)); }
  double chroma_y() const { return double(y) / (double(x) + double(y) + double(z)); }
  bool operator==(const Xyz&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Xyz& c) {
  return os << "(" << c.x << ", " << c.y << ", " << c.z << ", " << c.a << ")";
}

// Takes over a colour the library allocated: its values, then releases it.
Xyz take(miColor* c) {
  EXPECT_NE(c, nullptr);
  if (c == nullptr) return {};
  const Xyz out{c->r, c->g, c->b, c->a};
  mi_mem_int_release(__FILE__, __LINE__, c);
  return out;
}

class Color : public zeltest::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    refhost::set_xyz_to_render(false);  // read XYZ as the routines make it
  }
};

TEST_F(Color, DaylightChromaticities) {
  struct Case {
    float kelvin;
    double x, y;
  };
  // Kelvin and hundreds of kelvin alike; below 40 the locus starts at 4000 K.
  const Case cases[] = {
      {6500, 0.31278, 0.32918}, {65, 0.31278, 0.32918},   {5000, 0.34574, 0.35867},
      {50, 0.34574, 0.35867},   {4000, 0.38234, 0.38377}, {0, 0.38234, 0.38377},
      {10, 0.38234, 0.38377},   {40, 0.38234, 0.38377},
  };
  for (const Case& c : cases) {
    const Xyz xyz = take(zel_cie_d(c.kelvin, 1.0f));
    EXPECT_NEAR(xyz.chroma_x(), c.x, 5e-5) << c.kelvin << " K";
    EXPECT_NEAR(xyz.chroma_y(), c.y, 5e-5) << c.kelvin << " K";
    EXPECT_EQ(xyz.a, 1.0f);
  }
}

TEST_F(Color, DaylightInHundredsIsTheSameColour) {
  const std::pair<float, float> same[] = {{6500, 65}, {5000, 50},   {4000, 40},  {4000, 0},
                                          {4000, 10}, {4000, -300}, {25000, 250}};
  for (const auto& [kelvin, other] : same)
    EXPECT_EQ(take(zel_cie_d(kelvin, 1.0f)), take(zel_cie_d(other, 1.0f)))
        << kelvin << " against " << other;
}

// At 7000 K the two polynomials of the daylight locus meet: both sides of the
// switch give nearly the same chromaticity, and the locus moves towards blue
// as the temperature rises.
TEST_F(Color, DaylightLocusIsContinuousAndMonotonic) {
  const Xyz below = take(zel_cie_d(6999, 1.0f));
  const Xyz at = take(zel_cie_d(7000, 1.0f));
  const Xyz above = take(zel_cie_d(7001, 1.0f));
  EXPECT_NEAR(below.chroma_x(), above.chroma_x(), 1e-4);
  EXPECT_NEAR(at.chroma_x(), above.chroma_x(), 1e-4);
  double previous = 1.0;
  for (float kelvin = 4000; kelvin <= 25000; kelvin += 500) {
    const double x = take(zel_cie_d(kelvin, 1.0f)).chroma_x();
    EXPECT_LT(x, previous) << kelvin << " K";
    previous = x;
  }
}

TEST_F(Color, BlackbodyChromaticities) {
  struct Case {
    float kelvin;
    double x, y;
  };
  const Case cases[] = {{6500, 0.3136, 0.3238}, {2700, 0.4599, 0.4107}, {0, 0.3136, 0.3238}};
  for (const Case& c : cases) {
    const Xyz xyz = take(zel_blackbody(c.kelvin, 1.0f));
    EXPECT_NEAR(xyz.chroma_x(), c.x, 1e-4) << c.kelvin << " K";
    EXPECT_NEAR(xyz.chroma_y(), c.y, 1e-4) << c.kelvin << " K";
    EXPECT_EQ(xyz.a, 1.0f);
  }
  EXPECT_EQ(take(zel_blackbody(0, 1.0f)), take(zel_blackbody(6500, 1.0f)));
}

// The colour matching table of the data directory, for an independent
// integration.
struct CmfRow {
  double nm, x, y, z;
};
std::vector<CmfRow> read_cmf_table() {
  const std::filesystem::path candidates[] = {
      std::filesystem::path(ZEL_SHARED_DIR) / "data/cie1931_2deg_10nm.csv",
      std::filesystem::path(ZEL_SOURCE_DIR) / "../../shared/data/cie1931_2deg_10nm.csv",
  };
  std::vector<CmfRow> rows;
  for (const auto& path : candidates) {
    std::ifstream in(path);
    if (!in) continue;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      for (char& ch : line)
        if (ch == ',') ch = ' ';
      std::istringstream fields(line);
      CmfRow r{};
      if (fields >> r.nm >> r.x >> r.y >> r.z) rows.push_back(r);
    }
    break;
  }
  return rows;
}

// Planck's law integrated in double against the observer table, trapezoid
// rule: the chromaticity must agree with the library's single-precision sum.
TEST_F(Color, BlackbodyAgreesWithADoubleIntegrationOfPlancksLaw) {
  const std::vector<CmfRow> table = read_cmf_table();
  if (table.empty())
    GTEST_SKIP() << "the CIE 1931 table of the shared data folder is not beside this checkout";
  ASSERT_EQ(table.size(), 41u) << "CIE 1931 table incomplete";
  constexpr double c2 = 14387860.0;  // nm·K
  for (const double kelvin : {800.0, 1500.0, 2700.0, 4000.0, 6500.0, 10000.0, 25000.0, 1e5}) {
    double x = 0, y = 0, z = 0;
    for (size_t i = 0; i < table.size(); ++i) {
      const double nm = table[i].nm;
      const double weight = (i == 0 || i + 1 == table.size()) ? 0.5 : 1.0;
      const double radiance = weight / (std::pow(nm, 5) * std::expm1(c2 / (nm * kelvin)));
      x += radiance * table[i].x;
      y += radiance * table[i].y;
      z += radiance * table[i].z;
    }
    const Xyz got = take(zel_blackbody(static_cast<float>(kelvin), 1.0f));
    EXPECT_NEAR(got.chroma_x(), x / (x + y + z), 2e-5) << kelvin << " K";
    EXPECT_NEAR(got.chroma_y(), y / (x + y + z), 2e-5) << kelvin << " K";
  }
}

TEST_F(Color, LuminanceIsY) {
  for (const float luminance : {1.0f, 0.25f, 3.0f, 1000.0f}) {
    for (const float kelvin : {2700.0f, 6500.0f, 12000.0f}) {
      const Xyz d = take(zel_cie_d(kelvin, luminance));
      const Xyz b = take(zel_blackbody(kelvin, luminance));
      EXPECT_NEAR(d.y, luminance, 1e-6 * double(luminance)) << kelvin << " K, daylight";
      EXPECT_NEAR(b.y, luminance, 1e-6 * double(luminance)) << kelvin << " K, blackbody";
    }
  }
  // A luminance of 0 is read as 1.
  EXPECT_EQ(take(zel_cie_d(5000, 0.0f)), take(zel_cie_d(5000, 1.0f)));
  EXPECT_EQ(take(zel_blackbody(3000, 0.0f)), take(zel_blackbody(3000, 1.0f)));
}

TEST_F(Color, ModelChoice) {
  struct Case {
    float kelvin;
    int mode;
    bool daylight;
  };
  const Case cases[] = {
      {3999, 0, false},  {4000, 0, true},   {25000, 0, true},  {25001, 0, false},
      {40000, 0, false}, {6500, 0, true},   {2700, 0, false},  {65, 0, false},
      {6500, 3, true},   {3999, -1, false}, {3000, 1, true},   {65, 1, true},
      {6500, 2, false},  {30000, 1, true},  {30000, 2, false}, {0, 0, false},
  };
  for (const Case& c : cases) {
    const Xyz chosen = take(get_color_from_temp(c.kelvin, c.mode));
    const Xyz expected =
        take(c.daylight ? zel_cie_d(c.kelvin, 1.0f) : zel_blackbody(c.kelvin, 1.0f));
    EXPECT_EQ(chosen, expected) << c.kelvin << " K, mode " << c.mode;
  }
  // Only daylight mode reads small values in hundreds of kelvin.
  EXPECT_EQ(take(get_color_from_temp(65, 1)), take(zel_cie_d(6500, 1.0f)));
  EXPECT_NE(take(get_color_from_temp(65, 0)), take(zel_cie_d(6500, 1.0f)));
}

TEST_F(Color, ResultIsConvertedIntoTheRenderSpace) {
  const Xyz xyz = take(zel_cie_d(6500, 1.0f));
  refhost::set_xyz_to_render(true);
  const Xyz rgb = take(zel_cie_d(6500, 1.0f));
  miColor expected{xyz.x, xyz.y, xyz.z, xyz.a};
  mi_colorprofile_ciexyz_to_render(&expected);
  EXPECT_EQ(rgb, (Xyz{expected.r, expected.g, expected.b, expected.a}));
  // D65-like daylight is close to the render space's white.
  EXPECT_NEAR(rgb.x / rgb.y, 1.0, 0.02);
  EXPECT_NEAR(rgb.z / rgb.y, 1.0, 0.02);
}

TEST_F(Color, EveryTemperatureGivesAFiniteColour) {
  constexpr float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> temperatures = {-1e30f, -6500, -1,    1e-30f, 1e-40f, 1,    50,
                                     150,    207,   208,   215,    250,    300,  340,
                                     400,    1e7f,  1e20f, 1e35f,  inf,    -inf, nan};
  for (float t = 0.5f; t < 600; t *= 1.1f) temperatures.push_back(t);
  for (const float t : temperatures)
    for (const int mode : {0, 1, 2}) {
      const Xyz c = take(get_color_from_temp(t, mode));
      EXPECT_TRUE(std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.z))
          << t << " K, mode " << mode << ": " << c;
    }
}

// Below about 208 K every Planck term underflows. Such a body glows, if at
// all, at the long-wavelength end of the table: the colour stays that limit
// with Y = 1, continuous with the coldest temperatures that integrate.
TEST_F(Color, ColdBlackbodyTakesTheRedLimit) {
  const Xyz cold = take(zel_blackbody(100, 1.0f));
  EXPECT_EQ(cold.y, 1.0f);
  EXPECT_EQ(cold.z, 0.0f);
  EXPECT_NEAR(cold.chroma_x(), 0.0000415099 / (0.0000415099 + 0.00001499), 1e-6);
  // Cooling towards the threshold, the colour walks monotonically onto the limit.
  double previous_x = 0.0;
  for (const float integrable : {600.0f, 500.0f, 400.0f, 350.0f}) {
    const Xyz warm = take(zel_blackbody(integrable, 1.0f));
    EXPECT_GT(warm.chroma_x(), previous_x) << integrable << " K";
    EXPECT_LE(warm.chroma_x(), cold.chroma_x()) << integrable << " K";
    previous_x = warm.chroma_x();
  }
  EXPECT_NEAR(previous_x, cold.chroma_x(), 2e-3);
}

// A negative or unbounded temperature describes no body: black, alpha 1.
TEST_F(Color, BlackbodyOfNoBodyIsBlack) {
  for (const float t : {-1.0f, -6500.0f, std::numeric_limits<float>::infinity(),
                        std::numeric_limits<float>::quiet_NaN()})
    EXPECT_EQ(take(zel_blackbody(t, 1.0f)), (Xyz{0, 0, 0, 1})) << t;
}

// Daylight of an unusable temperature starts the locus at 4000 K.
TEST_F(Color, DaylightOfNaNIsTheLocusStart) {
  EXPECT_EQ(take(zel_cie_d(std::numeric_limits<float>::quiet_NaN(), 1.0f)),
            take(zel_cie_d(4000, 1.0f)));
}

TEST_F(Color, EachCallAllocatesOneColour) {
  const uint64_t before = refhost::allocation_count();
  miColor* a = zel_blackbody(3000, 1.0f);
  miColor* b = zel_cie_d(6000, 1.0f);
  miColor* c = get_color_from_temp(5000, 0);
  EXPECT_EQ(refhost::allocation_count() - before, 3u);
  EXPECT_EQ(refhost::live_blocks_from("lumenfield_color"), 3u);
  take(a);
  take(b);
  take(c);
}

}  // namespace
