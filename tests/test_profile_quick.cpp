// The profile service's quick lookup: its own arctangents in place of the
// C library's, trusted only where they cannot change the float it returns.
// Every sample must be the very float that the lookup through the library's
// acos and atan2 gives, written out below as it stood before.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "refhost/internal.h"
#include "refhost/profiles.h"
#include "tests/host_fixture.h"

namespace {

using refhost::ProfileSettings;
using refhost::ProfileTable;

// ---- the lookup through the C library's angles, as it stood ----------------

constexpr double kPi = 3.141592653589793;
constexpr double kRadToDeg = 180.0 / kPi;
constexpr double kFullCircle = 360.0;
constexpr double kAngleSlack = 1e-4;

struct Bracket {
  size_t lo = 0, hi = 0;
  double weight = 0.0;
};

size_t segment(const std::vector<double>& a, double x, double& weight) {
  const size_t last = a.size() - 2;
  const auto hi = std::upper_bound(a.begin(), a.end(), x);
  size_t i = hi == a.begin() ? 0 : size_t(hi - a.begin()) - 1;
  i = std::min(i, last);
  const double span = a[i + 1] - a[i];
  weight = span > 0.0 ? std::clamp((x - a[i]) / span, 0.0, 1.0) : 0.0;
  return i;
}

double modulo_turn(double x) {
  if (std::fabs(x) < kFullCircle) return x;
  if (x >= kFullCircle && x < 2.0 * kFullCircle) return x - kFullCircle;
  return std::fmod(x, kFullCircle);
}

bool vertical_bracket(const std::vector<double>& v, double gamma, Bracket& b) {
  if (gamma < v.front() - kAngleSlack || gamma > v.back() + kAngleSlack) return false;
  gamma = std::clamp(gamma, v.front(), v.back());
  if (v.size() == 1) return true;
  b.lo = segment(v, gamma, b.weight);
  b.hi = b.lo + 1;
  return true;
}

Bracket horizontal_bracket(const std::vector<double>& h, double c) {
  Bracket b;
  if (h.size() == 1) return b;
  const double first = h.front();
  c = first + modulo_turn(modulo_turn(c - first) + kFullCircle);
  if (c <= h.back()) {
    b.lo = segment(h, c, b.weight);
    b.hi = b.lo + 1;
    return b;
  }
  const double gap = first + kFullCircle - h.back();
  b.lo = h.size() - 1;
  b.hi = 0;
  b.weight = gap > 0.0 ? std::clamp((c - h.back()) / gap, 0.0, 1.0) : 0.0;
  return b;
}

void snap_to_nearest(Bracket& b) {
  if (b.weight >= 0.5) b.lo = b.hi;
  b.hi = b.lo;
  b.weight = 0.0;
}

float library_lookup(const ProfileTable& t, const miVector& d, const ProfileSettings& s) {
  const size_t nv = t.vertical.size();
  const size_t nh = t.horizontal.size();
  if (nv == 0 || nh == 0 || t.candela.size() != nv * nh) return 0.0f;
  const double x = double(d.x), y = double(d.y), z = double(d.z);
  const double len = std::sqrt(x * x + y * y + z * z);
  if (!(len > 0.0) || !std::isfinite(len)) return 0.0f;
  const double gamma = std::acos(std::clamp(-z / len, -1.0, 1.0)) * kRadToDeg;
  Bracket bv;
  if (!vertical_bracket(t.vertical, gamma, bv)) return 0.0f;
  Bracket bh;
  if (nh > 1) {
    double c = std::atan2(y, x) * kRadToDeg;
    if (s.clockwise) c = -c;
    c -= s.c_turn;
    bh = horizontal_bracket(t.horizontal, c);
  }
  if (s.nearest) {
    snap_to_nearest(bv);
    snap_to_nearest(bh);
  }
  const auto at = [&](size_t h, size_t v) { return double(t.candela[h * nv + v]); };
  const double lo = at(bh.lo, bv.lo) + (at(bh.lo, bv.hi) - at(bh.lo, bv.lo)) * bv.weight;
  const double hi = at(bh.hi, bv.lo) + (at(bh.hi, bv.hi) - at(bh.hi, bv.lo)) * bv.weight;
  return static_cast<float>((lo + (hi - lo) * bh.weight) * s.multiplier);
}

// ---- tables and directions -------------------------------------------------

std::vector<double> steps(double from, double to, double step) {
  std::vector<double> a;
  for (double x = from; x <= to + 1e-9; x += step) a.push_back(x);
  return a;
}

// A table over the given angles with values from `value(h, v)`.
template <class F>
ProfileTable table_of(std::vector<double> vertical, std::vector<double> horizontal, F value) {
  ProfileTable t;
  t.vertical = std::move(vertical);
  t.horizontal = std::move(horizontal);
  for (size_t h = 0; h < t.horizontal.size(); ++h)
    for (size_t v = 0; v < t.vertical.size(); ++v)
      t.candela.push_back(value(h, v, t.horizontal[h], t.vertical[v]));
  return t;
}

struct NamedTable {
  const char* name;
  ProfileTable table;
};

std::vector<NamedTable> tables() {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> any(0.0f, 5000.0f);
  std::vector<NamedTable> t;
  // The benchmark's downlight: a cosine to the horizon, dark above it.
  t.push_back({"cosine 5x15",
               table_of(steps(0, 180, 5), steps(0, 345, 15), [](size_t, size_t, double, double v) {
                 return float(1000.0 * std::max(0.0, std::cos(v * 0.0174533)));
               })});
  // Uneven angles, γ only to 90 (dark beyond), values differing per plane.
  t.push_back({"uneven",
               table_of({0, 2.5, 5, 10, 20, 35, 50, 65, 80, 90}, {0, 15, 30, 60, 90, 180, 270, 345},
                        [](size_t h, size_t v, double, double) {
                          return float(1000 - 7 * v * v + 13 * h + (h * v) % 5);
                        })});
  t.push_back({"symmetric", table_of(steps(0, 180, 10), {0},
                                     [&](size_t, size_t, double, double) { return any(rng); })});
  t.push_back({"half plane", table_of(steps(0, 90, 7.5), steps(0, 180, 22.5),
                                      [&](size_t, size_t, double, double) { return any(rng); })});
  // An uplight over a quarter of the circle, first plane off zero.
  t.push_back(
      {"quarter uplight", table_of(steps(90, 180, 10), steps(10, 100, 15),
                                   [&](size_t, size_t, double, double) { return any(rng); })});
  // Steep random values with flat patches (equal and zero neighbours).
  t.push_back({"steep", table_of(steps(0, 180, 10), steps(0, 350, 10),
                                 [&](size_t h, size_t v, double, double) {
                                   if (h % 7 < 2 && v % 5 < 3) return 0.0f;
                                   if (h % 5 == 3) return 42.0f;
                                   return any(rng) * 20.0f;
                                 })});
  // Planes running on to 360 (the first again): no gap to wrap across.
  t.push_back(
      {"closed circle", table_of(steps(0, 180, 15), steps(0, 360, 30),
                                 [&](size_t, size_t, double, double) { return any(rng); })});
  // Two angles each way, far apart.
  t.push_back({"coarse", table_of({0, 180}, {0, 200},
                                  [&](size_t, size_t, double, double) { return any(rng); })});
  return t;
}

struct NamedSettings {
  int nearest, clockwise, turn, percent;
};
constexpr NamedSettings kSettings[] = {
    {0, 0, 0, 0}, {0, 1, 30, 250}, {0, 0, -400, 0}, {0, 1, 725, 37}, {1, 0, 15, 0}};

// A float moved by n units in the last place.
float ulps(float x, int n) {
  for (; n > 0; --n) x = std::nextafter(x, INFINITY);
  for (; n < 0; ++n) x = std::nextafter(x, -INFINITY);
  return x;
}

// Directions that stress the lookup: random ones of several lengths, the
// poles and the horizon with zeros of both signs, and every tabulated
// angle pair (turned into light space by the settings), exactly and a few
// ulps away in each component.
std::vector<miVector> directions(const ProfileTable& t, const ProfileSettings& s) {
  std::vector<miVector> d;
  std::mt19937 rng(11);
  std::normal_distribution<float> normal;
  for (int i = 0; i < 20000; ++i) {
    const float scale = i % 3 == 0 ? 1.0f : (i % 3 == 1 ? 7.0f : 1e-3f);
    d.push_back({normal(rng) * scale, normal(rng) * scale, normal(rng) * scale});
  }
  for (float z : {-1.0f, 1.0f, -0.999999f, 0.999999f, 0.0f, -0.0f})
    for (float x : {0.0f, -0.0f, 1e-30f, -1e-30f, 1e-7f, 1.0f})
      for (float y : {0.0f, -0.0f, 1e-30f, -3e-38f, 1e-7f, -1.0f}) d.push_back({x, y, z});
  std::vector<double> cs = t.horizontal;
  for (size_t h = 0; h + 1 < t.horizontal.size(); ++h)
    cs.push_back(0.5 * (t.horizontal[h] + t.horizontal[h + 1]));
  cs.push_back(t.horizontal.back() + 0.5 * (t.horizontal.front() + 360 - t.horizontal.back()));
  for (double g : t.vertical)
    for (double c_file : cs) {
      const double c_turned = c_file + s.c_turn;
      const miVector base = refhost::profile_direction(g, s.clockwise ? -c_turned : c_turned);
      for (int n = -3; n <= 3; ++n) d.push_back({base.x, base.y, ulps(base.z, n)});
      for (int i = -2; i <= 2; ++i)
        for (int j = -2; j <= 2; ++j)
          if (i != 0 || j != 0) d.push_back({ulps(base.x, i), ulps(base.y, j), base.z});
    }
  return d;
}

class ProfileQuickLookup : public zeltest::HostTest {};

// The sample through the service (and its quick lookup) against the lookup
// through the library's angles, to the bit, for every table, setting and
// direction above.
TEST_F(ProfileQuickLookup, SamplesAreTheLibraryAnglesFloatToTheBit) {
  miState state = refhost::make_state(nullptr, &thread_, miRAY_LIGHT, 0);
  for (const NamedTable& named : tables()) {
    const miTag profile = refhost::add_profile(named.name, named.table);
    for (const NamedSettings& k : kSettings) {
      for (const auto& [offset, value] :
           {std::pair{refhost::kProfileInterpolationOffset, k.nearest},
            std::pair{refhost::kProfileCDirectionOffset, k.clockwise},
            std::pair{refhost::kProfileCTurnOffset, k.turn},
            std::pair{refhost::kProfileMultiplierOffset, k.percent}}) {
        const int32_t word = value;
        std::memcpy(static_cast<unsigned char*>(refhost::db_data(profile)) + offset, &word,
                    sizeof word);
      }
      const ProfileSettings s = refhost::profile_settings(profile);
      long differing = 0, lit = 0;
      const std::vector<miVector> dirs = directions(named.table, s);
      for (const miVector& d : dirs) {
        state.dir = d;
        const float got = mi_lightprofile_sample(&state, profile, 0);
        const float want = library_lookup(named.table, d, s);
        differing += std::bit_cast<uint32_t>(got) != std::bit_cast<uint32_t>(want);
        lit += want != 0.0f;
      }
      EXPECT_EQ(differing, 0) << named.name << ", turn " << k.turn << ", of " << dirs.size();
      EXPECT_GT(lit, long(dirs.size() / 4)) << named.name;  // the sweep is not all dark
    }
  }
}

// The quick arctangent stays far inside the error the lookup allows it
// (2^-32 degrees, about 2^-38 radians): within 2^-46 of the library's,
// relative, both as atan2 and as the arc cosine the lookup forms from it.
TEST(ProfileQuickLookupAngles, QuickArctangentIsTheLibrarysWithinItsBudget) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-60, 10);
  long outside = 0;
  const auto check = [&](double got, double want) {
    outside += !(std::fabs(got - want) <= std::fabs(want) * 0x1p-46);
  };
  for (int i = 0; i < 400000; ++i) {
    const double y = std::ldexp(unit(rng), exponent(rng));
    const double x = std::ldexp(unit(rng), exponent(rng));
    check(refhost::detail::quick_atan2(y, x), std::atan2(y, x));
    const double fy = double(static_cast<float>(unit(rng))),
                 fx = double(static_cast<float>(unit(rng)));
    if (fx != 0.0 || fy != 0.0) check(refhost::detail::quick_atan2(fy, fx), std::atan2(fy, fx));
    // Near the poles the arc cosine is steep; the lookup's form keeps it.
    const double u =
        i % 2 == 0
            ? unit(rng)
            : std::copysign(1.0 - std::ldexp(std::fabs(unit(rng)), exponent(rng) - 10), unit(rng));
    check(refhost::detail::quick_atan2(std::sqrt((1.0 - u) * (1.0 + u)), u), std::acos(u));
  }
  for (double u : {1.0, -1.0, 0.0, -0.0, 0.5, -0.5, 0x1.fffffffffffffp-1, -0x1.fffffffffffffp-1})
    check(refhost::detail::quick_atan2(std::sqrt((1.0 - u) * (1.0 + u)), u), std::acos(u));
  for (double k = 0; k <= 32; ++k)  // on the table's tangents and either side
    for (double t : {k / 32, std::nextafter(k / 32, 0.0), std::nextafter(k / 32, 2.0),
                     (k + 0.5) / 32, std::nextafter((k + 0.5) / 32, 0.0)})
      for (double sx : {1.0, -1.0})
        for (double sy : {1.0, -1.0}) {
          check(refhost::detail::quick_atan2(sy * t, sx), std::atan2(sy * t, sx));
          check(refhost::detail::quick_atan2(sy, sx * t), std::atan2(sy, sx * t));
        }
  EXPECT_EQ(outside, 0);
}

}  // namespace
