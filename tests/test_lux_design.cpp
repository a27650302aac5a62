// The quantities a lighting designer checks a room against, worked out here
// from physics and the published rules, independently of the calculator:
// standard grids, masking, maintained values, cylindrical and
// semi-cylindrical illuminance, the glare rating and luminaire arrays.
#include <algorithm>
#include <cmath>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/lux_fixture.h"
#include "tools/lux/grid/grids.h"
#include "tools/lux/metrics/cylindrical.h"
#include "tools/lux/metrics/glare.h"
#include "tools/lux/report/outputs.h"

namespace {

using json = nlohmann::json;
using zeltest::LuxTest;

constexpr double kPi = 3.141592653589793;

json point_light(const std::string& name, lux::Vec3 at, double candela) {
  return {{"name", name},
          {"position", {at.x, at.y, at.z}},
          {"samples", 1},
          {"shader", {{"intensity", candela}, {"intensity_unit", 0}}}};
}

json floor_surface(double side, double spacing) {
  return {{"name", "floor"},
          {"corner", {0, 0, 0}},
          {"u", {side, 0, 0}},
          {"v", {0, side, 0}},
          {"spacing", spacing}};
}

// The grid rule of EN 12464-1: p = 0.2 × 5^log10(d), ceil(d/p) points
// along the governing side d (the longer side while the sides' ratio is
// below 2, the shorter from 2 on), and the pitch d/n for the other side.
// Worked by hand:
//   d = 1 m:  p = 0.2 m,                      1 / 0.2     = 5      -> 5
//   d = 5 m:  p = 0.2 × 5^0.69897 = 0.617 m,  5 / 0.617   = 8.10   -> 9
//   d = 10 m: p = 0.2 × 5 = 1 m,              10 / 1      = 10     -> 10
//   d = 50 m: p = 0.2 × 5^1.69897 = 3.08 m,   50 / 3.08   = 16.2   -> 17
//   20 × 2 m corridor, ratio 10: d = 2 m, p = 0.325 m, 6.16 -> 7 across,
//             pitch 2/7 m: 20 / (2/7) = 70 along.
//   19 × 1 m, ratio 19: d = 1 m, 5 across at 0.2 m, 95 along.
//   4 × 2 m, ratio exactly 2: d = 2 m, 7 across, pitch 2/7 m: 14 along;
//   3.8 × 2 m, ratio 1.9: d = 3.8 m, p = 0.509 m, 7.47 -> 8, pitch
//             0.475 m: 2 / 0.475 = 4.2 -> 5 across.
//   12 × 8 m: p(12) = 1.136 m gives 11 along, pitch 12/11 m: 7.33 -> 8.
//   the same with a 0.5 m margin, 11 × 7 m: p(11) = 1.069 m, 10.3 -> 11,
//             pitch 1 m: 7.
TEST_F(LuxTest, StandardGridHasThePointCountsOfTheRule) {
  struct Case {
    double a, b, margin;
    const char* unit;
    int nu, nv;
  };
  const Case cases[] = {
      {1, 1, 0, "metre", 5, 5},     {5, 5, 0, "metre", 9, 9},   {10, 10, 0, "metre", 10, 10},
      {50, 50, 0, "metre", 17, 17}, {20, 2, 0, "metre", 70, 7}, {2, 20, 0, "metre", 7, 70},
      {19, 1, 0, "metre", 95, 5},   {4, 2, 0, "metre", 14, 7},  {3.8, 2, 0, "metre", 8, 5},
      {12, 8, 0, "metre", 11, 8},   {8, 12, 0, "metre", 8, 11}, {12, 8, 0.5, "metre", 11, 7},
      {5, 5, 0, "centimetre", 9, 9}};
  for (const Case& c : cases) {
    const double k = std::string(c.unit) == "metre" ? 1 : 100;
    json scene = {{"scene_unit", c.unit}};
    scene["lights"] = json::array({point_light("bulb", {0, 0, 3 * k}, 100)});
    json s = floor_surface(1, 1);
    s["u"] = {c.a * k, 0, 0};
    s["v"] = {0, c.b * k, 0};
    s["spacing"] = "standard";
    s["margin"] = c.margin * k;
    scene["surfaces"] = json::array({s});
    const lux::Scene parsed = lux::parse_scene(scene.dump(), "test.json", ".");
    const auto areas = lux::surface_areas(parsed, parsed.surfaces[0]);
    ASSERT_EQ(areas.size(), 1u);
    EXPECT_EQ(areas[0].nu, c.nu) << c.a << " x " << c.b;
    EXPECT_EQ(areas[0].nv, c.nv) << c.a << " x " << c.b;
    // Points at the centres of equal cells inside the margin.
    const double cell = (c.a - 2 * c.margin) / c.nu;
    EXPECT_NEAR(areas[0].points[0].x / k, c.margin + cell / 2, 1e-9);
    EXPECT_NEAR(areas[0].points.back().x / k, c.a - c.margin - cell / 2, 1e-9);
  }
}

// Whatever the area's proportions, the rule's cells keep their sides
// within 0.5 to 2 of each other and no wider than the spacing p of the
// governing side.
TEST(LuxStandardGrid, CellsStayWithinTheAspectLimits) {
  for (double a : {0.3, 0.8, 1.0, 1.9, 2.0, 2.1, 3.0, 7.5, 9.0, 19.0, 40.0, 120.0})
    for (double b : {0.3, 0.5, 1.0, 2.0, 4.2, 7.0, 10.0, 33.0}) {
      const lux::PointCounts n = lux::standard_counts(a, b);
      const double cell_a = a / n.along_a, cell_b = b / n.along_b;
      const double ratio = cell_a / cell_b;
      EXPECT_GE(ratio, 0.5 - 1e-12) << a << " x " << b;
      EXPECT_LE(ratio, 2.0 + 1e-12) << a << " x " << b;
      const double longer = std::max(a, b), shorter = std::min(a, b);
      const double d = longer / shorter >= 2 ? shorter : longer;
      EXPECT_LE(std::max(cell_a, cell_b), lux::standard_spacing(d) + 1e-12) << a << " x " << b;
    }
}

// A task area is reported as three areas: the task, its immediate
// surrounding band and the background band, none overlapping.
TEST_F(LuxTest, TaskAreaGivesTaskSurroundingAndBackground) {
  json scene;
  scene["lights"] = json::array({point_light("bulb", {3, 2, 3}, 100)});
  json s = floor_surface(1, 0.25);
  s["u"] = {6, 0, 0};
  s["v"] = {0, 4, 0};
  s["task_areas"] = json::array(
      {{{"name", "desk"}, {"corner", {2, 1.5, 0}}, {"size", {1.2, 0.8}}, {"background", 1}}});
  scene["surfaces"] = json::array({s});
  const lux::Scene parsed = lux::parse_scene(scene.dump(), "test.json", ".");
  const auto areas = lux::surface_areas(parsed, parsed.surfaces[0]);
  ASSERT_EQ(areas.size(), 4u);
  EXPECT_EQ(areas[1].role, "task");
  EXPECT_EQ(areas[2].role, "surrounding");
  EXPECT_EQ(areas[3].role, "background");
  const auto in = [](lux::Vec3 p, double x0, double x1, double y0, double y1) {
    return p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1;
  };
  for (const auto& p : areas[1].points) EXPECT_TRUE(in(p, 2, 3.2, 1.5, 2.3));
  size_t counted = 0;
  for (size_t k = 0; k < areas[2].points.size(); ++k) {
    const lux::Vec3 p = areas[2].points[k];
    const bool band = in(p, 1.5, 3.7, 1.0, 2.8) && !in(p, 2, 3.2, 1.5, 2.3);
    EXPECT_EQ(areas[2].state[k] == lux::PointState::Counted, band) << p.x << ", " << p.y;
    counted += areas[2].state[k] == lux::PointState::Counted;
  }
  EXPECT_GT(counted, 0u);
  for (size_t k = 0; k < areas[3].points.size(); ++k) {
    const lux::Vec3 p = areas[3].points[k];
    const bool band = in(p, 0.5, 4.7, 0.0, 3.8) && !in(p, 1.5, 3.7, 1.0, 2.8);
    EXPECT_EQ(areas[3].state[k] == lux::PointState::Counted, band) << p.x << ", " << p.y;
  }
}

// Points under a cabinet are left out of the figures and nothing else
// changes: a cabinet that lets all light through masks exactly the points
// of its footprint, and the other points keep their values.
TEST_F(LuxTest, MaskedPointsChangeOnlyTheMaskedCount) {
  json scene;
  scene["lights"] = json::array({point_light("bulb", {1.1, 0.9, 2.5}, 400)});
  scene["surfaces"] = json::array({floor_surface(4, 0.25)});
  const auto open = lux::calculate(build(scene.dump()), {})[0];
  // The cabinet stands on the floor over x in [2, 3], y in [0.5, 1.5].
  scene["occluders"] = json::array({{{"name", "cabinet"},
                                     {"shape", "box"},
                                     {"min", {2, 0.5, 0}},
                                     {"max", {3, 1.5, 1.2}},
                                     {"transparency", 1}}});
  const auto masked = lux::calculate(build(scene.dump()), {})[0];
  std::vector<double> free_values;
  size_t footprint = 0;
  for (size_t p = 0; p < open.grid.points.size(); ++p) {
    const lux::Vec3 x = open.grid.points[p];
    const bool under = x.x >= 2 && x.x <= 3 && x.y >= 0.5 && x.y <= 1.5;
    footprint += under;
    EXPECT_EQ(masked.grid.state[p] == lux::PointState::Masked, under);
    if (!under) {
      free_values.push_back(open.lux[p]);
      EXPECT_EQ(masked.lux[p], open.lux[p]);
    }
  }
  ASSERT_EQ(footprint, 16u);  // 4 × 4 cells of 0.25 m
  EXPECT_EQ(masked.stats.masked, footprint);
  EXPECT_EQ(masked.stats.counted, open.grid.points.size() - footprint);
  EXPECT_EQ(open.stats.masked, 0u);
  // The figures are those of the free points alone.
  const double lo = *std::min_element(free_values.begin(), free_values.end());
  const double hi = *std::max_element(free_values.begin(), free_values.end());
  double sum = 0;
  for (double v : free_values) sum += v;
  EXPECT_EQ(masked.stats.min, lo);
  EXPECT_EQ(masked.stats.max, hi);
  EXPECT_NEAR(masked.stats.avg, sum / double(free_values.size()), 1e-12 * hi);
  EXPECT_NEAR(masked.stats.u0, lo / (sum / double(free_values.size())), 1e-12);
  EXPECT_NEAR(masked.stats.min_over_max, lo / hi, 1e-12);
}

// Maintained values are the new values times the maintenance factor, light
// by light: the scene's factor, or the light's own.
TEST_F(LuxTest, MaintainedValuesScaleExactlyWithTheFactor) {
  json scene;
  scene["lights"] =
      json::array({point_light("a", {1, 1, 2.5}, 300), point_light("b", {3, 2, 2.5}, 500)});
  scene["surfaces"] = json::array({floor_surface(4, 0.5)});
  scene["cylindrical"] = json::array({{{"name", "eyes"},
                                       {"corner", {0, 0, 0}},
                                       {"u", {4, 0, 0}},
                                       {"v", {0, 4, 0}},
                                       {"spacing", 1}}});
  const lux::Model& fresh_model = build(scene.dump());
  const auto fresh = lux::calculate(fresh_model, {})[0];
  const auto fresh_cyl = lux::calculate_cylindrical(fresh_model, {});
  scene["maintenance_factor"] = 0.8;
  scene["lights"][1]["maintenance_factor"] = 0.5;
  const lux::Model& kept_model = build(scene.dump());
  const auto kept = lux::calculate(kept_model, {})[0];
  const auto kept_cyl = lux::calculate_cylindrical(kept_model, {});
  const double mf[2] = {0.8, 0.5};
  for (size_t p = 0; p < fresh.lux.size(); ++p) {
    for (size_t l = 0; l < 2; ++l)
      EXPECT_DOUBLE_EQ(kept.per_light[l][p], mf[l] * fresh.per_light[l][p]);
    EXPECT_DOUBLE_EQ(kept.lux[p], 0.8 * fresh.per_light[0][p] + 0.5 * fresh.per_light[1][p]);
    EXPECT_DOUBLE_EQ(kept.lux_new[p], fresh.lux[p]);
  }
  EXPECT_DOUBLE_EQ(kept.stats_new.avg, fresh.stats.avg);
  // One factor for every light scales every figure by it.
  scene["lights"][1].erase("maintenance_factor");
  const lux::Model& even_model = build(scene.dump());
  const auto even = lux::calculate(even_model, {})[0];
  const auto even_cyl = lux::calculate_cylindrical(even_model, {});
  EXPECT_NEAR(even.stats.avg, 0.8 * fresh.stats.avg, 1e-12 * fresh.stats.avg);
  EXPECT_NEAR(even.stats.min, 0.8 * fresh.stats.min, 1e-12 * fresh.stats.min);
  EXPECT_NEAR(even.stats.u0, fresh.stats.u0, 1e-12);
  ASSERT_EQ(even_cyl.size(), 2u);
  for (size_t h = 0; h < 2; ++h) {
    EXPECT_NEAR(even_cyl[h].ez_stats.avg, 0.8 * fresh_cyl[h].ez_stats.avg,
                1e-12 * fresh_cyl[h].ez_stats.avg);
    EXPECT_NEAR(even_cyl[h].modelling, fresh_cyl[h].modelling, 1e-12);
  }
  (void)kept_cyl;
}

// A point source of intensity I at distance d, its direction at θ from the
// vertical and at α (horizontally) from a semi-cylinder's facing, gives
//   E_z  = I · sin θ / (π d²)                  on a small vertical cylinder,
//   E_sc = I · sin θ · (1 + cos α) / (π d²)    on a semi-cylinder: the mean of
//          max(0, cos(φ − α)) over its curved face, φ in [−90°, 90°], is
//          (1/π) ∫ cos(φ − α) dφ from α − 90° to 90° = (1 + cos α)/π,
//   E_h  = I · cos θ / d²                      on a horizontal plane.
TEST_F(LuxTest, CylindricalIlluminanceOfAPointSource) {
  const double I = 600;
  const lux::Vec3 eye{2, 2, 1.2};
  const lux::Vec3 lights[] = {{2, 2, 3.5}, {4, 2, 3}, {2.5, 0.5, 2.0}, {0.3, 3.1, 2.6}};
  for (const lux::Vec3& at : lights) {
    json scene;
    scene["lights"] = json::array({point_light("bulb", at, I)});
    scene["cylindrical"] = json::array({{{"name", "spot"},
                                         {"corner", {eye.x - 0.05, eye.y - 0.05, 0}},
                                         {"u", {0.1, 0, 0}},
                                         {"v", {0, 0.1, 0}},
                                         {"spacing", 1},
                                         {"heights", {eye.z}}}});
    const auto r = lux::calculate_cylindrical(build(scene.dump()), {});
    ASSERT_EQ(r.size(), 1u);
    ASSERT_EQ(r[0].points.size(), 1u);
    const lux::Vec3 d = at - eye;
    const double dist2 = lux::dot(d, d);
    const double sin_theta = std::hypot(d.x, d.y) / std::sqrt(dist2);
    const double cos_theta = d.z / std::sqrt(dist2);
    const double tol = 1e-5 * I / dist2;
    EXPECT_NEAR(r[0].ez[0], I * sin_theta / (kPi * dist2), tol);
    EXPECT_NEAR(r[0].eh[0], I * cos_theta / dist2, tol);
    for (size_t k = 0; k < size_t(lux::kFacings); ++k) {
      const lux::Vec3 f = lux::semi_cylinder_facings()[k];
      const double cos_alpha = sin_theta > 0 ? (d.x * f.x + d.y * f.y) / std::hypot(d.x, d.y) : 0;
      EXPECT_NEAR(r[0].esc[0][k], I * sin_theta * (1 + cos_alpha) / (kPi * dist2), tol)
          << "facing " << k;
    }
    EXPECT_NEAR(r[0].modelling, sin_theta / (kPi * cos_theta), 1e-5);
  }
}

// The interreflected part from vertical-plane illuminances: a uniform
// diffuse field of radiance L gives E = πL on every plane, so E_z = E_sc =
// πL too; a field that lights only planes facing +x as E·max(0, cos φ)
// gives E_z = E/π and E_sc(+x) = 2E/π, E_sc(−x) = 0.
TEST(LuxCylindrical, InterreflectedPartFromPlaneIlluminance) {
  const auto uniform = [](lux::Vec3, lux::Vec3) { return 50.0; };
  const auto u = lux::interreflected_cylindrical(uniform, {0, 0, 1.2});
  EXPECT_NEAR(u.ez, 50, 1e-12);
  EXPECT_NEAR(u.eh, 50, 1e-12);
  for (double e : u.esc) EXPECT_NEAR(e, 50, 1e-12);
  // A beam along −x: the plane facing n gets E·max(0, n·x̂).
  const auto beam = [](lux::Vec3, lux::Vec3 n) { return 80.0 * std::max(0.0, n.x); };
  const auto b = lux::interreflected_cylindrical(beam, {0, 0, 1.2}, 64);
  EXPECT_NEAR(b.ez, 80 / kPi, 1e-3 * 80);
  EXPECT_NEAR(b.esc[0], 2 * 80 / kPi, 2e-3 * 80);
  EXPECT_NEAR(b.esc[2], 0, 1e-12);
  EXPECT_NEAR(b.eh, 0, 1e-12);
}

// One recessed 600 × 600 mm panel of 3400 lm with a cosine distribution
// (I(γ) = I0·cos γ, Φ = π·I0), seen by a seated observer. By hand:
//   eye (0, 0, 1.2) looking along +x; panel centre (3, 0.5, 2.8), facing down.
//   R = 3 ahead, Y = 0.5 to the left, H = 1.6 above; d² = 11.81.
//   cos γ = H/d = 0.4656; I = (3400/π)·cos γ = 503.9 cd.
//   A = 0.36·cos γ = 0.1676 m², L = I/A = 3400/(π·0.36) = 3006 cd/m²,
//   ω = A/d² = 0.01419 sr.
//   Guth's index by Levin's formula, τ = atan(Y/H) = 17.35°,
//   σ = atan(√(H² + Y²)/R) = 29.20°: p = 2.93 (below).
//   L_b = 40 lx / π = 12.73 cd/m²;
//   UGR = 8·log10(0.25/L_b · L²·ω/p²) = 8·log10(0.25/12.73 · 1.491e4) = 19.7.
// A luminaire behind the eye and one straight overhead (H/R = 3.2, beyond
// the field) add nothing.
TEST_F(LuxTest, GlareRatingOfOneLuminaireMatchesAHandCalculation) {
  const json panel = {{"shape", "rectangle"},
                      {"size", {0.6, 0.6}},
                      {"samples", 64},
                      {"shader",
                       {{"intensity", 3400},
                        {"intensity_unit", 1},
                        {"cosine_distribution", true},
                        {"cosine_exponent", 1}}}};
  json scene;
  json seen = panel, behind = panel, overhead = panel;
  seen["name"] = "seen";
  seen["position"] = {3, 0.5, 2.8};
  behind["name"] = "behind";
  behind["position"] = {-2, 0, 2.8};
  overhead["name"] = "overhead";
  overhead["position"] = {0.5, 0, 2.8};
  scene["lights"] = json::array({seen, behind, overhead});
  scene["observers"] =
      json::array({{{"name", "seat"}, {"position", {0, 0, 1.2}}, {"directions", {{1, 0, 0}}}}});
  const lux::Model& model = build(scene.dump());
  const double background = 40;
  const auto report =
      lux::calculate_glare(model, {}, [&](lux::Vec3, lux::Vec3) { return background; });
  ASSERT_EQ(report.results.size(), 1u);
  const auto& r = report.results[0];
  ASSERT_EQ(r.sources.size(), 1u);
  EXPECT_EQ(r.sources[0].light, "seen");

  const double H = 1.6, Y = 0.5, R = 3;
  const double d2 = H * H + Y * Y + R * R;
  const double cos_g = H / std::sqrt(d2);
  const double I = 3400 / kPi * cos_g;
  const double A = 0.36 * cos_g;
  const double L = I / A;
  const double omega = A / d2;
  const double tau = std::atan(Y / H) * 180 / kPi;
  const double sigma = std::atan(std::hypot(H, Y) / R) * 180 / kPi;
  const double p = std::exp((35.2 - 0.31889 * tau - 1.22 * std::exp(-2 * tau / 9)) * 1e-3 * sigma +
                            (21 + 0.26667 * tau - 0.002963 * tau * tau) * 1e-5 * sigma * sigma);
  EXPECT_NEAR(p, 2.93, 0.01);
  const double Lb = background / kPi;
  const double ugr = 8 * std::log10(0.25 / Lb * L * L * omega / (p * p));
  EXPECT_NEAR(r.sources[0].intensity, I, 0.01 * I);
  EXPECT_NEAR(r.sources[0].projected_area, A, 1e-6);
  EXPECT_NEAR(r.sources[0].luminance, L, 0.01 * L);
  EXPECT_NEAR(r.sources[0].solid_angle, omega, 1e-9);
  EXPECT_NEAR(r.sources[0].position_index, p, 1e-9);
  EXPECT_NEAR(r.background_luminance, Lb, 1e-12);
  ASSERT_TRUE(r.ugr.has_value());
  EXPECT_NEAR(*r.ugr, ugr, 0.1);
  EXPECT_NEAR(ugr, 19.73, 0.01);
  EXPECT_DOUBLE_EQ(lux::rounded_ugr(*r.ugr), 19.7);
  ASSERT_TRUE(report.largest.has_value());
  EXPECT_EQ(*report.largest, *r.ugr);
}

// The Guth index is 1 on the line of sight and grows away from it; sources
// behind the eye, below the line of sight or beyond the table are out.
TEST(LuxGlare, PositionIndexAndFieldOfView) {
  EXPECT_NEAR(lux::guth_position_index(0, 0, 1), 1.0, 1e-12);
  EXPECT_LT(lux::guth_position_index(0.5, 0, 1), lux::guth_position_index(1.0, 0, 1));
  EXPECT_LT(lux::guth_position_index(1.0, 1.0, 2), lux::guth_position_index(1.0, 1.0, 1));
  struct Case {
    double H, Y, R;
    bool in;
  };
  const Case cases[] = {{1, 0, 2, true},     {1, 0, -2, false}, {-0.1, 0, 2, false},
                        {2, 0, 1, false},    {1.9, 0, 1, true}, {0.5, 3.5, 1, false},
                        {0.5, -2.9, 1, true}};
  for (const Case& c : cases) EXPECT_EQ(lux::in_glare_field(c.H, c.Y, c.R), c.in) << c.H << c.R;
  // The room estimate of interreflected light: Φρ/(A(1 − ρ)).
  EXPECT_NEAR(lux::room_interreflected_lux(10000, 100, 0.5), 100, 1e-12);
}

// An array of 2 × 3 is six lights with the entry's parameters, named by
// row and column, every second row shifted by the offset; the results equal
// those of the six written out one by one.
TEST_F(LuxTest, ArrayOfTwoByThreeEqualsSixSingleLights) {
  json entry = point_light("panel", {1, 1, 2.8}, 250);
  entry["maintenance_factor"] = 0.9;
  json arrayed = entry;
  arrayed["array"] = {{"rows", 2}, {"columns", 3}, {"spacing", {1.5, 2}}, {"offset", {0.5, 0}}};
  json scene;
  scene["lights"] = json::array({arrayed});
  scene["surfaces"] = json::array({floor_surface(6, 0.5)});
  const lux::Model& a = build(scene.dump());
  std::vector<std::string> names;
  for (const auto& l : a.lights()) names.push_back(l.name);
  const auto from_array = lux::calculate(a, {})[0];

  json singles = json::array();
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) {
      json l = entry;
      l["name"] = "panel[" + std::to_string(r + 1) + "," + std::to_string(c + 1) + "]";
      l["position"] = {1 + 1.5 * c + (r == 1 ? 0.5 : 0), 1 + 2 * r, 2.8};
      singles.push_back(l);
    }
  scene["lights"] = singles;
  const lux::Model& b = build(scene.dump());
  const auto from_singles = lux::calculate(b, {})[0];
  ASSERT_EQ(names.size(), 6u);
  for (size_t l = 0; l < 6; ++l) EXPECT_EQ(names[l], b.lights()[l].name);
  EXPECT_EQ(names[5], "panel[2,3]");
  EXPECT_EQ(from_array.lux, from_singles.lux);
  EXPECT_EQ(from_array.per_light, from_singles.per_light);
}

