// A light's absolute scale set from photometry: the candela of an EULUMDAT
// profile worked out from the file's own lamp flux, and a light scaled so
// that it emits a flux the scene states.
//
// The area light works in relative mode with EULUMDAT profiles: it returns
// the profile's value over its peak times `relative_intensity` for direct
// light, and 4π times that value times the light's energy for photons.
// Handing it the peak candela (times the square scene units per square
// metre) in both places makes its numbers lux and lumen again without
// changing its rule.
#pragma once

#include <optional>
#include <string>

#include "tools/lux/model/model.h"

namespace lux {

// What the photometry of a light entry of the scene needs, whichever kind
// of entry it is: a light ("lights") or an object with the light object
// shader ("object_lights").
struct PhotometryEntry {
  std::string kind = "light";  // how messages name the entry: "light", "light object"
  const ShaderFields* shader = nullptr;
  bool spot = false;
  double cone_angle = 0;  // full apex angle, degrees
  std::optional<Vec3> spot_direction;
  std::optional<double> flux;  // lumen the light is scaled to emit
};
PhotometryEntry photometry_entry(const LightDesc& desc);
PhotometryEntry photometry_entry(const ObjectLightDesc& desc);

// The host light that a light instance places.
miTag light_of_instance(miTag light_instance);

// Before the light's init: when `entry` follows an EULUMDAT profile and
// leaves `relative_intensity` to the calculator, sets it and the light's
// energy from the file's candela scale, states the file's luminaire flux,
// and records in `light` which numbers came from the file.
void use_file_photometry(Light& light, const PhotometryEntry& entry, const Scene& scene,
                         miTag light_tag);
inline void use_file_photometry(Light& light, const LightDesc& desc, const Scene& scene,
                                miTag light_tag) {
  use_file_photometry(light, photometry_entry(desc), scene, light_tag);
}

// The flux in lumen the light emits as its direct path answers: its
// candela over a fine grid of directions from its origin, shadows off,
// integrated over the sphere (the profile, spot cone, cosine law and the
// shader's own unit conversions all included). An object light's answers
// depend on the direction alone, not on the point of its surface a light
// ray leaves from, so one origin (its solid's centre) stands for them all.
double emitted_flux(Light& light, const PhotometryEntry& entry, const Scene& scene);
inline double emitted_flux(Light& light, const LightDesc& desc, const Scene& scene) {
  return emitted_flux(light, photometry_entry(desc), scene);
}

// After the light's init: scales the light so that it emits `entry.flux`
// lumen and records the factor. Throws Error naming the light when it emits
// nothing.
// `measured`, when given, keeps the flux each kind of light emits before
// and after its scaling (by Light::kind): the copies of an array are
// integrated once, not once each.
void scale_to_flux(Light& light, const PhotometryEntry& entry, const Scene& scene, miTag light_tag,
                   FluxMeasurements* measured = nullptr);
inline void scale_to_flux(Light& light, const LightDesc& desc, const Scene& scene, miTag light_tag,
                          FluxMeasurements* measured = nullptr) {
  scale_to_flux(light, photometry_entry(desc), scene, light_tag, measured);
}

}  // namespace lux
