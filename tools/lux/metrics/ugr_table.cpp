#include "tools/lux/metrics/ugr_table.h"

#include <algorithm>
#include <cmath>

#include "tools/lux/metrics/glare.h"
#include "tools/lux/model/photometry_tables.h"

namespace lux {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kRadToDeg = 180.0 / kPi;
constexpr double kHorizon = 90.0;
constexpr double kZenith = 180.0;
// Room sizes are whole multiples of a spacing up to rounding.
constexpr double kWhole = 1e-9;
// The smallest room side (in H) the spacing variation looks at: two
// luminaires across at the widest spacing.
constexpr double kVariationRoomSide = 4.0;
// Where the observer stands between two columns of luminaires, for the
// variation: this many places evenly over one spacing.
constexpr int kVariationSteps = 8;

// The tabular method's zonal coefficients (CIE 190:2010 tabulates them per
// room index): for a room index k the direct flux on the floor cavity is
// Σ fᵢ Φᵢ, Φᵢ the flux in the cones of the CIE flux code (0–41.4°, 0–60°,
// 0–75.5°, 0–90°). They stand for the direct ratio of a regular array 1 H
// apart in a room of that index: within a point or two for most light,
// within three for the narrowest beams (the tests integrate it). One row
// per room index of the standard rooms.
struct DirectRatioCoefficients {
  double k;
  double f[4];
};
constexpr DirectRatioCoefficients kDirectRatio[] = {
    {1.00, {0.690, 0.109, 0.085, -0.016}},    {1.20, {0.578, 0.200, 0.127, -0.018}},
    {4.0 / 3, {0.528, 0.218, 0.170, -0.017}}, {1.50, {0.485, 0.215, 0.222, -0.012}},
    {1.60, {0.466, 0.207, 0.249, -0.006}},    {12.0 / 7, {0.448, 0.198, 0.272, 0.005}},
    {2.00, {0.338, 0.257, 0.351, -0.018}},    {2.40, {0.296, 0.203, 0.449, -0.006}},
    {8.0 / 3, {0.280, 0.165, 0.499, 0.006}},  {3.00, {0.264, 0.125, 0.541, 0.027}},
    {24.0 / 7, {0.248, 0.058, 0.628, 0.032}}, {4.00, {0.239, -0.012, 0.690, 0.058}},
    {4.80, {0.232, -0.084, 0.740, 0.098}},
};
constexpr double kSameIndex = 0.005;

double room_index(UgrRoom room) { return room.x * room.y / (room.x + room.y); }

// Rows or columns of luminaires `spacing` apart over a side of `side`
// (both in H), the first `phase` of a spacing from the side's start: their
// positions, in H. The standard array has phase ½: every row and column
// half a spacing from the walls.
std::vector<double> array_positions(double side, double spacing, double phase) {
  std::vector<double> at;
  for (double p = phase * spacing; p < side - kWhole; p += spacing) at.push_back(p);
  return at;
}

// The C angle, in the luminaire's frame, of the horizontal direction from
// a luminaire T across and R ahead of the eye back to the eye. Crosswise the
// luminaire's C0 points back at the observer's wall and C90 to the right;
// endwise C0 points to the left and C90 back at the wall.
double c_towards_eye(double T, double R, UgrView view) {
  const double c = view == UgrView::Crosswise ? std::atan2(-T, R) : std::atan2(R, T);
  return std::fmod(c * kRadToDeg + 360.0, 360.0);
}

}  // namespace

double parallel_rectangles_form_factor(double a, double b, double c) {
  const double x = a / c, y = b / c;
  const double x1 = std::sqrt(1 + x * x), y1 = std::sqrt(1 + y * y);
  return 2 / (kPi * x * y) *
         (std::log(x1 * y1 / std::sqrt(1 + x * x + y * y)) + x * y1 * std::atan(x / y1) +
          y * x1 * std::atan(y / x1) - x * std::atan(x) - y * std::atan(y));
}

