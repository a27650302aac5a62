// Sampling and photon emission: per-thread sample streams, the emission
// direction of a photon and the record of emitted photons.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <iterator>
#include <mutex>
#include <vector>

#include "refhost/internal.h"

namespace {

// splitmix64: a well-mixed 64-bit stream, seeded per thread. Its k-th
// output mixes the seed plus k times the step, so any output can be had
// without the ones before it.
constexpr uint64_t kStreamStep = 0x9E3779B97F4A7C15ull;

uint64_t mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t next(uint64_t& s) { return mix(s += kStreamStep); }

double unit_interval(uint64_t bits) { return double(bits >> 11) * (1.0 / 9007199254740992.0); }

double uniform(uint64_t& s) { return unit_interval(next(s)); }

// The per-thread fallback context of threads that call without one of
// their own (built on such a thread's first call).
[[gnu::cold, gnu::noinline]] refhost::ThreadContext& fallback_context() {
  thread_local refhost::ThreadContext fallback(0, 0x1234567ull);
  return fallback;
}

// The calling thread's context.
refhost::ThreadContext& context(miState* state) {
  if (state != nullptr && state->host != nullptr) [[likely]]
    return *static_cast<refhost::ThreadContext*>(state->host);
  return fallback_context();
}

uint64_t& stream(miState* state) { return context(state).rng; }

// The digits of i in base B mirrored about the radix point (B fixed at
// compile time, so that the divisions become multiplications), summed from
// the lowest digit up.
template <uint64_t B>
double radical_inverse_loop(uint64_t i) {
  constexpr double step = 1.0 / B;
  double scale = step, value = 0.0;
  for (; i > 0; i /= B, scale *= step) value += double(i % B) * scale;
  return value;
}

// The same sum, its first digits read from a table. The sum after the
// lowest `kDigits` digits depends on i mod B^kDigits alone, so a table of
// those partial sums, made by the loop above, holds them exactly as the
// loop forms them; the remaining digits are added on in the loop's own
// order, from the scale it would have reached. (A number with fewer digits
// only adds zeros, which change nothing.) The result is the loop's to the
// last bit, at a fraction of its divisions.
template <uint64_t B>
class RadicalInverse {
 public:
  // As many digits as keep the table within 4,096 entries (32 KiB).
  static constexpr int kDigits = [] {
    int k = 0;
    for (uint64_t n = B; n <= 4096; n *= B) ++k;
    return k;
  }();
  static constexpr uint64_t kEntries = [] {
    uint64_t n = 1;
    for (int k = 0; k < kDigits; ++k) n *= B;
    return n;
  }();

  RadicalInverse() : low_(kEntries) {
    for (uint64_t r = 0; r < kEntries; ++r) low_[r] = radical_inverse_loop<B>(r);
    constexpr double step = 1.0 / B;
    scale_ = step;
    for (int k = 0; k < kDigits; ++k) scale_ *= step;
  }

  double operator()(uint64_t i) const {
    double value = low_[i % kEntries];
    i /= kEntries;
    if (i == 0) [[likely]]
      return value;
    double scale = scale_;
    constexpr double step = 1.0 / B;
    for (; i > 0; i /= B, scale *= step) value += double(i % B) * scale;
    return value;
  }

 private:
  std::vector<double> low_;
  double scale_;
};

// Base 2 is exact: every partial sum is a binary fraction of at most 53
// significant bits while i < 2^53, so the sum is i's bits reversed, which
// is what adding the reversed 12-bit groups of i, each at its own scale,
// gives as well.
class RadicalInverse2 {
 public:
  static constexpr int kBits = 12;
  static constexpr uint64_t kEntries = uint64_t(1) << kBits;

  constexpr RadicalInverse2() {
    for (uint64_t r = 0; r < kEntries; ++r) {
      uint64_t mirrored = 0;
      for (int b = 0; b < kBits; ++b) mirrored |= ((r >> b) & 1) << (kBits - 1 - b);
      low_[r] = double(mirrored) * (1.0 / double(kEntries));
    }
  }

