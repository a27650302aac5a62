// Sampling and photon emission: per-thread sample streams, the emission
// direction of a photon and the record of emitted photons.
#include <algorithm>
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

// The calling thread's context; threads that call without one share a
// per-thread fallback.
refhost::ThreadContext& context(miState* state) {
  thread_local refhost::ThreadContext fallback(0, 0x1234567ull);
  if (state != nullptr && state->host != nullptr)
    return *static_cast<refhost::ThreadContext*>(state->host);
  return fallback;
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
    double scale = scale_;
    constexpr double step = 1.0 / B;
    for (i /= kEntries; i > 0; i /= B, scale *= step) value += double(i % B) * scale;
    return value;
  }

 private:
  std::vector<double> low_;
  double scale_;
};

// Base 2 is exact: every partial sum is a binary fraction of at most 53
// significant bits while i < 2^53, so the sum is i's bits reversed.
double radical_inverse_2(uint64_t i) {
  if (i >> 53 != 0) return radical_inverse_loop<2>(i);
  i = (i << 32) | (i >> 32);
  i = ((i & 0x0000ffff0000ffffull) << 16) | ((i >> 16) & 0x0000ffff0000ffffull);
  i = ((i & 0x00ff00ff00ff00ffull) << 8) | ((i >> 8) & 0x00ff00ff00ff00ffull);
  i = ((i & 0x0f0f0f0f0f0f0f0full) << 4) | ((i >> 4) & 0x0f0f0f0f0f0f0f0full);
  i = ((i & 0x3333333333333333ull) << 2) | ((i >> 2) & 0x3333333333333333ull);
  i = ((i & 0x5555555555555555ull) << 1) | ((i >> 1) & 0x5555555555555555ull);
  return double(i) * 0x1p-64;
}

template <uint64_t B>
double radical_inverse(uint64_t i) {
  static const RadicalInverse<B> table;
  return table(i);
}

// One prime base per dimension of the Halton sequence.
constexpr double (*kHaltonDimensions[])(uint64_t) = {
    radical_inverse_2,   radical_inverse<3>,  radical_inverse<5>,  radical_inverse<7>,
    radical_inverse<11>, radical_inverse<13>, radical_inverse<17>, radical_inverse<19>,
    radical_inverse<23>, radical_inverse<29>, radical_inverse<31>, radical_inverse<37>,
    radical_inverse<41>, radical_inverse<43>, radical_inverse<47>, radical_inverse<53>};
constexpr int kHaltonCount = int(std::size(kHaltonDimensions));

// The shifts of the Halton dimensions of a sequence: dimension d is shifted
// by output d + 1 of the stream seeded with the sequence's sample_shift.
// Each thread keeps those of the shift it last sampled with, worked out as
// the dimensions are first asked for.
struct ShiftCache {
  uint64_t shift;
  int known;
  double shifts[kHaltonCount];
};

const double* halton_shifts(uint64_t sample_shift, int dimensions) {
  thread_local ShiftCache cache{};  // constant-initialised: no guard on every sample
  if (cache.shift != sample_shift) {
    cache.shift = sample_shift;
    cache.known = 0;
  }
  for (; cache.known < dimensions; ++cache.known)
    cache.shifts[cache.known] =
        unit_interval(mix(sample_shift + uint64_t(cache.known + 1) * kStreamStep));
  return cache.shifts;
}

struct PhotonLog {
  std::mutex mutex;
  std::vector<refhost::Photon> photons;
  bool recording = true;
};

PhotonLog& photon_log() {
  static PhotonLog* l = new PhotonLog;
  return *l;
}

}  // namespace

namespace refhost {

std::vector<Photon> photons() {
  std::lock_guard<std::mutex> lock(photon_log().mutex);
  return photon_log().photons;
}
void clear_photons() {
  std::lock_guard<std::mutex> lock(photon_log().mutex);
  photon_log().photons.clear();
}
void set_photon_recording(bool on) { photon_log().recording = on; }

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
  refhost::ThreadContext& ctx = context(state);
  if (ctx.sample_index == 0) ctx.sample_shift = next(ctx.rng);
  const uint64_t index = ++ctx.sample_index;  // point 0 of the sequence is the corner
  const int halton = std::min(dimension, kHaltonCount);
  const double* shift = halton_shifts(ctx.sample_shift, halton);
  for (int d = 0; d < halton; ++d) {
    const double v = kHaltonDimensions[d](index) + shift[d];
    sample[d] = v >= 1.0 ? v - 1.0 : v;
  }
  for (int d = halton; d < dimension; ++d) sample[d] = uniform(ctx.rng);
  return 1;
}

// A direction uniform over the whole sphere: a photon carrying 4π × I(ω)
// is then an unbiased estimate of the flux ∫ I dω.
miBoolean mi_scattering_dir_diffuse(miVector* direction, miState* state) {
  uint64_t& s = stream(state);
  const double z = 1.0 - 2.0 * uniform(s);
  const double r = std::sqrt(std::max(0.0, 1.0 - z * z));
  const double phi = 6.283185307179586 * uniform(s);
  direction->x = static_cast<float>(r * std::cos(phi));
  direction->y = static_cast<float>(r * std::sin(phi));
  direction->z = static_cast<float>(z);
  return 1;
}

miBoolean mi_photon_light(miColor* energy, miState* state) {
  PhotonLog& l = photon_log();
  if (!l.recording) return 1;
  std::lock_guard<std::mutex> lock(l.mutex);
  l.photons.push_back({state->org, state->dir, *energy});
  return 1;
}

}  // extern "C"