CavityTransfer cavity_transfer(UgrRoom room, UgrReflectances r) {
  // Surfaces 0 floor cavity, 1 walls, 2 ceiling, in units of H. F[i][j] is
  // the form factor from i to j; reciprocity gives the walls' ones.
  const double floor_area = room.x * room.y, wall_area = 2 * (room.x + room.y);
  const double fc = parallel_rectangles_form_factor(room.x, room.y, 1.0);
  const double fw = 1 - fc;
  const double wf = floor_area * fw / wall_area;
  const double F[3][3] = {{0, fw, fc}, {wf, 1 - 2 * wf, wf}, {fc, fw, 0}};
  const double rho[3] = {r.floor, r.walls, r.ceiling};
  // The flux landing on each surface, Φ = Φ₀ + Fᵀ ρ Φ: (1 − Fᵀρ) Φ = Φ₀,
  // solved for a unit first landing on each surface in turn (Cramer).
  double m[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i][j] = (i == j ? 1.0 : 0.0) - F[j][i] * rho[j];
  const auto det3 = [](const double a[3][3]) {
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  };
  const double det = det3(m);
  // The walls' landing flux for a unit first landing on surface j: Cramer's
  // rule, the walls' column replaced by the unit vector e_j.
  const auto walls_from = [&](int j) {
    double a[3][3];
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) a[i][k] = k == 1 ? (i == j ? 1.0 : 0.0) : m[i][k];
    return det3(a) / det;
  };
  return {walls_from(0), walls_from(1) - 1, walls_from(2)};
}

std::optional<FirstLanding> first_landing(const refhost::ProfileTable& table, UgrRoom room) {
  const double k = room_index(room);
  const DirectRatioCoefficients* row = nullptr;
  for (const auto& r : kDirectRatio)
    if (std::fabs(r.k - k) < kSameIndex) row = &r;
  if (row == nullptr) return std::nullopt;
  double down_to_floor = 0;
  for (int i = 0; i < 4; ++i)
    down_to_floor += row->f[i] * zonal_flux_between(table, 0, kFluxCodeCones[i]);
  const double down = zonal_flux_between(table, 0, kHorizon);
  return FirstLanding{down_to_floor, down - down_to_floor,
                      zonal_flux_between(table, kHorizon, kZenith)};
}

DirectFlux::DirectFlux(const refhost::ProfileTable& table)
    : reach_(kGammaCells), below_(kCCells * (kGammaCells + 1), 0.0) {
  // The flux in each cell of a fine (γ, C) grid of the lower hemisphere,
  // summed up γ for each C. A ray at γ lands tan γ (in H) from below its
  // luminaire, so for a luminaire and a C the flux that reaches the floor
  // is that sum up to the γ at which the ray meets the walls instead.
  // Integrating over directions keeps a narrow beam as accurate as a wide
  // one.
  constexpr double kDegToRad = kPi / 180.0;
  const double dg = kHorizon / double(kGammaCells), dc = 360.0 / double(kCCells);
  for (size_t i = 0; i < kGammaCells; ++i) {
    const double g0 = double(i) * dg, g1 = g0 + dg;
    reach_[i] = std::tan(g1 * kDegToRad);
    const double solid = (std::cos(g0 * kDegToRad) - std::cos(g1 * kDegToRad)) * dc * kDegToRad;
    for (size_t j = 0; j < kCCells; ++j) {
      const double c = (double(j) + 0.5) * dc;
      const double flux = solid * double(refhost::sample_table(
                                      table, refhost::profile_direction(g0 + 0.5 * dg, c)));
      below_[j * (kGammaCells + 1) + i + 1] = below_[j * (kGammaCells + 1) + i] + flux;
      down_ += flux;
    }
  }
}

double DirectFlux::ratio(UgrRoom room, size_t nx, size_t ny) const {
  if (!(down_ > 0)) return 0;
  constexpr double kDegToRad = kPi / 180.0;
  const double dc = 360.0 / double(kCCells);
  double landed = 0;
  for (size_t a = 0; a < nx; ++a)
    for (size_t b = 0; b < ny; ++b) {
      const double x0 = (double(a) + 0.5) * room.x / double(nx);
      const double y0 = (double(b) + 0.5) * room.y / double(ny);
      for (size_t j = 0; j < kCCells; ++j) {
        const double c = (double(j) + 0.5) * dc * kDegToRad;
        const double ux = std::cos(c), uy = std::sin(c);
        // How far the floor reaches from below the luminaire towards C.
        const double to_x = ux > 0 ? (room.x - x0) / ux : ux < 0 ? -x0 / ux : HUGE_VAL;
        const double to_y = uy > 0 ? (room.y - y0) / uy : uy < 0 ? -y0 / uy : HUGE_VAL;
        const auto cells = size_t(
            std::upper_bound(reach_.begin(), reach_.end(), std::min(to_x, to_y)) - reach_.begin());
        landed += below_[j * (kGammaCells + 1) + cells];
      }
    }
  return landed / (double(nx * ny) * down_);
}

double array_direct_ratio(const refhost::ProfileTable& table, UgrRoom room, size_t nx, size_t ny) {
  return DirectFlux(table).ratio(room, nx, ny);
}

size_t ugr_luminaire_count(UgrRoom room, double spacing, double phase_across) {
  return array_positions(room.x, spacing, phase_across).size() *
         array_positions(room.y, spacing, kUgrStandardPhase).size();
}

