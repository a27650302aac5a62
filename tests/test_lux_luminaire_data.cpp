// What a photometric file says about the luminaire itself: its luminous
// opening, identification and power, as the schedule and the scene take it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/lux/model/photometry.h"

namespace {

namespace fs = std::filesystem;
using Kind = lux::LuminousOpening::Kind;

constexpr double kFoot = 0.3048;

fs::path shared_profiles() {
  const char* env = std::getenv("ZEL_SHARED_DIR");
  return fs::path(env != nullptr ? env : ZEL_SHARED_DIR) / "profiles";
}

TEST(LuminousOpening, IesSizesBySignAndUnit) {
  const struct {
    double w, l, h, metres_per_unit;
    Kind kind;
    double length, width, height;  // metres
  } cases[] = {
      {0, 0, 0, 1, Kind::Point, 0, 0, 0},
      {0.6, 1.2, 0, 1, Kind::Rectangle, 1.2, 0.6, 0},
      {2, 4, 0, kFoot, Kind::Rectangle, 4 * kFoot, 2 * kFoot, 0},
      {0.6, 0.6, 0.1, 1, Kind::Box, 0.6, 0.6, 0.1},
      {-0.3, -0.3, 0, 1, Kind::Circle, 0.3, 0.3, 0},
      {-1, -1, 0, kFoot, Kind::Circle, kFoot, kFoot, 0},
      {-0.3, -0.2, 0, 1, Kind::Ellipse, 0.2, 0.3, 0},
      {-0.2, -0.2, 0.3, 1, Kind::VerticalCylinder, 0.2, 0.2, 0.3},
      {-0.25, -0.25, -0.25, 1, Kind::Sphere, 0.25, 0.25, 0.25},
      // Shapes a light of the calculator cannot take, and contradictions.
      {-0.1, 1.2, -0.1, 1, Kind::Other, 1.2, 0.1, 0.1},
      {0.1, -1.2, -0.1, 1, Kind::Other, 1.2, 0.1, 0.1},
      {-0.2, 0, -0.2, 1, Kind::Other, 0, 0.2, 0.2},
      {-0.2, -0.3, -0.4, 1, Kind::Other, 0.3, 0.2, 0.4},
      {-0.23, 0, 0, 1, Kind::Other, 0, 0.23, 0},
      {0.5, -0.5, 0, 1, Kind::Other, 0.5, 0.5, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "w " << c.w << " l " << c.l << " h " << c.h << " unit " << c.metres_per_unit);
    const lux::LuminousOpening o = lux::ies_opening(c.w, c.l, c.h, c.metres_per_unit);
    EXPECT_EQ(o.kind, c.kind);
    EXPECT_NEAR(o.length, c.length, 1e-12);
    EXPECT_NEAR(o.width, c.width, 1e-12);
    EXPECT_NEAR(o.height, c.height, 1e-12);
    EXPECT_FALSE(o.description.empty());
  }
}

TEST(LuminousOpening, EulumdatAreaInMillimetres) {
  const struct {
    double length, width;
    double sides[4];
    Kind kind;
    double length_m, width_m, height_m;
  } cases[] = {
      {0, 0, {0, 0, 0, 0}, Kind::Point, 0, 0, 0},
      {1200, 210, {0, 0, 0, 0}, Kind::Rectangle, 1.2, 0.21, 0},
      {600, 600, {0, 30, 0, 30}, Kind::Box, 0.6, 0.6, 0.03},
      {200, 0, {0, 0, 0, 0}, Kind::Circle, 0.2, 0.2, 0},
      {470, 0, {140, 140, 140, 140}, Kind::VerticalCylinder, 0.47, 0.47, 0.14},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "length " << c.length << " width " << c.width);
    const lux::LuminousOpening o = lux::ldt_opening(c.length, c.width, c.sides);
    EXPECT_EQ(o.kind, c.kind);
    EXPECT_NEAR(o.length, c.length_m, 1e-12);
    EXPECT_NEAR(o.width, c.width_m, 1e-12);
    EXPECT_NEAR(o.height, c.height_m, 1e-12);
  }
  const double sides[4] = {10, 20, 30, 40};
  const lux::LuminousOpening o = lux::ldt_opening(600, 300, sides);
  EXPECT_DOUBLE_EQ(o.side_heights[3], 0.04);
  EXPECT_DOUBLE_EQ(o.height, 0.04);
}

