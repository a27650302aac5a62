// The luminaire's UGR table by the tabular method, checked against the
// standard's own tabulated transfer factors and against a second
// calculation written here from the method's definition: the CIE sum over
// every luminaire of the standard array, with its own geometry, projected
// areas from the outline of the luminous opening, Levin's position index,
// the direct ratio integrated over the floor, and interreflection by
// bounces instead of a solved system.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/opening_outline.h"
#include "tools/lux/metrics/glare.h"
#include "tools/lux/metrics/ugr_table.h"
#include "tools/lux/model/photometry.h"
#include "tools/lux/model/photometry_tables.h"

namespace {

namespace fs = std::filesystem;
using lux::UgrRoom;
using lux::UgrView;
using zeltest::cross;
using zeltest::dot;
using zeltest::hull_area;
using zeltest::outline;
using zeltest::unit;
using zeltest::V3;

constexpr double kPi = 3.141592653589793;
constexpr double kDegToRad = kPi / 180.0;

fs::path shared_profiles() {
  const char* env = std::getenv("ZEL_SHARED_DIR");
  return fs::path(env != nullptr ? env : ZEL_SHARED_DIR) / "profiles";
}

// A rotationally symmetric table of I(γ) at every degree.
template <class F>
refhost::ProfileTable axial_table(F intensity) {
  refhost::ProfileTable t;
  for (int g = 0; g <= 180; ++g) t.vertical.push_back(g);
  t.horizontal = {0};
  for (const double g : t.vertical) t.candela.push_back(static_cast<float>(intensity(g)));
  return t;
}

lux::LuminousOpening rectangle(double length, double width) {
  lux::LuminousOpening o;
  o.kind = lux::LuminousOpening::Kind::Rectangle;
  o.length = length;
  o.width = width;
  o.description = "rectangle";
  return o;
}

// ---- the second calculation ------------------------------------------------------

// Levin's fit of Guth's position index, written out again.
double position_index(double H, double T, double R) {
  const double tau = std::atan(std::fabs(T) / H) / kDegToRad;
  const double sigma = std::atan(std::sqrt(H * H + T * T) / R) / kDegToRad;
  return std::exp((35.2 - 0.31889 * tau - 1.22 * std::exp(-2 * tau / 9)) * 1e-3 * sigma +
                  (21 + 0.26667 * tau - 0.002963 * tau * tau) * 1e-5 * sigma * sigma);
}

// The luminaire-frame direction from a luminaire T across and R ahead of
// the eye, H above it, back to the eye.
V3 to_eye(double T, double R, double H, UgrView view) {
  // Crosswise the luminaire's C0 axis points back along the line of sight
  // and C90 to the right; endwise C0 points left and C90 back.
  const V3 d = unit({-T, -R, -H});
  return view == UgrView::Crosswise ? V3{-d.y, d.x, d.z} : V3{-d.x, -d.y, d.z};
}

double candela(const refhost::ProfileTable& t, V3 d) {
  return double(refhost::sample_table(t, {float(d.x), float(d.y), float(d.z)}));
}

// Σ I² / (A r² p²) over the standard array, 0.25 H apart, from the eye at
// the middle of the wall.
double direct_sum(const refhost::ProfileTable& t, const lux::LuminousOpening& o, UgrRoom room,
                  UgrView view) {
  const double H = 3.0, S = 0.25 * H;  // any height: the rating does not depend on it
  const std::vector<V3> points = outline(o);
  double sum = 0;
  for (double x = S / 2; x < room.x * H; x += S)
    for (double y = S / 2; y < room.y * H; y += S) {
      const double T = x - room.x * H / 2, R = y;
      if (H / R > 1.9 || std::fabs(T) / R > 3) continue;
      const V3 d = to_eye(T, R, H, view);
      const double area = hull_area(points, d);
      const double p = position_index(H, T, R);
      const double I = candela(t, d);
      sum += I * I / (area * (T * T + R * R + H * H) * p * p);
    }
  return sum;
}

// The luminaire's flux below and above the horizon, by the midpoint rule
// on a fine grid of directions.
struct Flux {
  double down = 0, up = 0;
};
Flux flux_of(const refhost::ProfileTable& t) {
  Flux f;
  const int n = 360, m = 144;
  for (int i = 0; i < n; ++i) {
    const double g = (i + 0.5) * kPi / n;
    for (int j = 0; j < m; ++j) {
      const double c = (j + 0.5) * 2 * kPi / m;
      const V3 d{std::sin(g) * std::cos(c), std::sin(g) * std::sin(c), -std::cos(g)};
      (g < kPi / 2 ? f.down : f.up) += candela(t, d) * std::sin(g) * (kPi / n) * (2 * kPi / m);
    }
  }
  return f;
}

// The illuminance a luminaire one H above the floor gives on the floor's
// cells, 1/8 H square, at every offset from below it up to the largest
// room: the direct flux of any array 1 H apart sums these.
class FloorLight {
 public:
  static constexpr int kCells = 8;  // per H
  static constexpr int kReach = 12 * kCells;
  explicit FloorLight(const refhost::ProfileTable& t) : e_(size_t(4 * kReach * kReach)) {
    for (int k = -kReach; k < kReach; ++k)
      for (int l = -kReach; l < kReach; ++l) {
        const double dx = (k + 0.5) / kCells, dy = (l + 0.5) / kCells;
        const double r2 = dx * dx + dy * dy + 1;
        // Crosswise orientation: the luminaire's C0 along −Y of the room.
        const V3 d = unit({-dy, dx, -1});
        e_[index(k, l)] = candela(t, d) / (r2 * std::sqrt(r2)) / (kCells * kCells);
      }
  }
  // The flux one luminaire of the array sends straight onto the floor,
  // averaged over the array (luminaires at the centres of 1 H squares).
  double to_floor(UgrRoom room) const {
    const auto nx = static_cast<int>(room.x), ny = static_cast<int>(room.y);
    double sum = 0;
    for (int a = 0; a < nx; ++a)
      for (int b = 0; b < ny; ++b)
        for (int i = 0; i < nx * kCells; ++i)
          for (int j = 0; j < ny * kCells; ++j)
            sum += e_[index(i - a * kCells - kCells / 2, j - b * kCells - kCells / 2)];
    return sum / (nx * ny);
  }