  double operator()(uint64_t i) const {
    if (i >> 53 != 0) [[unlikely]]
      return radical_inverse_loop<2>(i);
    double value = low_[i % kEntries];
    double scale = 1.0 / double(kEntries);
    for (i /= kEntries; i > 0; i /= kEntries, scale *= 1.0 / double(kEntries))
      value += low_[i % kEntries] * scale;
    return value;
  }

 private:
  double low_[kEntries] = {};
};

constinit const RadicalInverse2 kRadicalInverse2;

// The tables of the Halton sequence's other bases, one prime per
// dimension after base 2's, built together on first use.
struct HaltonTables {
  RadicalInverse<3> b3;
  RadicalInverse<5> b5;
  RadicalInverse<7> b7;
  RadicalInverse<11> b11;
  RadicalInverse<13> b13;
  RadicalInverse<17> b17;
  RadicalInverse<19> b19;
  RadicalInverse<23> b23;
  RadicalInverse<29> b29;
  RadicalInverse<31> b31;
  RadicalInverse<37> b37;
  RadicalInverse<41> b41;
  RadicalInverse<43> b43;
  RadicalInverse<47> b47;
  RadicalInverse<53> b53;

  // Dimension d's radical inverse of i, for d from 3 on (the first three
  // are asked for by name on the way every sample takes).
  double beyond_third(int d, uint64_t i) const {
    switch (d) {
      case 3:
        return b7(i);
      case 4:
        return b11(i);
      case 5:
        return b13(i);
      case 6:
        return b17(i);
      case 7:
        return b19(i);
      case 8:
        return b23(i);
      case 9:
        return b29(i);
      case 10:
        return b31(i);
      case 11:
        return b37(i);
      case 12:
        return b41(i);
      case 13:
        return b43(i);
      case 14:
        return b47(i);
      default:
        return b53(i);
    }
  }
};

// The tables once built (null before): read on every sample, so a plain
// pointer rather than a guarded static.
std::atomic<const HaltonTables*> g_halton_tables{nullptr};

[[gnu::cold, gnu::noinline]] const HaltonTables& built_halton_tables() {
  static const HaltonTables* const tables = [] {
    const auto* built = new HaltonTables;
    g_halton_tables.store(built, std::memory_order_release);
    return built;
  }();
  return *tables;
}

constexpr int kHaltonCount = 16;  // dimensions with a prime base of their own

// The shifts of the Halton dimensions of a sequence: dimension d is shifted
// by output d + 1 of the stream seeded with the sequence's sample_shift.
// Each thread keeps those of the shift it last sampled with, worked out as
// the dimensions are first asked for.
struct ShiftCache {
  uint64_t shift;
  int known;
  double shifts[kHaltonCount];
};

thread_local constinit ShiftCache t_shift_cache{};  // no guard on every sample

const double* fill_halton_shifts(uint64_t sample_shift, int dimensions) {
  ShiftCache& cache = t_shift_cache;
  if (cache.shift != sample_shift) {
    cache.shift = sample_shift;
    cache.known = 0;
  }
  for (; cache.known < dimensions; ++cache.known)
    cache.shifts[cache.known] =
        unit_interval(mix(sample_shift + uint64_t(cache.known + 1) * kStreamStep));
  return cache.shifts;
}

// A shifted coordinate wrapped back onto [0, 1).
double wrapped(double v) { return v >= 1.0 ? v - 1.0 : v; }

// Point `index` of the thread's shifted sequence in `dimension` values,
// from the shifts and tables of the sequence's first dimensions. The first
// three dimensions, all a light's sampling asks for, are worked out here;
// the rest go to halton_beyond_third, so that the common case stays a
// function that calls nothing.
miBoolean halton_beyond_third(double* sample, refhost::ThreadContext& ctx, uint64_t index,
                              int dimension, const double* shift, const HaltonTables& tables);

[[gnu::always_inline]] inline miBoolean halton_point(double* sample, refhost::ThreadContext& ctx,
                                                     uint64_t index, int dimension,
                                                     const double* shift,
                                                     const HaltonTables& tables) {
  sample[0] = wrapped(kRadicalInverse2(index) + shift[0]);
  if (dimension == 1) return 1;
  sample[1] = wrapped(tables.b3(index) + shift[1]);
  if (dimension == 2) return 1;
  sample[2] = wrapped(tables.b5(index) + shift[2]);
  if (dimension == 3) return 1;
  return halton_beyond_third(sample, ctx, index, dimension, shift, tables);
}

[[gnu::noinline]] miBoolean halton_beyond_third(double* sample, refhost::ThreadContext& ctx,
                                                uint64_t index, int dimension, const double* shift,
                                                const HaltonTables& tables) {
  const int halton = std::min(dimension, kHaltonCount);
  for (int d = 3; d < halton; ++d) sample[d] = wrapped(tables.beyond_third(d, index) + shift[d]);
  for (int d = halton; d < dimension; ++d) sample[d] = uniform(ctx.rng);
  return 1;
}

// The same where this thread's shifts or the tables are not ready yet.
[[gnu::noinline]] miBoolean halton_point_preparing(double* sample, refhost::ThreadContext& ctx,
                                                   uint64_t index, int dimension) {
  const double* shift = fill_halton_shifts(ctx.sample_shift, std::min(dimension, kHaltonCount));
  return halton_point(sample, ctx, index, dimension, shift, built_halton_tables());
}

// The next point of the thread's sequence (see mi_sample).
[[gnu::always_inline]] inline miBoolean sample_point(double* sample, refhost::ThreadContext& ctx,
                                                     int dimension) {
  if (ctx.sample_index == 0) ctx.sample_shift = next(ctx.rng);
  const uint64_t index = ++ctx.sample_index;  // point 0 of the sequence is the corner
  const ShiftCache& cache = t_shift_cache;
  const HaltonTables* tables = g_halton_tables.load(std::memory_order_acquire);
  if (cache.shift != ctx.sample_shift || cache.known < std::min(dimension, kHaltonCount) ||
      tables == nullptr) [[unlikely]]
    return halton_point_preparing(sample, ctx, index, dimension);
  return halton_point(sample, ctx, index, dimension, cache.shifts, *tables);
}

// The same for a call that brings no context of its own.
[[gnu::cold, gnu::noinline]] miBoolean sample_without_context(double* sample, int dimension) {
  return sample_point(sample, fallback_context(), dimension);
}

struct PhotonLog {
  std::mutex mutex;
  std::vector<refhost::Photon> photons;
};

// Whether emitted photons are kept: asked on every photon, so it is a flag
// of its own that needs no log built to be read.
constinit std::atomic<bool> g_recording{true};

PhotonLog& photon_log() {
  static PhotonLog* l = new PhotonLog;
  return *l;
}

}  // namespace

