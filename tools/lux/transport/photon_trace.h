// A second opinion on the interreflections: photons emitted through the
// light shaders' photon path, followed through the scene's traced geometry
// and absorbed or reflected diffusely by each surface's reflectance.
#pragma once

#include <vector>

#include "tools/lux/transport/radiosity.h"

namespace lux {

struct PhotonBalance {
  long long photons = 0;         // emitted, all lights together
  double emitted = 0;            // lumen
  std::vector<double> absorbed;  // lumen, per element of the radiosity solution
  // The standard error of each element's absorbed lumen, from the spread
  // of the photons' batches (each light's batches are independent).
  std::vector<double> absorbed_error;
  // Of that, what was absorbed after at least one reflection: the
  // interreflected light, apart from the direct light that photons and
  // radiosity each take their own way.
  std::vector<double> interreflected;
  std::vector<double> interreflected_error;
  double absorbed_elsewhere = 0;  // lumen, by traced objects that are not reflecting elements
  double escaped = 0;             // lumen that left the scene
};

// Emits `photons` photons from each light and traces them until they are
// absorbed or leave. Seeds depend on the light and the chunk of photons
// only, so the result is the same for any thread count.
PhotonBalance trace_photons(const Model& model, const RadiositySolution& solution, int photons,
                            const CalcOptions& options);

}  // namespace lux
