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

#include "tools/lux/model.h"

namespace lux {

// Before the light's init: when `desc` follows an EULUMDAT profile and
// leaves `relative_intensity` to the calculator, sets it and the light's
// energy from the file's candela scale, states the file's luminaire flux,
// and records in `light` which numbers came from the file.
void use_file_photometry(Light& light, const LightDesc& desc, const Scene& scene, miTag light_tag);

// The flux in lumen the light emits as its direct path answers: its
// candela over a fine grid of directions from its origin, shadows off,
// integrated over the sphere (the profile, spot cone, cosine law and the
// shader's own unit conversions all included).
double emitted_flux(Light& light, const LightDesc& desc, const Scene& scene);

// After the light's init: scales the light so that it emits `desc.flux`
// lumen and records the factor. Throws Error when the light emits nothing.
void scale_to_flux(Light& light, const LightDesc& desc, const Scene& scene, miTag light_tag);

}  // namespace lux