namespace refhost::detail {

namespace {

struct CosSin {
  double c, s;
};

// cos φ and sin φ for φ within [0, 2π), to within 2^-44 of them, relative,
// and 2^-84 absolute: φ less the nearest multiple k·π/2 (π/2 in two parts,
// the first of 33 bits, so that k times it is exact and, φ being near it,
// so is the difference), then the Taylor series of both on what is left,
// |x| ≤ π/4, up to x^13 for the sine and x^14 for the cosine, whose next
// terms are below 4e-14 and 1e-15 of the sums.
CosSin cos_sin(double phi) {
  constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
  constexpr double kHalfPiHead = 0x1.921fb544p+0;
  constexpr double kHalfPiTail = 0x1.0b4611a626331p-34;
  const int k = static_cast<int>(phi * kTwoOverPi + 0.5);
  const double x = (phi - k * kHalfPiHead) - k * kHalfPiTail;
  const double x2 = x * x;
  const double s =
      x + x * x2 *
              (-1.0 / 6 +
               x2 * (1.0 / 120 +
                     x2 * (-1.0 / 5040 + x2 * (1.0 / 362880 +
                                               x2 * (-1.0 / 39916800 + x2 * (1.0 / 6227020800))))));
  const double c =
      1.0 - 0.5 * x2 +
      x2 * x2 *
          (1.0 / 24 +
           x2 * (-1.0 / 720 +
                 x2 * (1.0 / 40320 + x2 * (-1.0 / 3628800 +
                                           x2 * (1.0 / 479001600 + x2 * (-1.0 / 87178291200))))));
  switch (k & 3) {
    case 0:
      return {c, s};
    case 1:
      return {-s, c};
    case 2:
      return {-c, -s};
    default:
      return {s, -c};
  }
}

// Whether every double within 2^-40 of p, relative, and 2^-70 absolute,
// rounds to the same float as p.
bool rounds_alike(double p) {
  const double slack = std::fabs(p) * 0x1p-40 + 0x1p-70;
  return static_cast<float>(p - slack) == static_cast<float>(p + slack);
}

// The products as the C library's cos and sin give them.
[[gnu::cold, gnu::noinline]] void library_circle_point(double r, double phi, float& x, float& y) {
  x = static_cast<float>(r * std::cos(phi));
  y = static_cast<float>(r * std::sin(phi));
}

// The products r·cos φ and r·sin φ, worked out as above, differ from those
// of the C library's cos and sin (each within an ulp or so) by far less
// than the slack of rounds_alike, which holds near 2^-40 of them: so where
// all that slack rounds to one float, that float is the one the library's
// products round to. Elsewhere (about one point in 20,000, and r = 0)
// the library is asked.
[[gnu::always_inline]] inline void fast_circle_point(double r, double phi, float& x, float& y) {
  const CosSin cs = cos_sin(phi);
  const double px = r * cs.c, py = r * cs.s;
  if (rounds_alike(px) && rounds_alike(py)) [[likely]] {
    x = static_cast<float>(px);
    y = static_cast<float>(py);
    return;
  }
  library_circle_point(r, phi, x, y);
}

}  // namespace

// The shortcut rounds as the C library does only where that library's cos
// and sin are within about an ulp of the truth, as glibc's are. The Windows
// C runtime's are not held to that, so there every point is the library's.
#if defined(_WIN32)
constexpr bool kLibraryTrigWithinAnUlp = false;
#else
constexpr bool kLibraryTrigWithinAnUlp = true;
#endif

void circle_point(double r, double phi, float& x, float& y) {
  if constexpr (kLibraryTrigWithinAnUlp)
    fast_circle_point(r, phi, x, y);
  else
    library_circle_point(r, phi, x, y);
}

}  // namespace refhost::detail

