// The units results are reported in: lux and the scene's length unit, or
// footcandles and feet.
#pragma once

#include <string>

#include "tools/lux/scene/scene.h"

namespace lux {

// The units of the outputs: lux and the scene's length unit by default;
// footcandles and feet on request.
struct OutputUnits {
  bool footcandles = false;
  double lux_per_unit = 1.0;     // lux in one reported illuminance unit
  double scene_to_length = 1.0;  // reported lengths in one scene unit
  std::string illuminance = "lx";
  std::string length = "m";
  double illuminance_of(double lux) const { return lux / lux_per_unit; }
  double length_of(double scene_length) const { return scene_length * scene_to_length; }
};

constexpr double kLuxPerFootcandle = 10.763910416709722;  // 1 lm/ft² = 1/0.3048² lm/m²

// Lux and the scene's unit, or footcandles and feet.
OutputUnits output_units(bool footcandles, const SceneUnit& scene_unit);

}  // namespace lux
