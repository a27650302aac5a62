// The units results are reported in: lux and the scene's length unit, or
// footcandles and feet.
#pragma once

#include <string>

#include "tools/lux/scene/scene.h"

namespace lux {

// The units of the outputs: lux and the scene's length unit by default;
// footcandles and feet on request. A run with a light whose numbers are
// relative to its profile's peak reports "relative" illuminance instead.
struct OutputUnits {
  bool footcandles = false;
  bool relative = false;
  double lux_per_unit = 1.0;     // lux in one reported illuminance unit
  double scene_to_length = 1.0;  // reported lengths in one scene unit
  std::string illuminance = "lx";
  std::string length = "m";
  double illuminance_of(double lux) const { return lux / lux_per_unit; }
  double length_of(double scene_length) const { return scene_length * scene_to_length; }
  // Areas: square metres, or square feet with footcandles.
  double area_of(double square_metres) const {
    return footcandles ? square_metres / kSquareMetresPerSquareFoot : square_metres;
  }
  const char* area_unit() const { return footcandles ? "ft\u00b2" : "m\u00b2"; }
  static constexpr double kSquareMetresPerSquareFoot = 0.09290304;  // 0.3048²
};

constexpr double kLuxPerFootcandle = 10.763910416709722;  // 1 lm/ft² = 1/0.3048² lm/m²

// Lux and the scene's unit, or footcandles and feet; with `relative`, the
// illuminance is named "relative" and left as the lights give it.
OutputUnits output_units(bool footcandles, const SceneUnit& scene_unit, bool relative = false);

}  // namespace lux