 private:
  static size_t index(int k, int l) { return size_t(k + kReach) * 2 * kReach + size_t(l + kReach); }
  std::vector<double> e_;
};

// The view factor from a point to a parallel rectangle whose corner lies
// straight above it, a × b at height c.
double corner_factor(double a, double b, double c) {
  const double A = a / c, B = b / c;
  return (A / std::sqrt(1 + A * A) * std::atan(B / std::sqrt(1 + A * A)) +
          B / std::sqrt(1 + B * B) * std::atan(A / std::sqrt(1 + B * B))) /
         (2 * kPi);
}

// Floor to ceiling of the cavity X × Y × 1: the point factor to the four
// quarters of the ceiling around each point, averaged over the floor.
double floor_to_ceiling(UgrRoom room) {
  const int n = 64;
  double sum = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double x = (i + 0.5) * room.x / n, y = (j + 0.5) * room.y / n;
      sum += corner_factor(x, y, 1) + corner_factor(room.x - x, y, 1) +
             corner_factor(x, room.y - y, 1) + corner_factor(room.x - x, room.y - y, 1);
    }
  return sum / (n * n);
}

// Flux landing on the walls after reflections, per lumen first landing on
// floor, walls, ceiling: bounce after bounce until nothing is left.
lux::CavityTransfer bounced(UgrRoom room, lux::UgrReflectances r, double fc) {
  const double fw = 1 - fc;
  const double wf = room.x * room.y * fw / (2 * (room.x + room.y));
  const double F[3][3] = {{0, fw, fc}, {wf, 1 - 2 * wf, wf}, {fc, fw, 0}};
  const double rho[3] = {r.floor, r.walls, r.ceiling};
  double out[3];
  for (int first = 0; first < 3; ++first) {
    double landing[3] = {0, 0, 0}, walls = 0;
    landing[first] = 1;
    for (int bounce = 0; bounce < 400; ++bounce) {
      double next[3] = {0, 0, 0};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) next[j] += landing[i] * rho[i] * F[i][j];
      walls += next[1];
      std::copy(next, next + 3, landing);
    }
    out[first] = walls;
  }
  return {out[0], out[1], out[2]};
}

struct SecondCalculation {
  // [room][view][reflectances]
  std::vector<double> ugr;
  double at(size_t room, UgrView v, size_t k) const {
    return ugr[(room * 2 + size_t(v)) * lux::kUgrReflectanceCount + k];
  }
};