// Footcandles are lumen per square foot: E_fc = E_lx × 0.3048², with
// positions in feet.
TEST_F(LuxTest, FootcandlesAndFeetInTheGridFile) {
  json scene;
  scene["lights"] = json::array({point_light("bulb", {1, 1, 2}, 300)});
  scene["surfaces"] = json::array({floor_surface(2, 1)});
  const auto r = lux::calculate(build(scene.dump()), {})[0];
  const auto units = lux::output_units(true, scene_->unit);
  std::istringstream csv(lux::grid_csv(r, {"bulb"}, units));
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line, "i,j,x,y,z,E_fc,E_direct_fc,E_interreflected_fc,E_bulb,MF");
  std::getline(csv, line);
  double cells[10];
  std::istringstream row(line);
  for (double& c : cells) {
    std::string cell;
    std::getline(row, cell, ',');
    c = std::stod(cell);
  }
  EXPECT_NEAR(cells[2], 0.5 / 0.3048, 1e-6);
  EXPECT_NEAR(cells[5], r.lux[0] * 0.3048 * 0.3048, 1e-6 * r.lux[0]);
  EXPECT_NEAR(cells[8], r.lux[0] * 0.3048 * 0.3048, 1e-6 * r.lux[0]);
  EXPECT_EQ(cells[9], 1.0);
}