TEST(LuminaireData, ReadFromRealFiles) {
  const fs::path dir = shared_profiles();
  if (!fs::exists(dir)) GTEST_SKIP() << "no shared profiles at " << dir;
  const struct {
    const char* file;
    const char* manufacturer;
    const char* catalogue;
    Kind kind;
    double length, width;  // metres
    double watts;
    const char* colour;
  } cases[] = {
      // IES in feet: a box of 1.47 ft with luminous sides.
      {"1.IES", "RAB LIGHTING INC.", "PRT70/480, PRT70/480/D10", Kind::Box, 1.47 * kFoot,
       1.47 * kFoot, 69.6, ""},
      // IES in metres: a disc of 0.3 m.
      {"Indoor_60W_120G_5300LM_5000K_OVNI.ies", "Interlight", "7006-AB-C", Kind::Circle, 0.3, 0.3,
       60, ""},
      {"3.IES", "RAB LIGHTING INC.", "", Kind::Rectangle, 0.16, 0.21, 97.2, ""},
      // Zero sizes and an unknown wattage field.
      {"S01.01.02.354_MAXWELL-8-T4 LUXEON 5050 Square with glass-MEASURED_IESNA.ies", "", "",
       Kind::Point, 0, 0, 29.343, ""},
      {"example.ldt", "Ingemann", "", Kind::Rectangle, 1.195, 0.21, 60.22, "3008"},
      {"road_luminaire.ldt", "ACME Inc.", "RoadRun23", Kind::VerticalCylinder, 0.472, 0.472, 276,
       "2000K"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const fs::path p = dir / c.file;
    const lux::PhotometricFile f = lux::read_photometric_file(p, lux::format_of(p));
    const lux::LuminaireData& l = f.luminaire;
    EXPECT_EQ(l.manufacturer, c.manufacturer);
    EXPECT_EQ(l.catalogue, c.catalogue);
    EXPECT_EQ(l.opening.kind, c.kind);
    EXPECT_NEAR(l.opening.length, c.length, 1e-9);
    EXPECT_NEAR(l.opening.width, c.width, 1e-9);
    ASSERT_TRUE(l.watts.has_value());
    EXPECT_NEAR(*l.watts, c.watts, 1e-9);
    EXPECT_EQ(l.colour_temperature, c.colour);
  }
}

TEST(LuminaireData, IesKeywordsWithContinuationsAndColour) {
  const fs::path p = fs::temp_directory_path() / "zel-lux-luminaire-keywords.ies";
  {
    std::ofstream f(p);
    f << "IESNA:LM-63-2002\n"
         "[TEST] T-1\n"
         "[MANUFAC] Lumen Works\n"
         "[LUMINAIRE] Recessed panel,\n"
         "[MORE] opal diffuser\n"
         "[LUMCAT] RP-600\n"
         "[LAMP] LED module\n"
         "[_CCT] 4000 K\n"
         "[_CRI] 90\n"
         "TILT=NONE\n"
         "1 -1 1 3 1 1 2 0.6 0.6 0\n"
         "1 1 0\n"
         "0 45 90\n"
         "0\n"
         "1000 700 0\n";
  }
  const lux::PhotometricFile f = lux::read_photometric_file(p, 1);
  fs::remove(p);
  const lux::LuminaireData& l = f.luminaire;
  EXPECT_EQ(l.name, "Recessed panel, opal diffuser");
  EXPECT_EQ(l.manufacturer, "Lumen Works");
  EXPECT_EQ(l.catalogue, "RP-600");
  EXPECT_EQ(l.lamp, "LED module");
  EXPECT_EQ(l.report, "T-1");
  EXPECT_EQ(l.colour_temperature, "4000 K");
  EXPECT_EQ(l.colour_rendering, "90");
  // An input power of 0 is no power stated.
  EXPECT_FALSE(l.watts.has_value());
  EXPECT_EQ(l.opening.kind, Kind::Rectangle);
  EXPECT_DOUBLE_EQ(l.opening.length, 0.6);
}

}  // namespace
