#include "tools/lux/metrics/units.h"

namespace lux {

OutputUnits output_units(bool footcandles, const SceneUnit& scene_unit) {
  OutputUnits u;
  u.length = scene_unit.symbol;
  if (!footcandles) return u;
  u.footcandles = true;
  u.lux_per_unit = kLuxPerFootcandle;
  u.illuminance = "fc";
  u.length = "ft";
  u.scene_to_length = scene_unit.metres / 0.3048;
  return u;
}

}  // namespace lux
