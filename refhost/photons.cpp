// Sampling and photon emission: per-thread sample streams, the emission
// direction of a photon and the record of emitted photons.
#include <cmath>
#include <iterator>
#include <mutex>

#include "refhost/internal.h"

namespace {

// splitmix64: a well-mixed 64-bit stream, seeded per thread.
uint64_t next(uint64_t& s) {
  uint64_t z = (s += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double uniform(uint64_t& s) { return double(next(s) >> 11) * (1.0 / 9007199254740992.0); }

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
// compile time, so that the divisions become multiplications).
template <uint64_t B>
double radical_inverse(uint64_t i) {
  constexpr double step = 1.0 / B;
  double scale = step, value = 0.0;
  for (; i > 0; i /= B, scale *= step) value += double(i % B) * scale;
  return value;
}

// One prime base per dimension of the Halton sequence.
constexpr double (*kHaltonDimensions[])(uint64_t) = {
    radical_inverse<2>,  radical_inverse<3>,  radical_inverse<5>,  radical_inverse<7>,
    radical_inverse<11>, radical_inverse<13>, radical_inverse<17>, radical_inverse<19>,
    radical_inverse<23>, radical_inverse<29>, radical_inverse<31>, radical_inverse<37>,
    radical_inverse<41>, radical_inverse<43>, radical_inverse<47>, radical_inverse<53>};

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
  uint64_t shift_stream = ctx.sample_shift;
  for (int d = 0; d < dimension; ++d) {
    if (d >= int(std::size(kHaltonDimensions))) {
      sample[d] = uniform(ctx.rng);
      continue;
    }
    const double v = kHaltonDimensions[d](index) + uniform(shift_stream);
    sample[d] = v >= 1.0 ? v - 1.0 : v;
  }
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
