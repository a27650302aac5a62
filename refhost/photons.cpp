// Sampling and photon emission: per-thread sample streams, the emission
// direction of a photon and the record of emitted photons.
#include <cmath>
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

uint64_t& stream(miState* state) {
  thread_local uint64_t fallback = 0x1234567ull;
  if (state != nullptr && state->host != nullptr)
    return static_cast<refhost::ThreadContext*>(state->host)->rng;
  return fallback;
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

miBoolean mi_sample(double* sample, int*, miState* state, int dimension, unsigned int*) {
  if (sample == nullptr || dimension <= 0) return 0;
  uint64_t& s = stream(state);
  for (int i = 0; i < dimension; ++i) sample[i] = uniform(s);
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
