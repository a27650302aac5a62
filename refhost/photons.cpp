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

constexpr uint32_t kHaltonBases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53};

// The digits of i in base b mirrored about the radix point.
double radical_inverse(uint64_t i, uint32_t base) {
  const double step = 1.0 / base;
  double scale = step, value = 0.0;
  for (; i > 0; i /= base, scale *= step) value += double(i % base) * scale;
  return value;
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
  uint64_t shift_stream = ctx.sample_shift;
  for (int d = 0; d < dimension; ++d) {
    if (d >= int(std::size(kHaltonBases))) {
      sample[d] = uniform(ctx.rng);
      continue;
    }
    const double v = radical_inverse(index, kHaltonBases[d]) + uniform(shift_stream);
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