double ugr_background(const FirstLanding& landing, UgrRoom room, UgrReflectances reflectances,
                      size_t count) {
  const CavityTransfer t = cavity_transfer(room, reflectances);
  const double wall_area = 2 * (room.x + room.y) * kUgrHeight * kUgrHeight;  // m²
  const double indirect =
      double(count) / wall_area *
      (landing.floor * t.floor + landing.walls * t.walls + landing.ceiling * t.ceiling);
  return indirect / kPi;
}

double ugr_glare_sum(const UgrLuminaire& lum, UgrRoom room, UgrView view, double spacing,
                     double phase_across) {
  const double H = kUgrHeight;
  double sum = 0;
  for (const double across : array_positions(room.x, spacing, phase_across))
    for (const double along : array_positions(room.y, spacing, kUgrStandardPhase)) {
      const double T = (across - 0.5 * room.x) * H, R = along * H;
      if (!in_glare_field(H, T, R)) continue;
      const double gamma = std::atan2(std::hypot(T, R), H) * kRadToDeg;
      const double c = c_towards_eye(T, R, view);
      const std::optional<double> area = projected_area(lum.opening, gamma, c);
      if (!area || !(*area > 0)) continue;
      const double I =
          double(refhost::sample_table(*lum.table, refhost::profile_direction(gamma, c)));
      const double r2 = T * T + R * R + H * H;
      const double p = guth_position_index(H, T, R);
      // L² ω / p² with L = I / A and ω = A / r².
      sum += I * I / (*area * r2 * p * p);
    }
  return sum;
}

std::optional<UgrTable> ugr_table(const UgrLuminaire& lum, std::string& why_not) {
  if (!projected_area(lum.opening, 0, 0)) {
    why_not = lum.opening.kind == LuminousOpening::Kind::Point
                  ? "the file gives no luminous opening, and a rating needs its luminance"
                  : "the luminous opening is a shape whose projected area is not known: " +
                        lum.opening.description;
    return std::nullopt;
  }
  if (!(zonal_flux_between(*lum.table, 0, kHorizon) > 0)) {
    why_not = "the luminaire sends no light below the horizon";
    return std::nullopt;
  }
  UgrTable table;
  table.flux = zonal_flux(*lum.table);
  const auto rating = [](double background, double sum) {
    return background > 0 && sum > 0 ? 8.0 * std::log10(0.25 / background * sum) : 0.0;
  };
  double standard_sum[kUgrRoomCount][2];
  for (size_t r = 0; r < kUgrRoomCount; ++r) {
    const UgrRoom room = kUgrRooms[r];
    const std::optional<FirstLanding> landing = first_landing(*lum.table, room);
    const size_t count = ugr_luminaire_count(room, kUgrStandardSpacing);
    for (const UgrView view : {UgrView::Crosswise, UgrView::Endwise}) {
      const double sum = ugr_glare_sum(lum, room, view, kUgrStandardSpacing);
      standard_sum[r][size_t(view)] = sum;
      for (const UgrReflectances& refl : kUgrReflectances)
        table.values.push_back(rating(ugr_background(*landing, room, refl, count), sum));
    }
  }
  for (const double spacing : kUgrVariationSpacings) {
    UgrTable::Variation v;
    v.spacing = spacing;
    bool seen[2] = {false, false};
    for (size_t r = 0; r < kUgrRoomCount; ++r) {
      const UgrRoom room = kUgrRooms[r];
      if (room.x < kVariationRoomSide || room.y < kVariationRoomSide) continue;
      // The sum and the background grow alike with the number of
      // luminaires: per luminaire, what is left is where they hang.
      for (const UgrView view : {UgrView::Crosswise, UgrView::Endwise}) {
        const double reference =
            standard_sum[r][size_t(view)] / double(ugr_luminaire_count(room, kUgrStandardSpacing));
        for (int step = 0; step < kVariationSteps; ++step) {
          const double phase = (step + 0.5) / kVariationSteps;
          const double sum = ugr_glare_sum(lum, room, view, spacing, phase) /
                             double(ugr_luminaire_count(room, spacing, phase));
          if (!(sum > 0) || !(reference > 0)) continue;
          const double change = 8.0 * std::log10(sum / reference);
          double& rise = v.rise[size_t(view)];
          double& fall = v.fall[size_t(view)];
          rise = seen[size_t(view)] ? std::max(rise, change) : change;
          fall = seen[size_t(view)] ? std::min(fall, change) : change;
          seen[size_t(view)] = true;
        }
      }
    }
    table.variation.push_back(v);
  }
  return table;
}

}  // namespace lux