SecondCalculation second_calculation(const refhost::ProfileTable& t,
                                     const lux::LuminousOpening& o) {
  SecondCalculation s;
  const Flux flux = flux_of(t);
  const FloorLight floor(t);
  const double H = 3.0;
  for (const UgrRoom room : lux::kUgrRooms) {
    const double to_floor = floor.to_floor(room);
    const double fc = floor_to_ceiling(room);
    const double count = room.x * room.y * 16;  // 0.25 H apart
    const double wall_area = 2 * (room.x + room.y) * H * H;
    const double sums[2] = {direct_sum(t, o, room, UgrView::Crosswise),
                            direct_sum(t, o, room, UgrView::Endwise)};
    for (int v = 0; v < 2; ++v)
      for (const lux::UgrReflectances& r : lux::kUgrReflectances) {
        const lux::CavityTransfer k = bounced(room, r, fc);
        const double wall_lux =
            count / wall_area *
            (to_floor * k.floor + (flux.down - to_floor) * k.walls + flux.up * k.ceiling);
        s.ugr.push_back(8 * std::log10(0.25 / (wall_lux / kPi) * sums[v]));
      }
  }
  return s;
}

void expect_tables_agree(const lux::UgrTable& table, const SecondCalculation& second,
                         double tolerance, const std::string& what) {
  double worst = 0;
  for (size_t room = 0; room < lux::kUgrRoomCount; ++room)
    for (const UgrView v : {UgrView::Crosswise, UgrView::Endwise})
      for (size_t k = 0; k < lux::kUgrReflectanceCount; ++k) {
        const double a = table.at(room, v, k), b = second.at(room, v, k);
        worst = std::max(worst, std::fabs(a - b));
        EXPECT_NEAR(a, b, tolerance)
            << what << ": room " << lux::kUgrRooms[room].x << "H x " << lux::kUgrRooms[room].y
            << "H, " << (v == UgrView::Crosswise ? "crosswise" : "endwise") << ", reflectances "
            << k;
      }
  ::testing::Test::RecordProperty(what + " largest difference", std::to_string(worst));
}

// ---- tests ---------------------------------------------------------------------

// The transfer factors of the cavity are those the standard tabulates for
// its rooms and reflectances (to its three decimals), and those of light
// bouncing from surface to surface with a view factor integrated over the
// floor.
TEST(UgrTable, CavityTransferIsTheStandardsAndTheBouncesOne) {
  const struct {
    UgrRoom room;
    size_t reflectances;
    double floor, walls, ceiling;  // tabulated
  } cases[] = {
      {{2, 2}, 0, 0.220, 0.422, 0.646}, {{2, 12}, 0, 0.160, 0.290, 0.443},
      {{4, 8}, 0, 0.115, 0.211, 0.307}, {{8, 8}, 0, 0.083, 0.155, 0.215},
      {{2, 4}, 1, 0.164, 0.184, 0.465}, {{8, 6}, 1, 0.088, 0.098, 0.231},
      {{4, 4}, 2, 0.125, 0.235, 0.267}, {{12, 8}, 3, 0.058, 0.067, 0.120},
      {{2, 2}, 4, 0.157, 0.181, 0.227}, {{4, 12}, 4, 0.074, 0.083, 0.104},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.room.x << "H x " << c.room.y << "H, reflectances " << c.reflectances);
    const lux::CavityTransfer t =
        lux::cavity_transfer(c.room, lux::kUgrReflectances[c.reflectances]);
    EXPECT_NEAR(t.floor, c.floor, 6e-4);
    EXPECT_NEAR(t.walls, c.walls, 6e-4);
    EXPECT_NEAR(t.ceiling, c.ceiling, 6e-4);
    const lux::CavityTransfer b =
        bounced(c.room, lux::kUgrReflectances[c.reflectances], floor_to_ceiling(c.room));
    // The bounces' view factor is integrated on a grid: to a few 1e-4.
    EXPECT_NEAR(t.floor, b.floor, 5e-4);
    EXPECT_NEAR(t.walls, b.walls, 5e-4);
    EXPECT_NEAR(t.ceiling, b.ceiling, 5e-4);
  }
}