// Refused input names the element and the field.
TEST(LuxDesignScene, BadInputNamesElementAndField) {
  const json light = {{"name", "lamp"}, {"position", {1, 1, 2.5}}};
  const json floor = {{"name", "floor"},
                      {"corner", {0, 0, 0}},
                      {"u", {4, 0, 0}},
                      {"v", {0, 4, 0}},
                      {"spacing", 0.5}};
  struct Case {
    const char* what;
    json scene;
    const char* message;
  };
  const auto with = [&](const std::function<void(json&)>& edit) {
    json s = {{"lights", {light}}, {"surfaces", {floor}}};
    edit(s);
    return s;
  };
  const Case cases[] = {
      {"scene factor above 1", with([](json& s) { s["maintenance_factor"] = 1.2; }),
       "test.json: \"maintenance_factor\" must lie between 0.01 and 1"},
      {"light factor 0", with([](json& s) { s["lights"][0]["maintenance_factor"] = 0; }),
       "test.json: light \"lamp\": \"maintenance_factor\" must lie between 0.01 and 1"},
      {"observer in a cabinet", with([](json& s) {
         s["occluders"] = {
             {{"name", "cabinet"}, {"shape", "box"}, {"min", {0, 0, 0}}, {"max", {1, 1, 2}}}};
         s["observers"] = {
             {{"name", "eye"}, {"position", {0.5, 0.5, 1.2}}, {"directions", {{1, 0, 0}}}}};
       }),
       "test.json: observer \"eye\": \"position\" lies inside occluder \"cabinet\""},
      {"array of 0 rows", with([](json& s) {
         s["lights"][0]["array"] = {{"rows", 0}, {"columns", 2}, {"spacing", 1}};
       }),
       "test.json: light \"lamp\": \"array\": \"rows\" must lie between 1 and 1000"},
      {"task area beyond its surface", with([](json& s) {
         s["surfaces"][0]["task_areas"] = {
             {{"name", "desk"}, {"corner", {3.5, 1, 0}}, {"size", {1, 1}}}};
       }),
       "test.json: surface \"floor\": task area \"desk\": lies outside its surface"},
      {"task area off the plane", with([](json& s) {
         s["surfaces"][0]["task_areas"] = {
             {{"name", "desk"}, {"corner", {1, 1, 0.7}}, {"size", {1, 1}}}};
       }),
       "test.json: surface \"floor\": task area \"desk\": \"corner\" lies off the plane"},
      {"unknown spacing", with([](json& s) { s["surfaces"][0]["spacing"] = "wide"; }),
       "test.json: surface \"floor\": \"spacing\" must be a length or \"standard\""},
      {"vertical view", with([](json& s) {
         s["observers"] = {
             {{"name", "eye"}, {"position", {2, 2, 1.2}}, {"directions", {{0, 0, 1}}}}};
       }),
       "test.json: observer \"eye\": \"directions\": a viewing direction must not be vertical"},
  };
  for (const Case& c : cases) {
    try {
      lux::parse_scene(c.scene.dump(), "test.json", ".");
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const lux::Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << c.what << ": " << e.what();
    }
  }
}

}  // namespace
