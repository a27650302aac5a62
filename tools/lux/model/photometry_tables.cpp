#include "tools/lux/model/photometry_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/lux/model/angles.h"

namespace lux {

namespace {

using namespace angles;
constexpr double kSameAngle = 1e-6;  // degrees

// The γ and C steps of the luminance table: the angles display-screen work
// limits, all round the luminaire.
constexpr double kLuminanceGammaFrom = 65, kLuminanceGammaTo = 85, kLuminanceGammaStep = 5;
constexpr double kLuminanceCStep = 15;

// How a plane's light is told apart: where it falls to half (beam) and to a
// tenth (field) of the plane's peak, and what counts as light above the
// horizon.
constexpr double kHalf = 0.5;
constexpr double kTenth = 0.1;

bool same_angle(double a, double b) { return std::fabs(a - b) < kSameAngle; }

double candela(const refhost::ProfileTable& t, double gamma, double c) {
  return double(refhost::sample_table(t, refhost::profile_direction(gamma, c)));
}

std::string fixed(double v, int decimals) {
  char s[64];
  std::snprintf(s, sizeof s, "%.*f", decimals, v);
  return s;
}

std::string plane_side(double c) { return "C" + fixed(std::fmod(c + kCircle, kCircle), 0); }

// A principal plane and its opposite as one line of angles θ from −180
// (γ 180 on the left half) through 0 (nadir) to 180, at the table's γ.
struct PlaneLine {
  std::vector<double> theta, value;
};

PlaneLine plane_line(const refhost::ProfileTable& t, double c_right) {
  PlaneLine line;
  const double c_left = std::fmod(c_right + kHalfCircle, kCircle);
  for (size_t k = t.vertical.size(); k-- > 0;) {
    if (t.vertical[k] == 0) continue;
    line.theta.push_back(-t.vertical[k]);
    line.value.push_back(candela(t, t.vertical[k], c_left));
  }
  for (const double g : t.vertical) {
    line.theta.push_back(g);
    line.value.push_back(candela(t, g, c_right));
  }
  return line;
}

// The strongest value of a line between θ lo and hi, and where it lies.
struct Peak {
  double value = 0, theta = 0;
};
Peak peak_between(const PlaneLine& line, double lo, double hi) {
  Peak p;
  for (size_t k = 0; k < line.theta.size(); ++k)
    if (line.theta[k] >= lo && line.theta[k] <= hi && line.value[k] > p.value)
      p = {line.value[k], line.theta[k]};
  return p;
}

std::string spread_words(const Spread& s) {
  return fixed(s.full, 1) + "\u00b0 (" + fixed(-s.left, 1) + "\u00b0 to " + fixed(s.right, 1) +
         "\u00b0)";
}

}  // namespace

std::vector<double> stored_plane_angles(const PhotometricFile& f) {
  const std::vector<double>& h = f.table.horizontal;
  if (f.stored_planes == StoredPlanes::One || h.size() == 1) return {0.0};
  const auto within = [](double c, double lo, double hi) {
    return c >= lo - kSameAngle && c <= hi + kSameAngle;
  };
  std::vector<double> out;
  for (const double c : h) {
    bool keep = c < kCircle - kSameAngle;
    switch (f.stored_planes) {
      case StoredPlanes::Quadrant:
        keep = within(c, 0, kQuarterCircle);
        break;
      case StoredPlanes::HalfC0:
        keep = within(c, 0, kHalfCircle);
        break;
      case StoredPlanes::HalfC90:
        // IES stores the half towards C180 (90–270); EULUMDAT the half
        // towards C0, from C270 through C0 to C90.
        keep = f.format == 2 ? keep && !(c > kQuarterCircle + kSameAngle &&
                                         c < kHalfCircle + kQuarterCircle - kSameAngle)
                             : within(c, kQuarterCircle, kHalfCircle + kQuarterCircle);
        break;
      default:
        break;
    }
    if (keep) out.push_back(c);
  }
  return out;
}

IntensityTable intensity_table(const PhotometricFile& f, const ProfileSummary& s) {
  IntensityTable table;
  table.gamma = f.table.vertical;
  table.cd_per_klm = s.cd_per_klm_scale;
  const auto add = [&](double c) {
    for (const IntensityPlane& p : table.planes)
      if (same_angle(p.c, c)) return;
    IntensityPlane plane{c, {}};
    for (const double g : table.gamma) plane.candela.push_back(candela(f.table, g, c));
    table.planes.push_back(std::move(plane));
  };
  if (f.table.horizontal.size() == 1) {
    add(0);
    return table;
  }
  for (const double c : {0.0, kHalfCircle, kQuarterCircle, kHalfCircle + kQuarterCircle}) add(c);
  for (const double c : stored_plane_angles(f)) add(c);
  return table;
}

std::vector<Zone> zonal_lumens(const refhost::ProfileTable& t) {
  std::vector<Zone> zones;
  for (const auto& [from, to] : std::vector<std::pair<double, double>>{
           {0, 30}, {0, 40}, {0, 60}, {0, 90}, {90, 180}, {0, 180}})
    zones.push_back({from, to, zonal_flux_between(t, from, to)});
  return zones;
}

std::optional<FluxCode> flux_code(const refhost::ProfileTable& t, double lamp_flux) {
  double cone[4];
  for (int i = 0; i < 4; ++i) cone[i] = zonal_flux_between(t, 0, kFluxCodeCones[i]);
  const double all = zonal_flux(t);
  if (!(cone[3] > 0)) return std::nullopt;
  FluxCode code;
  for (int i = 0; i < 3; ++i) code.n[i] = kPercent * cone[i] / cone[3];
  code.n[3] = kPercent * cone[3] / all;
  code.n[4] = lamp_flux > 0 ? kPercent * all / lamp_flux : kPercent;
  for (int i = 0; i < 5; ++i) code.text += (i > 0 ? " " : "") + fixed(std::nearbyint(code.n[i]), 0);
  return code;
}

std::optional<double> efficacy(const PhotometricFile& f, const ProfileSummary& s) {
  if (!f.luminaire.watts || !(*f.luminaire.watts > 0) || !(s.flux > 0)) return std::nullopt;
  return s.flux / *f.luminaire.watts;
}

std::optional<double> projected_area(const LuminousOpening& o, double gamma_deg, double c_deg) {
  using Kind = LuminousOpening::Kind;
  const double down = std::max(0.0, std::cos(gamma_deg * kDegToRad));
  const double side = std::max(0.0, std::sin(gamma_deg * kDegToRad));
  switch (o.kind) {
    case Kind::Point:
    case Kind::Other:
      return std::nullopt;
    case Kind::Rectangle:
    case Kind::Box: {
      // The sides at C0 and C180 span the width, those at C90 and C270 the
      // length; each is seen as far as C turns towards its normal.
      double sides = 0;
      for (int k = 0; k < 4; ++k) {
        const double facing = std::cos((c_deg - kQuarterCircle * k) * kDegToRad);
        const double span = k % 2 == 0 ? o.width : o.length;
        sides += std::max(0.0, facing) * span * o.side_heights[k];
      }
      return o.length * o.width * down + sides * side;
    }
    case Kind::Circle:
    case Kind::Ellipse:
      return kPi / 4 * o.length * o.width * down;
    case Kind::VerticalCylinder:
      return kPi / 4 * o.length * o.width * down + o.width * o.height * side;
    case Kind::Sphere:
      return kPi / 4 * o.width * o.width;
  }
  return std::nullopt;
}

std::optional<LuminanceTable> luminance_table(const PhotometricFile& f, std::string& why_not) {
  const LuminousOpening& o = f.luminaire.opening;
  if (!projected_area(o, 0, 0)) {
    why_not =
        o.kind == LuminousOpening::Kind::Point
            ? "the file gives no luminous opening (a point source has no luminance)"
            : "the luminous opening is a shape the data sheet does not project: " + o.description;
    return std::nullopt;
  }
  LuminanceTable l;
  for (double g = kLuminanceGammaFrom; g <= kLuminanceGammaTo + kSameAngle;
       g += kLuminanceGammaStep)
    l.gamma.push_back(g);
  for (double c = 0; c < kCircle - kSameAngle; c += kLuminanceCStep) l.c.push_back(c);
  for (const double g : l.gamma)
    for (const double c : l.c) {
      const double area = *projected_area(o, g, c);
      const double value = area > 0 ? candela(f.table, g, c) / area : 0.0;
      l.cd_m2.push_back(value);
      if (value > l.max) {
        l.max = value;
        l.max_gamma = g;
        l.max_c = c;
      }
    }
  return l;
}

PlaneShape plane_shape(const refhost::ProfileTable& t, double c_right) {
  PlaneShape s;
  s.c_right = c_right;
  const PlaneLine line = plane_line(t, c_right);
  const Peak all = peak_between(line, -kHalfCircle, kHalfCircle);
  if (!(all.value > 0)) {
    s.text = "no light in this plane";
    return s;
  }
  const Peak down = peak_between(line, -kQuarterCircle, kQuarterCircle);
  const Peak up_left = peak_between(line, -kHalfCircle, -kQuarterCircle - kSameAngle);
  const Peak up_right = peak_between(line, kQuarterCircle + kSameAngle, kHalfCircle);
  const Peak up = up_left.value > up_right.value ? up_left : up_right;
  const Peak right = peak_between(line, 0, kQuarterCircle);
  const Peak left = peak_between(line, -kQuarterCircle, 0);
  s.peak_right = right.theta;
  s.peak_left = -left.theta;
  s.nadir_fraction = candela(t, 0, c_right) / all.value;
  const std::string c_left = plane_side(c_right + kHalfCircle);
  const auto side_of = [&](double theta) -> std::string {
    if (std::fabs(theta) < kSameAngle) return "the nadir";
    if (std::fabs(theta) > kHalfCircle - kSameAngle) return "the zenith";
    return "\u03b3 " + fixed(std::fabs(theta), 1) + "\u00b0 towards " +
           (theta < 0 ? c_left : plane_side(c_right));
  };

  if (down.value < kTenth * all.value) {
    s.kind = PlaneShape::Kind::Upward;
    s.text = "upward: strongest at " + side_of(all.theta) + ", below the horizon under a tenth";
    return s;
  }
  if (up.value >= kTenth * all.value) {
    s.kind = PlaneShape::Kind::DirectIndirect;
    s.text = "direct-indirect: strongest downward at " + side_of(down.theta) + ", upward at " +
             side_of(up.theta) + " (" + fixed(kPercent * up.value / all.value, 0) +
             "% of the peak); no beam about the nadir";
    return s;
  }
  s.beam = plane_spread(t, c_right, kBeamFraction);
  s.field = plane_spread(t, c_right, kFieldFraction);
  const auto about_nadir = [](const std::optional<Spread>& sp) {
    return sp && sp->left >= 0 && sp->right >= 0 && sp->left <= kQuarterCircle &&
           sp->right <= kQuarterCircle;
  };
  if (about_nadir(s.beam)) {
    s.kind = PlaneShape::Kind::Cone;
    s.text = "beam (50%) " + spread_words(*s.beam) + ", field (10%) ";
    if (about_nadir(s.field)) {
      s.text += spread_words(*s.field);
    } else {
      s.field.reset();
      s.text += "- (a tenth of the peak still at the horizon)";
    }
    return s;
  }
  s.beam.reset();
  s.field.reset();
  if (right.value >= kHalf * all.value && left.value >= kHalf * all.value &&
      s.nadir_fraction < kHalf) {
    s.kind = PlaneShape::Kind::Batwing;
    s.text = "batwing: peaks at " + side_of(right.theta) + " and " + side_of(left.theta) +
             ", the nadir at " + fixed(kPercent * s.nadir_fraction, 0) +
             "% of the peak; no beam about the nadir";
    return s;
  }
  s.kind = PlaneShape::Kind::OneSided;
  const std::optional<Spread> half = plane_spread(t, c_right, kHalf);
  s.text = "one-sided: strongest at " + side_of(all.theta);
  if (half)
    s.text += ", half the peak from \u03b3 " + fixed(-half->left, 1) + "\u00b0 to " +
              fixed(half->right, 1) + "\u00b0 (negative towards " + c_left + ")";
  s.text += "; no beam about the nadir";
  return s;
}

}  // namespace lux