// The method's zonal coefficients give the direct ratio of an array 1 H
// apart, for narrow, wide and batwing light: the flux on the floor
// integrated here, and by the calculator over directions.
TEST(UgrTable, ZonalCoefficientsGiveTheDirectRatioOfAnArrayOneHApart) {
  const refhost::ProfileTable tables[] = {
      axial_table([](double g) { return g < 90 ? 1000 * std::cos(g * kDegToRad) : 0.0; }),
      axial_table(
          [](double g) { return g < 90 ? 1000 * std::pow(std::cos(g * kDegToRad), 8) : 0.0; }),
      axial_table([](double g) {
        const double r = g * kDegToRad;
        return g < 90 ? 1000 * (0.2 + std::pow(std::sin(r), 2)) * std::cos(r) : 0.0;
      }),
  };
  const UgrRoom rooms[] = {{2, 2}, {2, 4}, {2, 12}, {4, 4}, {4, 8}, {8, 8}, {12, 8}};
  for (size_t i = 0; i < 3; ++i) {
    const FloorLight floor(tables[i]);
    const double down = flux_of(tables[i]).down;
    for (const UgrRoom room : rooms) {
      SCOPED_TRACE(::testing::Message()
                   << "distribution " << i << ", room " << room.x << "H x " << room.y << "H");
      const std::optional<lux::FirstLanding> l = lux::first_landing(tables[i], room);
      ASSERT_TRUE(l.has_value());
      const double integrated = floor.to_floor(room) / down;
      // Four coefficients per room index stand for every distribution: the
      // narrowest beams' direct ratios they miss by up to 3 points.
      EXPECT_NEAR(l->floor / (l->floor + l->walls), integrated, 0.03);
      const auto nx = static_cast<size_t>(room.x), ny = static_cast<size_t>(room.y);
      EXPECT_NEAR(lux::array_direct_ratio(tables[i], room, nx, ny), integrated, 0.005);
    }
  }
}

// The table of a flat square opening of even luminance (Lambertian) against
// the second calculation, in every room, view and reflectance column.
TEST(UgrTable, LambertianPanelAgreesWithTheSecondCalculation) {
  const double area = 0.6 * 0.6, luminance = 4000;  // cd/m²
  const refhost::ProfileTable t = axial_table(
      [&](double g) { return g < 90 ? luminance * area * std::cos(g * kDegToRad) : 0.0; });
  const lux::LuminousOpening o = rectangle(0.6, 0.6);
  std::string why;
  const std::optional<lux::UgrTable> table = lux::ugr_table({&t, o}, why);
  ASSERT_TRUE(table.has_value()) << why;
  expect_tables_agree(*table, second_calculation(t, o), 0.3, "Lambertian panel");
  // An even-luminance panel seen the same across and along.
  for (size_t room = 0; room < lux::kUgrRoomCount; ++room)
    EXPECT_NEAR(table->at(room, UgrView::Crosswise, 0), table->at(room, UgrView::Endwise, 0), 1e-9);
}

// The same on three shared files: a narrow downlight, a batwing and a
// direct-indirect luminaire.
TEST(UgrTable, SharedLuminairesAgreeWithTheSecondCalculation) {
  const fs::path dir = shared_profiles();
  if (!fs::exists(dir)) GTEST_SKIP() << "no shared profiles at " << dir;
  for (const char* name :
       {"Testlamp_Isym1_007cfb11e343e2f42e3b476be4ab684e.ldt", "road_luminaire.ldt", "1.IES"}) {
    const fs::path p = dir / name;
    const lux::PhotometricFile f = lux::read_photometric_file(p, lux::format_of(p));
    std::string why;
    const std::optional<lux::UgrTable> table = lux::ugr_table({&f.table, f.luminaire.opening}, why);
    ASSERT_TRUE(table.has_value()) << name << ": " << why;
    expect_tables_agree(*table, second_calculation(f.table, f.luminaire.opening), 0.3, name);
  }
}

// What the formula says of every cell: twice the intensity is 8 log10 2
// more; the same intensity from twice the area is 8 log10 2 less (the
// luminance halves, the solid angle doubles); and a luminaire turned a
// quarter round, length and width swapped, reads crosswise what it read
// endwise.
TEST(UgrTable, FollowsIntensityAreaAndOrientation) {
  // Asymmetric: brighter towards C0 than towards C90.
  const auto light = [](double g, double c) {
    const double r = g * kDegToRad, a = c * kDegToRad;
    return g < 90 ? 800 * std::cos(r) * (1 + 0.6 * std::sin(r) * std::pow(std::cos(a), 2)) : 0.0;
  };
  const auto table = [&](double turn, double scale) {
    refhost::ProfileTable t;
    for (int g = 0; g <= 180; g += 2) t.vertical.push_back(g);
    for (int c = 0; c <= 360; c += 5) t.horizontal.push_back(c);
    for (const double c : t.horizontal)
      for (const double g : t.vertical)
        t.candela.push_back(static_cast<float>(scale * light(g, c - turn)));
    return t;
  };
  const refhost::ProfileTable base = table(0, 1), brighter = table(0, 2), turned = table(90, 1);
  std::string why;
  const auto a = lux::ugr_table({&base, rectangle(1.2, 0.3)}, why);
  const auto twice_i = lux::ugr_table({&brighter, rectangle(1.2, 0.3)}, why);
  const auto twice_a = lux::ugr_table({&base, rectangle(1.2, 0.6)}, why);
  const auto quarter = lux::ugr_table({&turned, rectangle(0.3, 1.2)}, why);
  ASSERT_TRUE(a && twice_i && twice_a && quarter) << why;
  const double step = 8 * std::log10(2.0);
  for (size_t room = 0; room < lux::kUgrRoomCount; ++room)
    for (size_t k = 0; k < lux::kUgrReflectanceCount; ++k) {
      SCOPED_TRACE(::testing::Message() << "room " << room << ", reflectances " << k);
      for (const UgrView v : {UgrView::Crosswise, UgrView::Endwise}) {
        EXPECT_NEAR(twice_i->at(room, v, k) - a->at(room, v, k), step, 1e-6);
        EXPECT_NEAR(twice_a->at(room, v, k) - a->at(room, v, k), -step, 1e-6);
      }
      EXPECT_NEAR(quarter->at(room, UgrView::Crosswise, k), a->at(room, UgrView::Endwise, k), 0.02);
      EXPECT_NEAR(quarter->at(room, UgrView::Endwise, k), a->at(room, UgrView::Crosswise, k), 0.02);
      EXPECT_GT(std::fabs(a->at(room, UgrView::Crosswise, k) - a->at(room, UgrView::Endwise, k)),
                0.1);
    }
}

