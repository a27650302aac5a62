// The light-profile service: the table behind each profile, built once from
// its file (or handed over directly), and the lookups a light makes in it.
//
// Render threads sample profiles concurrently. Each profile element carries
// the entry last built for it, published with an atomic store; a reader
// compares the entry's key with the record words it was built from and only
// takes the build lock when they differ (first use, or a redefinition that
// changed the file or a setting).
#include "refhost/profiles.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "refhost/internal.h"

namespace refhost {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kRadToDeg = 180.0 / kPi;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kFullCircle = 360.0;
constexpr double kPercent = 100.0;
// Directions computed in float land a hair outside a table that ends at a
// round angle (a horizontal ray at 90.000003 degrees); within this many
// degrees they count as on the edge.
constexpr double kAngleSlack = 1e-4;

// The record words at bytes 4 to 28: everything a table and its sampling
// depend on.
using RecordKey = std::array<int32_t, 7>;

// An angle list prepared for look-ups: for a strictly ascending list, the
// segment holding an angle is guessed from the angle's proportion of the
// whole range and then checked against its neighbours, which finds the
// segment a binary search finds in a step or two instead of a search.
struct AxisIndex {
  bool ascending = false;  // strictly, at least two finite angles
  double front = 0.0;
  double per_degree = 0.0;  // segments per degree over the whole range
};

AxisIndex index_of(const std::vector<double>& a) {
  AxisIndex index;
  if (a.size() < 2 || !std::isfinite(a.front()) || !std::isfinite(a.back())) return index;
  for (size_t i = 0; i + 1 < a.size(); ++i)
    if (!(a[i] < a[i + 1])) return index;
  index.ascending = true;
  index.front = a.front();
  index.per_degree = double(a.size() - 1) / (a.back() - a.front());
  return index;
}

// A table with what its look-ups need worked out once.
struct TableIndex {
  AxisIndex vertical, horizontal;
};

TableIndex index_of(const ProfileTable& t) {
  return {index_of(t.vertical), index_of(t.horizontal)};
}

// What the quick look-up of a table (see quick_sample) needs: where γ turns
// dark, and how far the value may move while the angles it is computed from
// move by as much as a quick angle may differ from the C library's.
// Everything it reads is copied here or points into the entry's own table,
// so that a sample follows no vector and no setting beyond this.
struct QuickAxis {
  const double* angles = nullptr;
  size_t last = 0;          // the last segment's index: the angle count less two
  double last_index = 0.0;  // the same as a double
  double front = 0.0, back = 0.0, per_degree = 0.0;
};

struct QuickLookup {
  bool usable = false;  // otherwise every sample takes the library's angles
  bool planes = false;  // more than one C-plane
  bool clockwise = false;
  QuickAxis vertical, horizontal;
  const float* candela = nullptr;
  size_t row = 0;    // values per C-plane
  double gap = 0.0;  // from the last plane on to the first
  double c_turn = 0.0, multiplier = 1.0;
  double gamma_below = 0.0, gamma_above = 0.0;  // dark beyond these
  bool all_gamma = false;                       // the table spans every γ, with room to spare
  double c_error = 0.0;                         // see kGammaError
  double slack = 0.0;                           // candela, multiplier included
};

struct Entry {
  RecordKey key{};
  std::shared_ptr<const ProfileTable> table;  // null: no usable table
  TableIndex index;
  ProfileSettings settings;
  QuickLookup quick;
  float peak = 0.0f;  // reference intensity, candela, multiplier included
};

std::mutex& build_mutex() {
  static auto* m = new std::mutex;
  return *m;
}

int32_t record_word(const detail::Element& e, size_t offset) {
  int32_t w = 0;
  std::memcpy(&w, const_cast<detail::Element&>(e).bytes() + offset, sizeof w);
  return w;
}

RecordKey record_key(const detail::Element& e) {
  RecordKey k{};
  for (size_t i = 0; i < k.size(); ++i) k[i] = record_word(e, kProfileFormatOffset + 4 * i);
  return k;
}

int32_t key_word(const RecordKey& k, size_t offset) {
  return k[(offset - kProfileFormatOffset) / 4];
}

detail::Element* profile_element(miTag profile) {
  detail::Element* e = detail::element(profile);
  if (e == nullptr || e->type != miSCENE_LIGHTPROFILE || e->size < kProfileRecordSize)
    return nullptr;
  return e;
}

std::string quoted_name(const detail::Element& e) {
  return e.name.empty() ? std::string("(unnamed)") : "\"" + e.name + "\"";
}

ProfileSettings settings_of(const detail::Element& e, const RecordKey& k) {
  ProfileSettings s;
  s.nearest = key_word(k, kProfileInterpolationOffset) == kProfileNearest;
  s.clockwise = key_word(k, kProfileCDirectionOffset) == kProfileClockwise;
  s.c_turn = key_word(k, kProfileCTurnOffset);
  const int32_t percent = key_word(k, kProfileMultiplierOffset);
  if (percent < 0)
    mi_warning("host: light profile %s: negative intensity multiplier %d%% read as 100%%",
               quoted_name(e).c_str(), percent);
  else if (percent > 0)
    s.multiplier = percent / kPercent;
  return s;
}

// The text of a string element, bounded by the element's size.
bool string_text(miTag tag, std::string& text) {
  detail::Element* s = detail::element(tag);
  if (s == nullptr || s->type != miSCENE_STRING) return false;
  const char* p = reinterpret_cast<const char*>(s->bytes());
  text.assign(p, strnlen(p, s->size));
  return true;
}

std::shared_ptr<const ProfileTable> table_from_file(const detail::Element& e, const RecordKey& k) {
  std::string path;
  if (!string_text(static_cast<miTag>(key_word(k, kProfileFileNameOffset)), path) || path.empty()) {
    mi_warning("host: light profile %s names no file", quoted_name(e).c_str());
    return nullptr;
  }
  auto table = std::make_shared<ProfileTable>();
  std::string error;
  if (!read_profile_file(path, key_word(k, kProfileFormatOffset), *table, error)) {
    mi_warning("host: light profile %s: %s", quoted_name(e).c_str(), error.c_str());
    return nullptr;
  }
  return table;
}

float table_peak(const ProfileTable& t, double multiplier) {
  float peak = 0.0f;
  for (float v : t.candela) peak = std::max(peak, v);
  return static_cast<float>(peak * multiplier);
}

void publish(detail::Element& e, std::shared_ptr<Entry> entry) {
  e.derived_owners.push_back(entry);
  e.derived.store(entry.get(), std::memory_order_release);
}

// Whether the entry was built from the record words as they stand.
bool built_from(const Entry& entry, const detail::Element& e) {
  static_assert(sizeof(RecordKey) == 7 * sizeof(int32_t));
  return std::memcmp(entry.key.data(), e.bytes() + kProfileFormatOffset, sizeof(RecordKey)) == 0;
}

QuickLookup quick_of(const ProfileTable& t, const TableIndex& index, const ProfileSettings& s);

// The profile's entry built afresh from its record (see current_entry).
[[gnu::cold, gnu::noinline]] const Entry* rebuilt_entry(detail::Element* e) {
  const RecordKey key = record_key(*e);
  std::lock_guard<std::mutex> lock(build_mutex());
  const auto* entry = static_cast<const Entry*>(e->derived.load(std::memory_order_acquire));
  if (entry != nullptr && entry->key == key) return entry;
  auto fresh = std::make_shared<Entry>();
  fresh->key = key;
  fresh->settings = settings_of(*e, key);
  if (key_word(key, kProfileSourceOffset) == kProfileSourceFile)
    fresh->table = table_from_file(*e, key);
  else if (entry != nullptr)
    fresh->table = entry->table;  // a table handed over directly stays
  if (fresh->table) {
    fresh->index = index_of(*fresh->table);
    fresh->peak = table_peak(*fresh->table, fresh->settings.multiplier);
    fresh->quick = quick_of(*fresh->table, fresh->index, fresh->settings);
  }
  publish(*e, fresh);
  return fresh.get();
}

// The profile's entry for its record as it stands, built when missing or
// out of date; null for a tag that is not a profile. Every sample asks,
// so the check stays apart from the building.
const Entry* current_entry(miTag profile) {
  detail::Element* e = profile_element(profile);
  if (e == nullptr) return nullptr;
  auto* entry = static_cast<const Entry*>(e->derived.load(std::memory_order_acquire));
  if (entry != nullptr && built_from(*entry, *e)) [[likely]]
    return entry;
  return rebuilt_entry(e);
}

// Index i of the segment [a[i], a[i+1]] holding x, and x's weight towards
// a[i+1]; `a` ascends and holds at least two values, x lies within it. The
// segment is the one before the first angle above x (the first, when none
// is at or below it), found from `index` where it applies.
size_t segment(const std::vector<double>& a, const AxisIndex& index, double x, double& weight) {
  const size_t last = a.size() - 2;
  size_t i = 0;
  if (index.ascending && !std::isnan(x)) {
    const double guess = (x - index.front) * index.per_degree;
    i = guess > 0.0 ? (guess < double(last) ? size_t(guess) : last) : 0;
    while (i > 0 && a[i] > x) --i;
    while (i < last && a[i + 1] <= x) ++i;
  } else {
    const auto hi = std::upper_bound(a.begin(), a.end(), x);
    i = hi == a.begin() ? 0 : size_t(hi - a.begin()) - 1;
    i = std::min(i, last);
  }
  const double span = a[i + 1] - a[i];
  weight = span > 0.0 ? std::clamp((x - a[i]) / span, 0.0, 1.0) : 0.0;
  return i;
}

// x modulo 360 degrees exactly as std::fmod gives it, without its cost for
// the angles a direction gives: x itself below one turn, x − 360 (exact,
// both being within a factor two of each other) below two.
double modulo_turn(double x) {
  if (std::fabs(x) < kFullCircle) return x;
  if (x >= kFullCircle && x < 2.0 * kFullCircle) return x - kFullCircle;
  return std::fmod(x, kFullCircle);
}

// Where an angle falls among the tabulated ones: the two neighbours and the
// weight of the second.
struct Bracket {
  size_t lo = 0, hi = 0;
  double weight = 0.0;
};

bool vertical_bracket(const std::vector<double>& v, const AxisIndex& index, double gamma,
                      Bracket& b) {
  if (gamma < v.front() - kAngleSlack || gamma > v.back() + kAngleSlack) return false;
  gamma = std::clamp(gamma, v.front(), v.back());
  if (v.size() == 1) return true;
  b.lo = segment(v, index, gamma, b.weight);
  b.hi = b.lo + 1;
  return true;
}

// The azimuth wraps: past the last plane it runs on to the first plus 360.
Bracket horizontal_bracket(const std::vector<double>& h, const AxisIndex& index, double c) {
  Bracket b;
  if (h.size() == 1) return b;
  const double first = h.front();
  c = first + modulo_turn(modulo_turn(c - first) + kFullCircle);
  if (c <= h.back()) {
    b.lo = segment(h, index, c, b.weight);
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

}  // namespace

miVector profile_direction(double gamma_deg, double c_deg) {
  const double g = gamma_deg * kDegToRad;
  const double c = c_deg * kDegToRad;
  return {static_cast<float>(std::sin(g) * std::cos(c)),
          static_cast<float>(std::sin(g) * std::sin(c)), static_cast<float>(-std::cos(g))};
}

float sample_table(const ProfileTable& table, const miVector& direction) {
  return sample_table(table, direction, ProfileSettings{});
}

namespace {

// C in the file's sense, from the angle in degrees from +x towards +y.
double file_c(double c, const ProfileSettings& s) {
  if (s.clockwise) c = -c;
  return c - s.c_turn;
}

// The bilinear value at a direction's place in the table, multiplier
// included, before its rounding to float.
double table_value(const ProfileTable& t, const Bracket& bv, const Bracket& bh,
                   const ProfileSettings& s) {
  const size_t nv = t.vertical.size();
  const auto at = [&](size_t h, size_t v) { return double(t.candela[h * nv + v]); };
  const double lo = at(bh.lo, bv.lo) + (at(bh.lo, bv.hi) - at(bh.lo, bv.lo)) * bv.weight;
  const double hi = at(bh.hi, bv.lo) + (at(bh.hi, bv.hi) - at(bh.hi, bv.lo)) * bv.weight;
  return (lo + (hi - lo) * bh.weight) * s.multiplier;
}

// Candela of a table towards a light-space direction (see profiles.h), from
// the C library's angles: the value every quicker way must reproduce.
float sample_indexed(const ProfileTable& t, const TableIndex& index, const miVector& d,
                     const ProfileSettings& s) {
  const size_t nv = t.vertical.size();
  const size_t nh = t.horizontal.size();
  if (nv == 0 || nh == 0 || t.candela.size() != nv * nh) return 0.0f;
  const double x = d.x, y = d.y, z = d.z;
  const double len = std::sqrt(x * x + y * y + z * z);
  if (!(len > 0.0) || !std::isfinite(len)) return 0.0f;

  // γ from the light's −z axis; C from +x towards +y, in the file's sense
  // (a rotationally symmetric table needs no C).
  const double gamma = std::acos(std::clamp(-z / len, -1.0, 1.0)) * kRadToDeg;
  Bracket bv;
  if (!vertical_bracket(t.vertical, index.vertical, gamma, bv)) return 0.0f;
  Bracket bh;
  if (nh > 1)
    bh =
        horizontal_bracket(t.horizontal, index.horizontal, file_c(std::atan2(y, x) * kRadToDeg, s));
  if (s.nearest) {
    snap_to_nearest(bv);
    snap_to_nearest(bh);
  }
  return static_cast<float>(table_value(t, bv, bh, s));
}

[[gnu::cold, gnu::noinline]] float library_sample(const Entry& e, const miVector& d) {
  return sample_indexed(*e.table, e.index, d, e.settings);
}

// How far, in degrees, the angles of quick_sample may stand from the C
// library's and still be trusted. The two arctangents agree to within a few
// units in the last place (below 1e-13 degrees); γ then goes through the
// same steps on both sides. C goes on through the C-plane turn and the
// reduction to one turn, each rounding once more within the magnitudes met
// there (a turn of a million degrees leaves C an ulp of a million apart).
constexpr double kGammaError = 0x1p-32;

// The steepest rise of the table along γ and along C, candela per degree,
// and its largest value.
struct Steepness {
  double gamma = 0.0, c = 0.0, peak = 0.0;
};

Steepness steepness_of(const ProfileTable& t) {
  Steepness k;
  const size_t nv = t.vertical.size(), nh = t.horizontal.size();
  const auto at = [&](size_t h, size_t v) { return double(t.candela[h * nv + v]); };
  for (size_t h = 0; h < nh; ++h)
    for (size_t v = 0; v < nv; ++v) {
      k.peak = std::max(k.peak, std::fabs(at(h, v)));
      if (v + 1 < nv)
        k.gamma = std::max(
            k.gamma, std::fabs(at(h, v + 1) - at(h, v)) / (t.vertical[v + 1] - t.vertical[v]));
      if (nh > 1) {
        const size_t next = h + 1 < nh ? h + 1 : 0;
        const double span = h + 1 < nh ? t.horizontal[h + 1] - t.horizontal[h]
                                       : t.horizontal.front() + kFullCircle - t.horizontal.back();
        k.c = std::max(k.c, std::fabs(at(next, v) - at(h, v)) / span);
      }
    }
  return k;
}

QuickAxis quick_axis(const std::vector<double>& a, const AxisIndex& index) {
  QuickAxis q;
  q.angles = a.data();
  q.last = a.size() >= 2 ? a.size() - 2 : 0;
  q.last_index = double(q.last);
  q.front = a.front();
  q.back = a.back();
  q.per_degree = index.per_degree;
  return q;
}

// Whether quick_sample may serve a table, and what it needs. The table's
// value is continuous in both angles wherever the lookup is bilinear over
// strictly ascending angles that wrap with a gap; it is not at the ends of
// the tabulated γ (dark beyond), which quick_sample keeps clear of, nor
// under the nearest-angle setting, which is left to the library's angles.
QuickLookup quick_of(const ProfileTable& t, const TableIndex& index, const ProfileSettings& s) {
  QuickLookup q;
  const size_t nv = t.vertical.size(), nh = t.horizontal.size();
  if (nv < 2 || nh == 0 || t.candela.size() != nv * nh || s.nearest) return q;
  if (!index.vertical.ascending || !(nh == 1 || index.horizontal.ascending)) return q;
  if (nh > 1 && !(t.horizontal.back() < t.horizontal.front() + kFullCircle)) return q;
  if (!std::isfinite(t.horizontal.front()) || !std::isfinite(s.c_turn)) return q;
  const Steepness k = steepness_of(t);
  q.c_error = 0x1p-32 + (std::fabs(s.c_turn) + std::fabs(t.horizontal.front())) * 0x1p-44;
  // The value moves by at most the steepness times the angles' error; the
  // sums and products after the angles add a few roundings of the peak's
  // size. Twice that, so that the bounds' own rounding cannot matter.
  q.slack = 2.0 * (k.gamma * kGammaError + k.c * q.c_error + k.peak * 0x1p-45) * s.multiplier;
  if (!std::isfinite(q.slack)) return q;
  q.planes = nh > 1;
  q.clockwise = s.clockwise;
  q.vertical = quick_axis(t.vertical, index.vertical);
  q.horizontal = quick_axis(t.horizontal, index.horizontal);
  q.candela = t.candela.data();
  q.row = nv;
  q.gap = t.horizontal.front() + kFullCircle - t.horizontal.back();
  q.c_turn = s.c_turn;
  q.multiplier = s.multiplier;
  q.gamma_below = t.vertical.front() - kAngleSlack;
  q.gamma_above = t.vertical.back() + kAngleSlack;
  q.all_gamma = q.gamma_below < -kGammaError && q.gamma_above > 180.0 + kGammaError;
  q.usable = true;
  return q;
}

// segment() over a strictly ascending axis, x within it.
inline size_t quick_segment(const QuickAxis& a, double x, double& weight) {
  const double guess = (x - a.front) * a.per_degree;
  size_t i = guess < a.last_index ? size_t(static_cast<ptrdiff_t>(std::max(guess, 0.0))) : a.last;
  while (i > 0 && a.angles[i] > x) --i;
  while (i < a.last && a.angles[i + 1] <= x) ++i;
  weight = std::clamp((x - a.angles[i]) / (a.angles[i + 1] - a.angles[i]), 0.0, 1.0);
  return i;
}

// Whether a lookup moved by up to `error` degrees may leave its segment
// [a, b] (weight w from a).
bool near_segment_edge(double w, double a, double b, double error) {
  const double span = b - a;
  return !(w * span > 2.0 * error && (1.0 - w) * span > 2.0 * error);
}

// Where the quick value's slack straddles a rounding edge: the four corners
// around the direction alike, with both angles clear of the cell's edges by
// more than their error, give that value whatever the angles within it (a
// dark region, where the value is 0 and the slack is not); otherwise the
// library's angles decide.
[[gnu::cold, gnu::noinline]] float edge_sample(const Entry& e, const miVector& d, size_t iv,
                                               double wv, size_t h0, size_t h1, double wh,
                                               float rounded) {
  const QuickLookup& q = e.quick;
  const float* r0 = q.candela + h0 * q.row;
  const float* r1 = q.candela + h1 * q.row;
  const bool alike = r0[iv + 1] == r0[iv] && r1[iv] == r0[iv] && r1[iv + 1] == r0[iv];
  const double* v = q.vertical.angles;
  const double* h = q.horizontal.angles;
  if (alike && !near_segment_edge(wv, v[iv], v[iv + 1], kGammaError) &&
      !(q.planes && near_segment_edge(wh, h[h0], h1 != 0 ? h[h1] : h[h0] + q.gap, q.c_error)))
    return rounded;
  return sample_indexed(*e.table, e.index, d, e.settings);
}

// Candela of the entry's table towards a light-space direction, to the bit
// what sample_indexed gives, from quicker arctangents. The value found is
// within `slack` of the one the library's angles lead to, the table being
// continuous around it (quick_of); where all of that slack rounds to one
// float, that float is the answer; elsewhere edge_sample decides.
float quick_sample(const Entry& e, const miVector& d) {
  const QuickLookup& q = e.quick;
  const double x = d.x, y = d.y, z = d.z;
  const double len = std::sqrt(x * x + y * y + z * z);
  if (!(len > 0.0) || !std::isfinite(len)) return 0.0f;
  // acos u as the angle of the point (u, √(1 − u²)); 1 − u and 1 + u are
  // exact where either is small, so the sine keeps its precision near the
  // poles.
  const double u = std::clamp(-z / len, -1.0, 1.0);
  double gamma = detail::quick_atan2(std::sqrt((1.0 - u) * (1.0 + u)), u) * kRadToDeg;
  if (!q.all_gamma) {
    if (std::fabs(gamma - q.gamma_below) <= kGammaError ||
        std::fabs(gamma - q.gamma_above) <= kGammaError) [[unlikely]]
      return library_sample(e, d);
    if (gamma < q.gamma_below || gamma > q.gamma_above) return 0.0f;
  }
  gamma = std::clamp(gamma, q.vertical.front, q.vertical.back);
  double wv = 0.0;
  const size_t iv = quick_segment(q.vertical, gamma, wv);

  size_t h0 = 0, h1 = 0;
  double wh = 0.0;
  if (q.planes) {
    // Straight up or down, the library's answer depends on the zeros' signs.
    double c = (x == 0.0 && y == 0.0 ? std::atan2(y, x) : detail::quick_atan2(y, x)) * kRadToDeg;
    if (q.clockwise) c = -c;
    c -= q.c_turn;
    const double first = q.horizontal.front;
    c = first + modulo_turn(modulo_turn(c - first) + kFullCircle);
    if (c <= q.horizontal.back) {
      h0 = quick_segment(q.horizontal, c, wh);
      h1 = h0 + 1;
    } else {
      h0 = q.horizontal.last + 1;
      wh = std::clamp((c - q.horizontal.back) / q.gap, 0.0, 1.0);
    }
  }
  const float* r0 = q.candela + h0 * q.row + iv;
  const float* r1 = q.candela + h1 * q.row + iv;
  const double lo = double(r0[0]) + (double(r0[1]) - double(r0[0])) * wv;
  const double hi = double(r1[0]) + (double(r1[1]) - double(r1[0])) * wv;
  const double value = (lo + (hi - lo) * wh) * q.multiplier;
  const auto rounded = static_cast<float>(value);
  if (static_cast<float>(value - q.slack) == static_cast<float>(value + q.slack)) [[likely]]
    return rounded;
  return edge_sample(e, d, iv, wv, h0, h1, wh, rounded);
}

}  // namespace

float sample_table(const ProfileTable& t, const miVector& d, const ProfileSettings& s) {
  return sample_indexed(t, TableIndex{}, d, s);
}

miTag add_profile(const std::string& name, const ProfileTable& table, int format) {
  if (table.vertical.empty() || table.horizontal.empty() ||
      table.candela.size() != table.vertical.size() * table.horizontal.size())
    throw std::invalid_argument("add_profile: candela count does not match the angles");
  const miTag tag = db_add(miSCENE_LIGHTPROFILE, kProfileRecordSize, name);
  detail::Element* e = detail::element(tag);
  const int32_t code = format;
  std::memcpy(e->bytes() + kProfileFormatOffset, &code, sizeof code);
  auto entry = std::make_shared<Entry>();
  entry->key = record_key(*e);
  entry->table = std::make_shared<const ProfileTable>(table);
  entry->index = index_of(table);
  entry->peak = table_peak(table, 1.0);
  entry->quick = quick_of(*entry->table, entry->index, entry->settings);
  std::lock_guard<std::mutex> lock(build_mutex());
  publish(*e, entry);
  return tag;
}

const ProfileTable* profile_table(miTag profile) {
  const Entry* e = current_entry(profile);
  return e != nullptr ? e->table.get() : nullptr;
}

ProfileSettings profile_settings(miTag profile) {
  const Entry* e = current_entry(profile);
  return e != nullptr ? e->settings : ProfileSettings{};
}

}  // namespace refhost

namespace refhost::detail {

// Host query 132: the profile's reference intensity, its peak in candela.
miBoolean query_profile_maximum(miTag profile, float* value) {
  const Entry* e = current_entry(profile);
  if (e == nullptr || !e->table) {
    *value = 0.0f;
    return 0;
  }
  *value = e->peak;
  return 1;
}

}  // namespace refhost::detail

// The light's intensity towards the state's ray direction (which points away
// from the light): candela, or with `relative` set, the fraction of the
// profile's reference intensity.
extern "C" miScalar mi_lightprofile_sample(miState* state, miTag profile, miBoolean relative) {
  if (state == nullptr) return 0.0f;
  const auto* e = refhost::current_entry(profile);
  if (e == nullptr || !e->table) return 0.0f;
  miVector d;
  mi_vector_to_light(state, &d, &state->dir);
  const float cd = e->quick.usable ? refhost::quick_sample(*e, d)
                                   : refhost::sample_indexed(*e->table, e->index, d, e->settings);
  if (relative == 0) return cd;
  return e->peak > 0.0f ? cd / e->peak : 0.0f;
}