namespace refhost {

std::vector<Photon> photons() {
  std::lock_guard<std::mutex> lock(photon_log().mutex);
  return photon_log().photons;
}
void clear_photons() {
  std::lock_guard<std::mutex> lock(photon_log().mutex);
  photon_log().photons.clear();
}
void set_photon_recording(bool on) { g_recording.store(on, std::memory_order_relaxed); }

double uniform01(ThreadContext& thread) { return uniform(thread.rng); }

}  // namespace refhost

extern "C" {

// Samples of a Halton sequence (radical inverses in the first primes, one
// prime per dimension), one point per call, each thread along its own
// sequence position. Every thread shifts the whole sequence by a random
// offset per dimension (modulo 1), drawn from its stream at its first
// sample, so that threads do not repeat each other's points while each keeps
// the even spread of the sequence. Dimensions beyond the table are plain
// random numbers.
miBoolean mi_sample(double* sample, int*, miState* state, int dimension, unsigned int*) {
  if (sample == nullptr || dimension <= 0) return 0;
  if (state == nullptr || state->host == nullptr) [[unlikely]]
    return sample_without_context(sample, dimension);
  return sample_point(sample, *static_cast<refhost::ThreadContext*>(state->host), dimension);
}

// A direction uniform over the whole sphere: a photon carrying 4π × I(ω)
// is then an unbiased estimate of the flux ∫ I dω.
miBoolean mi_scattering_dir_diffuse(miVector* direction, miState* state) {
  uint64_t& s = stream(state);
  const double z = 1.0 - 2.0 * uniform(s);
  const double r = std::sqrt(std::max(0.0, 1.0 - z * z));
  const double phi = 6.283185307179586 * uniform(s);
  refhost::detail::fast_circle_point(r, phi, direction->x, direction->y);
  direction->z = static_cast<float>(z);
  return 1;
}

miBoolean mi_photon_light(miColor* energy, miState* state) {
  if (!g_recording.load(std::memory_order_relaxed)) return 1;
  PhotonLog& l = photon_log();
  std::lock_guard<std::mutex> lock(l.mutex);
  l.photons.push_back({state->org, state->dir, *energy});
  return 1;
}

}  // extern "C"