// At the standard spacing the rating hardly depends on where the observer
// stands between two columns of luminaires (what makes the table a table);
// at real spacings it does, and the variation says by how much.
TEST(UgrTable, StandardSpacingIsFineEnoughForTheObserversPlace) {
  const refhost::ProfileTable t = axial_table(
      [](double g) { return g < 90 ? 2000 * std::pow(std::cos(g * kDegToRad), 2) : 0.0; });
  const lux::UgrLuminaire lum{&t, rectangle(0.6, 0.6)};
  for (const UgrRoom room : lux::kUgrRooms)
    for (const UgrView v : {UgrView::Crosswise, UgrView::Endwise}) {
      const double standard = lux::ugr_glare_sum(lum, room, v, lux::kUgrStandardSpacing) /
                              double(lux::ugr_luminaire_count(room, lux::kUgrStandardSpacing));
      for (double phase = 0.0625; phase < 1; phase += 0.125) {
        const double moved =
            lux::ugr_glare_sum(lum, room, v, lux::kUgrStandardSpacing, phase) /
            double(lux::ugr_luminaire_count(room, lux::kUgrStandardSpacing, phase));
        EXPECT_NEAR(8 * std::log10(moved / standard), 0, 0.1)
            << room.x << "H x " << room.y << "H, phase " << phase;
      }
    }
  std::string why;
  const auto table = lux::ugr_table(lum, why);
  ASSERT_TRUE(table.has_value()) << why;
  ASSERT_EQ(table->variation.size(), 3u);
  for (const auto& v : table->variation)
    for (int view = 0; view < 2; ++view) {
      EXPECT_GE(v.rise[view], v.fall[view]);
      EXPECT_GT(v.rise[view] - v.fall[view], 0.05) << "spacing " << v.spacing;
    }
}

// Guth's position index as the calculator computes it (Levin's fit) against
// values of the CIE's table, within the fit's few percent.
TEST(UgrTable, PositionIndexFollowsGuthsTable) {
  const struct {
    double h_over_r, t_over_r, p;
  } table[] = {{0.0, 0.0, 1.00}, {0.5, 0.0, 2.86},  {0.5, 0.5, 2.91},
               {1.0, 1.0, 7.00}, {0.0, 1.0, 2.11},  {0.6, 0.6, 3.60},
               {0.3, 1.3, 3.70}, {1.5, 2.0, 12.85}, {1.9, 3.0, 16.00}};
  for (const auto& c : table)
    EXPECT_NEAR(lux::guth_position_index(c.h_over_r, c.t_over_r, 1.0), c.p, 0.07 * c.p)
        << "H/R " << c.h_over_r << ", T/R " << c.t_over_r;
}

// What cannot be rated is said: no luminous opening, no light downward.
TEST(UgrTable, RefusesWhatHasNoLuminanceOrNoDownwardLight) {
  const refhost::ProfileTable down = axial_table([](double g) { return g < 90 ? 100.0 : 0.0; });
  const refhost::ProfileTable up = axial_table([](double g) { return g > 90 ? 100.0 : 0.0; });
  std::string why;
  EXPECT_FALSE(lux::ugr_table({&down, lux::LuminousOpening{}}, why));
  EXPECT_NE(why.find("no luminous opening"), std::string::npos) << why;
  EXPECT_FALSE(lux::ugr_table({&up, rectangle(0.3, 0.3)}, why));
  EXPECT_NE(why.find("below the horizon"), std::string::npos) << why;
}

}  // namespace
